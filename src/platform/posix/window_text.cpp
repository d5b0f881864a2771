#include "window_text.h"

#include <cstdio>

char g_standin_pane_text[STANDIN_PANE_TEXT_SIZE];
HWND g_standin_pane_window;

BOOL SetWindowTextA(HWND window, const char* text)
{
    g_standin_pane_window = window;
    std::snprintf(g_standin_pane_text, sizeof g_standin_pane_text, "%s", text ? text : "");
    return 1;
}

unsigned g_standin_code_page = CP_UTF8;

unsigned GetACP()
{
    return g_standin_code_page;
}
