// Fuzz target: the first byte of the input picks what runs (the check alone
// or the check and one operation) and, in the in-memory build, a fault; the
// rest is the content of the file. Every input must leave the file as the
// data-safety rules allow; a violation aborts, which the fuzzer reports as
// a crash. The same source builds over real files (fuzz_image_file) and over
// files in memory (fuzz_image, many times faster); the file is made and read
// back through the core's own file calls, so each build uses its own.
#include "file_io.h"
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int operation = data[0] % 4;
    const bytes original(data + 1, data + size);
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
    // What korvat-cli reports before any change, from the same stream.
    image_survey survey = {};
    const int surveyed = check == 0 && injected == NO_FAULT ? survey_image(file, &survey) : -1;
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
        if (operation == 2 && free_offset >= static_cast<size_t>(TRD_TRACK_SIZE))
            require(after.size() == free_offset, "the survey predicts cut free sectors");
        if (operation == 3)
            require(after.size() == static_cast<size_t>(survey.restore),
                    "the survey predicts restore");
    }
    // Both cut zeros and restore size read on past track 0.
    if ((operation == 1 || operation == 3) && injected == BAD_READ &&
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
        if (target < static_cast<size_t>(TRD_TRACK_SIZE) ||
            (injected == DISK_FULL && target > original.size()))
            require(result < 0 && after == original,
                    "a first free sector in track 0, or a length the disk refuses, is refused");
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
