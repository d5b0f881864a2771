// The floor of cutting a collection's zero tails: for each line "NAME
// LENGTH" on standard input, the read that no scan can skip (every byte from
// the block holding the end of the data to the end of the file, in one read)
// and the length change to LENGTH, through the same stream calls the
// program uses. Prints the time taken.
#include "file_io.h"
#include "trd_image.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main()
{
    struct cut {
        std::string name;
        int64_t length;
    };
    std::vector<cut> cuts;
    char line[4096];
    while (std::fgets(line, sizeof line, stdin)) {
        std::string text = line;
        const size_t blank = text.rfind(' ');
        if (blank == std::string::npos)
            continue;
        cuts.push_back({text.substr(0, blank), std::atoll(text.c_str() + blank + 1)});
    }
    static unsigned char tail[TRD_MAX_DISK_SIZE];
    const auto start = std::chrono::steady_clock::now();
    for (const cut& file : cuts) {
        FILE* image = open_stream(file.name.c_str(), "r+b");
        if (!image)
            return 1;
        // The block the data ends in, as the scan reads from the end.
        const int64_t from = (file.length - 1) / TRD_SCAN_BLOCK_SIZE * TRD_SCAN_BLOCK_SIZE;
        if (from < 0 || seek_stream(image, from, SEEK_SET) != 0)
            return 1;
        read_stream(tail, 1, sizeof tail, image);
        if (stream_failed(image) || set_stream_length(image, file.length) != 0)
            return 1;
        close_stream(image);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f\n", seconds);
    return 0;
}
