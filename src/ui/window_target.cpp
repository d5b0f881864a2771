// The target the window judges its rows for: chosen in the system menu
// ("Target" with "None" and each target by its full name), remembered in
// the registry under the program's own key, and the key that ticks the
// rows that do not load there.
#include "main_window.h"

#include "image_list.h"
#include "messages.h"
#include "system_path.h"
#include "targets.h"

#include <string>

// The system menu's commands: None, then each target in the table's order;
// the low four bits of a system command are the system's own.
constexpr UINT TARGET_COMMAND_FIRST = 0x0200;
constexpr UINT TARGET_COMMAND_STEP = 0x10;

static const wchar_t target_key[] = L"Software\\KORVAT";
static const wchar_t target_value[] = L"Target";

static HMENU g_target_menu;

// The command of a target (none: -1).
static UINT target_command(int index)
{
    return TARGET_COMMAND_FIRST + static_cast<UINT>(index + 1) * TARGET_COMMAND_STEP;
}

// Puts the radio mark on the target shown.
static void mark_target(int index)
{
    const int count = static_cast<int>(target_rules().size());
    CheckMenuRadioItem(g_target_menu, target_command(-1), target_command(count - 1),
                       target_command(index), MF_BYCOMMAND);
}

static int index_of(const target_rule* target)
{
    const std::vector<target_rule>& rules = target_rules();
    for (size_t i = 0; i < rules.size(); ++i)
        if (&rules[i] == target)
            return static_cast<int>(i);
    return -1;
}

// Shows a target's verdicts (none: -1) and lays the window out for them.
static void show_target(HWND window, int index)
{
    const std::vector<target_rule>& rules = target_rules();
    show_target_column(
        g_image_list, index >= 0 && size_t(index) < rules.size() ? &rules[size_t(index)] : nullptr);
    mark_target(index);
    layout_main_window(window, window_dpi(window));
}

// The target remembered, by its short name; empty for none.
static std::string remembered_target()
{
    wchar_t name[64] = L"";
    DWORD size = sizeof name - sizeof(wchar_t), type = 0;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, target_key, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::string();
    const LONG read =
        RegQueryValueExW(key, target_value, nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_SZ ? narrow_text(name) : std::string();
}

static void remember_target(const char* name)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, target_key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    const std::wstring wide = wide_text(name);
    RegSetValueExW(key, target_value, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                   static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void add_target_items(HWND window)
{
    HMENU menu = GetSystemMenu(window, FALSE);
    g_target_menu = CreatePopupMenu();
    if (!menu || !g_target_menu)
        return;
    AppendMenuW(g_target_menu, MF_STRING, target_command(-1), wide_text(tr("None")).c_str());
    for (size_t i = 0; i < target_rules().size(); ++i)
        AppendMenuW(g_target_menu, MF_STRING, target_command(static_cast<int>(i)),
                    wide_text(target_rules()[i].full_name).c_str());
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(g_target_menu),
                wide_text(tr("Target")).c_str());
    const target_rule* remembered = find_target(remembered_target());
    show_target(window, index_of(remembered));
}

bool choose_target(HWND window, WPARAM command)
{
    const UINT id = static_cast<UINT>(command & 0xFFF0);
    const int count = static_cast<int>(target_rules().size());
    if (id < target_command(-1) || id > target_command(count - 1))
        return false;
    const int index = static_cast<int>((id - TARGET_COMMAND_FIRST) / TARGET_COMMAND_STEP) - 1;
    show_target(window, index);
    remember_target(index >= 0 ? target_rules()[size_t(index)].name : "");
    return true;
}
