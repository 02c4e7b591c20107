// installfloor.exe: the floor of an installation (see installfloor.h), a GUI
// program without a window like setup.exe.
#include <windows.h>

#include "bench/installfloor.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return FloorMain(__argc, __argv); }
