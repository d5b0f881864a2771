// Another program writing into images while korvat-cli changes them. It
// reads korvat-cli's status lines as they come, and as soon as a line names
// one of its files (the line that begins the file), it waits a moment that
// varies from file to file, then opens that file for writing (waiting, as
// any program would, while korvat-cli holds its lease), writes the byte
// 0xFF at a fixed offset or at the end, and closes it: the write lands
// before, during or after korvat-cli's decision and change. The files no
// line named are written at the end. Prints where each byte went ("OFFSET
// NAME"), and on standard error the longest wait for an open.
// Usage: lease_writer at:OFFSET|append NAMES_FILE < STATUS_LINES
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <unistd.h>

namespace
{

bool g_append;
off_t g_offset;
double g_longest;
int g_waited; // opens that waited a millisecond or more: on a lease, as a rule

bool write_marker(const std::string& name)
{
    const unsigned char marker = 0xFF;
    const auto start = std::chrono::steady_clock::now();
    const int descriptor = open(name.c_str(), O_WRONLY | (g_append ? O_APPEND : 0));
    const double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    g_longest = waited > g_longest ? waited : g_longest;
    g_waited += waited >= 0.001;
    if (descriptor < 0) {
        std::perror(name.c_str());
        return false;
    }
    const off_t at = g_append ? lseek(descriptor, 0, SEEK_END) : g_offset;
    const ssize_t written =
        g_append ? write(descriptor, &marker, 1) : pwrite(descriptor, &marker, 1, g_offset);
    if (written != 1 || close(descriptor) != 0) {
        std::perror(name.c_str());
        return false;
    }
    std::printf("%lld %s\n", static_cast<long long>(at), name.c_str());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 ||
        (std::strcmp(argv[1], "append") != 0 && std::strncmp(argv[1], "at:", 3) != 0)) {
        std::fprintf(stderr, "usage: lease_writer at:OFFSET|append NAMES_FILE < STATUS_LINES\n");
        return 2;
    }
    g_append = std::strcmp(argv[1], "append") == 0;
    g_offset = g_append ? 0 : std::strtoll(argv[1] + 3, nullptr, 10);
    std::set<std::string> pending;
    std::ifstream names(argv[2]);
    for (std::string name; std::getline(names, name);)
        pending.insert(name);
    int failed = 0;
    // A fixed sequence of waits, so that runs can be compared.
    std::minstd_rand waits(1);
    std::uniform_int_distribution<unsigned> microseconds(0, 399);
    for (std::string line; std::getline(std::cin, line);) {
        // A line that begins a file ends with its name, after a blank.
        const size_t blank = line.rfind(' ');
        const auto found = pending.find(blank == std::string::npos ? line : line.substr(blank + 1));
        if (found == pending.end())
            continue;
        usleep(microseconds(waits));
        failed += !write_marker(*found);
        pending.erase(found);
    }
    for (const std::string& name : pending)
        failed += !write_marker(name);
    std::fprintf(stderr, "longest wait for an open: %.3f s, %d opens waited 1 ms or more\n",
                 g_longest, g_waited);
    return failed == 0 ? 0 : 1;
}
