#include "disk_forms.h"

#include "test_support.h"

#include <cstring>
#include <filesystem>

namespace
{

// A file entry of an SCL archive: name, type, start, length, sectors.
bytes scl_entry(const char* name, unsigned char sectors, int length = -1)
{
    bytes entry(SCL_ENTRY_SIZE, ' ');
    std::memcpy(entry.data(), name, std::min<size_t>(std::strlen(name), 8));
    entry[8] = 'C';
    entry[9] = 0;
    entry[10] = 0x80;
    const int bytes_long = length < 0 ? sectors * 256 : length;
    entry[11] = static_cast<unsigned char>(bytes_long);
    entry[12] = static_cast<unsigned char>(bytes_long >> 8);
    entry[13] = sectors;
    return entry;
}

// An SCL archive of files whose every byte is their index plus one, its
// sum right.
bytes make_scl(const std::vector<bytes>& entries)
{
    bytes scl(SCL_SIGNATURE, SCL_SIGNATURE + SCL_SIGNATURE_SIZE);
    scl.push_back(static_cast<unsigned char>(entries.size()));
    for (const bytes& entry : entries)
        scl.insert(scl.end(), entry.begin(), entry.end());
    for (size_t i = 0; i < entries.size(); ++i)
        scl.insert(scl.end(), size_t(entries[i][13]) * 256, static_cast<unsigned char>(i + 1));
    uint32_t sum = 0;
    for (unsigned char c : scl)
        sum += c;
    for (int i = 0; i < 4; ++i)
        scl.push_back(static_cast<unsigned char>(sum >> (8 * i)));
    return scl;
}

std::vector<form_problem_kind> kinds(const form_contents& contents)
{
    std::vector<form_problem_kind> found;
    for (const form_problem& problem : contents.problems)
        found.push_back(problem.kind);
    return found;
}

TEST(DiskForms, EachFormsChecksAtTheirBoundaries)
{
    const bytes good = make_scl({scl_entry("one", 2), scl_entry("empty", 0), scl_entry("two", 1)});
    bytes bad_sum = good;
    bad_sum.back() ^= 1;
    const bytes cut = resized(good, good.size() - 5);
    bytes longer = good;
    longer.push_back(0);
    const bytes short_sectors = make_scl({scl_entry("big", 1, 300)});
    std::vector<bytes> many(129, scl_entry("f", 0));
    const bytes too_many = make_scl(many);
    many.pop_back();
    const bytes most = make_scl(many);
    bytes hobeta = hobeta_of(scl_entry("hob", 1).data(), bytes(256, 7).data());
    bytes hobeta_short = resized(hobeta, hobeta.size() - 1);
    bytes hobeta_bad = hobeta;
    hobeta_bad[16] ^= 1; // its checksum
    const bytes hobeta_bad_longer = resized(hobeta_bad, hobeta_bad.size() + 1);
    bytes nameless_entry = scl_entry("hob", 1);
    nameless_entry[0] = 0;
    const bytes hobeta_nameless = hobeta_of(nameless_entry.data(), bytes(256, 7).data());
    bytes bad_sum_longer = bad_sum;
    bad_sum_longer.push_back(0);
    struct {
        const char* what;
        bytes file;
        disk_form form;
        std::vector<form_problem_kind> problems;
        bool whole;
    } cases[] = {
        {"an archive with a 0-sector entry", good, FORM_SCL, {}, true},
        {"a bad sum", bad_sum, FORM_SCL, {FORM_BAD_SUM}, true},
        {"cut short: never read past its end", cut, FORM_SCL, {FORM_SHORT}, false},
        {"a byte too many", longer, FORM_SCL, {FORM_LONG}, true},
        {"a bad sum and a byte too many",
         bad_sum_longer,
         FORM_SCL,
         {FORM_LONG, FORM_BAD_SUM},
         true},
        {"an entry longer than its sectors", short_sectors, FORM_SCL, {FORM_SECTORS_SHORT}, true},
        {"128 entries", most, FORM_SCL, {}, true},
        {"129 entries", too_many, FORM_SCL, {FORM_TOO_MANY}, true},
        {"a Hobeta file", hobeta, FORM_HOBETA, {}, true},
        {"a Hobeta file cut short", hobeta_short, FORM_HOBETA, {FORM_SHORT}, false},
        {"a Hobeta file whose name starts with byte 0",
         hobeta_nameless,
         FORM_HOBETA,
         {FORM_NAME_ZERO},
         true},
        {"a Hobeta header whose checksum fails, its length its sectors'",
         hobeta_bad,
         FORM_HOBETA,
         {FORM_BAD_HEADER_SUM},
         true},
        {"a checksum that fails and any other length: no Hobeta file",
         hobeta_bad_longer,
         FORM_NONE,
         {},
         false},
        {"a disk image", make_image(655360), FORM_NONE, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        form_contents contents;
        EXPECT_EQ(read_form(c.file.data(), c.file.size(), &contents), c.form != FORM_NONE);
        EXPECT_EQ(contents.form, c.form);
        EXPECT_EQ(kinds(contents), c.problems);
        EXPECT_EQ(contents.whole, c.whole);
    }
}

TEST(DiskForms, ANewDiskTakes2544SectorsAnd128FilesAndNoMore)
{
    struct {
        size_t files;
        unsigned char sectors;
        bool made;
    } cases[] = {{128, 0, true}, {129, 0, false}, {10, 254, true}, {11, 240, false}};
    // 128 files are a disk to the commands that read, not to those that cut.
    std::vector<unsigned char> full;
    std::string full_why;
    const bytes none = scl_entry("f", 0);
    ASSERT_TRUE(disk_of_files(std::vector<const unsigned char*>(128, none.data()),
                              std::vector<const unsigned char*>(128, none.data()),
                              reinterpret_cast<const unsigned char*>("LABEL   "), &full,
                              &full_why));
    EXPECT_EQ(tracks_of_disk_info(full.data(), true), 160);
    EXPECT_EQ(tracks_of_disk_info(full.data()), 0);
    // 10 * 254 = 2540 sectors fit; 11 * 240 = 2640 do not.
    const unsigned char label[TRD_LABEL_SIZE] = {'L', 'A', 'B', 'E', 'L', ' ', ' ', ' '};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.files << " files of " << int(c.sectors));
        const bytes entry = scl_entry("f", c.sectors);
        const bytes data(size_t(c.sectors) * 256, 9);
        std::vector<const unsigned char*> entries(c.files, entry.data()),
            sectors(c.files, data.data());
        std::vector<unsigned char> disk;
        std::string why;
        EXPECT_EQ(disk_of_files(entries, sectors, label, &disk, &why), c.made) << why;
    }
    // Exactly 2,544: the whole disk, its first free sector the disk's end.
    const bytes entry = scl_entry("f", 212);
    const bytes data(212 * 256, 9);
    std::vector<const unsigned char*> entries(12, entry.data()), sectors(12, data.data());
    std::vector<unsigned char> disk;
    std::string why;
    ASSERT_TRUE(disk_of_files(entries, sectors, label, &disk, &why));
    EXPECT_EQ(disk[TRD_FIRST_FREE_TRACK], 160);
    EXPECT_EQ(disk[TRD_FREE_SECTORS] | disk[TRD_FREE_SECTORS + 1] << 8, 0);
}

// One round trip's outcome: the form it started in comes back byte for byte.
void expect_round_trips(const std::string& what, const bytes& file)
{
    SCOPED_TRACE(what);
    form_contents form;
    ASSERT_TRUE(read_form(file.data(), file.size(), &form));
    std::vector<const unsigned char*> entries, sectors;
    for (const form_file& f : form.files) {
        entries.push_back(f.entry);
        sectors.push_back(form.bytes.data() + f.offset);
    }
    const unsigned char label[TRD_LABEL_SIZE] = {'k', 'o', 'r', 'v', 'a', 't', ' ', ' '};
    std::vector<unsigned char> disk;
    std::string why;
    ASSERT_TRUE(disk_of_files(entries, sectors, label, &disk, &why)) << why;
    // The disk passes the check and describes its files as the form did.
    std::memcpy(g_io_buffer, disk.data(), TRD_TRACK_SIZE);
    ASSERT_EQ(parse_disk_info(), 1);
    trd_catalogue on_disk, in_form;
    read_catalogue(&on_disk);
    catalogue_of_form(form, &in_form);
    std::memcpy(in_form.label, on_disk.label, TRD_LABEL_SIZE);
    EXPECT_EQ(std::memcmp(&on_disk, &in_form, sizeof on_disk), 0);
    int64_t length = static_cast<int64_t>(disk.size());
    image_problem problems[TRD_MAX_PROBLEMS];
    EXPECT_EQ(find_image_problems(on_disk, length, problems, TRD_MAX_PROBLEMS), 0);
    if (form.form == FORM_SCL) {
        EXPECT_TRUE(same_bytes(scl_of_disk(disk.data(), disk.size(), true), file));
        // And once more: the disk made from the archive made from the disk.
        const bytes again = scl_of_disk(disk.data(), disk.size(), true);
        form_contents second;
        ASSERT_TRUE(read_form(again.data(), again.size(), &second));
        std::vector<unsigned char> disk_again;
        std::vector<const unsigned char*> e2, s2;
        for (const form_file& f : second.files) {
            e2.push_back(f.entry);
            s2.push_back(second.bytes.data() + f.offset);
        }
        ASSERT_TRUE(disk_of_files(e2, s2, label, &disk_again, &why));
        EXPECT_TRUE(same_bytes(disk_again, disk));
    } else {
        const size_t start = size_t(TRD_TRACK_SIZE);
        EXPECT_TRUE(same_bytes(hobeta_of(disk.data(), disk.data() + start), file));
    }
}

TEST(DiskForms, RoundTripsGiveTheSameBytes)
{
    bytes deleted = scl_entry("gone", 3);
    deleted[0] = TRD_DELETED_MARK;
    expect_round_trips(
        "an archive with a deleted and an empty entry",
        make_scl({scl_entry("a", 5), deleted, scl_entry("e", 0), scl_entry("z", 1)}));
    expect_round_trips("a Hobeta file", hobeta_of(scl_entry("h", 2).data(), bytes(512, 3).data()));
    for (const char* name :
         {"insult.scl", "pang16c.scl", "machined.hob", "music_c.hob", "twilight.hob"}) {
        const std::string file = std::string(KORVAT_CORPUS_DIR) + "/" + name;
        if (!std::filesystem::exists(std::filesystem::u8path(file))) {
            std::printf("corpus file %s not found, skipped\n", name);
            continue;
        }
        expect_round_trips(name, read_file(file));
    }
}

TEST(DiskForms, HobetaNamesAreTheSameOnEverySystem)
{
    struct {
        const char* name;
        unsigned char type;
        const char* file;
    } cases[] = {
        {"boot    ", 'B', "boot.$B"},       {"a/b:c*  ", 'C', "a%2Fb%3Ac%2A.$C"},
        {"con     ", 'B', "%63on.$B"},      {"name.   ", 'B', "name%2E.$B"},
        {"\x01gone   ", 'B', "%01gone.$B"}, {"        ", ' ', "%20.$%20"},
        {"Y       ", '.', "Y.$%2E"},        {"CONIN$  ", 'B', "%43ONIN$.$B"},
        {"conout$ ", 'C', "%63onout$.$C"},
    };
    for (const auto& c : cases) {
        bytes entry = scl_entry("", 0);
        std::memcpy(entry.data(), c.name, 8);
        entry[8] = c.type;
        EXPECT_EQ(hobeta_file_name(entry.data()), c.file) << c.name;
    }
}

} // namespace
