#include "test_support.h"

#include "batch.h"
#include "file_io.h"
#include "status_log.h"

#include <algorithm>
#include <random>

namespace
{

class Operations : public TempFolderTest
{
  protected:
    // Writes content as "image.trd", runs check and operation, returns the result.
    int run(const bytes& content, image_operation operation)
    {
        write_file(path("image.trd"), content);
        return check_and_run(path("image.trd"), operation);
    }
    bytes result() { return read_file(path("image.trd")); }
};

struct cut_zeros_case {
    const char* what;
    int32_t length;
    std::vector<int> non_zero; // offsets given the value 0xA5
    int32_t expected;
};

const cut_zeros_case cut_zeros_cases[] = {
    {"exactly one track", 4096, {4095}, 4096},
    {"shorter than a track", 3000, {2999}, 3000},
    {"only zeros after track 0", 655360, {100, 4095}, 4096},
    {"only byte 4096 non-zero", 655360, {4096}, 4352},
    {"last non-zero at 4351", 655360, {4096, 4351}, 4352},
    {"last non-zero at 4352", 655360, {4352}, 4608},
    {"last non-zero at the end of the second track", 655360, {8191}, 8192},
    {"last non-zero at the start of the third track", 655360, {8192}, 8448},
    {"last byte non-zero", 655360, {655359}, 655360},
    {"odd length, last byte non-zero", 5001, {5000}, 5001},
    {"odd length rounded up to a whole sector", 5000, {4900}, 5120},
    {"longer than a full disk", 700000, {699000}, 699136},
};

TEST_F(Operations, CutZerosLengthsAndTails)
{
    for (const cut_zeros_case& c : cut_zeros_cases) {
        SCOPED_TRACE(c.what);
        bytes image = make_image(c.length);
        for (int offset : c.non_zero)
            image[offset] = 0xA5;
        EXPECT_GE(run(image, cut_zeros), 0);
        EXPECT_TRUE(same_bytes(result(), resized(image, c.expected)));
        EXPECT_TRUE(status_history().empty());
    }
}

TEST_F(Operations, CutFreeSectorsCutsOrExtendsToTheFirstFreeSector)
{
    const char* past_end = "First free sector lies past the end of the disk, file not cut !";
    struct {
        unsigned char track, sector;
        int32_t length, expected;
        const char* refusal; // the file is then left as it is
    } cases[] = {
        {1, 0, 655360, 4096, nullptr},
        {0x50, 5, 655360, 328960, nullptr},
        {160, 0, 655360, 655360, nullptr},
        {0x50, 5, 8192, 328960, nullptr}, // shorter than its target: zeros appended
        {165, 5, 655360, 655360, past_end},
        {255, 15, 4096, 4096, past_end},
        // More cylinders than the type gives, as real disks carry: a cut
        // that shortens is a cut.
        {163, 0, 667648, 667648, nullptr},
        {162, 0, 700000, 663552, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "track " << int(c.track) << " sector " << int(c.sector));
        reset_status_log();
        bytes image = make_image(c.length, 0x16, 1, c.track, c.sector);
        std::fill(image.begin() + 4096, image.end(), 0x5A);
        EXPECT_EQ(run(image, cut_free_sectors), c.refusal ? -1 : 0);
        EXPECT_TRUE(same_bytes(result(), resized(image, c.expected)));
        EXPECT_EQ(status_history(),
                  c.refusal ? std::vector<std::string>{c.refusal} : std::vector<std::string>{});
    }
}

TEST_F(Operations, CutIntoTrackZeroIsRefused)
{
    for (unsigned char sector : {0, 1, 15}) {
        SCOPED_TRACE(int(sector));
        reset_status_log();
        bytes image = make_image(655360, 0x16, 42, 0, sector);
        image[655359] = 1;
        EXPECT_LT(run(image, cut_free_sectors), 0);
        EXPECT_TRUE(same_bytes(result(), image));
        EXPECT_EQ(status_history(),
                  std::vector<std::string>{"First free sector is in track 0, file not cut !"});
    }
}

TEST_F(Operations, RestoreSizeAppendsZerosUpToTheDiskTypesFullSize)
{
    struct {
        unsigned char type;
        int32_t length, expected;
    } cases[] = {
        {0x16, 4096, 655360},   {0x16, 655000, 655360}, {0x16, 2280, 655360},
        {0x16, 655360, 655360}, {0x16, 700001, 700001}, {0x17, 8192, 327680},
        {0x18, 327680, 327680}, {0x19, 4096, 163840},   {0x19, 200000, 200000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << int(c.type) << " length " << c.length);
        bytes image = make_image(c.length, c.type);
        for (size_t i = 0x900; i < image.size(); i += 777)
            image[i] = static_cast<unsigned char>(i);
        // The end is found by reading on from the check: with the runtime's
        // buffer, and with a whole-disk one that the check fills with the
        // whole file (or the first 640 KiB of it).
        for (size_t buffer : {size_t{0}, BATCH_STREAM_BUFFER_SIZE}) {
            SCOPED_TRACE(buffer);
            write_file(path("image.trd"), image);
            EXPECT_EQ(check_and_run(path("image.trd"), restore_size, buffer),
                      c.expected > c.length ? 1 : 0);
            EXPECT_TRUE(same_bytes(result(), resized(image, c.expected)));
            EXPECT_TRUE(status_history().empty());
        }
    }
}

// Generated images: a random length, disk type and scatter of data.
bytes generated_image(std::mt19937& random, int32_t* full_size)
{
    static const unsigned char types[] = {0x16, 0x17, 0x18, 0x19};
    unsigned char type = types[random() % 4];
    *full_size = (type == 0x16 ? 160 : type == 0x19 ? 40 : 80) * TRD_TRACK_SIZE;
    int32_t length = TRD_MIN_CHECKED_LENGTH + int32_t(random() % uint32_t(*full_size + 20000));
    unsigned char track = static_cast<unsigned char>(1 + random() % 170);
    bytes image = make_image(length, type, 3, track, static_cast<unsigned char>(random() % 16));
    int32_t data_end = int32_t(random() % uint32_t(length + 1));
    int spots = int(random() % 50);
    for (int i = 0; i < spots && data_end > 0; ++i)
        image[random() % uint32_t(data_end)] = static_cast<unsigned char>(1 + random() % 255);
    if (random() % 4 == 0)
        image.back() = 0xFF;
    return image;
}

// Offset just past the last non-zero byte beyond track 0 (4096 at least).
size_t data_end(const bytes& image)
{
    size_t end = image.size();
    while (end > 4096 && image[end - 1] == 0)
        --end;
    return std::max<size_t>(end, 4096);
}

TEST_F(Operations, GeneratedImagesKeepEveryByteThatHoldsData)
{
    std::mt19937 random(20261207);
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        reset_status_log();
        int32_t full = 0;
        const bytes image = generated_image(random, &full);

        // Cut zeros: only zeros go, never track 0, and a second cut does nothing.
        ASSERT_GE(run(image, cut_zeros), 0);
        bytes cut = result();
        if (image.size() <= 4096) {
            EXPECT_TRUE(same_bytes(cut, image));
        } else {
            size_t end = data_end(image);
            size_t expected = image[image.size() - 1] ? image.size() : (end + 255) / 256 * 256;
            EXPECT_TRUE(same_bytes(cut, resized(image, expected)));
            EXPECT_GE(cut.size(), 4096u);
        }
        ASSERT_GE(check_and_run(path("image.trd"), cut_zeros), 0);
        EXPECT_TRUE(same_bytes(result(), cut)) << "cutting twice differs from cutting once";

        // Restore after the cut: the image padded with zeros to its full size.
        ASSERT_GE(check_and_run(path("image.trd"), restore_size), 0);
        bytes restored = result();
        EXPECT_GE(restored.size(), cut.size()) << "restore shortened the file";
        EXPECT_TRUE(same_bytes(restored, resized(image, std::max(cut.size(), size_t(full)))));

        // Cut free sectors, then restore: the image up to its first free
        // sector, padded with zeros; refused past both ends.
        size_t target = (image[TRD_FIRST_FREE_TRACK] * 16 + image[TRD_FIRST_FREE_SECTOR]) * 256;
        if (target > image.size() && target > size_t(full)) {
            EXPECT_LT(run(image, cut_free_sectors), 0);
            EXPECT_TRUE(same_bytes(result(), image));
            continue;
        }
        ASSERT_EQ(run(image, cut_free_sectors), 0);
        EXPECT_TRUE(same_bytes(result(), resized(image, target)));
        ASSERT_GE(check_and_run(path("image.trd"), restore_size), 0);
        EXPECT_TRUE(same_bytes(
            result(), resized(resized(image, target), std::max<size_t>(target, size_t(full)))));
        EXPECT_TRUE(status_history().empty());
    }
}

TEST_F(Operations, BackwardZeroScanAgreesWithAForwardPassOnEveryFile)
{
    // Lengths at and around the scan's block and piece edges, and random
    // ones; data at random places, at edges, or nowhere beyond track 0.
    std::vector<int32_t> lengths = {4096,  4097,  4351,  8191,  8192,   8193,   36863,  36864,
                                    36865, 40960, 40961, 69632, 655359, 655360, 655361, 700000};
    std::mt19937 random(7);
    for (int i = 0; i < 60; ++i)
        lengths.push_back(4097 + int32_t(random() % 700000));
    for (int32_t length : lengths) {
        for (int pattern = 0; pattern < (length > 4096 ? 4 : 1); ++pattern) {
            bytes image = make_image(length);
            if (pattern == 1)
                image[4096 + random() % uint32_t(length - 4096)] = 1;
            else if (pattern == 2)
                image[std::min<int32_t>(length - 1, 4096 + 32768 * int32_t(random() % 20))] = 2;
            else if (pattern == 3)
                image[length - 1 - random() % 300 % uint32_t(length - 4096)] = 3;
            write_file(path("image.trd"), image);
            // The result must not depend on the stream's buffer.
            for (size_t buffer : {size_t{0}, size_t{4096}, size_t{TRD_SCAN_BLOCK_SIZE}})
                ASSERT_TRUE(scans_agree(path("image.trd"), buffer)) << "pattern " << pattern;
        }
    }
}

TEST_F(Operations, NoOperationTouchesAFileThatFailsTheCheck)
{
    bytes not_image = make_image(655360);
    not_image[TRD_ID] = 0;
    std::fill(not_image.begin() + 9000, not_image.end(), 0);
    for (image_operation operation : {cut_zeros, cut_free_sectors, restore_size}) {
        reset_status_log();
        EXPECT_EQ(run(not_image, operation), -1);
        EXPECT_TRUE(same_bytes(result(), not_image));
        EXPECT_EQ(status_history(), std::vector<std::string>{"File is not TRD image !"});
    }
}

TEST_F(Operations, FilesOf2GiBOrMoreAreNeverCutNorRestored)
{
    for (int64_t length : {int64_t{1} << 31, (int64_t{4} << 30) + 4097}) {
        SCOPED_TRACE(length);
        make_sparse_image(path("huge.trd"), length);
        EXPECT_EQ(check_and_run(path("huge.trd"), cut_zeros), 0);
        EXPECT_EQ(file_length(path("huge.trd")), length);
        EXPECT_EQ(check_and_run(path("huge.trd"), restore_size), 0);
        EXPECT_EQ(file_length(path("huge.trd")), length);
        EXPECT_TRUE(status_history().empty());
        std::remove(path("huge.trd").c_str());
    }
}

TEST_F(Operations, RestoreSizeOnAReadOnlyStreamReportsTheWriteError)
{
    bytes image = make_image(4096);
    write_file(path("image.trd"), image);
    FILE* read_only = std::fopen(path("image.trd").c_str(), "rb");
    ASSERT_NE(read_only, nullptr);
    ASSERT_EQ(check_trd_image(read_only), 0);
    EXPECT_LT(restore_size(read_only), 0);
    std::fclose(read_only);
    ASSERT_EQ(status_history().size(), 1u);
    EXPECT_FALSE(status_history()[0].empty());
    EXPECT_TRUE(same_bytes(result(), image));
}

} // namespace
