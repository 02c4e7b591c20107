// The version resources of the product's DLLs.
#include "tests/monitor/monitor_test_support.h"

namespace {

// A string of the version resource's U.S. English, Unicode block.
std::wstring VersionString(const std::vector<BYTE>& info, const std::wstring& name) {
    wchar_t* pValue = nullptr;
    UINT cchValue = 0;
    std::wstring path = L"\\StringFileInfo\\040904b0\\" + name;
    if (!::VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&pValue), &cchValue) ||
        pValue == nullptr) {
        return L"<missing>";
    }
    return pValue;
}

TEST(VersionResourceTest, BothDllsCarryTheProductVersionAndNames) {
    struct Dll {
        const std::wstring* path;
        const wchar_t* originalFilename;
    };
    const Dll kDlls[] = {{&TestDlls::monitor, L"zorvanemon.dll"}, {&TestDlls::library, L"queldac.dll"}};
    for (const Dll& dll : kDlls) {
        SCOPED_TRACE(Narrow(*dll.path));
        DWORD dwHandle = 0;
        DWORD cbInfo = ::GetFileVersionInfoSizeW(dll.path->c_str(), &dwHandle);
        ASSERT_NE(cbInfo, 0u) << "GetFileVersionInfoSizeW: " << ::GetLastError();
        std::vector<BYTE> info(cbInfo);
        ASSERT_TRUE(::GetFileVersionInfoW(dll.path->c_str(), 0, cbInfo, info.data()));

        VS_FIXEDFILEINFO* pFixed = nullptr;
        UINT cbFixed = 0;
        ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&pFixed), &cbFixed));
        EXPECT_EQ(pFixed->dwProductVersionMS, static_cast<DWORD>(MAKELONG(1, 3)));  // 3.1
        EXPECT_EQ(pFixed->dwProductVersionLS, 0u);                                  // .0.0
        EXPECT_EQ(pFixed->dwFileType, static_cast<DWORD>(VFT_DLL));

        EXPECT_EQ(VersionString(info, L"ProductVersion"), L"3.1.0.0");
        EXPECT_EQ(VersionString(info, L"CompanyName"), L"Zorvane Systems, Inc.");
        EXPECT_EQ(VersionString(info, L"ProductName"), L"Zorvane Creator");
        EXPECT_EQ(VersionString(info, L"OriginalFilename"), dll.originalFilename);
    }
}

}  // namespace
