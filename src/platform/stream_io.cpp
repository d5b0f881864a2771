// The C library's own stream calls, for both builds.
#include "file_io.h"

#include <cerrno>
#include <cstdlib>

// An image stream is only ever used by the thread that opened it, so where
// the C library has calls that skip the stream's lock (glibc), reads,
// writes and the error test use them: a scan or a restore makes one call
// per 4,096-byte piece, and a lock taken and let go on each of 160 pieces
// adds up to several microseconds a disk.
size_t read_stream(void* buffer, size_t size, size_t count, FILE* stream)
{
#if defined(__GLIBC__)
    return fread_unlocked(buffer, size, count, stream);
#else
    return std::fread(buffer, size, count, stream);
#endif
}

size_t write_stream(const void* buffer, size_t size, size_t count, FILE* stream)
{
#if defined(__GLIBC__)
    return fwrite_unlocked(buffer, size, count, stream);
#elif defined(_WIN32)
    // A write the disk had room for only in part fails with no code from
    // the system behind it (Wine's runtime then says EINVAL): that is a
    // full disk, and is said so.
    _doserrno = 0;
    const size_t written = std::fwrite(buffer, size, count, stream);
    if (written < count && _doserrno == 0) {
        errno = ENOSPC;
        _doserrno = 112; // ERROR_DISK_FULL
    }
    return written;
#else
    return std::fwrite(buffer, size, count, stream);
#endif
}

int set_stream_buffer(FILE* stream, char* buffer, size_t size)
{
    return std::setvbuf(stream, buffer, _IOFBF, size);
}

int flush_stream(FILE* stream)
{
    return std::fflush(stream);
}

int close_stream(FILE* stream)
{
    return std::fclose(stream);
}

int stream_failed(FILE* stream)
{
#if defined(__GLIBC__)
    return ferror_unlocked(stream);
#else
    return std::ferror(stream);
#endif
}
