// The batch run over the ticked rows of a real list view, as the window runs it.
#include "batch.h"

#include "control_ids.h"
#include "status_log.h"
#include "system_path.h"
#include "ui_support.h"

namespace
{

// Windows' own words for a file another program holds open.
std::string sharing_violation()
{
    std::string text;
    system_code_text(ERROR_SHARING_VIOLATION, "en", &text);
    return text;
}

class CheckedImages : public ImageListTest
{
  protected:
    // Lists the files of the temporary folder named, all unticked.
    void list_files(const std::vector<std::string>& names)
    {
        std::vector<std::string> selection = {folder};
        selection.insert(selection.end(), names.begin(), names.end());
        set_selection(selection);
        ASSERT_NE(fill_image_list(nullptr, list), 0);
        ASSERT_EQ(row_count(list), int(names.size()));
    }
};

TEST_F(CheckedImages, TwoImagesCutZerosInRowOrderAndTheRefreshShowsNewSizes)
{
    bytes first = make_image(655360);
    first[4096] = 1;
    write_file(path("first.trd"), first);
    write_file(path("second.trd"), make_image(655360));
    write_file(path("third.trd"), make_image(655360));
    list_files({"first.trd", "second.trd", "third.trd"});
    tick_row(list, 0);
    tick_row(list, 1);

    process_checked_images(IDC_CUT_ZEROS, list);
    EXPECT_EQ(pane_text(), "Cutting zeros from first.trd\nDone\n"
                           "Cutting zeros from second.trd\nDone\n");
    EXPECT_EQ(file_length(path("first.trd")), 4352);
    EXPECT_EQ(file_length(path("second.trd")), 4096);
    EXPECT_EQ(file_length(path("third.trd")), 655360) << "an unticked row was processed";

    fill_image_list(nullptr, list);
    EXPECT_EQ(cell_text(list, 0, 3), "4352  ");
    EXPECT_EQ(cell_text(list, 1, 3), "4096  ");
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(row_state(list, row), ROW_UNTICKED);
}

TEST_F(CheckedImages, FailuresAreReportedAndLeaveTheFilesAlone)
{
    bytes not_image = make_image(655360);
    not_image[TRD_ID] = 0x11;
    write_file(path("not.trd"), not_image);
    write_file(path("gone.trd"), make_image(655360));
    write_file(path("locked.trd"), make_image(655360));
    list_files({"not.trd", "gone.trd", "locked.trd"});
    for (int row = 0; row < 3; ++row)
        tick_row(list, row);
    std::remove(path("gone.trd").c_str());
    HANDLE locked = CreateFileA(path("locked.trd").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);

    process_checked_images(IDC_CUT_ZEROS, list);
    CloseHandle(locked);
    // The rows are in the order of their names.
    EXPECT_EQ(status_history(),
              (std::vector<std::string>{"Cutting zeros from gone.trd", error_text(ENOENT), "Done",
                                        "Cutting zeros from locked.trd", sharing_violation(),
                                        "Done", "Cutting zeros from not.trd",
                                        "File is not TRD image !", "Done"}));
    EXPECT_TRUE(same_bytes(read_file(path("not.trd")), not_image));
    EXPECT_EQ(file_length(path("locked.trd")), 655360);

    fill_image_list(nullptr, list);
    ASSERT_EQ(row_count(list), 2) << "the deleted file's row is gone";
    EXPECT_EQ(cell_text(list, 0, 1), "locked.trd");
    EXPECT_EQ(cell_text(list, 1, 1), "not.trd");
}

TEST_F(CheckedImages, FiveImagesLeaveTheLastNineLinesInThePane)
{
    std::vector<std::string> names;
    for (int i = 1; i <= 5; ++i) {
        names.push_back("disk" + std::to_string(i) + ".trd");
        write_file(path(names.back()), make_image(4096));
    }
    list_files(names);
    for (int row = 0; row < 5; ++row)
        tick_row(list, row);

    process_checked_images(IDC_RESTORE_SIZE, list);
    std::string expected = "Done\n";
    for (int i = 2; i <= 5; ++i)
        expected += "Restoring size for disk" + std::to_string(i) + ".trd\nDone\n";
    EXPECT_EQ(pane_text(), expected);
    for (const std::string& name : names)
        EXPECT_EQ(file_length(path(name)), 655360) << name;
}

TEST_F(CheckedImages, NoTickedRowOrAnotherCommandDoesNothing)
{
    write_file(path("a.trd"), make_image(655360));
    list_files({"a.trd"});
    process_checked_images(IDC_CUT_ZEROS, list);
    tick_row(list, 0);
    for (unsigned command :
         {IDC_IMAGE_LIST, IDC_STATUS, IDC_SELECT_ALL, IDC_UNSELECT_ALL, IDC_FILES, 9u})
        process_checked_images(command, list);
    EXPECT_EQ(pane_text(), "");
    EXPECT_TRUE(status_history().empty());
    EXPECT_EQ(file_length(path("a.trd")), 655360);
}

} // namespace
