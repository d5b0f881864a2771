// The C library's own stream calls, for both builds.
#include "file_io.h"

FILE* open_stream(const char* name, const char* mode)
{
    return std::fopen(name, mode);
}

size_t read_stream(void* buffer, size_t size, size_t count, FILE* stream)
{
    return std::fread(buffer, size, count, stream);
}

size_t write_stream(const void* buffer, size_t size, size_t count, FILE* stream)
{
    return std::fwrite(buffer, size, count, stream);
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
    return std::ferror(stream);
}
