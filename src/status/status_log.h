// Status log: the last nine messages, shown oldest first in the status pane.
#pragma once

#include "messages.h"
#include "window_text.h"

constexpr unsigned STATUS_LINE_COUNT = 9;
constexpr unsigned STATUS_LINE_SIZE = 256;  // 255 characters and the NUL
constexpr unsigned STATUS_TEXT_SIZE = 4096; // joined text: 9 * 256 + 1 bytes at most

// The history; slot 0 is the oldest message shown. Zero at start, never cleared.
extern char g_status_lines[STATUS_LINE_COUNT][STATUS_LINE_SIZE];
// Slots in use, 0 to 9; only grows.
extern unsigned g_status_count;
// The status pane; stored by the main window when it creates the pane.
extern HWND g_status_pane;

// When set, receives each new message whole once it is stored, for a
// program that reports to a terminal, or a window that shows the pane in
// its own way (the log then leaves the pane to it).
extern void (*g_status_echo)(const char* message);

// Appends message (its first 255 characters; null counts as empty) to the
// history and shows the whole history in the status pane, unless an echo
// is set: then the echo is given the message whole, and nothing else sets
// the pane's text.
void status_print(const char* message);

// Appends the C library's text for the current errno.
void status_print_errno();
