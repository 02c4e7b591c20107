// The driver package's DLLs under Wine: each carries the version resource that
// the installer reads, through the same version API (product version 3.1.0.0,
// which becomes the driver version, with the company and product names; the
// file version differs, so a driver version taken from the wrong half would
// show), and each filter DLL loads and answers the pipeline manager's calls.
//   package_dll_tests DIST_DIR [gtest options]
#include <objbase.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/filters/filterpipeline.h"

namespace {

std::wstring distDirectory;

struct DllCase {
    const wchar_t* name;
    const wchar_t* description;
    const wchar_t* classId;  // the filter's, as zorvane-pipelineconfig.xml names it
};

const DllCase kUiDll = {L"zorvanedrvui.dll", L"Zorvane Creator driver user interface", nullptr};

const DllCase kFilterDlls[] = {
    {L"zorvanebook.dll", L"Zorvane Creator booklet filter", L"{E396CF94-6E3F-4DE7-9FAA-A7757C93BDBB}"},
    {L"zorvanenup.dll", L"Zorvane Creator N-up filter", L"{23FCEED8-2BAE-44E4-A8C4-1514062F9DC4}"},
    {L"zorvanescale.dll", L"Zorvane Creator page scaling filter", L"{98069DE0-06CC-4A13-A265-FF3E4B89E9C1}"},
    {L"zorvanewmark.dll", L"Zorvane Creator watermark filter", L"{9729DE1F-EDDC-4C03-8E85-E967B837D916}"},
};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class VersionResource : public ::testing::TestWithParam<DllCase> {
protected:
    void SetUp() override {
        path = distDirectory + L"\\" + GetParam().name;
        DWORD handle = 0;
        DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
        ASSERT_NE(size, 0u) << Narrow(path) << ": " << ::GetLastError();
        data.resize(size);
        ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, data.data())) << ::GetLastError();
    }

    const VS_FIXEDFILEINFO* Fixed() {
        void* block = nullptr;
        UINT length = 0;
        if (!::VerQueryValueW(data.data(), L"\\", &block, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
            return nullptr;
        }
        return static_cast<const VS_FIXEDFILEINFO*>(block);
    }

    // A value of the US English, Unicode string table.
    std::wstring Text(const wchar_t* key) {
        void* block = nullptr;
        UINT length = 0;
        std::wstring subBlock = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
        if (!::VerQueryValueW(data.data(), subBlock.c_str(), &block, &length) || length == 0) {
            return L"(none)";
        }
        return static_cast<const wchar_t*>(block);
    }

    std::wstring path;
    std::vector<BYTE> data;
};

TEST_P(VersionResource, HasTheProductVersionAsTheDriverVersion) {
    const VS_FIXEDFILEINFO* fixed = Fixed();
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00030001u);  // 3.1
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000000u);  // .0.0
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    // The installer's driver version: the product version's upper half, zero-extended.
    DWORDLONG driverVersion = fixed->dwProductVersionMS;
    EXPECT_EQ(driverVersion, 0x0000000000030001ull);
}

TEST_P(VersionResource, HasAFileVersionOtherThanTheProductVersion) {
    const VS_FIXEDFILEINFO* fixed = Fixed();
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00030001u);  // 3.1
    EXPECT_EQ(fixed->dwFileVersionLS, 0x0007002Au);  // .7.42
    EXPECT_NE(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
}

TEST_P(VersionResource, NamesTheCompanyAndTheProduct) {
    EXPECT_EQ(Text(L"CompanyName"), L"Zorvane Systems, Inc.");
    EXPECT_EQ(Text(L"ProductName"), L"Zorvane Creator");
    EXPECT_EQ(Text(L"ProductVersion"), L"3.1.0.0");
    EXPECT_EQ(Text(L"FileVersion"), L"3.1.7.42");
    EXPECT_EQ(Text(L"FileDescription"), GetParam().description);
    EXPECT_EQ(Text(L"OriginalFilename"), GetParam().name);
}

std::string DllCaseName(const ::testing::TestParamInfo<DllCase>& info) {
    std::string name = Narrow(info.param.name);
    return name.substr(0, name.find('.'));
}

INSTANTIATE_TEST_SUITE_P(UiDll, VersionResource, ::testing::Values(kUiDll), DllCaseName);
INSTANTIATE_TEST_SUITE_P(Filters, VersionResource, ::testing::ValuesIn(kFilterDlls), DllCaseName);

// The filter pipeline manager asks a filter DLL for the class its
// configuration names: the DLL hands out a class factory for that class only,
// and stays loaded while a filter of it lives.
class FilterDll : public ::testing::TestWithParam<DllCase> {};

// An export as the generic function type, from which any other may be cast.
void (*Export(HMODULE module, const char* name))() {
    return reinterpret_cast<void (*)()>(::GetProcAddress(module, name));
}

TEST_P(FilterDll, MakesItsOwnClassOnly) {
    std::wstring path = distDirectory + L"\\" + GetParam().name;
    HMODULE module = ::LoadLibraryW(path.c_str());
    ASSERT_NE(module, nullptr) << Narrow(path) << ": " << ::GetLastError();
    typedef HRESULT(WINAPI * GetClassObject)(REFCLSID, REFIID, void**);
    typedef HRESULT(WINAPI * CanUnloadNow)();
    GetClassObject getClassObject = reinterpret_cast<GetClassObject>(Export(module, "DllGetClassObject"));
    CanUnloadNow canUnloadNow = reinterpret_cast<CanUnloadNow>(Export(module, "DllCanUnloadNow"));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(CLSID_NULL, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(getClassObject(CLSID_NULL, IID_IClassFactory, nullptr), E_POINTER);

    CLSID classId;
    ASSERT_EQ(::CLSIDFromString(const_cast<wchar_t*>(GetParam().classId), &classId), S_OK);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(classId, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    // IPrintPipelineFilter: {cdb62fc0-8bed-434e-86fb-a2cae55f19ea}
    const IID filterInterface = {
        0xcdb62fc0, 0x8bed, 0x434e, {0x86, 0xfb, 0xa2, 0xca, 0xe5, 0x5f, 0x19, 0xea}};
    IUnknown* filter = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, filterInterface, reinterpret_cast<void**>(&filter)), S_OK);
    factory->Release();
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    filter->Release();
    EXPECT_EQ(canUnloadNow(), S_OK);
    ::FreeLibrary(module);
}

// A page that only counts how many of its kind are alive.
std::atomic<long> livePages{0};
class CountedPage final : public IFixedPage {
public:
    CountedPage() { ++livePages; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IPartBase) &&
            !IsEqualIID(riid, IID_IFixedPage)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG count = --references_;
        if (count == 0) {
            --livePages;
            delete this;
        }
        return count;
    }
    HRESULT STDMETHODCALLTYPE GetUri(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStream(IPrintReadStream**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPartCompression(EXpsCompressionOptions*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPartCompression(EXpsCompressionOptions) override { return E_NOTIMPL; }
    // The pipeline's answer for a page without a ticket of its own.
    HRESULT STDMETHODCALLTYPE GetPrintTicket(IPartPrintTicket** ticket) override {
        *ticket = nullptr;
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    HRESULT STDMETHODCALLTYPE GetPagePart(const wchar_t*, IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWriteStream(IPrintWriteStream**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPrintTicket(IPartPrintTicket*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPagePart(IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteResource(const wchar_t*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetXpsPartIterator(IXpsPartIterator**) override { return E_NOTIMPL; }

private:
    std::atomic<ULONG> references_{1};
};

// The pipeline manager's side for one filter: a document that never ends,
// page after page, and a consumer that drops what it gets.
class EndlessJob final : public IInterFilterCommunicator,
                         public IXpsDocumentProvider,
                         public IXpsDocumentConsumer,
                         public IPrintPipelineManagerControl {
public:
    EndlessJob() : running(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~EndlessJob() { ::CloseHandle(running); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IXpsDocumentProvider)) {
            *ppv = static_cast<IXpsDocumentProvider*>(this);
        } else if (IsEqualIID(riid, IID_IXpsDocumentConsumer)) {
            *ppv = static_cast<IXpsDocumentConsumer*>(this);
        }
        return *ppv != nullptr ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE RequestReader(void** ppIReader) override {
        *ppIReader = static_cast<IXpsDocumentProvider*>(this);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RequestWriter(void** ppIWriter) override {
        *ppIWriter = static_cast<IXpsDocumentConsumer*>(this);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetXpsPart(IUnknown** ppIXpsPart) override {
        if (++partsRead == 100) {
            ::SetEvent(running);
        }
        *ppIXpsPart = ended ? nullptr : static_cast<IFixedPage*>(new CountedPage());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SendXpsUnknown(IUnknown*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SendXpsDocument(IXpsDocument*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SendFixedDocumentSequence(IFixedDocumentSequence*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SendFixedDocument(IFixedDocument*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SendFixedPage(IFixedPage*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CloseSender() override {
        ++closed;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNewEmptyPart(const wchar_t*, REFIID, void**, IPrintWriteStream**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RequestShutdown(HRESULT hrReason, IImgErrorInfo*) override {
        shutdownReason = hrReason;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FilterFinished() override {
        ++finished;
        return S_OK;
    }

    HANDLE running;  // set once the filter is well into the document
    std::atomic<long> partsRead{0}, closed{0}, finished{0};
    std::atomic<bool> ended{false};
    std::atomic<HRESULT> shutdownReason{S_OK};
};

struct Operation {
    IPrintPipelineFilter* filter;
    HRESULT result;
};

DWORD WINAPI StartOperationThread(void* parameter) {
    Operation* operation = static_cast<Operation*>(parameter);
    operation->result = operation->filter->StartOperation();
    return 0;
}

// The pipeline manager cancels a job from another thread while the filter
// is in the middle of a document: the filter stops before it asks for more
// than one more part, reports the job as failed rather than finished, and
// holds no part once released.
TEST_P(FilterDll, StopsARunningOperationPromptly) {
    HMODULE module = ::LoadLibraryW((distDirectory + L"\\" + GetParam().name).c_str());
    ASSERT_NE(module, nullptr) << ::GetLastError();
    typedef HRESULT(WINAPI * GetClassObject)(REFCLSID, REFIID, void**);
    GetClassObject getClassObject = reinterpret_cast<GetClassObject>(Export(module, "DllGetClassObject"));
    CLSID classId;
    ASSERT_EQ(::CLSIDFromString(const_cast<wchar_t*>(GetParam().classId), &classId), S_OK);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(classId, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IPrintPipelineFilter* filter = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPrintPipelineFilter, reinterpret_cast<void**>(&filter)),
              S_OK);
    factory->Release();

    EndlessJob job;
    ASSERT_EQ(filter->InitializeFilter(&job, nullptr, &job), S_OK);
    Operation operation = {filter, S_OK};
    HANDLE thread = ::CreateThread(nullptr, 0, StartOperationThread, &operation, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(::WaitForSingleObject(job.running, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(filter->ShutdownOperation(), S_OK);
    long readAtShutdown = job.partsRead;
    DWORD waited = ::WaitForSingleObject(thread, 10000);
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "StartOperation still runs";
    if (waited != WAIT_OBJECT_0) {
        job.ended = true;  // let it end, so the test can
        ::WaitForSingleObject(thread, INFINITE);
    }
    ::CloseHandle(thread);
    EXPECT_LE(job.partsRead - readAtShutdown, 1);
    EXPECT_TRUE(FAILED(operation.result)) << std::hex << operation.result;
    EXPECT_TRUE(FAILED(job.shutdownReason.load()));
    EXPECT_EQ(job.finished, 0);
    EXPECT_EQ(job.closed, 0);
    filter->Release();
    EXPECT_EQ(livePages, 0);
    ::FreeLibrary(module);
}

INSTANTIATE_TEST_SUITE_P(Filters, FilterDll, ::testing::ValuesIn(kFilterDlls), DllCaseName);

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: package_dll_tests DIST_DIR [gtest options]\n");
        return 2;
    }
    std::string directory = argv[1];
    distDirectory.assign(directory.begin(), directory.end());
    return RUN_ALL_TESTS();
}
