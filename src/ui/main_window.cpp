// The main window's procedure and the program's entry: the window and its
// title, its contents made at its creation, the paths on the command line,
// the commands the buttons and keys send, the quit question, and the
// message loop.
#include "main_window.h"

#include "batch.h"
#include "control_ids.h"
#include "dll_search.h"
#include "image_list.h"
#include "messages.h"
#include "status_log.h"
#include "system_path.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>
#include <vector>

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

// Size and style of the main window, which cannot be resized.
constexpr int MAIN_WIDTH = 640;
constexpr int MAIN_HEIGHT = 480;
constexpr DWORD MAIN_STYLE = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
static const char main_class_name[] = "MainWClass";

HWND g_main_window;

const char* main_title()
{
    return tr("KORVAT for Windows");
}

// The paths the program was started with, read by WinMain before the
// window is made; none when it was started without any.
static std::vector<std::string> g_given_paths;

// The paths on the program's command line, each whole in the program's
// code page: the system's wide form is read, so that names in any script
// arrive as they are.
static std::vector<std::string> command_line_paths()
{
    std::vector<std::string> paths;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments)
        return paths;
    for (int i = 1; i < count; ++i) {
        // A relative name is taken in the folder the program started in.
        std::wstring wide = arguments[i];
        const DWORD full_length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
        if (full_length > 0) {
            std::wstring full(full_length, L'\0');
            const DWORD written = GetFullPathNameW(wide.c_str(), full_length, &full[0], nullptr);
            if (written > 0 && written < full_length)
                wide = full.substr(0, written);
        }
        const int length =
            WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
        if (length <= 1)
            continue;
        std::string path(size_t(length), '\0');
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &path[0], length, nullptr, nullptr);
        path.resize(size_t(length) - 1);
        paths.push_back(path);
    }
    LocalFree(arguments);
    return paths;
}

// Builds the window's contents and opens the file-open dialog, or lists
// the paths given on the command line; a dialog that yields nothing closes
// the window during its own creation.
static void create_main_window_contents(HWND window)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    g_image_list = create_image_list(window);
    create_buttons_and_status_pane(window);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    name_for_screen_readers(g_image_list, wide_text(tr("Images")).c_str());
    name_for_screen_readers(g_status_pane, wide_text(tr("Status")).c_str());
    g_status_echo = note_status_line;
    add_about_item(window);
    add_target_items(window);
    connect_taskbar();
    // The window was made for the system DPI; on a display of another it
    // takes that one's size, then everything is laid out for it.
    const UINT dpi = window_dpi(window);
    if (dpi != system_dpi())
        SetWindowPos(window, nullptr, 0, 0, scaled_for_dpi(MAIN_WIDTH, dpi),
                     scaled_for_dpi(MAIN_HEIGHT, dpi), SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    layout_main_window(window, dpi);
    center_window(window);
    DragAcceptFiles(window, TRUE);
    // Files and folders given on the command line (dropped on the program's
    // icon, "Send to", "Open with") are listed as a drop is, with no dialog.
    if (!g_given_paths.empty()) {
        select_paths(g_given_paths);
        fill_image_list(nullptr, g_image_list, true);
    } else if (fill_image_list(window, g_image_list) == 0) {
        SendMessageA(window, WM_CLOSE, 0, 0);
        return;
    }
    // The keyboard starts in the list, on its first row, with the focus
    // rectangle shown.
    g_focused_control = g_image_list;
    SetFocus(g_image_list);
    focus_first_row_if_none();
    SendMessageA(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
}

static void run_command(HWND window, unsigned command)
{
    switch (command) {
    case IDC_SELECT_ALL:
        set_row_state(g_image_list, -1, ROW_TICKED);
        break;
    case IDC_UNSELECT_ALL:
        set_row_state(g_image_list, -1, ROW_UNTICKED);
        break;
    case IDC_CUT_ZEROS:
    case IDC_CUT_FREE_SECTORS:
    case IDC_RESTORE_SIZE:
        run_batch_command(window, command);
        break;
    case IDC_FILES:
        fill_image_list(window, g_image_list);
        focus_first_row_if_none();
        break;
    case IDC_TICK_NOT_LOADING:
        tick_rows_not_loading(g_image_list);
        break;
    default:
        break;
    }
}

// Asks before quitting; the question has no owner, so No leaves all as it was.
static void confirm_quit(HWND window)
{
    if (MessageBoxW(nullptr, wide_text(tr("Are you sure to quit ?")).c_str(),
                    wide_text(tr("Notify")).c_str(),
                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES)
        SendMessageA(window, WM_CLOSE, 0, 0);
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (g_batch_running) {
        switch (message) {
        case WM_CLOSE:
            // The batch stops after the file in hand, sums up, and then
            // the window closes.
            g_close_deferred = true;
            g_batch_stop = true;
            return 0;
        case WM_DROPFILES:
            DragFinish(reinterpret_cast<HDROP>(wparam));
            return 0;
        case WM_COMMAND:
        case WM_KEYDOWN:
            return 0;
        case WM_NOTIFY:
            // The list keeps its order while the batch works through it.
            if (reinterpret_cast<const NMHDR*>(lparam)->code == LVN_COLUMNCLICK)
                return 0;
            break;
        default:
            break;
        }
    }
    switch (message) {
    case WM_DROPFILES:
        // The dropped images replace the list, as if picked in the dialog.
        select_dropped_files(reinterpret_cast<HDROP>(wparam));
        DragFinish(reinterpret_cast<HDROP>(wparam));
        fill_image_list(nullptr, g_image_list, true);
        focus_first_row_if_none();
        return 0;
    case WM_CREATE:
        g_main_window = window;
        create_main_window_contents(window);
        break;
    case WM_DESTROY:
        release_window_font();
        g_status_echo = nullptr;
        disconnect_taskbar();
        CoUninitialize();
        PostQuitMessage(0);
        break;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lparam);
        LRESULT answer;
        if (answer_image_list(header, &answer))
            return answer;
        // A click on a column's title sorts by it.
        if (header->hwndFrom == g_image_list && header->code == LVN_COLUMNCLICK)
            sort_by_column_click(g_image_list,
                                 reinterpret_cast<const NMLISTVIEW*>(lparam)->iSubItem);
        break;
    }
    case WM_SYSCOMMAND:
        if (show_about(window, wparam) || choose_target(window, wparam))
            return 0;
        break;
    case WM_ACTIVATE:
        // The focus goes back to the control that had it, as in a dialog.
        if (LOWORD(wparam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(window, focus))
                g_focused_control = focus;
        } else if (g_focused_control && IsWindow(g_focused_control)) {
            const LRESULT result = DefWindowProcA(window, message, wparam, lparam);
            SetFocus(g_focused_control);
            return result;
        }
        break;
    case WM_DPICHANGED: {
        // Moved to a display of another scale: the size Windows suggests,
        // then the controls, columns and fonts laid out again.
        const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
        SetWindowPos(window, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        layout_main_window(window, HIWORD(wparam));
        return 0;
    }
    case WM_KEYDOWN:
        if (wparam == VK_ESCAPE)
            confirm_quit(window);
        break;
    case WM_COMMAND:
        run_command(window, LOWORD(wparam));
        break;
    default:
        break;
    }
    // Every message, handled or not, also gets the default handling; so
    // WM_CLOSE, from any source, destroys the window without a question.
    return DefWindowProcA(window, message, wparam, lparam);
}

// The message loop, for the whole run.
int run_message_loop(HWND main_window)
{
    MSG message = {};
    for (;;) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1)
            break;
        relay_to_row_tip(message);
        if (message.message == WM_KEYDOWN && handle_focus_key(main_window, message))
            continue;
        if (message.message == WM_KEYDOWN) {
            if (message.wParam == VK_ESCAPE) {
                if (message.hwnd != main_window)
                    SendMessageA(main_window, WM_KEYDOWN, VK_ESCAPE, 0);
            } else if (const unsigned command = command_for_key(message.wParam)) {
                SendMessageA(main_window, WM_COMMAND, command, 0);
            } else if (message.wParam >= '1' && message.wParam <= '5' &&
                       (message.hwnd == main_window || IsChild(main_window, message.hwnd))) {
                // 1 to 4 sort by a column, as a click on its title does (the
                // tick, the name, the time, the size); 5 by the folder.
                sort_by_column_click(g_image_list, static_cast<int>(message.wParam - '1'));
            }
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    restrict_dll_search();
    choose_language();
    g_given_paths = command_line_paths();
    g_selection = static_cast<char*>(std::malloc(SELECTION_SIZE));
    if (!g_selection)
        return 1;
    g_selection[0] = '\0';
    g_selection[1] = '\0';

    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = main_window_proc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    window_class.lpszClassName = main_class_name;
    g_instance = instance;
    RegisterClassA(&window_class);

    const UINT dpi = system_dpi();
    HWND window = CreateWindowExA(0, main_class_name, main_title(), MAIN_STYLE, 0, 0,
                                  scaled_for_dpi(MAIN_WIDTH, dpi), scaled_for_dpi(MAIN_HEIGHT, dpi),
                                  nullptr, nullptr, instance, nullptr);
    const int exit_code = run_message_loop(window);
    std::free(g_selection);
    return exit_code;
}
