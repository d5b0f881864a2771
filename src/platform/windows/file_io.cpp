#include "../file_io.h"

#include <cerrno>
#include <io.h>

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
