#include "framework/WinApp.h"

// Arguments are ignored: the program takes nothing from its command line.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return AfxWinMain(); }
