// OutputFilter: the last filter of the pipeline, hosted in zorvanedrvui.dll.
// It reads the job as the pipeline serialises it (IPrintReadStream, one XPS
// package), has queldac.dll convert it into the format the job's ticket asks
// for (OutputFormat, default PDF), and writes that to the port's stream
// (IPrintWriteStream): one file as it is, the pages of a per-page format
// (SVG, EMF, PNG, JPEG) as a file set the port monitor takes apart. A job is
// never lost: without queldac.dll (a bundled installation), for XPS, and
// when the engine fails, the XPS goes on unchanged and the reason is
// reported.
#include <atomic>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <windows.h>
#include <wrl/client.h>

#include "driver/filters/comptr.h"
#include "driver/filters/filtermodule.h"
#include "driver/filters/filtersettings.h"
#include "driver/filters/jobreport.h"
#include "driver/filters/pagemarkup.h"
#include "engine/failure.h"
#include "engine/queldacapi.h"
#include "monitormessages.h"
#include "platform/fileset.h"
#include "platform/handles.h"
#include "xps/xpspackage.h"
#include "zorvaneidentity.h"

using Microsoft::WRL::ComPtr;

// {3AEA9B25-D1D8-44CF-A336-38CD1171411F}
const CLSID kFilterClassId = {0x3aea9b25, 0xd1d8, 0x44cf, {0xa3, 0x36, 0x38, 0xcd, 0x11, 0x71, 0x41, 0x1f}};

namespace {

// The converted document is held until it is whole, so that a failure late
// in the job can still send the XPS; a ticket is small.
constexpr std::size_t kMaxConverted = 512u << 20;
constexpr std::size_t kMaxTicket = 1u << 20;
// The resolutions the engine draws at; it takes 0 as its default.
constexpr unsigned kMinDpi = 72, kMaxDpi = 1200;

// queldac.dll from the system directory by its full path, never through the
// search order.
HRESULT LoadEngine(ModuleHandle& module, QueldacConvertFunction& convert) {
    wchar_t pPath[MAX_PATH];
    UINT cch = ::GetSystemDirectoryW(pPath, MAX_PATH);
    if (cch == 0 || cch + sizeof("\\queldac.dll") > MAX_PATH) {
        return cch == 0 ? HRESULT_FROM_WIN32(::GetLastError())
                        : HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    }
    ::lstrcpyW(pPath + cch, L"\\queldac.dll");
    module = ModuleHandle(::LoadLibraryExW(pPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!module) {
        return HRESULT_FROM_WIN32(::GetLastError());
    }
    convert = reinterpret_cast<QueldacConvertFunction>(
        reinterpret_cast<void*>(::GetProcAddress(module.Get(), QUELDAC_CONVERT_EXPORT)));
    return convert != nullptr ? S_OK : HRESULT_FROM_WIN32(::GetLastError());
}

// Where queldac.dll's output collects; nothing thrown crosses back into it.
struct Collected {
    std::string bytes;
    // Where each page's file begins in bytes, for a per-page format.
    std::vector<std::size_t> files;
    const std::atomic<bool>* shutdown;
};

HRESULT WINAPI BeginFile(void* context, unsigned) {
    Collected* collected = static_cast<Collected*>(context);
    try {
        collected->files.push_back(collected->bytes.size());
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// A file set's stream on its way to the port; with no stream, it only
// counts, so that a set is checked whole before its first byte goes out.
class PortSink final : public FileSetSink {
public:
    explicit PortSink(IPrintWriteStream* stream) : stream_(stream) {}
    bool Write(const unsigned char* pBytes, std::size_t cb) override {
        hr_ = stream_ == nullptr ? S_OK : WriteStream(stream_, reinterpret_cast<const char*>(pBytes), cb);
        return SUCCEEDED(hr_);
    }
    HRESULT Result() const { return hr_; }

private:
    IPrintWriteStream* stream_;
    HRESULT hr_ = S_OK;
};

// The pages' files as one file set into sink.
FileSetError WriteFileSet(const Collected& converted, FileSetSink& sink) {
    FileSetWriter writer(sink);
    FileSetError error = writer.Begin();
    for (std::size_t i = 0; i < converted.files.size() && error == FileSetError::None; ++i) {
        std::size_t end = i + 1 < converted.files.size() ? converted.files[i + 1] : converted.bytes.size();
        error =
            writer.Add(reinterpret_cast<const unsigned char*>(converted.bytes.data()) + converted.files[i],
                       end - converted.files[i]);
    }
    return error == FileSetError::None ? writer.End() : error;
}

HRESULT WINAPI Collect(void* context, const void* bytes, size_t size) {
    Collected* collected = static_cast<Collected*>(context);
    if (*collected->shutdown) {
        return E_ABORT;
    }
    if (size > kMaxConverted - collected->bytes.size()) {
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    try {
        collected->bytes.append(static_cast<const char*>(bytes), size);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

class OutputFilter final : public ComObject<IPrintPipelineFilter, &IID_IPrintPipelineFilter> {
public:
    OutputFilter() { LockModule(); }
    ~OutputFilter() override { UnlockModule(); }

    HRESULT STDMETHODCALLTYPE InitializeFilter(IInterFilterCommunicator* pINegotiation,
                                               IPrintPipelinePropertyBag* pIPropertyBag,
                                               IPrintPipelineManagerControl* pIPipelineControl) override {
        if (pINegotiation == nullptr || pIPropertyBag == nullptr || pIPipelineControl == nullptr) {
            return E_POINTER;
        }
        HRESULT hr = RequestReaderAndWriter(pINegotiation, IID_IPrintReadStream, reader_,
                                            IID_IPrintWriteStream, writer_);
        if (FAILED(hr)) {
            return hr;
        }
        bag_ = pIPropertyBag;
        control_ = pIPipelineControl;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ShutdownOperation() override {
        shutdown_ = true;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE StartOperation() override {
        if (!reader_ || !writer_) {
            return E_UNEXPECTED;
        }
        HRESULT hr = RunOperation([this] { return Run(); });
        writer_->Close();
        if (FAILED(hr)) {
            control_->RequestShutdown(hr, nullptr);
            return hr;
        }
        control_->FilterFinished();
        return S_OK;
    }

private:
    HRESULT Run() {
        JobReport report(bag_.Get());
        std::string xps;
        HRESULT hr = ReadStream(reader_.Get(), kQueldacMaxInput, xps);
        // A job that cannot be held goes on as it comes, from the stream.
        if (hr == HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) || hr == E_OUTOFMEMORY) {
            std::string().swap(xps);
            PassOn(report, L"the format asked for",
                   hr == E_OUTOFMEMORY ? L"there is not memory enough to hold it"
                                       : L"it is larger than the engine takes",
                   hr);
            return CopyThrough();
        }
        if (FAILED(hr)) {
            return hr;
        }
        Collected converted{std::string(), {}, &shutdown_};
        bool made = Convert(xps, report, converted);
        if (shutdown_) {
            return E_ABORT;
        }
        if (made && converted.files.size() > 1) {
            // Checked whole first: what goes to the port is a set the
            // monitor takes, or the XPS.
            PortSink counter(nullptr);
            FileSetError error = WriteFileSet(converted, counter);
            if (error != FileSetError::None) {
                PassOn(report, L"one file per page", FileSetErrorText(error),
                       HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
                return WriteStream(writer_.Get(), xps);
            }
            PortSink port(writer_.Get());
            if (WriteFileSet(converted, port) != FileSetError::None) {
                return FAILED(port.Result()) ? port.Result() : E_UNEXPECTED;
            }
            return S_OK;
        }
        // One file (a one-page document in a per-page format too) goes as it is.
        return WriteStream(writer_.Get(), made ? converted.bytes : xps);
    }

    // The XPS goes on instead of the format: the event log and the job's
    // status say why.
    static void PassOn(JobReport& report, const std::wstring& format, const std::wstring& reason,
                       HRESULT hr) {
        std::wstring text = reason + L": " + engine::DescribeFailure(hr);
        report.Report(MSG_JOB_SENT_AS_XPS, {format, text}, L"Printed as XPS: " + text);
    }

    // False, with the reason reported, when the XPS is to go on instead.
    bool Convert(const std::string& xps, JobReport& report, Collected& converted) {
        OutputSettings output = JobOutput(xps, report);
        if (output.format == L"XPS") {
            return false;
        }
        ModuleHandle module;
        QueldacConvertFunction convert = nullptr;
        HRESULT hr = LoadEngine(module, convert);
        if (FAILED(hr)) {
            PassOn(report, output.format, L"queldac.dll cannot be loaded from the system directory", hr);
            return false;
        }
        QueldacJob job = {};
        job.cbSize = sizeof(job);
        job.format = output.format.c_str();
        job.title = report.Document().c_str();
        job.author = report.Owner().c_str();
        job.dpi = output.dpi;
        job.jpegQuality = output.jpegQuality;
        job.transparent = output.transparent ? TRUE : FALSE;
        job.write = Collect;
        job.beginFile = BeginFile;
        job.context = &converted;
        hr = convert(xps.data(), xps.size(), &job);
        if (FAILED(hr)) {
            PassOn(report, output.format, L"the engine failed on the document", hr);
            std::string().swap(converted.bytes);  // the XPS may need the memory
            return false;
        }
        return true;
    }

    // The job's OutputFormat: the user's ticket from the property bag, then
    // the ticket the package carries for its sequence. A ticket that cannot
    // be read is passed over: the format stays as the tickets before it left it.
    OutputSettings JobOutput(const std::string& xps, JobReport& report) {
        FilterSettings settings;
        std::string ticket;
        VARIANT value;
        ::VariantInit(&value);
        ComPtr<IPrintReadStreamFactory> factory;
        ComPtr<IPrintReadStream> stream;
        if (SUCCEEDED(bag_->GetProperty(XPS_FP_USER_PRINT_TICKET, &value)) && value.vt == VT_UNKNOWN &&
            value.punkVal != nullptr &&
            SUCCEEDED(value.punkVal->QueryInterface(IID_IPrintReadStreamFactory,
                                                    reinterpret_cast<void**>(factory.GetAddressOf()))) &&
            SUCCEEDED(factory->GetStream(&stream)) && stream &&
            SUCCEEDED(ReadStream(stream.Get(), kMaxTicket, ticket))) {
            ApplyPrintTicket(ticket.data(), ticket.size(), settings);
        }
        ::VariantClear(&value);

        xps::XpsPackage package;
        xps::FixedStructure structure;
        std::wstring part;
        if (SUCCEEDED(package.Open(
                std::unique_ptr<xps::ByteSource>(new xps::BorrowedSource(xps.data(), xps.size())))) &&
            SUCCEEDED(package.ReadStructure(structure)) &&
            !(part = package.TargetOf(structure.sequence, xps::Relation::PrintTicket)).empty() &&
            SUCCEEDED(package.Read(part, ticket)) && ticket.size() <= kMaxTicket) {
            ApplyPrintTicket(ticket.data(), ticket.size(), settings);
        }
        if (!settings.output.unknownOption.empty()) {
            report.Report(MSG_FORMAT_UNKNOWN, {settings.output.unknownOption},
                          L"Unknown output format " + settings.output.unknownOption + L": made as PDF");
        }
        if (settings.output.dpi != 0 && (settings.output.dpi < kMinDpi || settings.output.dpi > kMaxDpi)) {
            report.Report(MSG_RESOLUTION_OUT_OF_RANGE, {std::to_wstring(settings.output.dpi)},
                          std::to_wstring(settings.output.dpi) + L" dpi is out of range: drawn at 300 dpi");
            settings.output.dpi = 0;
        }
        return settings.output;
    }

    // A job over the engine's cap goes on from the start of the stream.
    HRESULT CopyThrough() {
        HRESULT hr = reader_->Seek(0, STREAM_SEEK_SET, nullptr);
        static constexpr ULONG kChunk = 65536;
        std::string chunk(kChunk, '\0');
        for (BOOL endOfFile = FALSE; SUCCEEDED(hr) && !endOfFile;) {
            ULONG cbRead = 0;
            hr = shutdown_ ? E_ABORT : reader_->ReadBytes(&chunk[0], kChunk, &cbRead, &endOfFile);
            if (SUCCEEDED(hr) && (cbRead == 0 || cbRead > kChunk)) {
                endOfFile = TRUE;
            } else if (SUCCEEDED(hr)) {
                hr = WriteStream(writer_.Get(), chunk.substr(0, cbRead));
            }
        }
        return hr;
    }

    std::atomic<bool> shutdown_{false};
    ComPtr<IPrintReadStream> reader_;
    ComPtr<IPrintWriteStream> writer_;
    ComPtr<IPrintPipelinePropertyBag> bag_;
    ComPtr<IPrintPipelineManagerControl> control_;
};

}  // namespace

IPrintPipelineFilter* CreateFilter() { return new (std::nothrow) OutputFilter(); }
