// Odd and hostile files through the batch: huge sparse files, a folder with
// an image's name, files too short to judge, the longest names.
#include "batch.h"

#include "control_ids.h"
#include "file_io.h"
#include "status_log.h"
#include "test_support.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace
{

class HostileFiles : public TempFolderTest
{
};

TEST_F(HostileFiles, HugeSparseImages)
{
    struct {
        int64_t length;
        int64_t after_cut_zeros; // a file of 2 GiB or more is never cut by it
    } cases[] = {
        {(int64_t{1} << 31) - 1, 4096},
        {int64_t{1} << 31, int64_t{1} << 31},
        {(int64_t{4} << 30) + 4097, (int64_t{4} << 30) + 4097},
    };
    const std::string name = path("huge.trd");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        make_sparse_image(name, c.length);
        reset_status_log();
        run_batch(IDC_RESTORE_SIZE, heap_names({name}));
        EXPECT_EQ(file_length(name), c.length) << "restore size shortened or grew it";
        run_batch(IDC_CUT_ZEROS, heap_names({name}));
        EXPECT_EQ(file_length(name), c.after_cut_zeros);
        // Cutting at the first free sector is what the user asked for.
        run_batch(IDC_CUT_FREE_SECTORS, heap_names({name}));
        EXPECT_EQ(file_length(name), 4096);
        EXPECT_TRUE(same_bytes(read_file(name), make_image(4096)));
        EXPECT_EQ(status_history(),
                  (std::vector<std::string>{"Restoring size for " + name, "Done",
                                            "Cutting zeros from " + name, "Done",
                                            "Cutting free sectors from " + name, "Done"}));
        std::remove(name.c_str());
    }
}

TEST_F(HostileFiles, AFolderNamedLikeAnImageIsReportedAndLeftAlone)
{
    const std::string name = path("x.trd");
    fs::create_directory(name);
    // Said alike on both systems and whether it is opened to read or to change.
    for (bool read_first : {false, true}) {
        reset_status_log();
        g_batch_read_first = read_first;
        run_batch(IDC_CUT_ZEROS, heap_names({name}));
        g_batch_read_first = false;
        EXPECT_EQ(status_history(), (std::vector<std::string>{"Cutting zeros from " + name,
                                                              "Not a regular file", "Done"}));
    }
    EXPECT_TRUE(fs::is_directory(name));
}

TEST_F(HostileFiles, FilesTooShortToJudgeAreNotImages)
{
    for (int32_t length : {0, 1, 2048, 2279}) {
        SCOPED_TRACE(length);
        const bytes image = make_image(length);
        write_file(path("short.trd"), image);
        for (unsigned command : {IDC_CUT_ZEROS, IDC_CUT_FREE_SECTORS, IDC_RESTORE_SIZE}) {
            reset_status_log();
            run_batch(command, heap_names({path("short.trd")}));
            ASSERT_EQ(status_history().size(), 3u);
            EXPECT_EQ(status_history()[1], "File is not TRD image !");
            EXPECT_TRUE(same_bytes(read_file(path("short.trd")), image));
        }
    }
    // 2,280 bytes reach the identifier: judged, and restored to full size.
    write_file(path("short.trd"), make_image(2280));
    reset_status_log();
    run_batch(IDC_RESTORE_SIZE, heap_names({path("short.trd")}));
    EXPECT_EQ(status_history().size(), 2u);
    EXPECT_TRUE(same_bytes(read_file(path("short.trd")), resized(make_image(2280), 655360)));
}

TEST_F(HostileFiles, NamesOf255Characters)
{
    const std::string name = std::string(251, 'n') + ".trd";
    ASSERT_EQ(name.size(), 255u);
    write_file(path(name), make_image(655360));
    fs::current_path(folder);
    run_batch(IDC_CUT_FREE_SECTORS, heap_names({name}));
    fs::current_path(fs::temp_directory_path());
    EXPECT_EQ(file_length(path(name)), 4096);
    EXPECT_EQ(status_history(), (std::vector<std::string>{
                                    ("Cutting free sectors from " + name).substr(0, 255), "Done"}));
}

} // namespace
