// The real main window, of the program's own class and procedure, in
// process: files dropped on it (a real HDROP, built here, sent as
// WM_DROPFILES), and its layout at each display scale.
#include "ui_support.h"

#include "batch.h"
#include "control_ids.h"
#include "main_window.h"
#include "messages.h"
#include "status_log.h"
#include "targets.h"

#include <cerrno>
#include <commdlg.h>
#include <oleacc.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace
{

// Answers the file-open dialog that the window opens while it is created,
// with the full path of one file.
void answer_open_dialog(std::string path)
{
    for (int attempt = 0; attempt < 400; ++attempt) {
        Sleep(50);
        HWND dialog = FindWindowA("#32770", nullptr);
        if (!dialog)
            continue;
        HWND box = GetDlgItem(dialog, 0x47C); // cmb13, or edt1 on Wine
        HWND edit = box ? FindWindowExA(box, nullptr, "Edit", nullptr) : nullptr;
        box = edit ? edit : (box ? box : GetDlgItem(dialog, 0x480));
        if (!box)
            continue;
        Sleep(300); // the dialog empties its name box once it shows its folder
        SendMessageA(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
        PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        for (int wait = 0; wait < 100 && IsWindow(dialog); ++wait)
            Sleep(50);
        if (!IsWindow(dialog))
            return;
    }
}

// A drop of these paths, in the form Explorer gives: a DROPFILES header
// and the paths, each ended by a NUL, then one more NUL.
HDROP make_drop(const std::vector<std::string>& paths)
{
    size_t size = sizeof(DROPFILES) + 1;
    for (const std::string& path : paths)
        size += path.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, size);
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = FALSE;
    char* at = reinterpret_cast<char*>(header) + sizeof(DROPFILES);
    for (const std::string& path : paths) {
        std::memcpy(at, path.c_str(), path.size() + 1);
        at += path.size() + 1;
    }
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

class MainWindow : public TempFolderTest
{
  protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        for (const char* folder : {"one", "two", "dropped", "dropped\\below"})
            CreateDirectoryA(path(folder).c_str(), nullptr);
        for (const char* name :
             {"one\\a.trd", "one\\b.trd", "two\\c.trd", "dropped\\d1.trd", "dropped\\D2.TRD",
              "dropped\\notes.txt", "dropped\\below\\deep.trd"})
            write_file(path(name), make_image(655360));

        // The window as WinMain makes it, its first dialog answered with a.trd.
        g_instance = GetModuleHandleA(nullptr);
        static char* selection = static_cast<char*>(std::calloc(SELECTION_SIZE, 1));
        g_selection = selection;
        std::memset(g_selection, 0, SELECTION_SIZE);
        WNDCLASSA window_class = {};
        window_class.lpfnWndProc = main_window_proc;
        window_class.hInstance = g_instance;
        window_class.lpszClassName = "MainWClass";
        RegisterClassA(&window_class);
        create_window();
    }

    void create_window()
    {
        std::thread answer(answer_open_dialog, path("one\\a.trd"));
        window = CreateWindowExA(0, "MainWClass", "KORVAT for Windows", WS_CAPTION, 0, 0, 640, 480,
                                 nullptr, nullptr, g_instance, nullptr);
        answer.join();
        ASSERT_NE(window, nullptr) << "the first dialog was not answered";
    }

    void TearDown() override
    {
        DestroyWindow(window);
        // The window posts the quit message as it goes; it must not end the
        // next test's dialog.
        MSG quit;
        PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        UnregisterClassA("MainWClass", g_instance);
        SetCurrentDirectoryA("C:\\");
        TempFolderTest::TearDown();
    }

    std::vector<std::string> dropped(const std::vector<std::string>& paths)
    {
        // The rows' whole names, as a batch gets them: the cells show them
        // shortened to the column.
        SendMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(make_drop(paths)), 0);
        SendMessageA(window, WM_COMMAND, IDC_SELECT_ALL, 0);
        const std::vector<std::string> rows = ticked_names(g_image_list);
        SendMessageA(window, WM_COMMAND, IDC_UNSELECT_ALL, 0);
        return rows;
    }

    HWND window = nullptr;
};

TEST_F(MainWindow, DroppedFilesReplaceTheListAsIfPickedInTheDialog)
{
    ASSERT_EQ(row_count(g_image_list), 1);

    // Files from one folder: bare names, that folder current, listed by name.
    EXPECT_EQ(dropped({path("one\\b.trd"), path("one\\a.trd")}),
              (std::vector<std::string>{"a.trd", "b.trd"}));
    EXPECT_EQ(current_folder(), path("one"));

    // A folder: the .trd files in it and below it, by their paths, listed
    // by folder and then by name; a link to a folder is not entered.
    CreateSymbolicLinkA(path("dropped\\link").c_str(), path("one").c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY);
    EXPECT_EQ(dropped({path("dropped")}),
              (std::vector<std::string>{path("dropped\\d1.trd"), path("dropped\\D2.TRD"),
                                        path("dropped\\below\\deep.trd")}));
    // Images directly in it alone: bare names, that folder current.
    EXPECT_EQ(dropped({path("dropped\\below")}), (std::vector<std::string>{"deep.trd"}));
    EXPECT_EQ(current_folder(), path("dropped\\below"));

    // A name that no longer exists is skipped.
    EXPECT_EQ(dropped({path("one\\gone.trd"), path("one\\a.trd")}),
              (std::vector<std::string>{"a.trd"}));

    // Several folders: full paths, which the batch opens as they are.
    SetCurrentDirectoryA("C:\\");
    EXPECT_EQ(dropped({path("one\\a.trd"), path("two\\c.trd")}),
              (std::vector<std::string>{path("one\\a.trd"), path("two\\c.trd")}));
    SendMessageA(window, WM_COMMAND, IDC_SELECT_ALL, 0);
    SendMessageA(window, WM_COMMAND, IDC_CUT_ZEROS, 0);
    EXPECT_EQ(file_length(path("one\\a.trd")), 4096);
    EXPECT_EQ(file_length(path("two\\c.trd")), 4096);
    EXPECT_EQ(file_length(path("one\\b.trd")), 655360);
    EXPECT_EQ(row_count(g_image_list), 2) << "the list is rebuilt from the dropped paths";
}

TEST_F(MainWindow, DropsReachImagesAtAnyDepthOnceAndTheirNamesShowWhole)
{
    // A tree whose image lies past 300 characters of path, made through the
    // prefixed wide names that take any length.
    std::wstring deep = L"\\\\?\\" + std::wstring(folder.begin(), folder.end()) + L"\\tree";
    CreateDirectoryW(deep.c_str(), nullptr);
    std::string deep_path = path("tree");
    std::vector<std::wstring> levels;
    for (int level = 0; level < 6; ++level) {
        const std::string part = "\\" + std::string(50, char('a' + level));
        deep += std::wstring(part.begin(), part.end());
        deep_path += part;
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr)) << level;
        levels.insert(levels.begin(), deep);
    }
    // The runtime's folder removal takes no such path: the tree goes here.
    struct remove_tree {
        std::vector<std::wstring>* levels;
        ~remove_tree()
        {
            DeleteFileW((levels->front() + L"\\deep.trd").c_str());
            for (const std::wstring& level : *levels)
                RemoveDirectoryW(level.c_str());
        }
    } removed{&levels};
    ASSERT_GT(deep_path.size(), 300u);
    const std::string image = path("one\\a.trd");
    const std::wstring source(image.begin(), image.end());
    ASSERT_TRUE(CopyFileW(source.c_str(), (deep + L"\\deep.trd").c_str(), FALSE));
    write_file(path("tree\\R&D disk.trd"), make_image(655360));

    EXPECT_EQ(dropped({path("tree")}),
              (std::vector<std::string>{path("tree\\R&D disk.trd"), deep_path + "\\deep.trd"}));
    // The deep image is cut by its whole name; "&" is shown, not taken for
    // a mnemonic.
    reset_status_log();
    SendMessageA(window, WM_COMMAND, IDC_SELECT_ALL, 0);
    SendMessageA(window, WM_COMMAND, IDC_CUT_ZEROS, 0);
    EXPECT_EQ(status_history().back(),
              "2 files, 2 changed, 0 unchanged, 0 failed; 1,310,720 -> 8,192 bytes");
    EXPECT_EQ(status_history().front(), "Cutting zeros from " + path("tree\\R&D disk.trd"));
    EXPECT_EQ(GetWindowLongA(GetDlgItem(window, IDC_STATUS), GWL_STYLE) &
                  (SS_TYPEMASK | SS_NOPREFIX),
              SS_LEFTNOWORDWRAP | SS_NOPREFIX);

    // One file by two names is listed once; a name that cannot be listed
    // is said so, and counted.
    reset_status_log();
    EXPECT_EQ(dropped({path("one\\a.trd"), path("one\\..\\one\\a.trd"), path("one\\gone.trd")}),
              (std::vector<std::string>{path("one\\a.trd")}));
    EXPECT_EQ(status_history(), (std::vector<std::string>{"Not listed, " + error_text(ENOENT) +
                                                              ": " + path("one\\gone.trd"),
                                                          "1 folder or file was not listed"}));

    // Keys 1 to 4 sort by a column, as a click on its title does.
    dropped({path("one\\b.trd"), path("one\\a.trd")});
    PostMessageA(g_image_list, WM_KEYDOWN, '2', 0);
    PostQuitMessage(0);
    run_message_loop(window);
    EXPECT_EQ(cell_text(g_image_list, 0, 1), "a.trd");
    sort_image_list(g_image_list, -1, false); // the next test lists in the dropped order
}

// Waits for the question before a cut that loses data, until the command
// has returned without one; notes its text and which button is the
// default, and answers it.
struct question_seen {
    std::atomic<bool> command_done{false};
    bool asked = false;
    bool no_is_default = false;
    std::string text;
};

void answer_question(int button, question_seen* seen)
{
    for (int attempt = 0; attempt < 400 && !seen->command_done; ++attempt) {
        HWND box = FindWindowA("#32770", "Cut free sectors");
        if (!box) {
            Sleep(50);
            continue;
        }
        Sleep(100);
        char text[1024] = "";
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text); // the message's static control
        seen->asked = true;
        seen->text = text;
        seen->no_is_default =
            (GetWindowLongA(GetDlgItem(box, IDNO), GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON;
        PostMessageA(box, WM_COMMAND, button, 0);
        return;
    }
}

TEST_F(MainWindow, CutFreeAsksBeforeLosingDataAndEachAnswerDoesWhatItSays)
{
    bytes lossy = make_image(655360, 0x16, 0, 1, 0);
    lossy[300000] = 7; // a loader's data, past the first free sector
    const bytes clean = make_image(655360, 0x16, 0, 1, 0);
    struct {
        const char* what;
        bool lossy_ticked;
        int answer;
        int64_t lossy_after, clean_after;
        const char* left_line; // the line that says why lossy.trd was left, or ""
        UINT lossy_row_after;  // its tick after the batch
    } cases[] = {
        {"Yes cuts every ticked image", true, IDYES, 4096, 4096, "", ROW_UNTICKED},
        {"No cuts only the images that lose nothing, and the one left stays ticked", true, IDNO,
         655360, 4096, "Not cut, 1 non-zero byte past its first free sector: lossy.trd",
         ROW_TICKED},
        {"Cancel cuts nothing and keeps the ticks", true, IDCANCEL, 655360, 655360, "", ROW_TICKED},
        {"no question when nothing would be lost", false, IDCANCEL, 655360, 4096, "", ROW_UNTICKED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write_file(path("one\\lossy.trd"), lossy);
        write_file(path("one\\clean.trd"), clean);
        // Listed by name: clean.trd first.
        ASSERT_EQ(dropped({path("one\\lossy.trd"), path("one\\clean.trd")}).size(), 2u);
        if (c.lossy_ticked)
            tick_row(g_image_list, 1);
        tick_row(g_image_list, 0);
        reset_status_log();
        question_seen seen;
        std::thread answer(answer_question, c.answer, &seen);
        SendMessageA(window, WM_COMMAND, IDC_CUT_FREE_SECTORS, 0);
        seen.command_done = true;
        answer.join();
        EXPECT_EQ(seen.asked, c.lossy_ticked);
        if (seen.asked) {
            EXPECT_TRUE(seen.no_is_default);
            EXPECT_EQ(seen.text.substr(0, 97), "1 of the 2 ticked images would lose data: 1 "
                                               "non-zero byte in all lies past its first free "
                                               "sector.");
            EXPECT_NE(seen.text.find("lossy.trd (1 byte)"), std::string::npos);
        }
        EXPECT_EQ(file_length(path("one\\lossy.trd")), c.lossy_after);
        EXPECT_EQ(file_length(path("one\\clean.trd")), c.clean_after);
        const std::vector<std::string> history = status_history();
        if (*c.left_line) {
            EXPECT_NE(std::find(history.begin(), history.end(), c.left_line), history.end());
            ASSERT_FALSE(history.empty());
            EXPECT_EQ(
                history.back(),
                "2 files, 1 changed, 0 unchanged, 0 failed, 1 left; 1,310,720 -> 659,456 bytes");
        }
        EXPECT_EQ(row_state(g_image_list, 1), c.lossy_row_after);
        if (c.answer == IDCANCEL && c.lossy_ticked) {
            EXPECT_TRUE(history.empty()) << "Cancel wrote " << history.size() << " lines";
            EXPECT_EQ(row_state(g_image_list, 0), ROW_TICKED);
        }
    }
}

// Reads the file-open dialog the window opens next: its folder and what its
// name box holds; then cancels it.
void read_open_dialog(std::string* folder, std::string* name)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        Sleep(50);
        HWND dialog = FindWindowA("#32770", nullptr);
        HWND box = dialog ? GetDlgItem(dialog, 0x47C) : nullptr;
        HWND edit = box ? FindWindowExA(box, nullptr, "Edit", nullptr) : nullptr;
        box = edit ? edit : (box ? box : (dialog ? GetDlgItem(dialog, 0x480) : nullptr));
        if (!box)
            continue;
        Sleep(300);
        char text[MAX_PATH * 2] = "";
        GetWindowTextA(box, text, sizeof text);
        *name = text;
        text[0] = '\0';
        SendMessageA(dialog, CDM_GETFOLDERPATH, sizeof text, reinterpret_cast<LPARAM>(text));
        *folder = text;
        PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
        return;
    }
}

TEST_F(MainWindow, TheNextDialogOpensInTheFolderLastUsedWithAnEmptyName)
{
    // After the dialog, and after files from several folders (as a drop or
    // the command line gives them): the folder of the first.
    for (bool several : {false, true}) {
        SCOPED_TRACE(several ? "files from several folders" : "the dialog's folder");
        if (several)
            dropped({path("two\\c.trd"), path("one\\a.trd")});
        std::string folder, name;
        std::thread reader(read_open_dialog, &folder, &name);
        SendMessageA(window, WM_COMMAND, IDC_FILES, 0);
        reader.join();
        EXPECT_EQ(folder, path(several ? "two" : "one"));
        EXPECT_EQ(name, "");
    }
}

// Presses a key as the message loop sees it, with Shift held or not.
bool press(HWND window, WPARAM key, bool shift = false)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    MSG message = {GetFocus(), WM_KEYDOWN, key, 0, 0, {}};
    const bool handled = handle_focus_key(window, message);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    return handled;
}

TEST_F(MainWindow, TheKeyboardAloneReachesEveryControlAndTicksOneRow)
{
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetActiveWindow(window);
    MSG pending;
    while (PeekMessageA(&pending, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&pending);
    EXPECT_EQ(GetFocus(), g_image_list) << "the keyboard starts in the list";
    EXPECT_EQ(SendMessageA(g_image_list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_FOCUSED), 0);

    // Tab goes through the buttons in their order and back to the list;
    // Shift+Tab goes the other way.
    std::vector<int> order;
    for (int i = 0; i < 7; ++i) {
        EXPECT_TRUE(press(window, VK_TAB));
        order.push_back(GetDlgCtrlID(GetFocus()));
    }
    EXPECT_EQ(order, (std::vector<int>{3, 4, 8, 5, 6, 7, 1}));
    press(window, VK_TAB, true);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), int(IDC_RESTORE_SIZE));

    // Space ticks and unticks the focused row, one row alone.
    SetFocus(g_image_list);
    EXPECT_TRUE(press(window, VK_SPACE));
    EXPECT_EQ(row_state(g_image_list, 0), ROW_TICKED);
    EXPECT_TRUE(press(window, VK_SPACE));
    EXPECT_EQ(row_state(g_image_list, 0), ROW_UNTICKED);
    // Enter presses the focused button; elsewhere it is the control's own.
    SetFocus(GetDlgItem(window, IDC_SELECT_ALL));
    EXPECT_TRUE(press(window, VK_RETURN));
    EXPECT_EQ(row_state(g_image_list, 0), ROW_TICKED);
    SetFocus(g_image_list);
    EXPECT_FALSE(press(window, VK_RETURN));
    EXPECT_FALSE(press(window, 'Z')) << "the key table's own keys are left to it";

    // What a screen reader announces for each control. The pane's name is an
    // annotation, which Wine's accessibility accepts but does not keep: there
    // its name is its text, the status lines.
    const struct {
        HWND control;
        const wchar_t* name;
    } names[] = {{GetDlgItem(window, IDC_CUT_ZEROS), L"Cut zeros"}, {g_image_list, L"Images"}};
    for (const auto& n : names) {
        IAccessible* object = nullptr;
        ASSERT_EQ(AccessibleObjectFromWindow(n.control, OBJID_CLIENT, __uuidof(IAccessible),
                                             reinterpret_cast<void**>(&object)),
                  S_OK);
        VARIANT self;
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR name = nullptr;
        object->get_accName(self, &name);
        EXPECT_STREQ(name ? name : L"", n.name);
        SysFreeString(name);
        object->Release();
    }
}

// How many lines of its own font the status pane's inside holds.
int lines_the_pane_holds(HWND pane)
{
    RECT inside;
    GetClientRect(pane, &inside);
    HDC dc = GetDC(pane);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(pane, WM_GETFONT, 0, 0)));
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(pane, dc);
    return metrics.tmHeight > 0 ? int(inside.bottom - inside.top) / metrics.tmHeight : 0;
}

// Each text fits its column (the titles, a whole time text), and all five
// columns the list's client width with room for a vertical scroll bar, so
// that no horizontal one is needed.
void expect_columns_fit(const char* const (&texts)[5])
{
    LRESULT total = 0;
    for (int column = 0; column < 5; ++column) {
        const LRESULT width = SendMessageA(g_image_list, LVM_GETCOLUMNWIDTH, column, 0);
        total += width;
        EXPECT_GT(width, SendMessageA(g_image_list, LVM_GETSTRINGWIDTHA, 0,
                                      reinterpret_cast<LPARAM>(texts[column])))
            << texts[column];
    }
    RECT list;
    GetClientRect(g_image_list, &list);
    EXPECT_LE(total, list.right - list.left - GetSystemMetrics(SM_CXVSCROLL))
        << "the columns need a horizontal scroll bar";
}

TEST_F(MainWindow, EachScaleShowsNineStatusLinesAndWholeTitles)
{
    HWND pane = GetDlgItem(window, IDC_STATUS);
    HFONT previous = nullptr;
    for (UINT dpi : {96u, 120u, 144u, 192u, 96u}) {
        SCOPED_TRACE(testing::Message() << dpi << " DPI");
        layout_main_window(window, dpi);
        RECT area;
        GetWindowRect(pane, &area);
        EXPECT_EQ(area.right - area.left, MulDiv(610, dpi, 96));
        EXPECT_EQ(area.bottom - area.top, MulDiv(150, dpi, 96));

        // The message font on the pane and the buttons; the one it replaced is gone.
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(pane, WM_GETFONT, 0, 0));
        ASSERT_NE(font, nullptr);
        for (int id : {IDC_SELECT_ALL, IDC_FILES, IDC_CUT_ZEROS, IDC_RESTORE_SIZE})
            EXPECT_EQ(SendMessageA(GetDlgItem(window, id), WM_GETFONT, 0, 0),
                      reinterpret_cast<LRESULT>(font));
        if (previous && previous != font) {
            EXPECT_EQ(GetObjectType(previous), 0u) << "the font of the last scale was not deleted";
        }
        previous = font;

        // Nine lines of that font fit the pane's inside.
        EXPECT_GE(lines_the_pane_holds(pane), 9);

        // Every title, and a whole time text, fits its column.
        const char* texts[] = {"Select", "Image name", "Wed Sep 28 22:48:48 2222\n", "Size [bytes]",
                               "Folder"};
        expect_columns_fit(texts);
    }
}

TEST_F(MainWindow, WithLargerSystemTextThePaneStillHoldsNineLinesInSight)
{
    // The message font set from -11 to -18, as a user's larger text does.
    NONCLIENTMETRICSW metrics = {}, before = {};
    metrics.cbSize = before.cbSize = sizeof metrics;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof before, &before, 0));
    metrics = before;
    metrics.lfMessageFont.lfHeight = -18;
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
    HWND pane = GetDlgItem(window, IDC_STATUS);
    for (const char* language : {"en", "ru"}) {
        set_language(language);
        for (UINT dpi : {96u, 144u, 192u}) {
            SCOPED_TRACE(testing::Message() << language << ", " << dpi << " DPI");
            release_window_font();
            layout_main_window(window, dpi);
            HFONT font = reinterpret_cast<HFONT>(SendMessageA(pane, WM_GETFONT, 0, 0));
            LOGFONTW made = {};
            GetObjectW(font, sizeof made, &made);
            EXPECT_EQ(made.lfHeight, MulDiv(-18, dpi, 96));
            EXPECT_GE(lines_the_pane_holds(pane), 9);
            RECT frame, client;
            // The whole pane lies inside the window, which grew for it.
            GetWindowRect(pane, &frame);
            MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&frame), 2);
            GetClientRect(window, &client);
            EXPECT_LE(frame.bottom, client.bottom);
        }
    }
    set_language("en");
    SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof before, &before, 0);
    release_window_font();
}

TEST_F(MainWindow, AChosenTargetsVerdictColumnFitsInEitherLanguageAtEachScale)
{
    for (const char* language : {"en", "ru"}) {
        set_language(language);
        show_target_column(g_image_list, find_target("mame"));
        for (UINT dpi : {96u, 144u, 192u}) {
            SCOPED_TRACE(testing::Message() << language << ", " << dpi << " DPI");
            layout_main_window(window, dpi);
            LRESULT total = 0;
            for (int column = 0; column <= VERDICT_COLUMN; ++column)
                total += SendMessageA(g_image_list, LVM_GETCOLUMNWIDTH, column, 0);
            RECT list;
            GetClientRect(g_image_list, &list);
            EXPECT_LE(total, list.right - list.left - GetSystemMetrics(SM_CXVSCROLL));
            for (const char* word : {tr("Verdict"), tr("loses data"), tr("read-only")})
                EXPECT_GT(SendMessageA(g_image_list, LVM_GETCOLUMNWIDTH, VERDICT_COLUMN, 0),
                          SendMessageA(g_image_list, LVM_GETSTRINGWIDTHA, 0,
                                       reinterpret_cast<LPARAM>(word)))
                    << word;
        }
        show_target_column(g_image_list, nullptr);
        EXPECT_EQ(SendMessageA(g_image_list, LVM_GETCOLUMNWIDTH, VERDICT_COLUMN, 0), 0)
            << "None leaves no verdict column";
    }
    set_language("en");
    layout_main_window(window, 96);
}

TEST_F(MainWindow, InRussianNothingIsCutShortAtEachScale)
{
    // The window made again in Russian, its buttons grown to their texts.
    DestroyWindow(window);
    MSG quit;
    PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    set_language("ru");
    create_window();
    ASSERT_STREQ(current_language(), "ru");
    HWND pane = GetDlgItem(window, IDC_STATUS);
    for (UINT dpi : {96u, 144u}) {
        SCOPED_TRACE(testing::Message() << dpi << " DPI");
        layout_main_window(window, dpi);
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(pane, WM_GETFONT, 0, 0));
        HDC dc = GetDC(window);
        HGDIOBJ old = SelectObject(dc, font);
        // Measured as the controls draw them: wide, from the program's code page.
        auto width_of = [dc](const char* text) {
            wchar_t wide[512];
            MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 512);
            RECT area = {0, 0, 0, 0};
            DrawTextW(dc, wide, -1, &area, DT_CALCRECT | DT_SINGLELINE);
            return int(area.right - area.left);
        };
        RECT client, previous = {0, 0, 0, 0};
        GetClientRect(window, &client);
        for (int id : {IDC_SELECT_ALL, IDC_UNSELECT_ALL, IDC_FILES, IDC_CUT_ZEROS,
                       IDC_CUT_FREE_SECTORS, IDC_RESTORE_SIZE}) {
            HWND button = GetDlgItem(window, id);
            char text[128];
            GetWindowTextA(button, text, sizeof text);
            RECT area;
            GetWindowRect(button, &area);
            MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&area), 2);
            EXPECT_GT(area.right - area.left, width_of(text)) << text;
            EXPECT_GE(area.left, previous.right) << text << " overlaps the button before it";
            EXPECT_LE(area.right, client.right) << text << " leaves the window";
            previous = area;
        }
        // A summary, the longest line a batch writes, fits the pane in one line.
        batch_totals totals = {1202, 1200, 0, 2, 0, 19660876, 14745676};
        char summary[256];
        format_batch_summary(&totals, false, summary, sizeof summary);
        RECT inside;
        GetClientRect(pane, &inside);
        EXPECT_LT(width_of(summary), inside.right - inside.left) << summary;
        SelectObject(dc, old);
        ReleaseDC(window, dc);
        // Every column title and a whole time text fit, and the columns the list.
        char time_text[TIME_TEXT_SIZE];
        format_modification_time(time_text, 1733702400); // a Monday in December
        const char* texts[] = {tr("Select"), tr("Image name"), time_text, tr("Size [bytes]"),
                               tr("Folder")};
        expect_columns_fit(texts);
    }
    set_language("en");
}

TEST_F(MainWindow, MovedToADisplayOfAnotherScaleTakesTheSuggestedSizeAndLaysOutAgain)
{
    HWND pane = GetDlgItem(window, IDC_STATUS);
    const LRESULT font_before = SendMessageA(pane, WM_GETFONT, 0, 0);
    RECT suggested = {100, 50, 100 + 960, 50 + 720};
    SendMessageA(window, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(144, 144),
                 reinterpret_cast<LPARAM>(&suggested));
    RECT frame, area;
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.left, 100);
    EXPECT_EQ(frame.top, 50);
    EXPECT_EQ(frame.right - frame.left, 960);
    EXPECT_EQ(frame.bottom - frame.top, 720);
    GetWindowRect(pane, &area);
    EXPECT_EQ(area.right - area.left, 915);
    EXPECT_EQ(area.bottom - area.top, 225);
    GetWindowRect(g_image_list, &area);
    EXPECT_EQ(area.right - area.left, 915);
    EXPECT_NE(SendMessageA(pane, WM_GETFONT, 0, 0), font_before)
        << "no font made for the new scale";
}

} // namespace
