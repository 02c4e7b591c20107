/* Sends one job of raw bytes through the spooler, as any program prints:
 *   printjob PRINTER TEXT
 * Exits 0 when every call succeeded; otherwise names the failing call and
 * its code. */
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <winspool.h>

static int Failed(const char* call) {
    fprintf(stderr, "printjob: %s failed with code %lu\n", call, GetLastError());
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: printjob PRINTER TEXT\n");
        return 2;
    }
    HANDLE printer = NULL;
    if (!OpenPrinterA(argv[1], &printer, NULL)) {
        return Failed("OpenPrinterA");
    }
    DOC_INFO_1A doc = {"printjob", NULL, "RAW"};
    DWORD written = 0;
    int result = 0;
    if (StartDocPrinterA(printer, 1, (LPBYTE)&doc) == 0) {
        result = Failed("StartDocPrinterA");
    } else {
        if (!WritePrinter(printer, argv[2], (DWORD)strlen(argv[2]), &written)) {
            result = Failed("WritePrinter");
        }
        if (!EndDocPrinter(printer) && result == 0) {
            result = Failed("EndDocPrinter");
        }
    }
    ClosePrinter(printer);
    return result;
}
