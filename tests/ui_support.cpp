#include "ui_support.h"

#include <commctrl.h>
#include <direct.h>

#include <cstdlib>
#include <cstring>

static char* selection_buffer()
{
    static char* buffer = static_cast<char*>(std::calloc(SELECTION_SIZE, 1));
    return buffer;
}

// The host passes the list's questions on, as the main window does.
static LRESULT CALLBACK host_proc(HWND host, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                  DWORD_PTR)
{
    LRESULT answer;
    if (message == WM_NOTIFY && answer_image_list(reinterpret_cast<NMHDR*>(lparam), &answer))
        return answer;
    return DefSubclassProc(host, message, wparam, lparam);
}

void ImageListTest::SetUp()
{
    TempFolderTest::SetUp();
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    g_instance = GetModuleHandleA(nullptr);
    host = CreateWindowExA(0, "static", "test host", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                           nullptr, g_instance, nullptr);
    ASSERT_NE(host, nullptr);
    SetWindowSubclass(host, host_proc, 1, 0);
    list = create_image_list(host);
    ASSERT_NE(list, nullptr);
    g_image_list = list;
    g_selection = selection_buffer();
    std::memset(g_selection, 0, SELECTION_SIZE);
}

void ImageListTest::TearDown()
{
    sort_image_list(list, -1, false); // the next test starts in the selection's order
    DestroyWindow(host);
    // Leave the temporary folder so that it can be removed.
    _chdir("C:\\");
    TempFolderTest::TearDown();
}

void set_selection(const std::vector<std::string>& strings)
{
    std::memset(g_selection, 0, SELECTION_SIZE);
    char* at = g_selection;
    for (const std::string& text : strings) {
        std::memcpy(at, text.c_str(), text.size() + 1);
        at += text.size() + 1;
    }
}

std::vector<std::string> selection_strings()
{
    std::vector<std::string> strings;
    for (const char* at = g_selection; *at; at += std::strlen(at) + 1)
        strings.emplace_back(at);
    return strings;
}

int row_count(HWND list)
{
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

std::string cell_text(HWND list, int row, int column)
{
    char text[2048] = "";
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

UINT row_state(HWND list, int row)
{
    return static_cast<UINT>(SendMessageA(list, LVM_GETITEMSTATE, row, ROW_STATE_MASK));
}

void tick_row(HWND list, int row)
{
    LVITEMA item = {};
    item.stateMask = ROW_STATE_MASK;
    item.state = ROW_TICKED;
    SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

std::string current_folder()
{
    char folder[MAX_PATH] = "";
    _getcwd(folder, sizeof folder);
    return folder;
}
