#include "ui_support.h"

#include "status_log.h"
#include "system_path.h"

#include <direct.h>
#include <sys/utime.h>

#include <cstring>
#include <ctime>

namespace
{

// The time_t of a local time, as ctime would show it.
__time64_t local_time(int year, int month, int day, int hour, int minute, int second)
{
    struct tm local = {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return _mktime64(&local);
}

void set_modification_time(const std::string& file, __time64_t time)
{
    struct __utimbuf64 times = {time, time};
    ASSERT_EQ(_utime64(file.c_str(), &times), 0) << file;
}

class ImageList : public ImageListTest
{
};

TEST_F(ImageList, ColumnsAndListStyles)
{
    const char* titles[] = {"Select", "Image name", "Last modified", "Size [bytes]", "Folder"};
    const int widths[] = {50, 150, 160, 90, 140};
    const int formats[] = {LVCFMT_CENTER, LVCFMT_LEFT, LVCFMT_CENTER, LVCFMT_RIGHT, LVCFMT_LEFT};
    for (int index = 0; index < 5; ++index) {
        char title[64] = "";
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.pszText = title;
        column.cchTextMax = sizeof title;
        ASSERT_TRUE(SendMessageA(list, LVM_GETCOLUMNA, index, reinterpret_cast<LPARAM>(&column)));
        EXPECT_STREQ(title, titles[index]);
        EXPECT_EQ(column.cx, widths[index]);
        EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, formats[index]);
        EXPECT_EQ(column.iSubItem, index);
    }
    // The folder column is shown after the name.
    int order[5] = {};
    ASSERT_TRUE(SendMessageA(list, LVM_GETCOLUMNORDERARRAY, 5, reinterpret_cast<LPARAM>(order)));
    EXPECT_EQ(std::vector<int>(order, order + 5), (std::vector<int>{0, 1, 4, 2, 3}));
    EXPECT_EQ(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0x00100014);
    EXPECT_EQ(GetWindowLongA(list, GWL_STYLE) & 0xFFFF00FF,
              WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT);
    EXPECT_EQ(GetDlgCtrlID(list), 1);
    RECT frame;
    GetWindowRect(list, &frame);
    EXPECT_EQ(frame.right - frame.left, 610);
    EXPECT_EQ(frame.bottom - frame.top, 230);
}

TEST_F(ImageList, FolderFormListsExistingFilesWithTimeAndSize)
{
    write_file(path("a.trd"), make_image(655360));
    write_file(path("b.trd"), make_image(4096));
    set_modification_time(path("a.trd"), local_time(2001, 9, 9, 1, 46, 40));
    set_modification_time(path("b.trd"), local_time(2026, 12, 17, 23, 5, 9));
    set_selection({folder, "b.trd", "missing.trd", "a.trd"});

    EXPECT_NE(fill_image_list(nullptr, list), 0);
    EXPECT_EQ(current_folder(), folder);
    ASSERT_EQ(row_count(list), 2) << "the missing file is left out, rows without gaps";
    // In the order of their names, each with its folder.
    EXPECT_EQ(cell_text(list, 0, 0), "");
    EXPECT_EQ(cell_text(list, 0, 1), "a.trd");
    EXPECT_EQ(cell_text(list, 0, 2), "Sun Sep  9 01:46:40 2001\n");
    EXPECT_EQ(cell_text(list, 0, 3), "655360  ");
    SendMessageA(list, LVM_SETCOLUMNWIDTH, FOLDER_COLUMN, 2000); // room for it whole
    EXPECT_EQ(cell_text(list, 0, 4), folder);
    EXPECT_EQ(cell_text(list, 1, 1), "b.trd");
    EXPECT_EQ(cell_text(list, 1, 2), "Thu Dec 17 23:05:09 2026\n");
    EXPECT_EQ(cell_text(list, 1, 3), "4096  ");
    EXPECT_EQ(row_state(list, 0), ROW_UNTICKED);
    EXPECT_EQ(row_state(list, 1), ROW_UNTICKED);
    EXPECT_TRUE(status_history().empty());

    // A refresh unticks every row and shows the files as they are now.
    tick_row(list, 1);
    write_file(path("b.trd"), make_image(8192));
    std::remove(path("a.trd").c_str());
    EXPECT_NE(fill_image_list(nullptr, list), 0);
    ASSERT_EQ(row_count(list), 1);
    EXPECT_EQ(cell_text(list, 0, 3), "8192  ");
    EXPECT_EQ(row_state(list, 0), ROW_UNTICKED);
}

TEST_F(ImageList, SingleFormBecomesTheFolderFormForGood)
{
    write_file(path("one.trd"), make_image(4096));
    set_selection({path("one.trd")});
    EXPECT_NE(fill_image_list(nullptr, list), 0);
    EXPECT_EQ(selection_strings(), (std::vector<std::string>{folder, "one.trd"}));
    EXPECT_EQ(current_folder(), folder);
    ASSERT_EQ(row_count(list), 1);
    EXPECT_EQ(cell_text(list, 0, 1), "one.trd");

    _chdir("C:\\");
    EXPECT_NE(fill_image_list(nullptr, list), 0);
    EXPECT_EQ(current_folder(), folder);
    EXPECT_EQ(row_count(list), 1);
}

TEST_F(ImageList, AFileInADrivesRootIsFoundInTheRootAfterTheDriveMoved)
{
    const std::string root_file = "C:\\korvat-root-test.trd";
    const std::string decoy = "C:\\windows\\korvat-root-test.trd";
    write_file(root_file, make_image(4096));
    write_file(decoy, make_image(8192));
    set_selection({root_file});

    EXPECT_NE(fill_image_list(nullptr, list), 0);
    EXPECT_EQ(selection_strings(), (std::vector<std::string>{"C:", "korvat-root-test.trd"}));
    EXPECT_EQ(current_folder(), "C:\\");
    ASSERT_EQ(row_count(list), 1);
    EXPECT_EQ(cell_text(list, 0, 3), "4096  ");

    // The drive's current folder moves; the refresh still lists the root's file.
    _chdir("C:\\windows");
    EXPECT_NE(fill_image_list(nullptr, list), 0);
    EXPECT_EQ(current_folder(), "C:\\");
    ASSERT_EQ(row_count(list), 1);
    EXPECT_EQ(cell_text(list, 0, 3), "4096  ");
    std::remove(root_file.c_str());
    std::remove(decoy.c_str());
}

TEST_F(ImageList, SelectionsThatNameNoFileYieldZero)
{
    set_selection({});
    EXPECT_EQ(fill_image_list(nullptr, list), 0);
    EXPECT_EQ(row_count(list), 0);

    set_selection({folder + "\\"});
    EXPECT_EQ(fill_image_list(nullptr, list), 0);
    EXPECT_EQ(row_count(list), 0);
    EXPECT_EQ(current_folder(), folder);
    EXPECT_TRUE(status_history().empty());
}

TEST(ModificationTime, TimesThatCannotBeConvertedGiveAnEmptyText)
{
    char text[TIME_TEXT_SIZE];
    format_modification_time(text, local_time(1999, 12, 31, 23, 59, 59));
    EXPECT_STREQ(text, "Fri Dec 31 23:59:59 1999\n");
    format_modification_time(text, -1); // before 1970: the runtime has no local time
    EXPECT_STREQ(text, "");
    format_modification_time(text, 253402300800); // 10000-01-01
    EXPECT_STREQ(text, "");
}

TEST_F(ImageList, CollectCheckedNamesInRowOrder)
{
    EXPECT_EQ(collect_checked_names(list), nullptr) << "empty list";
    const std::string long_name(1100, 'n');
    add_image_row(list, 0, "zero.trd", "", 1);
    add_image_row(list, 1, "one.trd", "", 2);
    add_image_row(list, 2, long_name.c_str(), "", 3);
    EXPECT_EQ(collect_checked_names(list), nullptr) << "nothing ticked";

    tick_row(list, 0);
    tick_row(list, 2);
    char** names = collect_checked_names(list);
    ASSERT_NE(names, nullptr);
    EXPECT_STREQ(names[0], "zero.trd");
    EXPECT_EQ(std::string(names[1]), long_name) << "a long name comes back whole";
    EXPECT_EQ(names[2], nullptr);
    for (char** name = names; *name; ++name)
        std::free(*name);
    std::free(names);
}

std::vector<std::string> listed_names(HWND list)
{
    std::vector<std::string> names;
    for (int row = 0; row < row_count(list); ++row)
        names.push_back(cell_text(list, row, 1));
    return names;
}

int header_arrow(HWND list, int column)
{
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    HDITEMA item = {};
    item.mask = HDI_FORMAT;
    SendMessageA(header, HDM_GETITEMA, column, reinterpret_cast<LPARAM>(&item));
    return item.fmt & (HDF_SORTUP | HDF_SORTDOWN);
}

TEST_F(ImageList, SortsByEachColumnBothWaysAndKeepsTheOrderAcrossRebuilds)
{
    write_file(path("a.trd"), make_image(8192));
    write_file(path("B.trd"), make_image(4096));
    write_file(path("c.trd"), make_image(655360));
    set_modification_time(path("a.trd"), local_time(2001, 9, 9, 1, 46, 40));
    set_modification_time(path("B.trd"), local_time(2026, 12, 17, 23, 5, 9));
    set_modification_time(path("c.trd"), local_time(2010, 1, 1, 12, 0, 0));
    set_selection({folder, "c.trd", "a.trd", "B.trd"});
    ASSERT_NE(fill_image_list(nullptr, list), 0);
    tick_row(list, 1); // B.trd, listed by name

    const struct {
        int column;
        bool descending;
        std::vector<std::string> names;
    } cases[] = {
        {1, false, {"a.trd", "B.trd", "c.trd"}}, {1, true, {"c.trd", "B.trd", "a.trd"}},
        {2, false, {"a.trd", "c.trd", "B.trd"}}, {2, true, {"B.trd", "c.trd", "a.trd"}},
        {3, false, {"B.trd", "a.trd", "c.trd"}}, {3, true, {"c.trd", "a.trd", "B.trd"}},
        {0, false, {"B.trd", "c.trd", "a.trd"}}, // ticked first, then in the selection's order
        {4, false, {"a.trd", "B.trd", "c.trd"}}, // one folder: by name
        {4, true, {"c.trd", "B.trd", "a.trd"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "column " << c.column << (c.descending ? " down" : " up"));
        sort_image_list(list, c.column, c.descending);
        EXPECT_EQ(listed_names(list), c.names);
        for (int column = 0; column < 5; ++column)
            EXPECT_EQ(header_arrow(list, column), column != c.column ? 0
                                                  : c.descending     ? HDF_SORTDOWN
                                                                     : HDF_SORTUP);
    }

    // A click on a title sorts by it; a second click reverses; the order
    // holds when the list is rebuilt after a batch or a new pick.
    sort_by_column_click(list, 3);
    EXPECT_EQ(listed_names(list), (std::vector<std::string>{"B.trd", "a.trd", "c.trd"}));
    sort_by_column_click(list, 3);
    ASSERT_NE(fill_image_list(nullptr, list), 0);
    EXPECT_EQ(listed_names(list), (std::vector<std::string>{"c.trd", "a.trd", "B.trd"}));
    set_selection({folder, "a.trd", "B.trd"});
    ASSERT_NE(fill_image_list(nullptr, list), 0);
    EXPECT_EQ(listed_names(list), (std::vector<std::string>{"a.trd", "B.trd"}));
    EXPECT_EQ(header_arrow(list, 3), HDF_SORTDOWN);
}

TEST_F(ImageList, RowsFromSeveralFoldersAreListedByFolderThenNameAndToldApart)
{
    CreateDirectoryA(path("a").c_str(), nullptr);
    CreateDirectoryA(path("b").c_str(), nullptr);
    for (const char* name : {"b\\10.trd", "a\\9.trd", "b\\9.trd", "a\\10.trd"})
        write_file(path(name), make_image(4096));
    // Files from several folders: an empty folder, then the full paths.
    set_selection({"", path("b\\10.trd"), path("a\\9.trd"), path("b\\9.trd"), path("a\\10.trd")});
    ASSERT_NE(fill_image_list(nullptr, list), 0);
    SendMessageA(list, LVM_SETCOLUMNWIDTH, FOLDER_COLUMN, 2000); // room for whole folders
    std::vector<std::string> rows;
    for (int row = 0; row < row_count(list); ++row)
        rows.push_back(cell_text(list, row, FOLDER_COLUMN) + "|" + cell_text(list, row, 1));
    EXPECT_EQ(rows, (std::vector<std::string>{path("a") + "|9.trd", path("a") + "|10.trd",
                                              path("b") + "|9.trd", path("b") + "|10.trd"}));
    // By name, ties by folder; a name too wide for its column ends in "…".
    sort_image_list(list, NAME_COLUMN, false);
    EXPECT_EQ(listed_names(list), (std::vector<std::string>{"9.trd", "9.trd", "10.trd", "10.trd"}));
    EXPECT_EQ(cell_text(list, 0, FOLDER_COLUMN), path("a"));
    SendMessageA(list, LVM_SETCOLUMNWIDTH, NAME_COLUMN, 46);
    const std::string shortened = cell_text(list, 2, 1), ellipsis = narrow_text(L"\u2026");
    ASSERT_GT(shortened.size(), ellipsis.size());
    EXPECT_EQ(shortened.substr(shortened.size() - ellipsis.size()), ellipsis) << shortened;
    EXPECT_EQ(shortened.find("..."), std::string::npos) << shortened;
    sort_image_list(list, -1, false);
}

TEST_F(ImageList, RowsTickedByNameAreScrolledIntoView)
{
    std::vector<std::string> selection = {folder};
    for (int i = 0; i < 60; ++i) {
        const std::string name = "r" + std::to_string(100 + i) + ".trd";
        write_file(path(name), make_image(4096));
        selection.push_back(name);
    }
    set_selection(selection);
    ShowWindow(host, SW_SHOW);
    ASSERT_NE(fill_image_list(nullptr, list), 0);
    EXPECT_EQ(tick_rows_named(list, {"r150.trd", "r155.trd", "gone.trd"}), 50);
    EXPECT_EQ(row_state(list, 50), ROW_TICKED);
    EXPECT_EQ(row_state(list, 55), ROW_TICKED);
    EXPECT_EQ(row_state(list, 49), ROW_UNTICKED);
    RECT row, area;
    row.left = LVIR_BOUNDS;
    SendMessageA(list, LVM_GETITEMRECT, 50, reinterpret_cast<LPARAM>(&row));
    GetClientRect(list, &area);
    EXPECT_TRUE(row.top >= area.top && row.bottom <= area.bottom) << "row 50 is not in view";
}

TEST_F(ImageList, SortsTenThousandRowsByEachColumn)
{
    constexpr int count = 10000;
    std::vector<std::string> selection = {folder};
    for (int i = 0; i < count; ++i) {
        const std::string name = "disk" + std::to_string((i * 7919) % count) + ".trd";
        HANDLE file = CreateFileA(path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        SetFilePointer(file, (i * 31) % 4096, nullptr, FILE_BEGIN);
        SetEndOfFile(file);
        CloseHandle(file);
        selection.push_back(name);
    }
    set_selection(selection);
    ASSERT_NE(fill_image_list(nullptr, list), 0);
    ASSERT_EQ(row_count(list), count);
    for (int row = 0; row < count; row += 3)
        tick_row(list, row);
    for (int column : {1, 2, 3, 0}) {
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        sort_image_list(list, column, false);
        QueryPerformanceCounter(&end);
        const double ms =
            1000.0 * double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
        // A figure for the record, not a test: a loaded machine is slower.
        std::printf("sorting %d rows by column %d: %.1f ms\n", count, column, ms);
    }
    EXPECT_EQ(cell_text(list, 0, 1), "disk0.trd") << "ticked rows first, in the selection's order";
}

TEST(FormatBounded, FollowsTheSafeStringContract)
{
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(format_bounded(buffer, 0, "%s", "a"), E_INVALIDARG);
    EXPECT_EQ(format_bounded(buffer, 2147483648u, "%s", "a"), E_INVALIDARG);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(8, 'x')) << "buffer touched";

    EXPECT_EQ(format_bounded(buffer, sizeof buffer, "%lu  ", 65536ul), S_OK);
    EXPECT_STREQ(buffer, "65536  ");
    EXPECT_EQ(format_bounded(buffer, sizeof buffer, "%lu  ", 655360ul),
              STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(buffer, "655360 ");
    EXPECT_EQ(format_bounded(buffer, 1, "%s", "abc"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(buffer[0], '\0');
}

} // namespace
