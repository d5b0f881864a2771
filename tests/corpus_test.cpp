// Real third-party TR-DOS images and near misses, when their folder exists.
#include "test_support.h"

#include "status_log.h"

#include <algorithm>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace
{

// The files of the corpus that are no TR-DOS image by the disk-info rules:
// archives, Hobeta files, a zero type byte, text at 0x800.
const std::set<std::string> not_images = {
    "insult.scl",   "pang16c.scl",   "machined.hob",        "music_c.hob",
    "twilight.hob", "mem_type0.trd", "advent8_text800.trd",
};

std::vector<fs::path> corpus_files()
{
    std::vector<fs::path> files;
    std::error_code error;
    // The folder's name as UTF-8, whatever the code page: the checkout may
    // lie under a folder named in any script.
    for (const auto& entry : fs::directory_iterator(fs::u8path(KORVAT_CORPUS_DIR), error)) {
        std::string extension = entry.path().extension().string();
        if (extension == ".trd" || extension == ".scl" || extension == ".hob")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class Corpus : public TempFolderTest
{
};

TEST_F(Corpus, EveryFileThroughTheCheckAndTheRoundTrips)
{
    const std::vector<fs::path> files = corpus_files();
    if (files.empty())
        GTEST_SKIP() << "corpus folder not found or empty: " << KORVAT_CORPUS_DIR;
    const std::string work = path("work.trd");
    int images = 0;
    for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        SCOPED_TRACE(name);
        const bytes original = read_file(file.u8string());
        ASSERT_FALSE(original.empty());

        // Not an image: every operation leaves it byte-identical.
        if (not_images.count(name)) {
            for (image_operation operation : {cut_zeros, cut_free_sectors, restore_size}) {
                write_file(work, original);
                EXPECT_EQ(check_and_run(work, operation), -1);
                EXPECT_TRUE(same_bytes(read_file(work), original));
            }
            continue;
        }
        ++images;
        EXPECT_TRUE(scans_agree(file.u8string(), TRD_SCAN_BLOCK_SIZE));
        write_file(work, original);
        ASSERT_EQ(check_and_run(work, nullptr), 0);
        ASSERT_EQ(g_track_count, 160) << "every corpus image is an 80-cylinder two-sided disk";
        const size_t full = 655360;

        // Cut zeros keeps everything up to the last non-zero byte.
        size_t end = original.size();
        while (end > 4096 && original[end - 1] == 0)
            --end;
        size_t expected = end == original.size() ? end : (end + 255) / 256 * 256;
        ASSERT_GE(check_and_run(work, cut_zeros), 0);
        EXPECT_TRUE(same_bytes(read_file(work), resized(original, expected)));
        ASSERT_GE(check_and_run(work, restore_size), 0);
        EXPECT_TRUE(same_bytes(read_file(work), resized(original, std::max(expected, full))));

        // Cut free sectors, refused where the first free sector is in track 0.
        write_file(work, original);
        reset_status_log();
        size_t target =
            (original[TRD_FIRST_FREE_TRACK] * 16 + original[TRD_FIRST_FREE_SECTOR]) * 256;
        int result = check_and_run(work, cut_free_sectors);
        if (target < 4096 || (target > original.size() && target > full)) {
            EXPECT_LT(result, 0);
            EXPECT_TRUE(same_bytes(read_file(work), original));
            EXPECT_EQ(status_history(),
                      std::vector<std::string>{
                          target < 4096
                              ? "First free sector is in track 0, file not cut !"
                              : "First free sector lies past the end of the disk, file not cut !"});
            continue;
        }
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(same_bytes(read_file(work), resized(original, target)));
        ASSERT_GE(check_and_run(work, restore_size), 0);
        EXPECT_TRUE(same_bytes(read_file(work),
                               resized(resized(original, target), std::max(target, full))));
    }
    EXPECT_EQ(images + int(not_images.size()), int(files.size()))
        << "a known non-image is missing from the corpus";
}

} // namespace
