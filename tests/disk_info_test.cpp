#include "test_support.h"

#include "status_log.h"

#include <cstring>

namespace
{

struct patch {
    int offset;
    unsigned char value;
};

struct check_case {
    const char* what;
    int32_t length;
    std::vector<patch> patches;
    int16_t tracks; // expected track count; 0 when the check must fail
};

const check_case check_cases[] = {
    {"blank formatted 160-track image", 4096, {}, 160},
    {"type 0x17, 40 cylinders two sides", 4096, {{TRD_DISK_TYPE, 0x17}}, 80},
    {"type 0x18, 80 cylinders one side", 4096, {{TRD_DISK_TYPE, 0x18}}, 80},
    {"type 0x19, 40 cylinders one side", 163840, {{TRD_DISK_TYPE, 0x19}}, 40},
    {"type 0x15 below the range", 4096, {{TRD_DISK_TYPE, 0x15}}, 0},
    {"type 0x1A above the range", 4096, {{TRD_DISK_TYPE, 0x1A}}, 0},
    {"type 0x00", 4096, {{TRD_DISK_TYPE, 0x00}}, 0},
    {"127 files", 4096, {{TRD_FILE_COUNT, 0x7F}}, 160},
    {"128 files", 4096, {{TRD_FILE_COUNT, 0x80}}, 0},
    {"255 files", 4096, {{TRD_FILE_COUNT, 0xFF}}, 0},
    {"identifier 0x11", 4096, {{TRD_ID, 0x11}}, 0},
    {"identifier 0x00", 4096, {{TRD_ID, 0x00}}, 0},
    {"byte 0x800 is 0x01", 4096, {{TRD_INFO_START, 0x01}}, 0},
    {"byte 0 is never tested", 4096, {{0, 0xFF}}, 160},
    {"first free fields hold anything",
     4096,
     {{TRD_FIRST_FREE_SECTOR, 0xFF}, {TRD_FIRST_FREE_TRACK, 0xFF}},
     160},
    {"bytes past the identifier are not tested", 4096, {{0x8E8, 0xFF}, {0xFFF, 0xFF}}, 160},
    {"empty file", 0, {}, 0},
    {"2,279 bytes stop short of the identifier", 2279, {}, 0},
    {"2,280 bytes reach the identifier", 2280, {}, 160},
    {"4,095 bytes", 4095, {{TRD_DISK_TYPE, 0x19}}, 40},
    {"full 640 KiB image", 655360, {{TRD_DISK_TYPE, 0x18}}, 80},
};

class DiskInfoCheck : public TempFolderTest
{
};

TEST_F(DiskInfoCheck, VerdictsTrackCountsAndStatusLines)
{
    const int16_t previous = 123; // stands for the last file that passed
    for (const check_case& c : check_cases) {
        SCOPED_TRACE(c.what);
        bytes image = make_image(c.length);
        for (const patch& p : c.patches)
            image[p.offset] = p.value;
        write_file(path("case.trd"), image);
        reset_status_log();
        g_track_count = previous;

        int result = check_and_run(path("case.trd"), nullptr);
        if (c.tracks != 0) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(g_track_count, c.tracks);
            EXPECT_TRUE(status_history().empty());
        } else {
            EXPECT_EQ(result, -1);
            EXPECT_EQ(g_track_count, previous);
            EXPECT_EQ(status_history(), std::vector<std::string>{"File is not TRD image !"});
        }
        EXPECT_TRUE(same_bytes(read_file(path("case.trd")), image)) << "the check changed the file";
    }
}

TEST_F(DiskInfoCheck, AShortFileIsNeverJudgedOnAnEarlierFilesBytes)
{
    write_file(path("good.trd"), make_image(655360));
    ASSERT_EQ(check_and_run(path("good.trd"), nullptr), 0);

    // The first 2,279 bytes of the same image: the rest of the earlier
    // track would complete the disk-info sector if it stayed in the buffer.
    bytes head = make_image(655360);
    head.resize(2279);
    write_file(path("short.trd"), head);
    EXPECT_EQ(check_and_run(path("short.trd"), nullptr), -1);

    // A 3,000-byte file with the type byte cleared fails even though the
    // earlier image's type byte sits at the same offset.
    bytes odd = make_image(3000);
    odd[TRD_DISK_TYPE] = 0;
    write_file(path("odd.trd"), odd);
    ASSERT_EQ(check_and_run(path("good.trd"), nullptr), 0);
    EXPECT_EQ(check_and_run(path("odd.trd"), nullptr), -1);

    // And a short file is judged with zeros past its end.
    bytes short_image = make_image(2280);
    write_file(path("short-ok.trd"), short_image);
    EXPECT_EQ(check_and_run(path("short-ok.trd"), nullptr), 0);
    for (int i = 2280; i < TRD_TRACK_SIZE; ++i)
        ASSERT_EQ(g_io_buffer[i], 0) << "stale byte at " << i;
}

TEST_F(DiskInfoCheck, ParseAloneWritesNoStatusLine)
{
    std::memset(g_io_buffer, 0xFF, sizeof g_io_buffer);
    EXPECT_EQ(parse_disk_info(), 0);
    bytes image = make_image(4096, 0x19);
    std::memcpy(g_io_buffer, image.data(), image.size());
    EXPECT_EQ(parse_disk_info(), 1);
    EXPECT_EQ(g_track_count, 40);
    EXPECT_TRUE(status_history().empty());
}

TEST_F(DiskInfoCheck, AStreamThatCannotBeReadIsNotAnImage)
{
    write_file(path("image.trd"), make_image(4096));
    FILE* write_only = std::fopen(path("image.trd").c_str(), "ab");
    ASSERT_NE(write_only, nullptr);
    EXPECT_EQ(check_trd_image(write_only), -1);
    std::fclose(write_only);
    EXPECT_EQ(status_history(), std::vector<std::string>{"File is not TRD image !"});
    EXPECT_TRUE(same_bytes(read_file(path("image.trd")), make_image(4096)));
}

} // namespace
