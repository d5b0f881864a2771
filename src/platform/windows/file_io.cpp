#include "../file_io.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cerrno>
#include <io.h>
#include <string>
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

// A name in the program's code page as the system's wide form: the wide
// calls take paths past 260 characters, where some narrow ones do not.
static bool wide_name(const char* name, std::wstring* wide)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
    if (length <= 0)
        return false;
    wide->resize(static_cast<size_t>(length));
    return MultiByteToWideChar(CP_ACP, 0, name, -1, &(*wide)[0], length) == length;
}

static bool attributes_of(const char* name, WIN32_FILE_ATTRIBUTE_DATA* data)
{
    std::wstring wide;
    return wide_name(name, &wide) &&
           GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, data);
}

int64_t length_of_file(const char* name)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!attributes_of(name, &data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        return -1;
    return static_cast<int64_t>(uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow);
}

int file_status(const char* name, int64_t* size, int64_t* modified)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!attributes_of(name, &data))
        return -1;
    *size = static_cast<int64_t>(uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow);
    // 100-nanosecond ticks since 1601, down to the second as stat gives it.
    const int64_t ticks = static_cast<int64_t>(uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 |
                                               data.ftLastWriteTime.dwLowDateTime);
    const int64_t since_1970 = ticks - 11644473600LL * 10000000;
    *modified = since_1970 >= 0 ? since_1970 / 10000000 : -((-since_1970 + 9999999) / 10000000);
    return 0;
}
