// zorvanefilterhost.exe IN.xps OUT.xps [TICKET.xml]: plays the print filter
// pipeline manager's part for tests and diagnosis. It loads the filters that
// zorvane-pipelineconfig.xml in the distribution folder names, in its order,
// by their class IDs through DllGetClassObject, runs each on a thread of its
// own between channels, and writes what the last one hands on.
//
// Exit code 0 on success; otherwise 1 and one line naming what failed and
// its HRESULT.
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <objbase.h>
#include <windows.h>

#include <psapi.h>

#include "driver/filterhost/hostparts.h"
#include "driver/filterhost/package.h"
#include "driver/filters/filterpipeline.h"
#include "driver/filters/xmllitelibrary.h"

using Microsoft::WRL::ComPtr;

namespace {

struct FilterEntry {
    std::wstring dll, classId, name;
    HMODULE module = nullptr;
    ComPtr<IPrintPipelineFilter> filter;
};

class Job;

// The first failure of the job, and who had it.
struct Failure {
    CRITICAL_SECTION lock;
    std::wstring who;
    HRESULT hr = S_OK;
    Failure() { ::InitializeCriticalSection(&lock); }
    ~Failure() { ::DeleteCriticalSection(&lock); }
    bool Record(const std::wstring& name, HRESULT result) {
        ::EnterCriticalSection(&lock);
        bool first = SUCCEEDED(hr);
        if (first) {
            who = name;
            hr = result;
        }
        ::LeaveCriticalSection(&lock);
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
    Communicator(Channel* input, Channel* output) : input_(input), output_(output) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return Answer(riid, IID_IInterFilterCommunicator, ppv);
    }
    HRESULT STDMETHODCALLTYPE RequestReader(void** ppIReader) override {
        if (ppIReader == nullptr)
            return E_POINTER;
        *ppIReader = input_->Provider();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RequestWriter(void** ppIWriter) override {
        if (ppIWriter == nullptr)
            return E_POINTER;
        *ppIWriter = output_->Consumer();
        return S_OK;
    }

private:
    Channel* input_;
    Channel* output_;
};

class PropertyBag final : public JobObject<IPrintPipelinePropertyBag> {
public:
    PropertyBag() { ::InitializeCriticalSection(&lock_); }
    ~PropertyBag() {
        for (auto& property : properties_)
            ::VariantClear(&property.second);
        ::DeleteCriticalSection(&lock_);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return Answer(riid, IID_IPrintPipelinePropertyBag, ppv);
    }
    HRESULT STDMETHODCALLTYPE AddProperty(const wchar_t* pszName, const VARIANT* pVar) override {
        if (pszName == nullptr || pVar == nullptr)
            return E_POINTER;
        ::EnterCriticalSection(&lock_);
        VARIANT& value = properties_[pszName];
        ::VariantClear(&value);
        HRESULT hr = ::VariantCopy(&value, const_cast<VARIANT*>(pVar));
        ::LeaveCriticalSection(&lock_);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetProperty(const wchar_t* pszName, VARIANT* pVar) override {
        if (pszName == nullptr || pVar == nullptr)
            return E_POINTER;
        ::VariantInit(pVar);
        ::EnterCriticalSection(&lock_);
        auto found = properties_.find(pszName);
        HRESULT hr = found == properties_.end() ? HRESULT_FROM_WIN32(ERROR_NOT_FOUND)
                                                : ::VariantCopy(pVar, &found->second);
        ::LeaveCriticalSection(&lock_);
        return hr;
    }
    BOOL STDMETHODCALLTYPE DeleteProperty(const wchar_t* pszName) override {
        if (pszName == nullptr)
            return FALSE;
        ::EnterCriticalSection(&lock_);
        auto found = properties_.find(pszName);
        bool deleted = found != properties_.end();
        if (deleted) {
            ::VariantClear(&found->second);
            properties_.erase(found);
        }
        ::LeaveCriticalSection(&lock_);
        return deleted;
    }

private:
    CRITICAL_SECTION lock_;
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
    ComPtr<IXmlReader> reader;
    if (SUCCEEDED(hr))
        hr = CreateMarkupReader(markup, reader);
    XmlNodeType nodeType;
    while (SUCCEEDED(hr) && (hr = reader->Read(&nodeType)) == S_OK) {
        const wchar_t* pName = nullptr;
        reader->GetLocalName(&pName, nullptr);
        if (nodeType != XmlNodeType_Element || std::wstring(pName) != L"Filter")
            continue;
        FilterEntry entry;
        for (HRESULT hrAttribute = reader->MoveToFirstAttribute(); hrAttribute == S_OK;
             hrAttribute = reader->MoveToNextAttribute()) {
            const wchar_t *pLocal, *pValue;
            reader->GetLocalName(&pLocal, nullptr);
            reader->GetValue(&pValue, nullptr);
            std::wstring local(pLocal);
            if (local == L"dll")
                entry.dll = pValue;
            if (local == L"clsid")
                entry.classId = pValue;
            if (local == L"name")
                entry.name = pValue;
        }
        filters.push_back(entry);
    }
    return FAILED(hr) ? hr : (filters.empty() ? E_INVALIDARG : S_OK);
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
    FilterEntry* filter;  // null: the package reader
    PackageReader* reader;
};

DWORD WINAPI RunThread(void* parameter) {
    ThreadWork* work = static_cast<ThreadWork*>(parameter);
    HRESULT hrInit = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HRESULT hr;
    std::wstring who;
    if (work->filter != nullptr) {
        who = work->filter->name;
        hr = work->filter->filter->StartOperation();
    } else {
        who = L"reading the input package";
        hr = work->reader->Send(work->job->channels.front()->Consumer());
    }
    if (FAILED(hr))
        work->job->Stop(who, hr);
    if (SUCCEEDED(hrInit))
        ::CoUninitialize();
    return 0;
}

int Fail(const std::wstring& who, HRESULT hr) {
    std::fwprintf(stderr, L"zorvanefilterhost: %ls failed: HRESULT 0x%08lX\n", who.c_str(),
                  static_cast<unsigned long>(hr));
    return 1;
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
    PackageReader reader;
    hr = reader.Open(input, ticket);
    if (FAILED(hr))
        return Fail(L"reading the input package", hr);
    PackageWriter writer;
    hr = writer.Create(output);
    if (FAILED(hr))
        return Fail(L"creating the output package", hr);

    for (size_t i = 0; i <= job.filters.size(); ++i)
        job.channels.push_back(std::make_unique<Channel>());
    PropertyBag bag;
    VARIANT value;
    ::VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = ::SysAllocString(L"Zorvane Creator");
    bag.AddProperty(XPS_FP_PRINTER_NAME, &value);
    ::VariantClear(&value);
    value.vt = VT_UI4;
    value.ulVal = 1;
    bag.AddProperty(XPS_FP_JOB_ID, &value);

    std::vector<std::unique_ptr<Communicator>> communicators;
    std::vector<std::unique_ptr<ManagerControl>> controls;
    for (size_t i = 0; i < job.filters.size(); ++i) {
        communicators.push_back(
            std::make_unique<Communicator>(job.channels[i].get(), job.channels[i + 1].get()));
        controls.push_back(std::make_unique<ManagerControl>(&job, job.filters[i].name));
        hr = job.filters[i].filter->InitializeFilter(communicators[i].get(), &bag, controls[i].get());
        if (FAILED(hr)) {
            writer.Discard();
            return Fail(job.filters[i].name, hr);
        }
    }

    std::vector<ThreadWork> work;
    work.push_back({&job, nullptr, &reader});
    for (FilterEntry& entry : job.filters)
        work.push_back({&job, &entry, nullptr});
    std::vector<HANDLE> threads;
    for (ThreadWork& item : work) {
        HANDLE thread = ::CreateThread(nullptr, 0, RunThread, &item, 0, nullptr);
        if (thread == nullptr) {
            job.Stop(L"starting a filter thread", HRESULT_FROM_WIN32(::GetLastError()));
            break;
        }
        threads.push_back(thread);
    }
    hr = writer.Receive(job.channels.back()->Provider());
    if (FAILED(hr))
        job.Stop(L"writing the output package", hr);
    ::WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
    for (HANDLE thread : threads)
        ::CloseHandle(thread);
    for (FilterEntry& entry : job.filters)
        entry.filter.Reset();

    if (FAILED(job.failure.hr)) {
        writer.Discard();
        return Fail(job.failure.who, job.failure.hr);
    }
    return 0;
}

// With ZORVANE_FILTERHOST_STATS set, one more line for the benchmarks: the
// job's time inside the process (without Wine's start) and its peak memory.
void PrintStatistics(DWORD startTicks) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    std::fwprintf(stderr, L"zorvanefilterhost: %lu ms, peak working set %lu KiB\n",
                  static_cast<unsigned long>(::GetTickCount() - startTicks),
                  static_cast<unsigned long>(counters.PeakWorkingSetSize / 1024));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || argc > 4) {
        std::fwprintf(stderr, L"usage: zorvanefilterhost IN.xps OUT.xps [TICKET.xml]\n");
        return 2;
    }
    DWORD startTicks = ::GetTickCount();
    HRESULT hrInit = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int exitCode = RunJob(argv[1], argv[2], argc == 4 ? argv[3] : L"");
    if (SUCCEEDED(hrInit)) {
        ::CoUninitialize();
    }
    if (::GetEnvironmentVariableW(L"ZORVANE_FILTERHOST_STATS", nullptr, 0) != 0) {
        PrintStatistics(startTicks);
    }
    return exitCode;
}
