// Wine's real SetupAPI stages the system driver files from the stand-in
// printer INF files the way the installer asks it to: each INF opened by its
// bare name with INF_STYLE_WIN4, directory id 66000 mapped to the spooler's
// driver directory, the sections queued with SP_COPY_FORCE_NEWER and no source
// root, the queue committed with the default callback. Runs in a throwaway
// prefix with the stand-ins installed (in-standin-prefix).
//
// Measured under Wine 8: a section that does not exist queues as success, a
// copy whose source is missing is skipped without a prompt, and 66000 always
// resolves to the spooler's driver directory, whatever SetupSetDirectoryIdW
// maps it to. So the tests stage into the real driver directory and judge by
// the files that appear there.
#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/handles.h"

namespace {

const DWORD kDriverDirectoryId = 66000;

struct Section {
    const wchar_t* inf;
    const wchar_t* name;
};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Names of the files in a directory, lower case: Windows file names compare
// without regard to case.
std::set<std::string> FilesIn(const std::wstring& directory) {
    std::set<std::string> names;
    WIN32_FIND_DATAW data;
    FindHandle search(::FindFirstFileW((directory + L"\\*").c_str(), &data));
    if (!search) {
        return names;
    }
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            std::string name = Narrow(data.cFileName);
            std::transform(name.begin(), name.end(), name.begin(), ::tolower);
            names.insert(name);
        }
    } while (::FindNextFileW(search.Get(), &data));
    return names;
}

std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::wstring InfDirectory() {
    wchar_t windows[MAX_PATH] = L"";
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\inf";
}

std::wstring DriverDirectory() {
    wchar_t directory[MAX_PATH] = L"";
    DWORD needed = 0;
    if (!::GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(directory),
                                      sizeof directory, &needed)) {
        return L"";
    }
    return directory;
}

// Stages the sections the way the installer does, with 66000 mapped to the
// given directory.
void Stage(const std::vector<Section>& sections, const std::wstring& directory) {
    std::map<std::wstring, HINF> infs;
    for (const Section& section : sections) {
        if (infs.count(section.inf) != 0) {
            continue;
        }
        HINF inf = ::SetupOpenInfFileW(section.inf, nullptr, INF_STYLE_WIN4, nullptr);
        ASSERT_NE(inf, INVALID_HANDLE_VALUE) << Narrow(section.inf) << ": " << ::GetLastError();
        infs[section.inf] = inf;
        ASSERT_TRUE(::SetupSetDirectoryIdW(inf, kDriverDirectoryId, directory.c_str())) << ::GetLastError();
    }
    HSPFILEQ queue = ::SetupOpenFileQueue();
    ASSERT_NE(queue, INVALID_HANDLE_VALUE);
    void* context = ::SetupInitDefaultQueueCallbackEx(nullptr, nullptr, 0, 0, nullptr);
    ASSERT_NE(context, nullptr);
    for (const Section& section : sections) {
        EXPECT_TRUE(::SetupInstallFilesFromInfSectionW(infs[section.inf], nullptr, queue, section.name,
                                                       nullptr, SP_COPY_FORCE_NEWER))
            << Narrow(section.name) << ": " << ::GetLastError();
    }
    EXPECT_TRUE(::SetupCommitFileQueueW(nullptr, queue, SetupDefaultQueueCallbackW, context))
        << ::GetLastError();
    ::SetupTermDefaultQueueCallback(context);
    ::SetupCloseFileQueue(queue);
    for (const auto& inf : infs) {
        ::SetupCloseInfFile(inf.second);
    }
}

const std::set<std::string> kUnidrvFiles = {"unidrv.dll",   "unidrvui.dll", "unires.dll",   "unidrv.hlp",
                                            "stdnames.gpd", "stddtype.gdl", "stdschem.gdl", "stdschmx.gdl"};
const std::set<std::string> kXpsGpdFiles = {"msxpsinc.gpd"};
const std::set<std::string> kXpsDriverFiles = {"mxdwdrv.dll", "xpssvcs.dll"};

// What the driver's dependent-file lists need from the system: the eight
// system names and the three GDL files.
const std::set<std::string> kAllSystemFiles = {"msxpsinc.gpd", "mxdwdrv.dll",  "stdnames.gpd", "unidrv.dll",
                                               "unidrv.hlp",   "unidrvui.dll", "unires.dll",   "xpssvcs.dll",
                                               "stddtype.gdl", "stdschem.gdl", "stdschmx.gdl"};

// Each test starts and ends with none of the system files in the driver
// directory, and learns which files the staging added.
class DriverDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        driverDirectory = DriverDirectory();
        ASSERT_FALSE(driverDirectory.empty()) << ::GetLastError();
        RemoveSystemFiles();
        before = FilesIn(driverDirectory);
    }
    void TearDown() override { RemoveSystemFiles(); }

    void RemoveSystemFiles() {
        for (const std::string& name : kAllSystemFiles) {
            ::DeleteFileW((driverDirectory + L"\\" + Wide(name)).c_str());
        }
    }

    std::set<std::string> Added() {
        std::set<std::string> added;
        for (const std::string& name : FilesIn(driverDirectory)) {
            if (before.count(name) == 0) {
                added.insert(name);
            }
        }
        return added;
    }

    std::wstring driverDirectory;
    std::set<std::string> before;
};

struct SectionCase {
    Section section;
    std::set<std::string> files;
};

const SectionCase kSectionCases[] = {
    {{L"NTPRINT.INF", L"unidrv.oem"}, kUnidrvFiles},     {{L"NTPRINT.INF", L"XPSGPD.OEM"}, kXpsGpdFiles},
    {{L"NTPRINT.INF", L"xpsdrv.oem"}, kXpsDriverFiles},  {{L"MSXPSDRV.INF", L"XPSGPD.OEM"}, kXpsGpdFiles},
    {{L"MSXPSDRV.INF", L"xpsdrv.oem"}, kXpsDriverFiles},
};

class OneSection : public DriverDirectoryTest, public ::testing::WithParamInterface<SectionCase> {};

TEST_P(OneSection, StagesExactlyItsFilesFromTheInfDirectory) {
    const SectionCase& param = GetParam();
    ASSERT_NO_FATAL_FAILURE(Stage({param.section}, driverDirectory));
    EXPECT_EQ(Added(), param.files);
    for (const std::string& name : param.files) {
        std::string staged = ReadBytes(driverDirectory + L"\\" + Wide(name));
        EXPECT_FALSE(staged.empty()) << name;
        EXPECT_TRUE(staged == ReadBytes(InfDirectory() + L"\\" + Wide(name)))
            << name << " differs from its source";
    }
}

std::string SectionCaseName(const ::testing::TestParamInfo<SectionCase>& info) {
    std::string name = Narrow(std::wstring(info.param.section.inf) + L"_" + info.param.section.name);
    std::replace(name.begin(), name.end(), '.', '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(StandIns, OneSection, ::testing::ValuesIn(kSectionCases), SectionCaseName);

using Families = DriverDirectoryTest;

TEST_F(Families, VistaOrLaterTakesAllThreeSectionsFromNtprint) {
    ASSERT_NO_FATAL_FAILURE(Stage(
        {{L"NTPRINT.INF", L"unidrv.oem"}, {L"NTPRINT.INF", L"XPSGPD.OEM"}, {L"NTPRINT.INF", L"xpsdrv.oem"}},
        driverDirectory));
    EXPECT_EQ(Added(), kAllSystemFiles);
}

TEST_F(Families, PreVistaTakesTheXpsSectionsFromMsxpsdrv) {
    ASSERT_NO_FATAL_FAILURE(Stage(
        {{L"NTPRINT.INF", L"unidrv.oem"}, {L"MSXPSDRV.INF", L"XPSGPD.OEM"}, {L"MSXPSDRV.INF", L"xpsdrv.oem"}},
        driverDirectory));
    EXPECT_EQ(Added(), kAllSystemFiles);
}

// Each INF holds the sections its families take from it and no other, and
// says it is a printer INF.
TEST(Sections, EachInfHasItsFamiliesSectionsOnly) {
    struct {
        const wchar_t* inf;
        const wchar_t* section;
        bool present;
    } const cases[] = {
        {L"NTPRINT.INF", L"unidrv.oem", true},  {L"NTPRINT.INF", L"XPSGPD.OEM", true},
        {L"NTPRINT.INF", L"xpsdrv.oem", true},  {L"MSXPSDRV.INF", L"unidrv.oem", false},
        {L"MSXPSDRV.INF", L"XPSGPD.OEM", true}, {L"MSXPSDRV.INF", L"xpsdrv.oem", true},
    };
    for (const auto& c : cases) {
        HINF inf = ::SetupOpenInfFileW(c.inf, nullptr, INF_STYLE_WIN4, nullptr);
        ASSERT_NE(inf, INVALID_HANDLE_VALUE) << Narrow(c.inf);
        EXPECT_EQ(::SetupGetLineCountW(inf, c.section) > 0, c.present)
            << Narrow(c.inf) << " " << Narrow(c.section);
        wchar_t value[64] = L"";
        EXPECT_TRUE(::SetupGetLineTextW(nullptr, inf, L"Version", L"Class", value, 64, nullptr));
        EXPECT_EQ(std::wstring(value), L"Printer") << Narrow(c.inf);
        ::SetupCloseInfFile(inf);
    }
}

using WineSetupApi = DriverDirectoryTest;

// Why a family's result is judged by its files: the call reports success.
TEST_F(WineSetupApi, QueuesASectionThatDoesNotExistAsSuccessAndStagesNothing) {
    ASSERT_NO_FATAL_FAILURE(Stage({{L"MSXPSDRV.INF", L"unidrv.oem"}}, driverDirectory));
    EXPECT_EQ(Added(), std::set<std::string>{});
}

// Why the tests stage into the real driver directory.
TEST_F(WineSetupApi, StagesIntoTheSpoolersDriverDirectoryWhatever66000IsMappedTo) {
    wchar_t temp[MAX_PATH] = L"";
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring elsewhere = std::wstring(temp) + L"zorvane-elsewhere";
    ::CreateDirectoryW(elsewhere.c_str(), nullptr);
    ASSERT_NO_FATAL_FAILURE(Stage({{L"NTPRINT.INF", L"XPSGPD.OEM"}}, elsewhere));
    EXPECT_EQ(FilesIn(elsewhere), std::set<std::string>{});
    EXPECT_EQ(Added(), kXpsGpdFiles);
    ::RemoveDirectoryW(elsewhere.c_str());
}

}  // namespace

namespace {

// standins.reg makes the print processor "MS_XPS", which Windows' XPS support
// brings, known to Wine's spooler.
TEST(StandInRegistry, MakesTheXpsPrintProcessorKnown) {
    DWORD needed = 0, count = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(::EnumPrintProcessorsW(nullptr, nullptr, 1, nullptr, 0, &needed, &count));
    ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(::EnumPrintProcessorsW(nullptr, nullptr, 1, buffer.data(), needed, &needed, &count))
        << ::GetLastError();
    const PRINTPROCESSOR_INFO_1W* processors = reinterpret_cast<const PRINTPROCESSOR_INFO_1W*>(buffer.data());
    std::set<std::string> names;
    for (DWORD i = 0; i < count; ++i) {
        names.insert(Narrow(processors[i].pName));
    }
    EXPECT_EQ(names.count("MS_XPS"), 1u);
}

}  // namespace
