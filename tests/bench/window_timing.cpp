// Times the window's own work, in process, on the real list view: filling
// the list from a selection of COUNT images in the current folder, ticking
// them all, the batch that cuts their zeros and the refill after it.
// Usage (under Wine, in a folder of images named i0001.trd ...): window_timing COUNT DIGITS
#include "batch.h"
#include "control_ids.h"
#include "image_list.h"
#include "status_log.h"

#include <windows.h>

#include <commctrl.h>
#include <direct.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

double now_ms()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * counter.QuadPart / frequency.QuadPart;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const int count = std::atoi(argv[1]);
    const int digits = std::atoi(argv[2]);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    g_instance = GetModuleHandleA(nullptr);
    HWND host = CreateWindowExA(0, "static", "", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 480,
                                nullptr, nullptr, g_instance, nullptr);
    HWND list = create_image_list(host);
    g_status_pane = CreateWindowExA(0, "static", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 290,
                                    610, 150, host, nullptr, g_instance, nullptr);
    g_selection = static_cast<char*>(std::calloc(SELECTION_SIZE, 1));
    char* at = g_selection;
    if (!_getcwd(at, MAX_PATH))
        return 1;
    at += std::strlen(at) + 1;
    for (int i = 1; i <= count; ++i)
        at += std::sprintf(at, "i%0*d.trd", digits, i) + 1;

    const double start = now_ms();
    fill_image_list(nullptr, list);
    const double filled = now_ms();
    LVITEMA item = {};
    item.stateMask = ROW_STATE_MASK;
    item.state = ROW_TICKED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    const double ticked = now_ms();
    process_checked_images(IDC_CUT_ZEROS, list);
    const double processed = now_ms();
    fill_image_list(nullptr, list);
    const double refilled = now_ms();
    std::printf("%d images in process: fill %.1f ms, tick all %.1f ms, batch %.1f ms, "
                "refill %.1f ms\n",
                static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)), filled - start,
                ticked - filled, processed - ticked, refilled - processed);
    return 0;
}
