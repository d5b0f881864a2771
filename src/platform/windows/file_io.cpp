#include "../file_io.h"
#include "system_path.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <string>
#include <sys/stat.h>

bool g_open_no_follow;

std::wstring wide_text(const char* text)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length) != length)
        return std::wstring();
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

bool system_path(const char* name, std::wstring* wide)
{
    *wide = wide_text(name);
    if (wide->empty())
        return false;
    if (wide->size() < MAX_PATH || wide->compare(0, 4, L"\\\\?\\") == 0)
        return true;
    // The prefixed form takes no relative part, no "." and no "/".
    const DWORD full_length = GetFullPathNameW(wide->c_str(), 0, nullptr, nullptr);
    if (full_length == 0)
        return true; // as it is: the call that uses it says what is wrong
    std::wstring full(full_length, L'\0');
    const DWORD written = GetFullPathNameW(wide->c_str(), full_length, &full[0], nullptr);
    if (written == 0 || written >= full_length)
        return true;
    full.resize(written);
    if (full.compare(0, 2, L"\\\\") == 0)
        *wide = L"\\\\?\\UNC\\" + full.substr(2);
    else
        *wide = L"\\\\?\\" + full;
    return true;
}

std::string narrow_text(const std::wstring& wide)
{
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), &text[0],
                            length, nullptr, nullptr);
    return text;
}

FILE* open_stream(const char* name, const char* mode)
{
    std::wstring wide, wide_mode;
    if (!system_path(name, &wide)) {
        errno = EINVAL;
        return nullptr;
    }
    for (const char* at = mode; *at; ++at)
        wide_mode += static_cast<wchar_t>(*at);
    // A stream that changes a file keeps other programs from writing to it
    // meanwhile, so that what was read of it is what is changed.
    const bool update = std::strchr(mode, '+') || mode[0] == 'w';
    // The system's code for a failure, kept by the runtime beside errno.
    _doserrno = 0;
    FILE* stream = _wfsopen(wide.c_str(), wide_mode.c_str(), update ? _SH_DENYWR : _SH_DENYNO);
    if (!stream) {
        // The runtime refuses a folder as it refuses a file it may not
        // open: say what it is instead.
        const int error = errno;
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        errno = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                    ? ERROR_NOT_REGULAR_FILE
                    : error;
        return nullptr;
    }
    // A device name (CON, NUL, COM1) opens as a character device and a
    // FIFO on a Linux drive as a pipe, either of which could wait for
    // input: only a file on a disk is an image.
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))) != FILE_TYPE_DISK) {
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
    _doserrno = 0;
    if (flush_stream(stream) != 0)
        return -1;
    errno_t error = _chsize_s(_fileno(stream), length);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return 0;
}

int reset_stream_length(FILE* stream, int64_t length)
{
    // The runtime empties a stream's buffer when a write of it fails, and
    // a flush that succeeds now only writes what the cut below takes away.
    std::fflush(stream);
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

static bool attributes_of(const char* name, WIN32_FILE_ATTRIBUTE_DATA* data)
{
    std::wstring wide;
    return system_path(name, &wide) &&
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
    *modified =
        unix_seconds(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
    return 0;
}

long long unix_seconds(unsigned long high, unsigned long low)
{
    // Down to the second, rounded towards the past as stat rounds.
    const int64_t ticks = static_cast<int64_t>(uint64_t{high} << 32 | low);
    const int64_t since_1970 = ticks - 11644473600LL * 10000000;
    return since_1970 >= 0 ? since_1970 / 10000000 : -((-since_1970 + 9999999) / 10000000);
}

FILE* create_new_file(const char* name)
{
    std::wstring wide;
    if (!system_path(name, &wide)) {
        errno = EINVAL;
        return nullptr;
    }
    _doserrno = 0;
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        _doserrno = error;
        errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST
                : error == ERROR_ACCESS_DENIED                              ? EACCES
                : error == ERROR_DISK_FULL                                  ? ENOSPC
                                                                            : ENOENT;
        return nullptr;
    }
    const int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    FILE* stream = descriptor >= 0 ? _fdopen(descriptor, "wb") : nullptr;
    if (!stream) {
        if (descriptor >= 0)
            _close(descriptor);
        else
            CloseHandle(handle);
        DeleteFileW(wide.c_str());
        errno = ENOMEM;
    }
    return stream;
}

int put_in_place(const char* temporary, const char* name, bool replace)
{
    std::wstring from, to;
    if (!system_path(temporary, &from) || !system_path(name, &to)) {
        errno = EINVAL;
        return -1;
    }
    _doserrno = 0;
    if (MoveFileExW(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0))
        return 0;
    const DWORD error = GetLastError();
    _doserrno = error;
    errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST : EACCES;
    return -1;
}

int remove_file(const char* name)
{
    std::wstring wide;
    if (!system_path(name, &wide) || !DeleteFileW(wide.c_str())) {
        errno = ENOENT;
        return -1;
    }
    return 0;
}

// A stream opened for a change denies other writers already (open_stream's
// share mode), and Windows has no lease to take.
int lease_stream(FILE*)
{
    return 0;
}

bool lease_wanted()
{
    return false;
}

int make_folders(const char* path)
{
    const std::string whole = path;
    for (size_t at = 0; at <= whole.size(); ++at) {
        if (at < whole.size() && whole[at] != '/' && whole[at] != '\\')
            continue;
        const std::string made = whole.substr(0, at);
        // Nothing to make for a drive ("C:"), the root or the current folder.
        if (made.empty() || made == "." || (made.size() == 2 && made[1] == ':'))
            continue;
        std::wstring wide;
        if (!system_path(made.c_str(), &wide)) {
            errno = EINVAL;
            return -1;
        }
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                errno = ENOTDIR;
                return -1;
            }
            continue;
        }
        if (!CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
            return -1;
        }
    }
    return 0;
}
