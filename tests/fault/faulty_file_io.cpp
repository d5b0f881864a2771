// The core's file calls with a failure injected at a chosen call number.
// Each failure sets errno as the C library would: EIO for reads, seeks,
// tells, opens and length changes, ENOSPC for writes and flushes.
#include "fault_injection.h"
#include "file_io.h"

#include <cerrno>
#include <iterator>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

int g_fault_at;
bool g_fault_persistent;
int g_fault_calls;
int g_fault_injected;
const char* g_fault_first_call = "";
const char* g_fault_last_call = "";

// Streams whose read or write was failed here; ferror does not know them.
static FILE* g_failed_streams[16];

void reset_faults(int at, bool persistent)
{
    g_fault_at = at;
    g_fault_persistent = persistent;
    g_fault_calls = 0;
    g_fault_injected = 0;
    g_fault_first_call = "";
    g_fault_last_call = "";
    for (FILE*& stream : g_failed_streams)
        stream = nullptr;
}

// Counts a call; true when this one is to fail, with errno set.
static bool inject(const char* call, int error)
{
    ++g_fault_calls;
    const bool fail = g_fault_at > 0 && (g_fault_calls == g_fault_at ||
                                         (g_fault_persistent && g_fault_calls > g_fault_at));
    if (!fail)
        return false;
    if (g_fault_injected++ == 0)
        g_fault_first_call = call;
    g_fault_last_call = call;
    errno = error;
    return true;
}

static void mark_failed(FILE* stream, bool failed)
{
    for (FILE*& entry : g_failed_streams) {
        if (failed && !entry) {
            entry = stream;
            return;
        }
        if (!failed && entry == stream)
            entry = nullptr;
    }
}

bool g_open_no_follow;
void (*g_fault_before_update_open)(const char* name);

FILE* open_stream(const char* name, const char* mode)
{
    if (g_fault_before_update_open && mode[1] == '+')
        g_fault_before_update_open(name);
    if (inject("open", EIO))
        return nullptr;
    FILE* stream = std::fopen(name, mode);
    if (stream)
        mark_failed(stream, false);
    return stream;
}

size_t read_stream(void* buffer, size_t size, size_t count, FILE* stream)
{
    if (inject("read", EIO)) {
        mark_failed(stream, true);
        return 0;
    }
    return std::fread(buffer, size, count, stream);
}

size_t write_stream(const void* buffer, size_t size, size_t count, FILE* stream)
{
    if (inject("write", ENOSPC)) {
        mark_failed(stream, true);
        return 0;
    }
    return std::fwrite(buffer, size, count, stream);
}

int set_stream_buffer(FILE* stream, char* buffer, size_t size)
{
    return std::setvbuf(stream, buffer, _IOFBF, size);
}

int flush_stream(FILE* stream)
{
    if (inject("flush", ENOSPC))
        return EOF;
    return std::fflush(stream);
}

int close_stream(FILE* stream)
{
    mark_failed(stream, false);
    return std::fclose(stream);
}

int stream_failed(FILE* stream)
{
    for (FILE* entry : g_failed_streams)
        if (entry == stream)
            return 1;
    return std::ferror(stream);
}

int seek_stream(FILE* stream, int64_t offset, int origin)
{
    if (inject("seek", EIO))
        return -1;
    return fseeko(stream, static_cast<off_t>(offset), origin) == 0 ? 0 : -1;
}

int64_t tell_stream(FILE* stream)
{
    if (inject("tell", EIO))
        return -1;
    return ftello(stream);
}

int set_stream_length(FILE* stream, int64_t length)
{
    if (inject("set-length", EIO))
        return -1;
    if (std::fflush(stream) != 0)
        return -1;
    return ftruncate(fileno(stream), static_cast<off_t>(length)) == 0 ? 0 : -1;
}

int reset_stream_length(FILE* stream, int64_t length)
{
    if (inject("set-length", EIO))
        return -1;
    __fpurge(stream);
    return ftruncate(fileno(stream), static_cast<off_t>(length)) == 0 ? 0 : -1;
}

int stream_identity(FILE* stream, file_identity* identity)
{
    if (inject("identity", EIO))
        return -1;
    struct stat status;
    if (fstat(fileno(stream), &status) != 0)
        return -1;
    identity->device = static_cast<uint64_t>(status.st_dev);
    identity->file = static_cast<uint64_t>(status.st_ino);
    identity->size = static_cast<int64_t>(status.st_size);
    return 0;
}
