// Fuzz target: the first byte of the input picks what runs (the check alone
// or the check and one operation) and, in the in-memory build, a fault; the
// rest is the content of the file. Every input must leave the file as the
// data-safety rules allow; a violation aborts, which the fuzzer reports as
// a crash. The same source builds over real files (fuzz_image_file) and over
// files in memory (fuzz_image, many times faster); the file is made and read
// back through the core's own file calls, so each build uses its own.
#include "file_io.h"
#include "known_disks.h"
#include "status_log.h"
#include "trd_image.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#ifdef KORVAT_FUZZ_MEMORY
#include "memory_file.h"
#endif

namespace
{

typedef std::vector<unsigned char> bytes;

void require(bool condition, const char* rule)
{
    if (!condition) {
        std::fprintf(stderr, "data-safety rule broken: %s\n", rule);
        std::abort();
    }
}

const std::string& work_file()
{
    static const std::string name = "/tmp/korvat-fuzz-" + std::to_string(getpid()) + ".trd";
    return name;
}

void write_work_file(const bytes& content)
{
    FILE* file = open_stream(work_file().c_str(), "wb");
    require(file != nullptr, "the work file can be made");
    if (!content.empty())
        require(write_stream(content.data(), content.size(), 1, file) == 1,
                "the work file can be written");
    close_stream(file);
}

// The file's content after the run: in memory, the stored bytes
// themselves; on disk, read back through the core's own calls.
const bytes& work_file_content()
{
#ifdef KORVAT_FUZZ_MEMORY
    const bytes* content = memory_file_get(work_file());
    require(content != nullptr, "the file is still there");
    return *content;
#else
    static bytes content;
    content.clear();
    FILE* file = open_stream(work_file().c_str(), "rb");
    require(file != nullptr, "the file can be read back");
    static unsigned char piece[65536];
    size_t count;
    while ((count = read_stream(piece, 1, sizeof piece, file)) > 0)
        content.insert(content.end(), piece, piece + count);
    close_stream(file);
    return content;
#endif
}

// True when after is the original cut, or padded with zeros, to length;
// compared in place, so that no input pays for a copy.
bool is_resized(const bytes& after, const bytes& original, size_t length)
{
    if (after.size() != length)
        return false;
    const size_t kept = std::min(length, original.size());
    if (!std::equal(original.begin(), original.begin() + kept, after.begin()))
        return false;
    // Whole blocks at a time: the fuzzer instruments a byte loop here.
    static const unsigned char zeros[65536] = {};
    for (size_t at = kept; at < length; at += sizeof zeros) {
        const size_t count = std::min(sizeof zeros, length - at);
        if (std::memcmp(after.data() + at, zeros, count) != 0)
            return false;
    }
    return true;
}

// The faults the in-memory file can give an operation: a disk that is full
// at the file's own length, or a medium that cannot be read past track 0.
enum fault { NO_FAULT, DISK_FULL, BAD_READ };

// ---- A reference for the catalogue and its problems, written apart ----

struct reference_entry {
    int track, sector, first, end; // the last two in sectors
    bool deleted, holds;
};

std::vector<reference_entry> reference_entries(const bytes& image)
{
    std::vector<reference_entry> entries;
    for (size_t at = 0; at + 16 <= 2048 && image[at] != 0; at += 16) {
        const int first = image[at + 15] * 16 + image[at + 14];
        entries.push_back({image[at + 15], image[at + 14], first, first + image[at + 13],
                           image[at] == 1, image[at + 13] > 0});
    }
    return entries;
}

// How many problems of each kind verify must report on this image.
std::vector<int> reference_problem_counts(const bytes& image, size_t length)
{
    std::vector<int> counts(PROBLEM_SHARED_SECTORS + 1, 0);
    const std::vector<reference_entry> entries = reference_entries(image);
    const int disk = image[0x8E3] == 0x16 ? 2560 : image[0x8E3] == 0x19 ? 640 : 1280;
    const int first_free = image[0x8E2] * 16 + image[0x8E1];
    int used = first_free, deleted = 0, last_end = -1;
    for (const reference_entry& e : entries) {
        deleted += e.deleted;
        if (!e.holds)
            continue;
        used = std::max(used, e.end);
        counts[PROBLEM_IN_TRACK_ZERO] += e.track == 0;
        counts[PROBLEM_SECTOR_NUMBER] += e.sector > 15;
        counts[PROBLEM_PAST_DISK_END] += e.end > disk;
        if (!e.deleted)
            last_end = std::max(last_end, e.end);
    }
    counts[PROBLEM_SECTOR_NUMBER] += image[0x8E1] > 15;
    if (used > disk && int64_t{used} * 256 > std::max<int64_t>(int64_t(length), disk * 256))
        counts[PROBLEM_BYTES_MISSING] = 1;
    counts[PROBLEM_FREE_BEFORE_FILE] = last_end > first_free;
    counts[PROBLEM_FILE_COUNT] = image[0x8E4] != entries.size();
    counts[PROBLEM_DELETED_COUNT] = image[0x8F4] != deleted;
    counts[PROBLEM_FREE_COUNT] =
        (image[0x8E5] | image[0x8E6] << 8) != std::max(0, disk - first_free);
    // An entry that, taken in the order the entries start, meets any before it.
    std::vector<size_t> order;
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].holds)
            order.push_back(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return entries[a].first < entries[b].first; });
    for (size_t k = 0; k < order.size(); ++k)
        for (size_t j = 0; j < k; ++j)
            if (entries[order[j]].end > entries[order[k]].first) {
                ++counts[PROBLEM_SHARED_SECTORS];
                break;
            }
    return counts;
}

// What the survey says of an image must agree with the reference: its
// catalogue as track 0 holds it, where the bytes past the first free
// sector lie, and how many problems of each kind verify reports.
void require_survey_agrees(const bytes& original, const image_survey& survey)
{
    bytes track0(original.begin(),
                 original.begin() + static_cast<long>(std::min<size_t>(original.size(), 4096)));
    track0.resize(4096, 0);
    const std::vector<reference_entry> entries = reference_entries(track0);
    const trd_catalogue& catalogue = survey.catalogue;
    require(catalogue.entry_count == static_cast<int>(entries.size()),
            "the catalogue ends at the first entry whose first byte is 0");
    for (size_t i = 0; i < entries.size(); ++i)
        require(entry_first(catalogue.entries[i]) == entries[i].first &&
                    entry_end(catalogue.entries[i]) == entries[i].end &&
                    catalogue.entries[i].deleted == entries[i].deleted,
                "each entry is read as track 0 holds it");

    int64_t in_files = 0, in_deleted = 0, outside = 0;
    const size_t free_offset = (size_t{track0[0x8E2]} * 16 + track0[0x8E1]) * 256;
    if (free_offset >= 4096) {
        for (size_t start = free_offset; start < original.size(); start += 256) {
            const int sector = static_cast<int>(start / 256);
            bool live = false, dead = false;
            for (const reference_entry& e : entries) {
                if (sector >= e.first && sector < e.end) {
                    live |= !e.deleted;
                    dead |= e.deleted;
                }
            }
            int64_t& owner = live ? in_files : dead ? in_deleted : outside;
            for (size_t at = start; at < start + 256 && at < original.size(); ++at)
                owner += original[at] != 0;
        }
    }
    require(survey.loses_in_files == in_files && survey.loses_in_deleted == in_deleted &&
                loses_outside(survey) == outside,
            "the survey says where the bytes past the first free sector lie");

    static image_problem problems[TRD_MAX_PROBLEMS];
    const int count = find_image_problems(catalogue, survey.length, problems, TRD_MAX_PROBLEMS);
    require(count <= TRD_MAX_PROBLEMS, "every problem fits the list");
    std::vector<int> counts(PROBLEM_SHARED_SECTORS + 1, 0);
    for (int i = 0; i < count; ++i)
        ++counts[problems[i].kind];
    require(counts == reference_problem_counts(track0, original.size()),
            "verify's verdict agrees with the reference");
}

} // namespace

// The identity of the work file, asked at these lengths.
image_identity identity_of_work_file(const identity_request& request)
{
    image_identity identity;
    FILE* file = open_stream(work_file().c_str(), "rb");
    require(file != nullptr, "the work file opens to be identified");
    require(identify_stream(file, nullptr, 0, request, &identity) == 0, "the identity pass reads");
    close_stream(file);
    return identity;
}

// The same disk at every length at or past its content end, and at no
// length below it: the file cut or padded to such a length has the same
// content and the same hash there; a length below it has no hash, and the
// file cut there is another disk.
void require_one_disk_at_every_length(const bytes& original, uint8_t choice)
{
    write_work_file(original);
    identity_request none;
    const image_identity first = identity_of_work_file(none);
    const int64_t end = first.content_end;
    const int64_t longer = end + (choice % 3 == 0 ? 0 : choice * 97);
    identity_request request;
    if (end > 0)
        request.sha1_lengths.push_back(end - 1);
    request.sha1_lengths.push_back(longer);
    const image_identity asked = identity_of_work_file(request);
    require(end == 0 || !digest_at(asked, end - 1, DIGEST_SHA1), "no hash below the content end");
    const unsigned char* at_longer = digest_at(asked, longer, DIGEST_SHA1);
    require(at_longer != nullptr, "a hash at every length from the content end");

    bytes resized_copy = original;
    resized_copy.resize(static_cast<size_t>(longer), 0);
    write_work_file(resized_copy);
    const image_identity moved = identity_of_work_file(request);
    require(moved.content_end == end &&
                std::memcmp(moved.content_sha1, first.content_sha1, DIGEST_SHA1_SIZE) == 0,
            "cut or padded to the content end or past it, the same disk");
    const unsigned char* same = digest_at(moved, longer, DIGEST_SHA1);
    require(same && std::memcmp(same, at_longer, DIGEST_SHA1_SIZE) == 0,
            "the hash at a length is the file's there, wherever it was read from");
    if (end > 0) {
        resized_copy.resize(static_cast<size_t>(end - 1));
        write_work_file(resized_copy);
        const image_identity shorter = identity_of_work_file(none);
        require(shorter.content_end < end, "cut below the content end, another disk");
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int operation = data[0] % 4;
    const bytes original(data + 1, data + size);
#ifdef KORVAT_FUZZ_MEMORY
    memory_file_faults(-1, -1);
#endif
    require_one_disk_at_every_length(original, data[0]);
#ifdef KORVAT_FUZZ_MEMORY
    // The one work file is written over, not made anew, so that its bytes
    // keep their storage from input to input.
    memory_file_faults(-1, -1);
    const fault injected = static_cast<fault>((data[0] / 4) % 3);
#else
    const fault injected = NO_FAULT;
#endif
    write_work_file(original);

#ifdef KORVAT_FUZZ_MEMORY
    if (injected == DISK_FULL)
        memory_file_faults(static_cast<int64_t>(original.size()), -1);
    else if (injected == BAD_READ)
        memory_file_faults(-1, TRD_TRACK_SIZE);
#endif
    FILE* file = open_stream(work_file().c_str(), "r+b");
    require(file != nullptr, "the work file opens for update");
    const int check = check_trd_image(file);
    const int16_t tracks = g_track_count;
    const bytes track0(g_io_buffer, g_io_buffer + TRD_TRACK_SIZE);
    // What korvat-cli reports before any change, from the same stream. In
    // memory, the file's track 0 is spoilt meanwhile: the catalogue must
    // come from the check's read, never from the file again.
    static image_survey survey;
    int surveyed = -1;
    if (check == 0 && injected == NO_FAULT) {
#ifdef KORVAT_FUZZ_MEMORY
        bytes spoilt = original;
        std::fill(spoilt.begin(), spoilt.begin() + std::min<long>(long(spoilt.size()), 4096), 0xE5);
        memory_file_put(work_file(), spoilt);
#endif
        surveyed = survey_image(file, &survey);
#ifdef KORVAT_FUZZ_MEMORY
        memory_file_put(work_file(), original);
#endif
        if (surveyed == 0)
            require_survey_agrees(original, survey);
    }
    // The survey reads through the track buffer; the operation needs track 0 there.
    std::memcpy(g_io_buffer, track0.data(), TRD_TRACK_SIZE);
    int result = 0;
    if (check == 0) {
        if (operation == 1)
            result = cut_zeros(file);
        else if (operation == 2)
            result = cut_free_sectors(file);
        else if (operation == 3)
            result = restore_size(file);
    }
    close_stream(file);
#ifdef KORVAT_FUZZ_MEMORY
    memory_file_faults(-1, -1);
#endif
    const bytes& after = work_file_content();

    if (check != 0 || operation == 0) {
        require(after == original, "a file that fails the check, or is only checked, is unchanged");
        return 0;
    }
    require(original.size() >= TRD_MIN_CHECKED_LENGTH, "a passing file reaches the identifier");
    if (surveyed == 0) {
        // The survey predicts each operation's length, and counts exactly
        // the non-zero bytes a cut at the first free sector discards.
        const size_t free_offset = static_cast<size_t>(survey.free_offset);
        size_t lost = 0;
        if (free_offset >= static_cast<size_t>(TRD_TRACK_SIZE))
            for (size_t i = free_offset; i < original.size(); ++i)
                lost += original[i] != 0;
        require(survey.cut_free_loses == static_cast<int64_t>(lost), "the survey counts the loss");
        if (operation == 1)
            require(after.size() == static_cast<size_t>(survey.cut_zeros),
                    "the survey predicts cut zeros");
        if (operation == 2 && !cut_free_refusal(survey.free_offset, survey.length))
            require(after.size() == free_offset, "the survey predicts cut free sectors");
        if (operation == 3)
            require(after.size() == static_cast<size_t>(survey.restore),
                    "the survey predicts restore");
    }
    // Cut zeros reads on past track 0; restore size takes the length from
    // the descriptor and reads nothing more.
    if (operation == 1 && injected == BAD_READ &&
        original.size() > static_cast<size_t>(TRD_TRACK_SIZE)) {
        require(result < 0 && after == original, "a failed read changes nothing");
        return 0;
    }
    if (operation == 1) {
        // Only zeros beyond track 0 go; a cut never reaches into track 0.
        require(is_resized(after, original, after.size()), "cut zeros keeps every byte before");
        for (size_t i = after.size(); i < original.size(); ++i)
            require(original[i] == 0, "cut zeros removes zeros only");
        require(after.size() >= std::min<size_t>(original.size(), TRD_TRACK_SIZE),
                "cut zeros never cuts into track 0");
        require(after.size() % TRD_SECTOR_SIZE == 0 || after.size() == original.size(),
                "cut zeros leaves whole sectors");
    } else if (operation == 2) {
        const size_t target =
            (size_t{track0[TRD_FIRST_FREE_TRACK]} * 16 + track0[TRD_FIRST_FREE_SECTOR]) * 256;
        const size_t full = static_cast<size_t>(tracks) * TRD_TRACK_SIZE;
        if (target < static_cast<size_t>(TRD_TRACK_SIZE) ||
            (target > original.size() && target > full) ||
            (injected == DISK_FULL && target > original.size()))
            require(result < 0 && after == original,
                    "a first free sector in track 0 or past the end of the disk, or a length the "
                    "disk refuses, is refused");
        else
            require(is_resized(after, original, target), "cut free sectors cuts at the target");
    } else {
        const size_t full = std::max(static_cast<size_t>(tracks) * TRD_TRACK_SIZE, original.size());
        if (injected == DISK_FULL && full > original.size())
            require(result < 0 && after == original, "a full disk keeps the file as it was");
        else
            require(is_resized(after, original, full),
                    "restore size pads with zeros to the full size and never shortens");
    }
    return 0;
}

// The status log needs a pane; the stand-in keeps its text.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_status_pane = reinterpret_cast<HWND>(&g_status_count);
    return 0;
}
