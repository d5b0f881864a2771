// The main window's keyboard and what screen readers are told: the single
// keys the message loop sends as commands, Tab, Enter and Space as in a
// dialog, the focus kept on its control, and the controls' names.
#include "main_window.h"

#include "control_ids.h"
#include "image_list.h"
#include "status_log.h"

#include <commctrl.h>
#include <oleacc.h>

struct key_command {
    WPARAM key;
    unsigned command;
};

// Single keys and the commands they send; Shift and Ctrl are not consulted.
// The keypad and function keys have the codes of lower-case e, f, n, r, s, z.
static const key_command key_commands[] = {
    {'E', IDC_SELECT_ALL},          {'F', IDC_FILES},
    {'N', IDC_UNSELECT_ALL},        {'R', IDC_RESTORE_SIZE},
    {'S', IDC_CUT_FREE_SECTORS},    {'Z', IDC_CUT_ZEROS},
    {VK_NUMPAD5, IDC_SELECT_ALL},   {VK_NUMPAD6, IDC_FILES},
    {VK_DECIMAL, IDC_UNSELECT_ALL}, {VK_F3, IDC_RESTORE_SIZE},
    {VK_F4, IDC_CUT_FREE_SECTORS},  {VK_F11, IDC_CUT_ZEROS},
    {'T', IDC_TICK_NOT_LOADING},
};

unsigned command_for_key(WPARAM virtual_key)
{
    for (const key_command& entry : key_commands)
        if (entry.key == virtual_key)
            return entry.command;
    return 0;
}

// ---- The keyboard and screen readers ----

// The control that had the focus when the window was last active.
HWND g_focused_control;

// Gives a row the list's focus, in view.
void focus_row(int row)
{
    LVITEMA item = {};
    item.stateMask = LVIS_FOCUSED;
    item.state = LVIS_FOCUSED;
    SendMessageA(g_image_list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
    SendMessageA(g_image_list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

// A row to start from: the first, when no row has the focus.
void focus_first_row_if_none()
{
    if (SendMessageA(g_image_list, LVM_GETITEMCOUNT, 0, 0) <= 0 ||
        SendMessageA(g_image_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED) >= 0)
        return;
    focus_row(0);
}

// Space on the list ticks or unticks the focused row.
static void toggle_focused_row()
{
    const LRESULT row =
        SendMessageA(g_image_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED);
    if (row < 0)
        return;
    const UINT state = static_cast<UINT>(
        SendMessageA(g_image_list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), ROW_STATE_MASK));
    LVITEMA item = {};
    item.stateMask = ROW_STATE_MASK;
    item.state = (state & ROW_STATE_MASK) == ROW_TICKED ? ROW_UNTICKED : ROW_TICKED;
    SendMessageA(g_image_list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
}

// The name a screen reader announces for a control whose text is not its
// name, through the system's annotation service where it has one. The list
// shows no text of its own, so its text is its name as well.
void name_for_screen_readers(HWND control, const wchar_t* name)
{
    if (control == g_image_list)
        SetWindowTextW(control, name);
    IAccPropServices* services = nullptr;
    if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IAccPropServices, reinterpret_cast<void**>(&services))))
        return;
    services->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                             PROPID_ACC_NAME, name);
    if (control == g_status_pane) {
        // A live region, politely read out when it changes (UI Automation's
        // LiveSetting, Windows 8 and later; its GUID is not in every SDK).
        static const GUID live_setting = {
            0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
        VARIANT polite = {};
        polite.vt = VT_I4;
        polite.lVal = 1;
        services->SetHwndProp(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, live_setting,
                              polite);
    }
    services->Release();
}

bool handle_focus_key(HWND main_window, const MSG& message)
{
    HWND focus = GetFocus();
    const bool in_window = focus && (focus == main_window || IsChild(main_window, focus));
    if (!in_window)
        return false;
    switch (message.wParam) {
    case VK_TAB: {
        const bool back = GetKeyState(VK_SHIFT) < 0;
        HWND from = focus == main_window ? nullptr : focus;
        if (HWND next = GetNextDlgTabItem(main_window, from, back))
            SetFocus(next);
        SendMessageA(main_window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
        return true;
    }
    case VK_RETURN: {
        const int id = GetDlgCtrlID(focus);
        if (focus == main_window || id < static_cast<int>(IDC_SELECT_ALL) ||
            id > static_cast<int>(IDC_FILES))
            return false;
        SendMessageA(focus, BM_CLICK, 0, 0);
        return true;
    }
    case VK_SPACE:
        if (focus != g_image_list)
            return false;
        toggle_focused_row();
        return true;
    case 'C':
        // Ctrl+C copies the status lines whole, however the pane shortens them.
        if (GetKeyState(VK_CONTROL) >= 0)
            return false;
        copy_status_lines(main_window);
        return true;
    default:
        return false;
    }
}
