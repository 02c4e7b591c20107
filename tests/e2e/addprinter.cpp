// Adds a printer as a user would, for the end-to-end tests:
//   addprinter NAME DRIVER PORT PRINTPROCESSOR
// Exit code 0 when the printer was added; otherwise the error code is printed.
#include <cstdio>
#include <string>

#include <windows.h>

#include <winspool.h>

namespace {

std::wstring Wide(const char* text) {
    int size = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text, -1, &out[0], size);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: addprinter NAME DRIVER PORT PRINTPROCESSOR\n");
        return 2;
    }
    std::wstring name = Wide(argv[1]);
    std::wstring driver = Wide(argv[2]);
    std::wstring port = Wide(argv[3]);
    std::wstring processor = Wide(argv[4]);
    std::wstring datatype = L"RAW";
    PRINTER_INFO_2W info{};
    info.pPrinterName = &name[0];
    info.pDriverName = &driver[0];
    info.pPortName = &port[0];
    info.pPrintProcessor = &processor[0];
    info.pDatatype = &datatype[0];
    info.Attributes = PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_LOCAL;
    HANDLE printer = ::AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (printer == nullptr) {
        fprintf(stderr, "AddPrinterW failed with code %lu\n", ::GetLastError());
        return 1;
    }
    ::ClosePrinter(printer);
    return 0;
}
