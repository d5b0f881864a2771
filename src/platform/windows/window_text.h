// Windows build: the status log talks to the real status pane.
#pragma once
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Sets the status pane's text (SetWindowTextA, looked up where USER32 is
// loaded); FALSE where it is not.
BOOL show_pane_text(HWND pane, const char* text);
