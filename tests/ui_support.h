// Helpers for the Windows tests that host the real list view.
#pragma once

#include "image_list.h"
#include "test_support.h"

#include <commctrl.h>

#include <string>
#include <vector>

// A hidden top-level window with the image list from create_image_list,
// and a cleared selection buffer; one per test.
class ImageListTest : public TempFolderTest
{
  protected:
    void SetUp() override;
    void TearDown() override;
    HWND host = nullptr;
    HWND list = nullptr;
};

// Puts strings into g_selection, each NUL-terminated, then the empty string.
void set_selection(const std::vector<std::string>& strings);
// The strings of g_selection up to the empty one.
std::vector<std::string> selection_strings();

int row_count(HWND list);
std::string cell_text(HWND list, int row, int column);
UINT row_state(HWND list, int row);
void tick_row(HWND list, int row);
// The current directory, as the runtime reports it.
std::string current_folder();
