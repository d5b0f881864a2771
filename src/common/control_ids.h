// Identifiers of the main window's controls; a button sends its own
// identifier as its command, and the keyboard table sends the same ones.
#pragma once

constexpr unsigned IDC_IMAGE_LIST = 1;
constexpr unsigned IDC_STATUS = 2;
constexpr unsigned IDC_SELECT_ALL = 3;
constexpr unsigned IDC_UNSELECT_ALL = 4;
constexpr unsigned IDC_CUT_ZEROS = 5;
constexpr unsigned IDC_CUT_FREE_SECTORS = 6;
constexpr unsigned IDC_RESTORE_SIZE = 7;
constexpr unsigned IDC_FILES = 8;
// Not a control: the key that ticks the rows whose files the chosen target
// refuses, or whose first save there loses data.
constexpr unsigned IDC_TICK_NOT_LOADING = 9;
