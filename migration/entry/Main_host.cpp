#include "framework/WinApp.h"

// Arguments are ignored: the program takes nothing from its command line.
int main() { return AfxWinMain(); }
