// What a disk holds and what is wrong with it: the survey over every real
// disk of the corpus, made disks for the problems the corpus lacks, and
// every value of every catalogue field.
#include "test_support.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace
{

const char* kind_name(image_problem_kind kind)
{
    switch (kind) {
    case PROBLEM_BYTES_MISSING:
        return "missing";
    case PROBLEM_IN_TRACK_ZERO:
        return "track0";
    case PROBLEM_PAST_DISK_END:
        return "past-end";
    case PROBLEM_SECTOR_NUMBER:
        return "sector";
    case PROBLEM_FREE_BEFORE_FILE:
        return "free-before-file";
    case PROBLEM_FILE_COUNT:
        return "file-count";
    case PROBLEM_DELETED_COUNT:
        return "deleted-count";
    case PROBLEM_FREE_COUNT:
        return "free-count";
    case PROBLEM_SHARED_SECTORS:
        return "shared";
    }
    return "?";
}

// The verdict on a file as verify gives it: "not-trd", or the kinds of its
// problems in order ("" for a whole disk), and where its loss lies.
struct verdict {
    std::string problems;
    int64_t first_found; // the found value of the first problem, 0 when none
    int64_t outside, in_deleted, in_files;
    int entries, deleted;
};

verdict survey_verdict_of(const std::string& file)
{
    image_survey survey;
    if (survey_file(file.c_str(), SURVEY_WHOLE, &survey, nullptr, 0) != SURVEY_IMAGE)
        return {"not-trd", 0, 0, 0, 0, 0, 0};
    image_problem problems[TRD_MAX_PROBLEMS];
    const int count =
        find_image_problems(survey.catalogue, survey.length, problems, TRD_MAX_PROBLEMS);
    verdict v = {"",
                 count > 0 ? problems[0].found : 0,
                 loses_outside(survey),
                 survey.loses_in_deleted,
                 survey.loses_in_files,
                 survey.catalogue.entry_count,
                 survey.catalogue.deleted_entries};
    for (int i = 0; i < count; ++i)
        v.problems += std::string(v.problems.empty() ? "" : " ") + kind_name(problems[i].kind);
    return v;
}

class Catalogue : public TempFolderTest
{
};

TEST_F(Catalogue, EveryCorpusDiskSurveyedWithItsVerdictAndCounts)
{
    // Measured independently of the survey, from the disks' bytes.
    const struct {
        const char* file;
        verdict expected;
    } disks[] = {
        {"advent7_ff0.trd", {"track0 track0 free-before-file shared", 0, 0, 0, 0, 42, 0}},
        {"advent8_text800.trd", {"not-trd", 0, 0, 0, 0, 0, 0}},
        {"cc99i512.trd", {"", 0, 623360, 0, 0, 24, 0}},
        {"chimoran.trd", {"", 0, 0, 0, 0, 10, 0}},
        {"cscfinal.trd", {"", 0, 0, 0, 0, 30, 0}},
        {"dejavu02.trd",
         {"missing track0 past-end past-end past-end past-end past-end past-end past-end "
          "past-end past-end",
          21760, 0, 0, 0, 61, 0}},
        {"enjoy.trd", {"", 0, 0, 0, 0, 3, 0}},
        {"eyeache.trd", {"", 0, 0, 0, 0, 2, 0}},
        {"flag256.trd", {"", 0, 0, 0, 0, 1, 0}},
        {"mem_type0.trd", {"not-trd", 0, 0, 0, 0, 0, 0}},
        {"mescaline.trd", {"", 0, 5545, 0, 0, 12, 0}},
        {"mydisk05_117f.trd", {"track0", 9, 273166, 0, 0, 117, 0}},
        {"oberon5_short1.trd", {"", 0, 0, 0, 0, 22, 0}},
        {"oxygene7.trd", {"", 0, 1518, 0, 0, 8, 0}},
        {"paralactika.trd", {"", 0, 174341, 0, 0, 8, 0}},
        {"plasman_system.trd", {"", 0, 1393, 0, 0, 98, 0}},
        {"rush_oversize.trd", {"past-end free-count", 12288, 0, 0, 0, 61, 0}},
        {"slides256c4.trd", {"", 0, 559, 0, 0, 41, 0}},
        {"sp18_full.trd",
         {"missing past-end free-before-file shared shared", 24576, 0, 0, 0, 10, 0}},
        {"tiden.trd", {"", 0, 0, 0, 0, 83, 0}},
        {"umt23.trd", {"", 0, 0, 0, 0, 1, 0}},
        {"usp_disk2.trd", {"", 0, 4241, 0, 0, 63, 0}},
        {"z80bltst.trd", {"", 0, 0, 0, 0, 2, 0}},
        {"zxformat8.trd", {"", 0, 0, 0, 0, 20, 0}},
        {"zxmak_test.trd", {"", 0, 349943, 0, 0, 19, 0}},
    };
    if (!std::filesystem::exists(std::filesystem::u8path(KORVAT_CORPUS_DIR)))
        GTEST_SKIP() << "corpus folder not found: " << KORVAT_CORPUS_DIR;
    for (const auto& disk : disks) {
        SCOPED_TRACE(disk.file);
        const verdict v = survey_verdict_of(std::string(KORVAT_CORPUS_DIR) + "/" + disk.file);
        const verdict& e = disk.expected;
        EXPECT_EQ(v.problems, e.problems);
        EXPECT_EQ(v.first_found, e.first_found);
        EXPECT_EQ(v.outside, e.outside);
        EXPECT_EQ(v.in_deleted + v.in_files, 0);
        EXPECT_EQ(v.entries, e.entries);
        EXPECT_EQ(v.deleted, e.deleted);
    }
}

// An entry written into track 0 of a made image.
void put_entry(bytes* image, int index, const char* name, int sectors, int track, int sector,
               bool deleted = false)
{
    unsigned char* raw = image->data() + index * TRD_ENTRY_SIZE;
    std::fill(raw, raw + TRD_NAME_SIZE, ' ');
    std::copy(name, name + std::min<size_t>(std::strlen(name), TRD_NAME_SIZE), raw);
    if (deleted)
        raw[0] = TRD_DELETED_MARK;
    raw[8] = 'C';
    raw[13] = static_cast<unsigned char>(sectors);
    raw[14] = static_cast<unsigned char>(sector);
    raw[15] = static_cast<unsigned char>(track);
}

TEST_F(Catalogue, MadeDisksForTheProblemsTheCorpusLacks)
{
    // A consistent disk to start from: two files, the second deleted, and
    // the first free sector after both.
    auto consistent = [] {
        bytes image = make_image(655360, 0x16, 2, 3, 0);
        put_entry(&image, 0, "one", 16, 1, 0);
        put_entry(&image, 1, "gone", 16, 2, 0, true);
        image[TRD_DELETED_COUNT] = 1;
        image[TRD_FREE_SECTORS] = (2560 - 48) & 0xFF;
        image[TRD_FREE_SECTORS + 1] = (2560 - 48) >> 8;
        return image;
    };
    const struct {
        const char* what;
        void (*change)(bytes* image);
        const char* problems;
        int64_t in_deleted, outside;
    } cases[] = {
        {"a consistent disk", [](bytes*) {}, "", 0, 0},
        {"a menu label of no sectors in track 0 is normal",
         [](bytes* image) {
             put_entry(image, 2, "--MENU--", 0, 0, 0);
             (*image)[TRD_FILE_COUNT] = 3;
         },
         "", 0, 0},
        {"sector numbers beyond a track",
         [](bytes* image) {
             (*image)[14] = 16;
             (*image)[TRD_FIRST_FREE_SECTOR] = 17;
         },
         // Read as track 2, sector 0, the file also lands on the deleted one.
         "sector sector free-count shared", 0, 0},
        {"counts that disagree with the catalogue",
         [](bytes* image) {
             (*image)[TRD_FILE_COUNT] = 5;
             (*image)[TRD_DELETED_COUNT] = 0;
             (*image)[TRD_FREE_SECTORS] = 1;
         },
         "file-count deleted-count free-count", 0, 0},
        {"data of a deleted file past a first free sector moved back over it",
         [](bytes* image) {
             (*image)[TRD_FIRST_FREE_TRACK] = 2;
             (*image)[TRD_FREE_SECTORS] = (2560 - 32) & 0xFF;
             (*image)[TRD_FREE_SECTORS + 1] = (2560 - 32) >> 8;
             (*image)[2 * 4096 + 5] = 1;
             (*image)[200000] = 2;
         },
         "", 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bytes image = consistent();
        c.change(&image);
        write_file(path("made.trd"), image);
        const verdict v = survey_verdict_of(path("made.trd"));
        EXPECT_EQ(v.problems, c.problems);
        EXPECT_EQ(v.in_deleted, c.in_deleted);
        EXPECT_EQ(v.outside, c.outside);
    }
}

TEST_F(Catalogue, EveryValueOfEveryFieldIsSurvivedAndNamesAreEscaped)
{
    // The first entry's sixteen bytes and the disk-info fields past the check's.
    std::vector<int> offsets;
    for (int offset = 0; offset < TRD_ENTRY_SIZE; ++offset)
        offsets.push_back(offset);
    for (int offset = TRD_FIRST_FREE_SECTOR; offset < TRD_LABEL + TRD_LABEL_SIZE; ++offset)
        if (offset != TRD_DISK_TYPE && offset != TRD_FILE_COUNT && offset != TRD_ID)
            offsets.push_back(offset);
    bytes image = make_image(2 * TRD_TRACK_SIZE, 0x16, 1, 1, 0);
    std::fill(image.begin() + TRD_TRACK_SIZE, image.end(), 0x5A);
    put_entry(&image, 0, "file", 4, 1, 0);
    int surveyed = 0;
    for (int offset : offsets) {
        for (int value = 0; value < 256; ++value) {
            bytes changed = image;
            changed[static_cast<size_t>(offset)] = static_cast<unsigned char>(value);
            write_file(path("field.trd"), changed);
            image_survey survey;
            ASSERT_EQ(survey_file(path("field.trd").c_str(), SURVEY_WHOLE, &survey, nullptr, 0),
                      SURVEY_IMAGE);
            image_problem problems[TRD_MAX_PROBLEMS];
            const int count =
                find_image_problems(survey.catalogue, survey.length, problems, TRD_MAX_PROBLEMS);
            ASSERT_LE(count, TRD_MAX_PROBLEMS);
            for (int i = 0; i < count; ++i) {
                char text[256];
                describe_image_problem(survey.catalogue, problems[i], text, sizeof text);
                ASSERT_GT(std::strlen(text), 0u);
                for (const char* at = text; *at; ++at)
                    ASSERT_TRUE(*at >= 0x20 && *at < 0x7F) << "raw byte in: " << text;
            }
            ++surveyed;
        }
    }
    EXPECT_EQ(surveyed, int(offsets.size()) * 256);

    // Names and labels from the disk are shown safely, whatever they hold.
    const unsigned char raw[] = {'A', '\\', '\t', 0x1B, 0x7F, 0xC2, 0x9B, 'z'};
    char text[64];
    EXPECT_STREQ(escape_disk_text(raw, sizeof raw, text, sizeof text),
                 "A\\\\\\x09\\x1B\\x7F\\xC2\\x9Bz");
    EXPECT_STREQ(escape_disk_text(raw, sizeof raw, text, 6), "A\\\\") << "whole escapes only";
}

} // namespace
