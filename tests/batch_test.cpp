#include "batch.h"

#include "control_ids.h"
#include "status_log.h"
#include "test_support.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace
{

class Batch : public TempFolderTest
{
};

TEST_F(Batch, EveryOutcomeGetsItsLinesAndTheBatchGoesOn)
{
    bytes full = make_image(655360);
    full[5000] = 7;
    bytes not_image = make_image(655360);
    not_image[TRD_INFO_START] = 1;
    write_file(path("full.trd"), full);
    write_file(path("not.trd"), not_image);
    write_file(path("track0.trd"), make_image(655360, 0x16, 5, 0, 3));

    run_batch(IDC_CUT_FREE_SECTORS, heap_names({path("full.trd"), path("missing.trd"),
                                                path("not.trd"), path("track0.trd")}));
    const std::string prefix = "Cutting free sectors from ";
    // Eleven lines: the log keeps the last nine.
    EXPECT_EQ(status_history(), (std::vector<std::string>{
                                    prefix + path("missing.trd"), error_text(ENOENT), "Done",
                                    prefix + path("not.trd"), "File is not TRD image !", "Done",
                                    prefix + path("track0.trd"),
                                    "First free sector is in track 0, file not cut !", "Done"}));
    EXPECT_EQ(file_length(path("full.trd")), 4096);
    EXPECT_TRUE(same_bytes(read_file(path("not.trd")), not_image));
    EXPECT_EQ(file_length(path("track0.trd")), 655360);
}

TEST_F(Batch, CommandsPrefixesAndOperations)
{
    struct {
        unsigned command;
        const char* prefix;
        int64_t length;
    } cases[] = {
        {IDC_CUT_ZEROS, "Cutting zeros from ", 5120},
        {IDC_CUT_FREE_SECTORS, "Cutting free sectors from ", 8192},
        {IDC_RESTORE_SIZE, "Restoring size for ", 655360},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prefix);
        reset_status_log();
        bytes image = make_image(6000, 0x16, 1, 2, 0);
        image[5000] = 1;
        write_file(path("a.trd"), image);
        run_batch(c.command, heap_names({path("a.trd")}));
        EXPECT_EQ(status_history(), (std::vector<std::string>{c.prefix + path("a.trd"), "Done"}));
        EXPECT_EQ(file_length(path("a.trd")), c.length);
    }

    // Any other command, and no names, do nothing at all.
    reset_status_log();
    write_file(path("a.trd"), make_image(6000));
    for (unsigned command : {0u, 1u, 2u, 3u, 4u, 8u, 9u, 0x10005u})
        run_batch(command, heap_names({path("a.trd")}));
    run_batch(IDC_CUT_ZEROS, nullptr);
    EXPECT_TRUE(status_history().empty());
    EXPECT_EQ(file_length(path("a.trd")), 6000);
}

TEST_F(Batch, ALongNameIsCutInTheLogButOpenedWhole)
{
    // Names are relative to the images' folder, as the list gives them.
    const std::string name = std::string(246, 'L') + ".trd";
    write_file(path(name), make_image(655360));
    std::filesystem::current_path(folder);
    run_batch(IDC_CUT_ZEROS, heap_names({name}));
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    const std::string line = "Cutting zeros from " + name;
    EXPECT_EQ(status_history(), (std::vector<std::string>{line.substr(0, 255), "Done"}));
    EXPECT_EQ(file_length(path(name)), 4096) << "the file was not found by its full name";
}

} // namespace
