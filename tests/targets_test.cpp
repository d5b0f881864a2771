#include "targets.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{

// Each target's verdict in the table's order, one letter each: L loads,
// S loads but saving loses data, R loads read-only, X refused.
std::string verdicts_of(const bytes& content, int64_t length = -1)
{
    target_disk disk;
    read_target_disk(content.data(), content.size(),
                     length < 0 ? static_cast<int64_t>(content.size()) : length, &disk);
    std::string letters;
    for (const target_rule& rule : target_rules())
        letters += "LSRX"[judge_for_target(rule, disk).verdict];
    return letters;
}

bytes with(bytes content, size_t offset, unsigned char value)
{
    content[offset] = value;
    return content;
}

// A disk of one file of 16 sectors from track 1, its disk-info sector whole.
bytes one_file_disk(int32_t length, unsigned char type = 0x16)
{
    bytes disk = make_image(length, type, 1, 2, 0);
    const unsigned char entry[16] = {'G', 'A', 'M',  'E', ' ', ' ', ' ', ' ',
                                     'C', 0,   0x80, 0,   16,  16,  0,   1};
    std::memcpy(disk.data(), entry, sizeof entry);
    const int32_t sectors = type == 0x16 ? 2560 : type == 0x19 ? 640 : 1280;
    disk[TRD_FREE_SECTORS] = static_cast<unsigned char>((sectors - 32) & 0xFF);
    disk[TRD_FREE_SECTORS + 1] = static_cast<unsigned char>((sectors - 32) >> 8);
    for (int32_t at = TRD_TRACK_SIZE; at < 2 * TRD_TRACK_SIZE && at < length; ++at)
        disk[size_t(at)] = 0x5A;
    return disk;
}

} // namespace

// The order: mame fuse zesarux usp unreal xpeccy flashfloppy hxc mister zxevo
// espectrum speccy2010.
TEST(Targets, EachTargetsVerdictFollowsItsRules)
{
    const bytes scl_disk = one_file_disk(655360);
    const bytes scl = scl_of_disk(scl_disk.data(), scl_disk.size(), true);
    bytes hobeta = hobeta_of(scl_disk.data(), scl_disk.data() + TRD_TRACK_SIZE);
    const struct {
        const char* what;
        bytes content;
        const char* verdicts;
    } cases[] = {
        {"2,304 bytes", one_file_disk(2304), "XLXLXLLLSSLL"},
        {"4,096 bytes", one_file_disk(4096), "XLLLXLLLSSLL"},
        {"8,192 bytes", one_file_disk(8192), "XLLLLLLLSSLL"},
        {"9,728 bytes", one_file_disk(9728), "XLLLLLLLSSLL"},
        {"163,840 bytes of an 80-cylinder disk", one_file_disk(163840), "LLLLLLLLSSLL"},
        {"327,680 bytes of an 80-cylinder disk", one_file_disk(327680), "LLLLLLLLSSLL"},
        {"655,104 bytes", one_file_disk(655104), "XLLLLLLLSSLL"},
        {"655,360 bytes", one_file_disk(655360), "LLLLLLLLLLLL"},
        {"655,361 bytes, a zero past 640 KiB", one_file_disk(655361), "XLLLXXLLLXLL"},
        {"655,361 bytes, data past 640 KiB", with(one_file_disk(655361), 655360, 1),
         "XLSLXXLLLXLL"},
        {"667,648 bytes, data past 640 KiB", with(one_file_disk(667648), 660000, 1),
         "XLSLSSLLLLLL"},
        {"688,128 bytes, data past 83 cylinders", with(one_file_disk(688128), 680000, 1),
         "XXSLSSLLLLLL"},
        {"1 MiB + 256 bytes, data near its end", with(one_file_disk(1048832), 1048700, 1),
         "XXSSXXLLXXLL"},
        {"type 0", with(one_file_disk(655360), TRD_DISK_TYPE, 0), "LXLLLLLLLLXL"},
        {"type 0x17, 40 cylinders on two sides", one_file_disk(327680, 0x17), "LLLLLLLLLLLL"},
        {"type 0x18, one side", one_file_disk(327680, 0x18), "LLLXLLLLXLLL"},
        {"type 0x19, one side", one_file_disk(163840, 0x19), "LLLXLLLLXLLL"},
        {"type 0x19 at 655,360 bytes", one_file_disk(655360, 0x19), "LXLXLLLXXLLL"},
        {"type 0x20", with(one_file_disk(655360), TRD_DISK_TYPE, 0x20), "LXLLLLLLLLXX"},
        {"type 0x20, 9,728 bytes", with(one_file_disk(9728), TRD_DISK_TYPE, 0x20), "XXLLLLLXLLXX"},
        {"identifier 0", with(one_file_disk(655360), TRD_ID, 0), "LXLLLLXLLLLL"},
        {"totals not a multiple of 16", with(one_file_disk(655360), TRD_FREE_SECTORS, 3),
         "LLLLLLLLLLLL"},
        {"an SCL archive", scl, "XLRLLLXLRRRR"},
        {"an SCL archive cut short", resized(scl, scl.size() - 300), "XXXXXXXXXXXX"},
        {"a Hobeta file", hobeta, "XXXXRRXXXXXX"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(verdicts_of(c.content), c.verdicts) << c.what;
}

TEST(Targets, EachVerdictNamesTheCommandThatMendsItOrSaysNoneCan)
{
    auto finding = [](const bytes& content, const char* target) {
        target_disk disk;
        read_target_disk(content.data(), content.size(), static_cast<int64_t>(content.size()),
                         &disk);
        return judge_for_target(*find_target(target), disk);
    };
    const bytes scl_disk = one_file_disk(655360);
    const struct {
        const char* what;
        bytes content;
        const char* target;
        target_fix fix;
    } cases[] = {
        {"a short disk on MAME", one_file_disk(9728), "mame", FIX_RESTORE},
        {"a short disk on MiSTer", one_file_disk(9728), "mister", FIX_RESTORE},
        {"a zero tail past 640 KiB on MAME", one_file_disk(659456), "mame", FIX_CUT_THEN_RESTORE},
        {"a zero byte past 640 KiB on UnrealSpeccy", one_file_disk(655361), "unreal",
         FIX_CUT_ZEROS},
        {"data past 640 KiB on MAME", with(one_file_disk(667648), 660000, 1), "mame",
         FIX_IMPOSSIBLE},
        {"data past 640 KiB on ZEsarUX", with(one_file_disk(667648), 660000, 1), "zesarux",
         FIX_IMPOSSIBLE},
        {"type 0 on Fuse", with(one_file_disk(655360), TRD_DISK_TYPE, 0), "fuse", FIX_REPAIR},
        {"identifier 0 on FlashFloppy", with(one_file_disk(655360), TRD_ID, 0), "flashfloppy",
         FIX_REPAIR},
        {"one side on MiSTer", one_file_disk(163840, 0x19), "mister", FIX_IMPOSSIBLE},
        {"more than 86 cylinders on UnrealSpeccy", with(one_file_disk(720896), 720000, 1), "unreal",
         FIX_IMPOSSIBLE},
        {"an SCL archive on FlashFloppy", scl_of_disk(scl_disk.data(), scl_disk.size(), true),
         "flashfloppy", FIX_TO_TRD},
        {"a whole disk", one_file_disk(655360), "fuse", FIX_NONE},
    };
    for (const auto& c : cases) {
        const target_finding found = finding(c.content, c.target);
        EXPECT_EQ(found.fix, c.fix) << c.what << ": " << found.reason;
        EXPECT_EQ(found.reason.empty(), found.verdict == VERDICT_LOADS && c.fix == FIX_NONE)
            << c.what;
    }
    // What a save loses, and where.
    const target_finding lost =
        finding(with(with(one_file_disk(667648), 660000, 1), 667647, 2), "xpeccy");
    EXPECT_EQ(lost.verdict, VERDICT_LOSES_ON_SAVE);
    EXPECT_EQ(lost.lost_bytes, 2);
    EXPECT_EQ(lost.lost_from, 660000);
}

TEST(Targets, RepairPutsTheDiskInfoSectorInOrderFromTheCatalogue)
{
    const bytes whole = one_file_disk(655360);
    auto repaired = [](bytes content, std::string* why) {
        std::vector<info_change> changes;
        if (!plan_info_repair(content.data(), static_cast<int64_t>(content.size()), &changes, why))
            return bytes();
        apply_info_changes(content.data(), changes);
        return content;
    };
    const struct {
        const char* what;
        std::vector<std::pair<int, unsigned char>> spoilt;
    } cases[] = {
        {"the identifier", {{TRD_ID, 0}}},
        {"the type", {{TRD_DISK_TYPE, 0}}},
        {"the first free sector", {{TRD_FIRST_FREE_SECTOR, 9}}},
        {"the first free track", {{TRD_FIRST_FREE_TRACK, 0xA5}}},
        {"the free count", {{TRD_FREE_SECTORS, 1}, {TRD_FREE_SECTORS + 1, 0}}},
        {"the file count", {{TRD_FILE_COUNT, 0x80}}},
        {"the deleted count", {{TRD_DELETED_COUNT, 4}}},
        {"all of them",
         {{TRD_ID, 0x11},
          {TRD_DISK_TYPE, 0x20},
          {TRD_FIRST_FREE_TRACK, 0},
          {TRD_FILE_COUNT, 0},
          {TRD_DELETED_COUNT, 9}}},
    };
    for (const auto& c : cases) {
        bytes spoilt = whole;
        for (const auto& field : c.spoilt)
            spoilt[size_t(field.first)] = field.second;
        std::string why;
        EXPECT_TRUE(same_bytes(repaired(spoilt, &why), whole)) << c.what << ": " << why;
    }
    std::string why;
    std::vector<info_change> changes;
    EXPECT_TRUE(plan_info_repair(whole.data(), 655360, &changes, &why));
    EXPECT_TRUE(changes.empty()) << "a whole disk needs nothing";

    // Damaged or ambiguous catalogues change nothing, and say why.
    bytes overlapping = whole;
    std::memcpy(overlapping.data() + 16, whole.data(), 16); // a second file on the same sectors
    overlapping[TRD_FILE_COUNT] = 2;
    EXPECT_TRUE(repaired(overlapping, &why).empty());
    EXPECT_NE(why.find("same sectors"), std::string::npos) << why;
    bytes too_far = with(whole, 15, 170); // a file on track 170
    EXPECT_TRUE(repaired(too_far, &why).empty());
    bytes short_untyped = with(one_file_disk(9728), TRD_DISK_TYPE, 0);
    short_untyped[TRD_FREE_SECTORS] = 0;
    short_untyped[TRD_FREE_SECTORS + 1] = 0;
    EXPECT_TRUE(repaired(short_untyped, &why).empty()) << "9,728 bytes fit four types";
    EXPECT_NE(why.find("more than one disk type"), std::string::npos) << why;
    // The free count recorded tells them apart where it fits one type alone.
    bytes told = with(one_file_disk(9728, 0x19), TRD_DISK_TYPE, 0);
    EXPECT_EQ(repaired(told, &why)[TRD_DISK_TYPE], 0x19) << why;
}
