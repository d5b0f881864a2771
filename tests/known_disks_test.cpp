// Knowing a disk whatever its length: the identity pass, the lists of
// known disks as untrusted input, the corpus against the real lists, and
// conform's round trip. Built and run natively and under Wine alike, so both
// builds are held to the same entries and matches.
#include "known_disks.h"

#include "file_io.h"
#include "test_support.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>

namespace
{

namespace fs = std::filesystem;

std::string hash_of(digest_kind kind, const bytes& content)
{
    digest_state* state = digest_begin(kind);
    digest_add(state, content.data(), content.size());
    unsigned char digest[DIGEST_MAX_SIZE];
    digest_end(state, digest);
    return hex_digest(digest, digest_size(kind));
}

std::string sha1_of(const bytes& content)
{
    return hash_of(DIGEST_SHA1, content);
}

std::string md5_of(const bytes& content)
{
    return hash_of(DIGEST_MD5, content);
}

// The identity pass, with the hashes the lists' CRC-32s ask for when given.
image_identity identify(const std::string& file, const identity_request& request,
                        const known_lists* lists = nullptr)
{
    image_identity identity;
    FILE* stream = open_stream(file.c_str(), "rb");
    EXPECT_NE(stream, nullptr) << file;
    if (stream) {
        EXPECT_EQ(identify_stream(stream, nullptr, 0, request, &identity), 0);
        if (lists) {
            EXPECT_EQ(confirm_identity(stream, *lists, &identity), 0);
        }
        close_stream(stream);
    }
    return identity;
}

class KnownDisks : public TempFolderTest
{
};

TEST_F(KnownDisks, OnePassGivesTheHashAtEveryLengthFromTheContentEndAndNoneBelow)
{
    // The well-known digests of nothing, then images of random lengths and
    // content ends, hashed at lengths below, at and above both.
    EXPECT_EQ(sha1_of({}), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(md5_of({}), "d41d8cd98f00b204e9800998ecf8427e");
    std::mt19937 random(20261208);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        const size_t length = random() % 300000;
        bytes image(length, 0);
        const size_t data = length == 0 ? 0 : random() % (length + 1);
        for (size_t i = 0; i < data; i += 1 + random() % 5000)
            image[i] = static_cast<unsigned char>(1 + random() % 255);
        if (data > 0)
            image[data - 1] = 0xAA;
        write_file(path("image.trd"), image);
        identity_request request;
        for (int64_t wanted : {int64_t(0), int64_t(data) - 1, int64_t(data), int64_t(length),
                               int64_t(length) + 4096, int64_t(655360)})
            if (wanted >= 0)
                request.sha1_lengths.push_back(wanted);
        std::sort(request.sha1_lengths.begin(), request.sha1_lengths.end());
        request.sha1_lengths.erase(
            std::unique(request.sha1_lengths.begin(), request.sha1_lengths.end()),
            request.sha1_lengths.end());
        request.md5_lengths = request.sha1_lengths;
        const image_identity identity = identify(path("image.trd"), request);
        EXPECT_EQ(identity.length, int64_t(length));
        EXPECT_EQ(identity.content_end, int64_t(data));
        EXPECT_EQ(hex_digest(identity.content_sha1, DIGEST_SHA1_SIZE),
                  sha1_of(resized(image, data)));
        for (int64_t wanted : request.sha1_lengths) {
            const unsigned char* sha1 = digest_at(identity, wanted, DIGEST_SHA1);
            const unsigned char* md5 = digest_at(identity, wanted, DIGEST_MD5);
            if (wanted < int64_t(data)) {
                EXPECT_EQ(sha1, nullptr) << "a length below the content end holds no disk";
                continue;
            }
            ASSERT_NE(sha1, nullptr) << wanted;
            ASSERT_NE(md5, nullptr) << wanted;
            EXPECT_EQ(hex_digest(sha1, DIGEST_SHA1_SIZE), sha1_of(resized(image, size_t(wanted))));
            EXPECT_EQ(hex_digest(md5, DIGEST_MD5_SIZE), md5_of(resized(image, size_t(wanted))));
        }
        EXPECT_TRUE(same_bytes(read_file(path("image.trd")), image)) << "nothing is written";
    }
}

// A list as the tests make it: a datafile with one <rom> line per entry.
std::string datafile(const std::string& roms)
{
    return "<?xml version=\"1.0\"?>\n<datafile>\n<header><name>Made</name></header>\n"
           "<game name=\"g\">\n" +
           roms + "</game>\n</datafile>\n";
}

TEST_F(KnownDisks, ListsAreUntrustedAndEachIsReadWhollyOrRefusedWithWhere)
{
    std::string nested = "<datafile>";
    for (int depth = 0; depth < 40; ++depth)
        nested += "<a>";
    const std::string sha1 = "0123456789abcdef0123456789abcdef01234567";
    const std::string md5 = "0123456789abcdef0123456789abcdef";
    std::string laughs =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE datafile [\n<!ENTITY a \"aaaaaaaa\">\n";
    for (int i = 1; i < 10; ++i)
        laughs +=
            "<!ENTITY " + std::string(1, char('a' + i)) + " \"" + std::string(8, '&') + "\">\n";
    laughs += "]>\n<datafile><game name=\"&j;\"/></datafile>\n";
    struct {
        const char* what;
        std::string text;
        const char* refusal; // the start of the error after "FILE:", or null
        size_t entries;
        long long unusable;
    } cases[] = {
        {"a datafile: disks, archives and Hobeta files kept, other names ignored",
         datafile("<rom name=\"a.trd\" size=\"655360\" sha1=\"" + sha1 +
                  "\"/>\n"
                  "<rom name=\"B.TRD\" size=\"4096\" md5=\"" +
                  md5 +
                  "\"/>\n"
                  "<rom name=\"c.SCL\" size=\"4096\" sha1=\"" +
                  sha1 + "\"/>\n<rom name=\"d.$b\" size=\"273\" sha1=\"" + sha1 +
                  "\"/>\n<rom name=\"e.tap\" size=\"4096\" sha1=\"" + sha1 + "\"/>\n"),
         nullptr, 4, 0},
        {"entries without a size or a usable hash are counted",
         datafile("<rom name=\"a.trd\" sha1=\"" + sha1 +
                  "\"/>\n"
                  "<rom name=\"b.trd\" size=\"-5\" sha1=\"" +
                  sha1 +
                  "\"/>\n"
                  "<rom name=\"c.trd\" size=\"4096\" sha1=\"xyz\"/>\n"
                  "<rom name=\"d.trd\" size=\"99999999999\" sha1=\"" +
                  sha1 + "\"/>\n"),
         nullptr, 0, 4},
        {"a MAME software list",
         "<softwarelist name=\"sl\"><software name=\"s\"><part name=\"p\"><dataarea name=\"flop\">"
         "<rom name=\"x.trd\" size=\"655360\" sha1=\"" +
             sha1 +
             "\"/></dataarea></part></software>"
             "</softwarelist>",
         nullptr, 1, 0},
        {"not well-formed: where it breaks", "<datafile>\n  <game name=\"x\">\n</datafile>\n",
         ":3:3: mismatched tag", 0, 0},
        {"another kind of document", "<html><body/></html>", ":1:7: not a Logiqx datafile", 0, 0},
        {"entities are never declared", laughs, ":2:", 0, 0},
        {"nor a parameter entity alone, on every build",
         "<!DOCTYPE datafile [<!ENTITY % p \"x\">]><datafile/>", ":1:", 0, 0},
        {"elements nested past 32 deep", nested, ":1:", 0, 0},
        {"a list in ISO-8859-1, as older lists declare it",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><datafile><game name=\"caf\xE9\">"
         "<rom name=\"a.trd\" size=\"4096\" sha1=\"" +
             sha1 + "\"/></game></datafile>",
         nullptr, 1, 0},
        {"an external entity is never fetched",
         "<!DOCTYPE datafile [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><datafile>&x;</datafile>",
         ":1:", 0, 0},
        {"an entity a document type would give is left out, never fetched",
         "<!DOCTYPE datafile SYSTEM \"http://example.invalid/datafile.dtd\"><datafile>"
         "<game name=\"a &unknown; b\"><rom name=\"a.trd\" size=\"4096\" sha1=\"" +
             sha1 + "\"/></game></datafile>",
         nullptr, 1, 0},
        {"an empty file", "", ":1:1: no element found", 0, 0},
        {"bytes that are not text", std::string("<datafile>\xff\xfe</datafile>", 23), ":1:11:", 0,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        known_lists lists;
        std::string error;
        const bool read =
            read_known_list_bytes("list.dat", c.text.data(), c.text.size(), &lists, &error);
        EXPECT_EQ(read, c.refusal == nullptr) << error;
        if (c.refusal) {
            EXPECT_EQ(error.rfind(std::string("list.dat") + c.refusal, 0), 0u) << error;
            EXPECT_TRUE(lists.entries.empty() && lists.names.empty()) << "nothing of it is kept";
            continue;
        }
        EXPECT_EQ(lists.entries.size(), c.entries);
        EXPECT_EQ(lists.unusable.back(), c.unusable);
    }
}

// The corpus's images that are entries of the Demos list, and what
// identify says of them as they are and after each operation.
TEST_F(KnownDisks, AListIsReadInTimeInProportionToItsLength)
{
    // One comment as long as a list may be: fed in pieces, the parser read
    // it again at every piece (35 s); in one call it takes a moment.
    std::string list = "<?xml version=\"1.0\"?><datafile><!--";
    list.append(size_t(LIST_MAX_FILE_SIZE) - 64, 'x');
    list += "--></datafile>";
    write_file(path("long.dat"), bytes(list.begin(), list.end()));
    const auto start = std::chrono::steady_clock::now();
    known_lists lists;
    std::string error;
    EXPECT_TRUE(read_known_list(path("long.dat"), &lists, &error)) << error;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("a list of one %lld-byte comment read in %.2f s\n",
                static_cast<long long>(list.size()), seconds);
    EXPECT_LT(seconds, 5.0);
}

TEST_F(KnownDisks, CorpusImagesAreKnownAtEveryLengthThatLosesNothing)
{
    const std::string lists_dir = std::string(KORVAT_CORPUS_DIR) + "/../../lists";
    const std::string demos =
        lists_dir + "/Sinclair ZX Spectrum - Demos - [TRD] (TOSEC-v2023-06-10).dat";
    if (!fs::exists(fs::u8path(demos)) ||
        !fs::exists(fs::u8path(std::string(KORVAT_CORPUS_DIR) + "/mescaline.trd")))
        GTEST_SKIP() << "the lists or the corpus are not there";
    known_lists lists;
    std::string error;
    ASSERT_TRUE(read_known_list(demos, &lists, &error)) << error;
    ASSERT_TRUE(read_known_list(lists_dir + "/spectrum_betadisc_flop.xml", &lists, &error))
        << error;
    index_known_lists(&lists);
    EXPECT_EQ(lists.entries.size(), 452u + 13u);
    EXPECT_EQ(lists.names[1], "spectrum_betadisc_flop");
    const identity_request request = request_for(lists);

    enum verdict { AS_IS, AFTER_CHANGE, UNKNOWN };
    struct {
        const char* image;
        image_operation operation;
        const char* what;
        verdict expected;
    } cases[] = {
        {"mescaline.trd", nullptr, "as it is", AS_IS},
        {"mescaline.trd", cut_zeros, "after cut zeros", AFTER_CHANGE},
        // Its first free sector has a loader's 5,545 bytes after it.
        {"mescaline.trd", cut_free_sectors, "after cut free sectors, data lost", UNKNOWN},
        {"mescaline.trd", restore_size, "after restore size", AS_IS},
        {"paralactika.trd", nullptr, "as it is", AS_IS},
        {"paralactika.trd", cut_zeros, "after cut zeros", AFTER_CHANGE},
        {"enjoy.trd", nullptr, "a disk of another list", UNKNOWN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.image) + ", " + c.what);
        const bytes original = read_file(std::string(KORVAT_CORPUS_DIR) + "/" + c.image);
        write_file(path("work.trd"), original);
        // Cut free sectors cuts as korvat-cli --force does.
        if (c.operation) {
            ASSERT_GE(check_and_run(path("work.trd"), c.operation), 0);
        }
        const image_identity identity = identify(path("work.trd"), request, &lists);
        const std::vector<known_match> matches = find_matches(lists, identity);
        verdict found = UNKNOWN;
        for (const known_match& match : matches)
            found = match.as_it_is ? AS_IS : found == AS_IS ? AS_IS : AFTER_CHANGE;
        EXPECT_EQ(found, c.expected);
        for (const known_match& match : matches)
            EXPECT_EQ(lists.entries[match.entry].size, 655360) << "every one at its full size";
    }
}

TEST_F(KnownDisks, ConformGivesBackTheListsExactBytesOrLeavesTheFileAsItWas)
{
    // A full disk whose data ends at 150,000, listed shortened (as TOSEC
    // keeps some) by SHA-1 and at full size by MD5 alone.
    bytes disk = make_image(655360);
    for (size_t i = 4096; i < 150000; i += 7)
        disk[i] = static_cast<unsigned char>(i);
    disk[149999] = 1;
    const bytes shortened = resized(disk, 150016);
    const std::string list =
        datafile("<rom name=\"short.trd\" size=\"150016\" sha1=\"" + sha1_of(shortened) +
                 "\"/>\n"
                 "<rom name=\"full.trd\" size=\"655360\" md5=\"" +
                 md5_of(disk) + "\"/>\n");
    known_lists lists;
    std::string error;
    ASSERT_TRUE(read_known_list_bytes("made.dat", list.data(), list.size(), &lists, &error));
    index_known_lists(&lists);
    const identity_request request = request_for(lists);

    struct {
        const char* what;
        size_t entry;  // the one conformed to
        int64_t from;  // the file's length before
        bool spoil;    // another program writes into the tail meanwhile
        int64_t after; // the length after
    } cases[] = {
        {"restored, then conformed back to the shortened entry", 0, 655360, false, 150016},
        {"cut, then conformed to the full entry (MD5 only)", 1, 150016, false, 655360},
        {"a tail that is no longer zeros is left as it is", 0, 655360, true, 655360},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write_file(path("disk.trd"), resized(disk, size_t(c.from)));
        const image_identity identity = identify(path("disk.trd"), request, &lists);
        const std::vector<known_match> matches = find_matches(lists, identity);
        ASSERT_EQ(matches.size(), 2u) << "the image is both entries";
        if (c.spoil) {
            bytes spoilt = resized(disk, size_t(c.from));
            spoilt[600000] = 9;
            write_file(path("disk.trd"), spoilt);
        }
        std::string why;
        const bool made = conform_length(path("disk.trd").c_str(), identity.length,
                                         lists.entries[c.entry].size, lists.entries[c.entry], &why);
        EXPECT_EQ(made, !c.spoil) << why;
        EXPECT_EQ(file_length(path("disk.trd")), c.after);
        if (!c.spoil)
            EXPECT_TRUE(same_bytes(read_file(path("disk.trd")), resized(disk, size_t(c.after))));
        else
            EXPECT_EQ(why, "Changed since it was read, left as it is");
    }
}

} // namespace

TEST_F(KnownDisks, ACrc32RulesEntriesOutAndNeverNamesOneAlone)
{
    // Two files of one size and one CRC-32 that differ: the generator
    // polynomial XORed into a message leaves its CRC-32 as it was.
    bytes disk = make_image(655360);
    for (size_t i = 4096; i < 90000; i += 5)
        disk[i] = static_cast<unsigned char>(i * 7);
    bytes twin = disk;
    const unsigned char polynomial[] = {0x41, 0x06, 0x71, 0xDB, 0x01};
    for (size_t i = 0; i < sizeof polynomial; ++i)
        twin[50000 + i] ^= polynomial[i];
    auto crc_of = [](const bytes& b) {
        char text[9];
        std::snprintf(text, sizeof text, "%08x", crc32_add(0, b.data(), b.size()));
        return std::string(text);
    };
    ASSERT_EQ(crc_of(disk), crc_of(twin));
    ASSERT_NE(sha1_of(disk), sha1_of(twin));
    const unsigned char entry[16] = {'f', 'i', 'l',  'e', ' ', ' ', ' ', ' ',
                                     'C', 0,   0x80, 0,   2,   2,   0,   1};
    const bytes hobeta = hobeta_of(entry, disk.data() + 4096);
    bytes hobeta_twin = hobeta;
    for (size_t i = 0; i < sizeof polynomial; ++i)
        hobeta_twin[100 + i] ^= polynomial[i];

    const std::string full = std::to_string(disk.size()), cut = "90112";
    const bytes short_disk = resized(disk, 90112);
    const std::string list = datafile(
        // by CRC-32 then SHA-1, at full length and shortened
        "<rom name=\"crc.trd\" size=\"" + full + "\" crc=\"" + crc_of(disk) + "\" sha1=\"" +
        sha1_of(disk) + "\"/>\n<rom name=\"short.trd\" size=\"" + cut + "\" crc=\"" +
        crc_of(short_disk) + "\" md5=\"" + md5_of(short_disk) +
        "\"/>\n"
        // no CRC-32: hashed as it always was
        "<rom name=\"nocrc.trd\" size=\"" +
        full + "\" sha1=\"" + sha1_of(disk) +
        "\"/>\n"
        // a CRC-32 that is not the file's rules it out, whatever its SHA-1
        "<rom name=\"wrongcrc.trd\" size=\"" +
        full + "\" crc=\"00000000\" sha1=\"" + sha1_of(disk) +
        "\"/>\n<rom name=\"file.$C\" size=\"" + std::to_string(hobeta.size()) + "\" crc=\"" +
        crc_of(hobeta) + "\" sha1=\"" + sha1_of(hobeta) + "\"/>\n");
    known_lists lists;
    std::string error;
    ASSERT_TRUE(read_known_list_bytes("made.dat", list.data(), list.size(), &lists, &error));
    index_known_lists(&lists);
    const identity_request request = request_for(lists);
    EXPECT_EQ(request.crc_lengths, (std::vector<int64_t>{90112, 655360}));
    EXPECT_EQ(request.sha1_lengths, (std::vector<int64_t>{655360}));

    struct {
        const char* what;
        bytes file;
        std::vector<std::string> named;
    } cases[] = {
        {"the disk", disk, {"crc.trd", "short.trd", "nocrc.trd"}},
        {"its twin of the same size and CRC-32", twin, {}},
        {"the disk cut short", short_disk, {"crc.trd", "short.trd", "nocrc.trd"}},
        {"its twin cut short", resized(twin, 90112), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write_file(path("image.trd"), c.file);
        std::vector<std::string> named;
        for (const known_match& match :
             find_matches(lists, identify(path("image.trd"), request, &lists)))
            named.push_back(lists.entries[match.entry].name);
        EXPECT_EQ(named, c.named);
    }
    EXPECT_EQ(find_form_matches(lists, FORM_HOBETA, hobeta, "f").size(), 1u);
    EXPECT_TRUE(find_form_matches(lists, FORM_HOBETA, hobeta_twin, "f").empty());
    EXPECT_TRUE(form_may_match(lists, FORM_HOBETA, int64_t(hobeta.size()),
                               crc32_add(0, hobeta_twin.data(), hobeta_twin.size())));
}
