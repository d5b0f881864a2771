// Native build: a stand-in for the one window call the status log makes.
// It keeps the text that the pane would show so that tests can read it.
#pragma once

struct standin_window;
typedef standin_window* HWND;
typedef int BOOL;

// Size of the stand-in pane's text buffer; the status log never sends more.
constexpr int STANDIN_PANE_TEXT_SIZE = 4096;

// Text last set on any window, and the window it was set on.
extern char g_standin_pane_text[STANDIN_PANE_TEXT_SIZE];
extern HWND g_standin_pane_window;

// Keeps a copy of text (cut to the buffer) and remembers the window.
BOOL SetWindowTextA(HWND window, const char* text);
