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

// The status lines that say a file was left, as they are written.
std::vector<std::string> g_left_lines;

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

TEST_F(Batch, ACutAtTheFirstFreeSectorCutsOnlyWhatTheUserWasShown)
{
    // Every image is cut at track 1; lossy.trd and grown.trd hold a loader's
    // byte past it when the user is asked. Then another program writes 15
    // bytes into safe.trd and one more into grown.trd, before the cuts.
    const std::vector<std::string> names = {"clean.trd", "safe.trd", "lossy.trd", "grown.trd"};
    const std::string changed_question =
        "Not cut, changed since the question: 15 non-zero bytes past its first free sector: ";
    const std::string grown_question =
        "Not cut, changed since the question: 2 non-zero bytes past its first free sector: ";
    struct {
        const char* what;
        loss_answer answer;
        std::vector<std::string> lines; // the lines that say why a file was left
        std::vector<int64_t> lengths;
        const char* summary;
    } cases[] = {
        {"Yes cuts what was shown, and only that",
         LOSS_CUT,
         {changed_question + path("safe.trd"), grown_question + path("grown.trd")},
         {4096, 655360, 4096, 655360},
         "4 files, 2 changed, 0 unchanged, 0 failed, 2 left; 2621440 -> 1318912 bytes"},
        {"No leaves the images shown and the changed one",
         LOSS_KEEP,
         {changed_question + path("safe.trd"),
          "Not cut, 1 non-zero byte past its first free sector: " + path("lossy.trd"),
          "Not cut, 2 non-zero bytes past its first free sector: " + path("grown.trd")},
         {4096, 655360, 655360, 655360},
         "4 files, 1 changed, 0 unchanged, 0 failed, 3 left; 2621440 -> 1970176 bytes"},
        {"without a question, any loss is a change since the survey",
         LOSS_NOT_ASKED,
         {"Not cut, changed since the survey: 15 non-zero bytes past its first free sector: " +
              path("safe.trd"),
          "Not cut, changed since the survey: 1 non-zero byte past its first free sector: " +
              path("lossy.trd"),
          "Not cut, changed since the survey: 2 non-zero bytes past its first free sector: " +
              path("grown.trd")},
         {4096, 655360, 655360, 655360},
         "4 files, 1 changed, 0 unchanged, 0 failed, 3 left; 2621440 -> 1970176 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bytes lossy = make_image(655360, 0x16, 1, 1, 0);
        lossy[300000] = 7;
        for (const std::string& name : names)
            write_file(path(name), name == "lossy.trd" || name == "grown.trd"
                                       ? lossy
                                       : make_image(655360, 0x16, 1, 1, 0));
        g_loss_consent = {};
        g_loss_consent.answer = c.answer;
        for (const std::string& name : names) {
            loss_record record;
            if (c.answer != LOSS_NOT_ASKED && survey_loss(path(name).c_str(), &record))
                g_loss_consent.lossy.push_back(record);
        }
        bytes written = lossy;
        std::fill(written.begin() + 300000, written.begin() + 300015, 0x3C);
        write_file(path("safe.trd"), written);
        lossy[400000] = 9;
        write_file(path("grown.trd"), lossy);

        reset_status_log();
        g_status_echo = [](const char* line) {
            if (std::strncmp(line, "Not cut", 7) == 0)
                g_left_lines.push_back(line);
        };
        g_left_lines.clear();
        g_batch_guard = guard_by_consent;
        g_batch_read_first = true;
        batch_totals totals = {};
        std::vector<std::string> full;
        for (const std::string& name : names)
            full.push_back(path(name));
        EXPECT_EQ(run_batch(IDC_CUT_FREE_SECTORS, heap_names(full), &totals), 0);
        g_batch_guard = nullptr;
        g_batch_read_first = false;
        g_status_echo = nullptr;

        EXPECT_EQ(g_left_lines, c.lines);
        for (size_t i = 0; i < names.size(); ++i)
            EXPECT_EQ(file_length(path(names[i])), c.lengths[i]) << names[i];
        char summary[256];
        format_batch_summary(&totals, false, summary, sizeof summary);
        EXPECT_STREQ(summary, c.summary);
    }
}

} // namespace
