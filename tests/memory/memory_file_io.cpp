// The core's file calls over files kept in memory (memory_file.h). A stream
// is a position in one file's bytes with the modes fopen gave it; the FILE
// pointer the core holds is that stream, never dereferenced by the core.
#include "memory_file.h"

#include "file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

namespace
{

struct memory_stream {
    memory_bytes* data;
    int64_t position;
    bool readable;
    bool writable;
    bool failed;
};

std::map<std::string, memory_bytes> g_memory_files;
int64_t g_limit = -1;
int64_t g_read_fail_from = -1;

memory_stream* stream_of(FILE* stream)
{
    return reinterpret_cast<memory_stream*>(stream);
}

} // namespace

void memory_file_put(const std::string& name, const memory_bytes& content)
{
    g_memory_files[name] = content;
}

const memory_bytes* memory_file_get(const std::string& name)
{
    auto found = g_memory_files.find(name);
    return found == g_memory_files.end() ? nullptr : &found->second;
}

void memory_files_clear()
{
    g_memory_files.clear();
    g_limit = -1;
    g_read_fail_from = -1;
}

void memory_file_faults(int64_t limit, int64_t read_fail_from)
{
    g_limit = limit;
    g_read_fail_from = read_fail_from;
}

// A test that holds both the real calls and these compiles this file with
// KORVAT_MEMORY_FILE_NAMESPACE, which puts these in namespace memory_io.
#ifdef KORVAT_MEMORY_FILE_NAMESPACE
namespace memory_io
{
#endif

bool g_open_no_follow;

// The binary modes the project uses: "rb", "r+b", "wb" and "w+b".
FILE* open_stream(const char* name, const char* mode)
{
    const bool update = std::strchr(mode, '+') != nullptr;
    memory_bytes* data = nullptr;
    if (mode[0] == 'r') {
        auto found = g_memory_files.find(name);
        if (found == g_memory_files.end()) {
            errno = ENOENT;
            return nullptr;
        }
        data = &found->second;
    } else if (mode[0] == 'w') {
        data = &g_memory_files[name];
        data->clear();
    } else {
        errno = EINVAL;
        return nullptr;
    }
    auto* stream =
        new memory_stream{data, 0, mode[0] == 'r' || update, mode[0] == 'w' || update, false};
    return reinterpret_cast<FILE*>(stream);
}

size_t read_stream(void* buffer, size_t size, size_t count, FILE* file)
{
    memory_stream* stream = stream_of(file);
    if (!stream->readable) {
        stream->failed = true;
        errno = EBADF;
        return 0;
    }
    if (size == 0 || count == 0)
        return 0;
    const int64_t length = static_cast<int64_t>(stream->data->size());
    int64_t wanted = static_cast<int64_t>(size * count);
    int64_t available = std::max<int64_t>(0, length - stream->position);
    int64_t taken = std::min(wanted, available);
    if (g_read_fail_from >= 0 && stream->position + taken > g_read_fail_from) {
        // The bytes before the bad spot arrive; the read then fails.
        taken = std::max<int64_t>(0, g_read_fail_from - stream->position);
        stream->failed = true;
        errno = EIO;
    }
    if (taken > 0)
        std::memcpy(buffer, stream->data->data() + stream->position, static_cast<size_t>(taken));
    stream->position += taken;
    return static_cast<size_t>(taken) / size;
}

size_t write_stream(const void* buffer, size_t size, size_t count, FILE* file)
{
    memory_stream* stream = stream_of(file);
    if (!stream->writable) {
        stream->failed = true;
        errno = EBADF;
        return 0;
    }
    if (size == 0 || count == 0)
        return 0;
    int64_t bytes = static_cast<int64_t>(size * count);
    bool full = false;
    if (g_limit >= 0 && stream->position + bytes > g_limit) {
        bytes = std::max<int64_t>(0, g_limit - stream->position);
        full = true;
    }
    memory_bytes& data = *stream->data;
    // A write past the end fills the gap with zeros, as a seek there and a
    // write do on a real file.
    const size_t end = static_cast<size_t>(stream->position + bytes);
    if (bytes > 0 && data.size() < end)
        data.resize(end, 0);
    if (bytes > 0)
        std::memcpy(data.data() + stream->position, buffer, static_cast<size_t>(bytes));
    stream->position += bytes;
    if (full) {
        stream->failed = true;
        errno = EFBIG;
    }
    return static_cast<size_t>(bytes) / size;
}

int set_stream_buffer(FILE*, char*, size_t)
{
    return 0;
}

int flush_stream(FILE*)
{
    return 0;
}

int close_stream(FILE* file)
{
    delete stream_of(file);
    return 0;
}

int stream_failed(FILE* file)
{
    return stream_of(file)->failed ? 1 : 0;
}

int seek_stream(FILE* file, int64_t offset, int origin)
{
    memory_stream* stream = stream_of(file);
    int64_t base = 0;
    if (origin == SEEK_CUR)
        base = stream->position;
    else if (origin == SEEK_END)
        base = static_cast<int64_t>(stream->data->size());
    else if (origin != SEEK_SET) {
        errno = EINVAL;
        return -1;
    }
    if (base + offset < 0) {
        errno = EINVAL;
        return -1;
    }
    stream->position = base + offset;
    return 0;
}

int64_t tell_stream(FILE* file)
{
    return stream_of(file)->position;
}

static int set_memory_length(FILE* file, int64_t length)
{
    memory_stream* stream = stream_of(file);
    // As ftruncate: a descriptor not open for writing, or a negative
    // length, is invalid; a length past the limit is too large.
    if (!stream->writable || length < 0) {
        errno = EINVAL;
        return -1;
    }
    if (g_limit >= 0 && length > g_limit) {
        errno = EFBIG;
        return -1;
    }
    stream->data->resize(static_cast<size_t>(length), 0);
    return 0;
}

int set_stream_length(FILE* file, int64_t length)
{
    return set_memory_length(file, length);
}

int reset_stream_length(FILE* file, int64_t length)
{
    // Nothing is held unwritten: writes reach the bytes at once.
    return set_memory_length(file, length);
}

int stream_identity(FILE* file, file_identity* identity)
{
    const memory_stream* stream = stream_of(file);
    identity->device = 0;
    identity->file = reinterpret_cast<uintptr_t>(stream->data);
    identity->size = static_cast<int64_t>(stream->data->size());
    return 0;
}

int64_t length_of_file(const char* name)
{
    const auto found = g_memory_files.find(name);
    return found == g_memory_files.end() ? -1 : static_cast<int64_t>(found->second.size());
}

int file_status(const char* name, int64_t* size, int64_t* modified)
{
    *size = length_of_file(name);
    *modified = 0;
    return *size < 0 ? -1 : 0;
}

// No other program reaches a file kept in memory.
int lease_stream(FILE*)
{
    return 0;
}

bool lease_wanted()
{
    return false;
}

// Files kept in memory need no folders.
int make_folders(const char*)
{
    return 0;
}

#ifdef KORVAT_MEMORY_FILE_NAMESPACE
} // namespace memory_io
#endif
