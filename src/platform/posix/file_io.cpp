#include "../file_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static_assert(sizeof(off_t) == 8, "the native build needs 64-bit file offsets");

bool g_open_no_follow;

FILE* open_stream(const char* name, const char* mode)
{
    // The modes the project uses: "rb", "r+b", "wb", "w+b".
    const bool update = std::strchr(mode, '+') != nullptr;
    int flags = update ? O_RDWR : (mode[0] == 'r' ? O_RDONLY : O_WRONLY);
    if (mode[0] == 'w')
        flags |= O_CREAT | O_TRUNC;
    // Not blocking: a FIFO opens at once whether or not it has a writer,
    // and is then refused below instead of waited on.
    const int descriptor =
        open(name, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (g_open_no_follow ? O_NOFOLLOW : 0),
             0666);
    if (descriptor < 0) {
        // A link (when not followed), or a folder opened to be written.
        if ((g_open_no_follow && errno == ELOOP) || errno == EISDIR)
            errno = ERROR_NOT_REGULAR_FILE;
        return nullptr;
    }
    // A regular file takes no notice of O_NONBLOCK, so it stays set.
    struct stat status;
    int error = 0;
    if (fstat(descriptor, &status) != 0)
        error = errno;
    else if (!S_ISREG(status.st_mode))
        error = ERROR_NOT_REGULAR_FILE;
    FILE* stream = error ? nullptr : fdopen(descriptor, mode);
    if (!stream) {
        if (!error)
            error = errno;
        close(descriptor);
        errno = error;
    }
    return stream;
}

int seek_stream(FILE* stream, int64_t offset, int origin)
{
    return fseeko(stream, static_cast<off_t>(offset), origin) == 0 ? 0 : -1;
}

int64_t tell_stream(FILE* stream)
{
    return ftello(stream);
}

int set_stream_length(FILE* stream, int64_t length)
{
    if (flush_stream(stream) != 0)
        return -1;
    return ftruncate(fileno(stream), static_cast<off_t>(length)) == 0 ? 0 : -1;
}

int reset_stream_length(FILE* stream, int64_t length)
{
    __fpurge(stream);
    return ftruncate(fileno(stream), static_cast<off_t>(length)) == 0 ? 0 : -1;
}

int stream_identity(FILE* stream, file_identity* identity)
{
    struct stat status;
    if (fstat(fileno(stream), &status) != 0)
        return -1;
    identity->device = static_cast<uint64_t>(status.st_dev);
    identity->file = static_cast<uint64_t>(status.st_ino);
    identity->size = static_cast<int64_t>(status.st_size);
    return 0;
}

FILE* create_new_file(const char* name)
{
    const int descriptor = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0)
        return nullptr;
    FILE* stream = fdopen(descriptor, "wb");
    if (!stream) {
        const int error = errno;
        close(descriptor);
        unlink(name);
        errno = error;
    }
    return stream;
}

int put_in_place(const char* temporary, const char* name, bool replace)
{
    if (replace)
        return rename(temporary, name) == 0 ? 0 : -1;
    // A new name for the file, which fails where the name is taken; then
    // the temporary name goes.
    if (link(temporary, name) != 0)
        return -1;
    unlink(temporary);
    return 0;
}

int remove_file(const char* name)
{
    return unlink(name) == 0 ? 0 : -1;
}
