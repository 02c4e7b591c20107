// noop.exe: a GUI program that returns at once, linked like setup.exe: what
// starting and ending a program costs under Wine.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
