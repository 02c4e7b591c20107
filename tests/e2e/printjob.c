/* Sends one job of raw bytes through the spooler, as any program prints:
 *   printjob PRINTER TEXT
 *   printjob PRINTER --file PATH [--name DOCUMENT]
 * The job's document name is DOCUMENT ("printjob" without it). Exits 0 when
 * every call succeeded; otherwise names the failing call and its code. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <winspool.h>

static int Failed(const char* call) {
    fprintf(stderr, "printjob: %s failed with code %lu\n", call, GetLastError());
    return 1;
}

/* The whole file in memory; NULL when it cannot be read. */
static char* ReadWhole(const char* path, DWORD* size) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    char* bytes = NULL;
    DWORD read = 0;
    if (file == INVALID_HANDLE_VALUE) {
        return NULL;
    }
    *size = GetFileSize(file, NULL);
    if (*size != INVALID_FILE_SIZE && (bytes = malloc(*size + 1)) != NULL &&
        (!ReadFile(file, bytes, *size, &read, NULL) || read != *size)) {
        free(bytes);
        bytes = NULL;
    }
    CloseHandle(file);
    return bytes;
}

int main(int argc, char** argv) {
    char* name = "printjob";
    char* bytes = NULL;
    DWORD size = 0;
    if (argc == 3) {
        bytes = argv[2];
        size = (DWORD)strlen(argv[2]);
    } else if ((argc == 4 || argc == 6) && strcmp(argv[2], "--file") == 0 &&
               (argc == 4 || strcmp(argv[4], "--name") == 0)) {
        name = argc == 6 ? argv[5] : name;
        if ((bytes = ReadWhole(argv[3], &size)) == NULL) {
            return Failed("reading the file");
        }
    } else {
        fprintf(stderr, "usage: printjob PRINTER TEXT | printjob PRINTER --file PATH [--name DOCUMENT]\n");
        return 2;
    }
    HANDLE printer = NULL;
    if (!OpenPrinterA(argv[1], &printer, NULL)) {
        return Failed("OpenPrinterA");
    }
    DOC_INFO_1A doc = {name, NULL, "RAW"};
    DWORD written = 0;
    int result = 0;
    if (StartDocPrinterA(printer, 1, (LPBYTE)&doc) == 0) {
        result = Failed("StartDocPrinterA");
    } else {
        if (!WritePrinter(printer, bytes, size, &written) || written != size) {
            result = Failed("WritePrinter");
        }
        if (!EndDocPrinter(printer) && result == 0) {
            result = Failed("EndDocPrinter");
        }
    }
    ClosePrinter(printer);
    return result;
}
