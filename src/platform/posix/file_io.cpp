#include "../file_io.h"

#include <sys/types.h>
#include <unistd.h>

static_assert(sizeof(off_t) == 8, "the native build needs 64-bit file offsets");

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
