// The in-memory file against the real one: the same random calls on both,
// each followed by a flush, must give the same results, error numbers,
// positions and contents; and the faults both can give (a file size limit,
// the wrong mode, a negative seek) must fail the same way.
#include "memory_file.h"
#include "test_support.h"

#include "file_io.h"

#include <cerrno>
#include <memory>
#include <random>

// The in-memory bodies, built into this test under their own namespace.
namespace memory_io
{
FILE* open_stream(const char* name, const char* mode);
size_t read_stream(void* buffer, size_t size, size_t count, FILE* stream);
size_t write_stream(const void* buffer, size_t size, size_t count, FILE* stream);
int flush_stream(FILE* stream);
int close_stream(FILE* stream);
int stream_failed(FILE* stream);
int seek_stream(FILE* stream, int64_t offset, int origin);
int64_t tell_stream(FILE* stream);
int set_stream_length(FILE* stream, int64_t length);
} // namespace memory_io

namespace
{

class MemoryFile : public TempFolderTest
{
  protected:
    void TearDown() override
    {
        if (real)
            close_both();
        memory_files_clear();
        TempFolderTest::TearDown();
    }

    // Opens the same content as a real file and as a memory file.
    void open_both(const bytes& content, const char* mode)
    {
        real_name = path("real.trd");
        write_file(real_name, content);
        memory_file_put("memory.trd", content);
        real = open_stream(real_name.c_str(), mode);
        memory = memory_io::open_stream("memory.trd", mode);
        ASSERT_NE(real, nullptr);
        ASSERT_NE(memory, nullptr);
    }

    void close_both()
    {
        close_stream(real);
        memory_io::close_stream(memory);
        real = memory = nullptr;
    }

    // Both flushed, then position, error state and whole content compared.
    void expect_same_state(const std::string& step)
    {
        SCOPED_TRACE(step);
        flush_stream(real);
        memory_io::flush_stream(memory);
        EXPECT_EQ(tell_stream(real), memory_io::tell_stream(memory));
        EXPECT_EQ(stream_failed(real) != 0, memory_io::stream_failed(memory) != 0);
        EXPECT_TRUE(same_bytes(*memory_file_get("memory.trd"), read_file(real_name)));
    }

    std::string real_name;
    FILE* real = nullptr;
    FILE* memory = nullptr;
};

// Makes one call on both streams and compares the results, and errno when
// the call failed (returned non-zero).
#define EXPECT_SAME_CALL(function, ...)                                                            \
    do {                                                                                           \
        errno = 0;                                                                                 \
        const auto real_result = function(real, __VA_ARGS__);                                      \
        const int real_errno = errno;                                                              \
        errno = 0;                                                                                 \
        const auto memory_result = memory_io::function(memory, __VA_ARGS__);                       \
        EXPECT_EQ(real_result, memory_result) << #function;                                        \
        if (real_result != 0)                                                                      \
            EXPECT_EQ(real_errno, errno) << #function;                                             \
    } while (0)

TEST_F(MemoryFile, RandomCallsGiveTheSameResultsAsARealFile)
{
    std::mt19937 random(20261207);
    for (const char* mode : {"r+b", "w+b", "rb", "wb"}) {
        bytes content(random() % 12000);
        for (unsigned char& byte : content)
            byte = static_cast<unsigned char>(random() % 3 == 0 ? random() : 0);
        open_both(content, mode);
        for (int step = 0; step < 400; ++step) {
            SCOPED_TRACE(testing::Message() << mode << ", step " << step);
            const int64_t offset = static_cast<int64_t>(random() % 20000) - 2000;
            unsigned char real_buffer[9000], memory_buffer[9000];
            const size_t size = 1 + random() % 4096;
            const size_t count = 1 + random() % 2;
            switch (random() % 5) {
            case 0: {
                const size_t real_count = read_stream(real_buffer, size, count, real);
                const size_t memory_count =
                    memory_io::read_stream(memory_buffer, size, count, memory);
                ASSERT_EQ(real_count, memory_count) << "read";
                EXPECT_EQ(bytes(real_buffer, real_buffer + real_count * size),
                          bytes(memory_buffer, memory_buffer + memory_count * size));
                // After a short read, a seek before the next, as the core does.
                if (real_count < count)
                    EXPECT_SAME_CALL(seek_stream, 0, SEEK_CUR);
                break;
            }
            case 1:
                for (size_t i = 0; i < size * count; ++i)
                    real_buffer[i] = static_cast<unsigned char>(random());
                EXPECT_EQ(write_stream(real_buffer, size, count, real),
                          memory_io::write_stream(real_buffer, size, count, memory));
                break;
            case 2:
                EXPECT_SAME_CALL(seek_stream, offset, SEEK_SET);
                break;
            case 3:
                EXPECT_SAME_CALL(seek_stream, offset - 10000, SEEK_END);
                break;
            default:
                EXPECT_SAME_CALL(set_stream_length, offset);
                break;
            }
            expect_same_state("after the call");
            // After a failure both stay failed; start clean, as the core
            // never goes on with a failed stream.
            if (stream_failed(real)) {
                close_both();
                open_both(read_file(real_name), mode[0] == 'w' ? "r+b" : mode);
            }
        }
        close_both();
    }
}

TEST_F(MemoryFile, FaultsFailTheSameWay)
{
    const bytes content = make_image(8192);
    // A name that is not there.
    errno = 0;
    EXPECT_EQ(open_stream(path("missing.trd").c_str(), "rb"), nullptr);
    const int real_errno = errno;
    EXPECT_EQ(memory_io::open_stream("missing.trd", "rb"), nullptr);
    EXPECT_EQ(errno, real_errno);

    // Writing and cutting a file opened for reading only.
    open_both(content, "rb");
    EXPECT_SAME_CALL(set_stream_length, 100);
    EXPECT_EQ(write_stream(content.data(), 10, 1, real),
              memory_io::write_stream(content.data(), 10, 1, memory));
    expect_same_state("write on a read-only stream");
    close_both();

    // A file that may not grow past 10,000 bytes: the write stops at the
    // limit and fails, and so does a length change past it.
    open_both(content, "r+b");
    auto limit = std::make_unique<file_size_limit>(10000);
    memory_file_faults(10000, -1);
    seek_stream(real, 0, SEEK_END);
    memory_io::seek_stream(memory, 0, SEEK_END);
    const bytes zeros(4096, 0);
    errno = 0;
    const bool real_written =
        write_stream(zeros.data(), zeros.size(), 1, real) == 1 && flush_stream(real) == 0;
    const int real_write_errno = errno;
    errno = 0;
    const bool memory_written = memory_io::write_stream(zeros.data(), zeros.size(), 1, memory) == 1;
    EXPECT_FALSE(real_written);
    EXPECT_FALSE(memory_written);
    EXPECT_EQ(real_write_errno, errno);
    EXPECT_SAME_CALL(set_stream_length, 20000);
    limit.reset();
    memory_file_faults(-1, -1);
    EXPECT_EQ(file_length(real_name), 10000);
    EXPECT_TRUE(same_bytes(*memory_file_get("memory.trd"), read_file(real_name)));
    close_both();
}

} // namespace
