// Fuzz target: the first byte of the input picks what runs (the check alone
// or the check and one operation), the rest is the content of a real file.
// Every input must leave the file as the data-safety rules allow; a
// violation aborts, which the fuzzer reports as a crash.
#include "file_io.h"
#include "status_log.h"
#include "trd_image.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

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

bytes read_back()
{
    bytes content;
    FILE* file = std::fopen(work_file().c_str(), "rb");
    require(file != nullptr, "the file can be read back");
    unsigned char piece[65536];
    size_t count;
    while ((count = std::fread(piece, 1, sizeof piece, file)) > 0)
        content.insert(content.end(), piece, piece + count);
    std::fclose(file);
    return content;
}

// The content cut, or padded with zeros, to a length.
bytes resized(bytes content, size_t length)
{
    content.resize(length, 0);
    return content;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int operation = data[0] % 4;
    const bytes original(data + 1, data + size);
    FILE* file = std::fopen(work_file().c_str(), "wb");
    require(file != nullptr, "the work file can be made");
    if (!original.empty())
        std::fwrite(original.data(), original.size(), 1, file);
    std::fclose(file);

    file = std::fopen(work_file().c_str(), "r+b");
    require(file != nullptr, "the work file opens for update");
    const int check = check_trd_image(file);
    const int16_t tracks = g_track_count;
    const bytes track0(g_io_buffer, g_io_buffer + TRD_TRACK_SIZE);
    if (check == 0) {
        if (operation == 1)
            cut_zeros(file);
        else if (operation == 2)
            cut_free_sectors(file);
        else if (operation == 3)
            restore_size(file);
    }
    std::fclose(file);
    const bytes after = read_back();

    if (check != 0 || operation == 0) {
        require(after == original, "a file that fails the check, or is only checked, is unchanged");
        return 0;
    }
    require(original.size() >= TRD_MIN_CHECKED_LENGTH, "a passing file reaches the identifier");
    if (operation == 1) {
        // Only zeros beyond track 0 go; a cut never reaches into track 0.
        require(after == resized(original, after.size()), "cut zeros keeps every byte before");
        for (size_t i = after.size(); i < original.size(); ++i)
            require(original[i] == 0, "cut zeros removes zeros only");
        require(after.size() >= std::min<size_t>(original.size(), TRD_TRACK_SIZE),
                "cut zeros never cuts into track 0");
        require(after.size() % TRD_SECTOR_SIZE == 0 || after.size() == original.size(),
                "cut zeros leaves whole sectors");
    } else if (operation == 2) {
        const size_t target =
            (size_t{track0[TRD_FIRST_FREE_TRACK]} * 16 + track0[TRD_FIRST_FREE_SECTOR]) * 256;
        if (target < static_cast<size_t>(TRD_TRACK_SIZE))
            require(after == original, "a first free sector in track 0 is refused");
        else
            require(after == resized(original, target), "cut free sectors cuts at the target");
    } else {
        const size_t full = static_cast<size_t>(tracks) * TRD_TRACK_SIZE;
        require(after == resized(original, std::max(full, original.size())),
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
