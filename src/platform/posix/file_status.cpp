// A file's status by name, apart from the stream calls, so that a build
// whose stream calls fail on demand measures files as the program does.
#include "../file_io.h"

#include <cerrno>
#include <string>
#include <sys/stat.h>

int64_t length_of_file(const char* name)
{
    // As open_stream would reach it; anything but a regular file has none.
    struct stat status;
    if ((g_open_no_follow ? lstat(name, &status) : stat(name, &status)) != 0 ||
        !S_ISREG(status.st_mode))
        return -1;
    return static_cast<int64_t>(status.st_size);
}

int file_status(const char* name, int64_t* size, int64_t* modified)
{
    struct stat status;
    if (stat(name, &status) != 0)
        return -1;
    *size = static_cast<int64_t>(status.st_size);
    *modified = static_cast<int64_t>(status.st_mtime);
    return 0;
}

int make_folders(const char* path)
{
    std::string made;
    const std::string whole = path;
    for (size_t at = 0; at <= whole.size(); ++at) {
        if (at < whole.size() && whole[at] != '/')
            continue;
        made = whole.substr(0, at);
        if (made.empty() || made == ".")
            continue;
        struct stat status;
        if (stat(made.c_str(), &status) == 0) {
            if (!S_ISDIR(status.st_mode)) {
                errno = ENOTDIR;
                return -1;
            }
            continue;
        }
        if (mkdir(made.c_str(), 0777) != 0 && errno != EEXIST)
            return -1;
    }
    return 0;
}
