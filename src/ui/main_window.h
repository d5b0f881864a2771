// The main window: its controls, its commands and the program's message loop.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Window procedure of the class "MainWClass".
LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Moves a window created at (0, 0) to the middle of the screen, keeping its size.
void center_window(HWND window);

// The command that a key sends through the message loop, 0 for none.
unsigned command_for_key(WPARAM virtual_key);

// Runs the message loop until WM_QUIT (or an error) and returns the last
// message's wParam. Keys from the keyboard table send their command to
// main_window first; Escape aimed at a control is passed to main_window.
int run_message_loop(HWND main_window);
