#include "../file_io.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cerrno>
#include <io.h>
#include <sys/stat.h>

bool g_open_no_follow;

FILE* open_stream(const char* name, const char* mode)
{
    FILE* stream = std::fopen(name, mode);
    if (!stream)
        return nullptr;
    // A device name (CON, NUL, COM1) opens as a character device, which
    // could wait for input: only a file is an image. The runtime noted the
    // kind of handle when it opened it, so asking costs no system call.
    if (_isatty(_fileno(stream))) {
        std::fclose(stream);
        errno = ERROR_NOT_REGULAR_FILE;
        return nullptr;
    }
    return stream;
}

int seek_stream(FILE* stream, int64_t offset, int origin)
{
    return _fseeki64(stream, offset, origin) == 0 ? 0 : -1;
}

int64_t tell_stream(FILE* stream)
{
    return _ftelli64(stream);
}

int set_stream_length(FILE* stream, int64_t length)
{
    if (flush_stream(stream) != 0)
        return -1;
    errno_t error = _chsize_s(_fileno(stream), length);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return 0;
}

int stream_identity(FILE* stream, file_identity* identity)
{
    // The times stand for the file number the runtime does not give; the
    // volume's number is not asked for (Wine warns where it has none).
    struct _stat64 status;
    if (_fstat64(_fileno(stream), &status) != 0)
        return -1;
    identity->device = static_cast<uint64_t>(status.st_ctime);
    identity->file = static_cast<uint64_t>(status.st_mtime);
    identity->size = static_cast<int64_t>(status.st_size);
    return 0;
}

int64_t length_of_file(const char* name)
{
    struct _stat64 status;
    if (_stat64(name, &status) != 0)
        return -1;
    return static_cast<int64_t>(status.st_size);
}
