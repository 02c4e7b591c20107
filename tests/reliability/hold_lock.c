/* Stands for another run of setup: takes the named mutex given, says "held"
 * on standard output, keeps it for the seconds given, then releases it, or
 * with "abandon" ends without releasing it, as a killed run would.
 *   hold_lock NAME SECONDS [abandon] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
    wchar_t name[256];
    HANDLE mutex;
    if (argc < 3 || MultiByteToWideChar(CP_ACP, 0, argv[1], -1, name, 256) == 0) {
        fprintf(stderr, "usage: hold_lock NAME SECONDS [abandon]\n");
        return 2;
    }
    mutex = CreateMutexW(NULL, FALSE, name);
    if (mutex == NULL || WaitForSingleObject(mutex, INFINITE) == WAIT_FAILED) {
        fprintf(stderr, "the mutex: error %lu\n", GetLastError());
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    Sleep((DWORD)atoi(argv[2]) * 1000);
    if (argc > 3 && strcmp(argv[3], "abandon") == 0) {
        ExitProcess(0);
    }
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}
