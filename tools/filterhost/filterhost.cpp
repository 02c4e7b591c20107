// zorvanefilterhost.exe IN.xps OUT [TICKET.xml]: plays the print filter
// pipeline manager's part for tests and diagnosis. It loads the filters that
// zorvane-pipelineconfig.xml in the distribution folder names, in its order,
// by their class IDs through DllGetClassObject, runs each on a thread of its
// own between channels, and writes what the last one hands on. A last filter
// that takes a stream (the output filter) gets the parts serialised as one
// package once the filters before it are done, and what it writes is OUT:
// the port's bytes.
//
// Exit code 0 on success; otherwise 1 and one line naming what failed and
// its HRESULT. With ZORVANE_FILTERHOST_STATS set, one more line on stderr
// for the benchmarks (platform/runstats.h).
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <objbase.h>
#include <windows.h>

#include "driver/filters/filterpipeline.h"
#include "platform/handles.h"
#include "platform/runstats.h"
#include "tools/filterhost/hostparts.h"
#include "tools/filterhost/package.h"
#include "xps/xmlreader.h"
#include "zorvaneidentity.h"

using Microsoft::WRL::ComPtr;

namespace {

struct FilterEntry {
    std::wstring dll, classId, name;
    // Takes the package as one stream (IPrintReadStream) and writes the
    // port's bytes (IPrintWriteStream): a render filter, the pipeline's last.
    bool takesStream = false;
    HMODULE module = nullptr;
    ComPtr<IPrintPipelineFilter> filter;
};

class Job;

// The first failure of the job, and who had it.
struct Failure {
    CriticalSection lock;
    std::wstring who;
    HRESULT hr = S_OK;
    bool Record(const std::wstring& name, HRESULT result) {
        CriticalSectionLock guard(lock);
        bool first = SUCCEEDED(hr);
        if (first) {
            who = name;
            hr = result;
        }
        return first;
    }
};

// Everything that lives for one job; the COM objects the filters get point
// into it and are not reference-counted (the job outlives the filters).
class Job {
public:
    std::vector<FilterEntry> filters;
    std::vector<std::unique_ptr<Channel>> channels;
    Failure failure;

    // Stops every filter and wakes every waiting thread.
    void Stop(const std::wstring& who, HRESULT hr) {
        if (!failure.Record(who, hr))
            return;
        for (FilterEntry& entry : filters) {
            if (entry.filter)
                entry.filter->ShutdownOperation();
        }
        for (auto& channel : channels)
            channel->Abort();
    }
};

// A COM object of the job: it lives as long as the job does.
template <typename Interface>
class JobObject : public Interface {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

protected:
    HRESULT Answer(REFIID riid, const IID& own, void** ppv) {
        if (ppv == nullptr)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, own)) {
            *ppv = static_cast<Interface*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
};

class Communicator final : public JobObject<IInterFilterCommunicator> {
public:
    Communicator(IUnknown* reader, IUnknown* writer) : reader_(reader), writer_(writer) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return Answer(riid, IID_IInterFilterCommunicator, ppv);
    }
    HRESULT STDMETHODCALLTYPE RequestReader(void** ppIReader) override {
        if (ppIReader == nullptr)
            return E_POINTER;
        *ppIReader = reader_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RequestWriter(void** ppIWriter) override {
        if (ppIWriter == nullptr)
            return E_POINTER;
        *ppIWriter = writer_;
        return S_OK;
    }

private:
    IUnknown* reader_;
    IUnknown* writer_;
};

// The package as the pipeline serialises it for a render filter: the file the
// host's package writer made, read once the filters before it are done.
class ReadStream final : public JobObject<IPrintReadStream> {
public:
    explicit ReadStream(std::wstring path) : path_(std::move(path)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return Answer(riid, IID_IPrintReadStream, ppv);
    }
    HRESULT STDMETHODCALLTYPE Seek(LONGLONG dlibMove, DWORD dwOrigin, ULONGLONG* plibNewPosition) override {
        HRESULT hr = Load();
        LONGLONG base = dwOrigin == STREAM_SEEK_SET   ? 0
                        : dwOrigin == STREAM_SEEK_CUR ? static_cast<LONGLONG>(position_)
                                                      : static_cast<LONGLONG>(bytes_.size());
        if (SUCCEEDED(hr) && (dwOrigin > STREAM_SEEK_END || base + dlibMove < 0 ||
                              base + dlibMove > static_cast<LONGLONG>(bytes_.size())))
            hr = E_INVALIDARG;
        if (SUCCEEDED(hr))
            position_ = static_cast<size_t>(base + dlibMove);
        if (SUCCEEDED(hr) && plibNewPosition != nullptr)
            *plibNewPosition = position_;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE ReadBytes(void* pvBuffer, ULONG cbRequested, ULONG* pcbRead,
                                        BOOL* pbEndOfFile) override {
        if (pvBuffer == nullptr || pcbRead == nullptr || pbEndOfFile == nullptr)
            return E_POINTER;
        HRESULT hr = Load();
        if (FAILED(hr))
            return hr;
        size_t count = bytes_.size() - position_ < cbRequested ? bytes_.size() - position_ : cbRequested;
        std::memcpy(pvBuffer, bytes_.data() + position_, count);
        position_ += count;
        *pcbRead = static_cast<ULONG>(count);
        *pbEndOfFile = position_ == bytes_.size();
        return S_OK;
    }

private:
    HRESULT Load() {
        if (loaded_)
            return S_OK;
        HRESULT hr = ReadFileBytes(path_, bytes_);
        loaded_ = SUCCEEDED(hr);
        return hr;
    }
    std::wstring path_;
    std::string bytes_;
    size_t position_ = 0;
    bool loaded_ = false;
};

// The port's bytes: OUT.
class WriteStream final : public JobObject<IPrintWriteStream> {
public:
    explicit WriteStream(FileHandle file) : file_(std::move(file)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return Answer(riid, IID_IPrintWriteStream, ppv);
    }
    HRESULT STDMETHODCALLTYPE WriteBytes(const void* pvBuffer, ULONG cbBuffer, ULONG* pcbWritten) override {
        if (pvBuffer == nullptr || pcbWritten == nullptr)
            return E_POINTER;
        DWORD written = 0;
        if (!file_ || !::WriteFile(file_.Get(), pvBuffer, cbBuffer, &written, nullptr))
            return file_ ? HRESULT_FROM_WIN32(::GetLastError()) : E_UNEXPECTED;
        *pcbWritten = written;
        return S_OK;
    }
    void STDMETHODCALLTYPE Close() override { closed_ = file_.Close() && !closed_; }
    // True once the filter closed the stream and every byte reached the file.
    bool Closed() const { return closed_; }

private:
    FileHandle file_;
    bool closed_ = false;
};

class PropertyBag final : public JobObject<IPrintPipelinePropertyBag> {
public:
    ~PropertyBag() {
        for (auto& property : properties_)
            ::VariantClear(&property.second);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return Answer(riid, IID_IPrintPipelinePropertyBag, ppv);
    }
    HRESULT STDMETHODCALLTYPE AddProperty(const wchar_t* pszName, const VARIANT* pVar) override {
        if (pszName == nullptr || pVar == nullptr)
            return E_POINTER;
        CriticalSectionLock guard(lock_);
        VARIANT& value = properties_[pszName];
        ::VariantClear(&value);
        return ::VariantCopy(&value, const_cast<VARIANT*>(pVar));
    }
    HRESULT STDMETHODCALLTYPE GetProperty(const wchar_t* pszName, VARIANT* pVar) override {
        if (pszName == nullptr || pVar == nullptr)
            return E_POINTER;
        ::VariantInit(pVar);
        CriticalSectionLock guard(lock_);
        auto found = properties_.find(pszName);
        return found == properties_.end() ? HRESULT_FROM_WIN32(ERROR_NOT_FOUND)
                                          : ::VariantCopy(pVar, &found->second);
    }
    BOOL STDMETHODCALLTYPE DeleteProperty(const wchar_t* pszName) override {
        if (pszName == nullptr)
            return FALSE;
        CriticalSectionLock guard(lock_);
        auto found = properties_.find(pszName);
        if (found == properties_.end())
            return FALSE;
        ::VariantClear(&found->second);
        properties_.erase(found);
        return TRUE;
    }

private:
    CriticalSection lock_;
    std::map<std::wstring, VARIANT> properties_;
};

class ManagerControl final : public JobObject<IPrintPipelineManagerControl> {
public:
    ManagerControl(Job* job, std::wstring name) : job_(job), name_(std::move(name)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return Answer(riid, IID_IPrintPipelineManagerControl, ppv);
    }
    HRESULT STDMETHODCALLTYPE RequestShutdown(HRESULT hrReason, IImgErrorInfo*) override {
        job_->Stop(name_, FAILED(hrReason) ? hrReason : E_ABORT);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FilterFinished() override { return S_OK; }

private:
    Job* job_;
    std::wstring name_;
};

std::wstring DistributionFolder() {
    wchar_t pPath[MAX_PATH];
    DWORD cch = ::GetModuleFileNameW(nullptr, pPath, MAX_PATH);
    std::wstring path(pPath, cch);
    path = path.substr(0, path.rfind(L'\\'));              // ...\tools
    return path.substr(0, path.rfind(L'\\')) + L"\\dist";  // ...\dist
}

HRESULT ReadPipelineConfig(const std::wstring& path, std::vector<FilterEntry>& filters) {
    std::string markup;
    HRESULT hr = ReadFileBytes(path, markup);
    xml::XmlReader reader;
    if (SUCCEEDED(hr))
        hr = reader.Open(markup);
    xml::Node node;
    while (SUCCEEDED(hr) && SUCCEEDED(hr = reader.Next(node)) && node != xml::Node::End) {
        if (node != xml::Node::StartElement)
            continue;
        const std::wstring* guid = reader.Find(L"guid");
        if (reader.LocalName() == L"Input" && !filters.empty() && guid != nullptr)
            filters.back().takesStream =
                _wcsicmp(guid->c_str(), L"{4d47a67c-66cc-4430-850e-daf466fe5bc4}") == 0;
        if (reader.LocalName() != L"Filter")
            continue;
        FilterEntry entry;
        const std::wstring* dll = reader.Find(L"dll");
        const std::wstring* classId = reader.Find(L"clsid");
        const std::wstring* name = reader.Find(L"name");
        entry.dll = dll != nullptr ? *dll : L"";
        entry.classId = classId != nullptr ? *classId : L"";
        entry.name = name != nullptr ? *name : L"";
        filters.push_back(entry);
    }
    if (FAILED(hr))
        return hr;
    // Only the last filter may take a stream: nothing turns a stream back into parts.
    for (size_t i = 0; i + 1 < filters.size(); ++i) {
        if (filters[i].takesStream)
            return E_INVALIDARG;
    }
    return filters.empty() ? E_INVALIDARG : S_OK;
}

using DllGetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

HRESULT LoadFilter(const std::wstring& folder, FilterEntry& entry) {
    CLSID classId;
    std::vector<wchar_t> text(entry.classId.begin(), entry.classId.end());
    text.push_back(L'\0');
    HRESULT hr = ::CLSIDFromString(text.data(), &classId);
    if (FAILED(hr))
        return hr;
    entry.module =
        ::LoadLibraryExW((folder + L"\\" + entry.dll).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (entry.module == nullptr)
        return HRESULT_FROM_WIN32(::GetLastError());
    auto getClassObject = reinterpret_cast<DllGetClassObjectFunction>(
        reinterpret_cast<void*>(::GetProcAddress(entry.module, "DllGetClassObject")));
    if (getClassObject == nullptr)
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    ComPtr<IClassFactory> factory;
    hr = getClassObject(classId, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    return factory->CreateInstance(nullptr, IID_IPrintPipelineFilter,
                                   reinterpret_cast<void**>(entry.filter.GetAddressOf()));
}

struct ThreadWork {
    Job* job;
    FilterEntry* filter;    // the filter this thread runs, or
    PackageReader* reader;  // the package reader, or
    PackageWriter* writer;  // the package writer
};

HRESULT DoWork(ThreadWork* work, std::wstring& who) {
    if (work->filter != nullptr) {
        who = work->filter->name;
        return work->filter->filter->StartOperation();
    }
    if (work->reader != nullptr) {
        who = L"reading the input package";
        return work->reader->Send(work->job->channels.front()->Consumer());
    }
    who = L"writing the output package";
    return work->writer->Receive(work->job->channels.back()->Provider());
}

DWORD WINAPI RunThread(void* parameter) {
    ThreadWork* work = static_cast<ThreadWork*>(parameter);
    HRESULT hrInit = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::wstring who = L"a filter thread";
    HRESULT hr;
    // What a filter or the host lets escape ends this job, not the process.
    try {
        hr = DoWork(work, who);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    } catch (...) {
        hr = E_UNEXPECTED;
    }
    if (FAILED(hr))
        work->job->Stop(who, hr);
    if (SUCCEEDED(hrInit))
        ::CoUninitialize();
    return 0;
}

// The job's time limit, in seconds: ZORVANE_FILTERHOST_TIMEOUT, or ten minutes.
DWORD JobTimeLimit() {
    wchar_t pText[16];
    DWORD cch = ::GetEnvironmentVariableW(L"ZORVANE_FILTERHOST_TIMEOUT", pText, 16);
    unsigned long seconds = cch > 0 && cch < 16 ? std::wcstoul(pText, nullptr, 10) : 0;
    return seconds > 0 && seconds < 86400 ? static_cast<DWORD>(seconds * 1000) : 600000;
}

int Fail(const std::wstring& who, HRESULT hr) {
    std::fwprintf(stderr, L"zorvanefilterhost: %ls failed: HRESULT 0x%08lX\n", who.c_str(),
                  static_cast<unsigned long>(hr));
    return 1;
}

// Runs each piece of work on a thread of its own and waits for them all,
// within the job's time limit.
void RunThreads(Job& job, std::vector<ThreadWork>& work, PackageWriter& writer) {
    std::vector<KernelObject> owned;
    std::vector<HANDLE> threads;
    for (ThreadWork& item : work) {
        owned.emplace_back(::CreateThread(nullptr, 0, RunThread, &item, 0, nullptr));
        if (!owned.back()) {
            job.Stop(L"starting a filter thread", HRESULT_FROM_WIN32(::GetLastError()));
            break;
        }
        threads.push_back(owned.back().Get());
    }
    DWORD count = static_cast<DWORD>(threads.size());
    if (::WaitForMultipleObjects(count, threads.data(), TRUE, JobTimeLimit()) == WAIT_TIMEOUT) {
        job.Stop(L"the job's time limit", HRESULT_FROM_WIN32(ERROR_TIMEOUT));
        // A filter that does not stop when told cannot be ended safely
        // inside this process: the process ends with the job.
        if (::WaitForMultipleObjects(count, threads.data(), TRUE, 30000) == WAIT_TIMEOUT) {
            writer.Discard();
            Fail(job.failure.who, job.failure.hr);
            std::fflush(stderr);
            ::ExitProcess(1);
        }
    }
}

int RunJob(const std::wstring& input, const std::wstring& output, const std::wstring& ticket) {
    Job job;
    std::wstring folder = DistributionFolder();
    HRESULT hr = ReadPipelineConfig(folder + L"\\zorvane-pipelineconfig.xml", job.filters);
    if (FAILED(hr))
        return Fail(L"reading zorvane-pipelineconfig.xml", hr);
    for (FilterEntry& entry : job.filters) {
        hr = LoadFilter(folder, entry);
        if (FAILED(hr))
            return Fail(entry.name + L" (" + entry.dll + L")", hr);
    }
    // With a render filter last, the parts become a package beside OUT, as
    // the pipeline manager serialises them, and the render filter writes OUT.
    FilterEntry* render = job.filters.back().takesStream ? &job.filters.back() : nullptr;
    size_t partFilters = job.filters.size() - (render != nullptr ? 1 : 0);
    std::wstring packagePath = render != nullptr ? output + L".package.xps" : output;
    PackageReader reader;
    hr = reader.Open(input, ticket);
    if (FAILED(hr))
        return Fail(L"reading the input package", hr);
    PackageWriter writer;
    hr = writer.Create(packagePath, reader.Flavour());
    if (FAILED(hr))
        return Fail(L"creating the output package", hr);
    ReadStream packageStream(packagePath);
    WriteStream portStream(FileHandle(render == nullptr
                                          ? INVALID_HANDLE_VALUE
                                          : ::CreateFileW(output.c_str(), GENERIC_WRITE, 0, nullptr,
                                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)));

    for (size_t i = 0; i <= partFilters; ++i)
        job.channels.push_back(std::make_unique<Channel>());
    PropertyBag bag;
    VARIANT value;
    ::VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = ::SysAllocString(ZORVANE_WIDE(ZORVANE_PRINTER_NAME));
    bag.AddProperty(XPS_FP_PRINTER_NAME, &value);
    ::VariantClear(&value);
    value.vt = VT_UI4;
    value.ulVal = 1;
    bag.AddProperty(XPS_FP_JOB_ID, &value);

    std::vector<std::unique_ptr<Communicator>> communicators;
    std::vector<std::unique_ptr<ManagerControl>> controls;
    for (size_t i = 0; i < job.filters.size(); ++i) {
        communicators.push_back(
            i < partFilters
                ? std::make_unique<Communicator>(job.channels[i]->Provider(), job.channels[i + 1]->Consumer())
                : std::make_unique<Communicator>(&packageStream, &portStream));
        controls.push_back(std::make_unique<ManagerControl>(&job, job.filters[i].name));
        hr = job.filters[i].filter->InitializeFilter(communicators[i].get(), &bag, controls[i].get());
        if (FAILED(hr)) {
            writer.Discard();
            return Fail(job.filters[i].name, hr);
        }
    }

    std::vector<ThreadWork> work;
    work.push_back({&job, nullptr, &reader, nullptr});
    for (size_t i = 0; i < partFilters; ++i)
        work.push_back({&job, &job.filters[i], nullptr, nullptr});
    work.push_back({&job, nullptr, nullptr, &writer});
    RunThreads(job, work, writer);
    if (render != nullptr && SUCCEEDED(job.failure.hr)) {
        std::vector<ThreadWork> last = {{&job, render, nullptr, nullptr}};
        RunThreads(job, last, writer);
        if (SUCCEEDED(job.failure.hr) && !portStream.Closed())
            job.Stop(render->name + L" (its stream to the port)", E_UNEXPECTED);
    }
    for (FilterEntry& entry : job.filters)
        entry.filter.Reset();
    if (render != nullptr) {
        // OUT is closed first: an open file is not deleted.
        portStream.Close();
        ::DeleteFileW(packagePath.c_str());
        if (FAILED(job.failure.hr))
            ::DeleteFileW(output.c_str());
    }

    if (FAILED(job.failure.hr)) {
        writer.Discard();
        return Fail(job.failure.who, job.failure.hr);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || argc > 4) {
        std::fwprintf(stderr, L"usage: zorvanefilterhost IN.xps OUT.xps [TICKET.xml]\n");
        return 1;
    }
    DWORD startTicks = ::GetTickCount();
    HRESULT hrInit = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int exitCode;
    try {
        exitCode = RunJob(argv[1], argv[2], argc == 4 ? argv[3] : L"");
    } catch (const std::bad_alloc&) {
        exitCode = Fail(L"the filter host", E_OUTOFMEMORY);
    } catch (...) {
        exitCode = Fail(L"the filter host", E_UNEXPECTED);
    }
    if (SUCCEEDED(hrInit)) {
        ::CoUninitialize();
    }
    if (::GetEnvironmentVariableW(L"ZORVANE_FILTERHOST_STATS", nullptr, 0) != 0) {
        PrintRunStatistics(L"zorvanefilterhost", startTicks);
    }
    return exitCode;
}
