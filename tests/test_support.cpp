#include "test_support.h"

#include "batch.h"
#include "file_io.h"
#include "status_log.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

namespace fs = std::filesystem;

void TempFolderTest::SetUp()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("korvat-") + info->test_suite_name() + "-" + info->name();
    for (char& c : name)
        if (c == '/')
            c = '_';
    fs::path dir = fs::temp_directory_path() / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    folder = dir.string();
    reset_status_log();
}

void TempFolderTest::TearDown()
{
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

std::string TempFolderTest::path(const std::string& name) const
{
    return (fs::path(folder) / name).string();
}

void write_file(const std::string& path, const bytes& content)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    if (!content.empty()) {
        ASSERT_EQ(std::fwrite(content.data(), content.size(), 1, file), 1u);
    }
    ASSERT_EQ(std::fclose(file), 0);
}

bytes read_file(const std::string& path)
{
    bytes content;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        ADD_FAILURE() << "cannot open " << path;
        return content;
    }
    unsigned char piece[65536];
    size_t count;
    while ((count = std::fread(piece, 1, sizeof piece, file)) > 0)
        content.insert(content.end(), piece, piece + count);
    std::fclose(file);
    return content;
}

int64_t file_length(const std::string& path)
{
    std::error_code error;
    auto length = fs::file_size(path, error);
    return error ? -1 : static_cast<int64_t>(length);
}

bytes make_image(int32_t length, unsigned char disk_type, unsigned char files,
                 unsigned char free_track, unsigned char free_sector)
{
    bytes image(static_cast<size_t>(length), 0);
    auto put = [&](int offset, unsigned char value) {
        if (offset < length)
            image[static_cast<size_t>(offset)] = value;
    };
    put(TRD_FIRST_FREE_SECTOR, free_sector);
    put(TRD_FIRST_FREE_TRACK, free_track);
    put(TRD_DISK_TYPE, disk_type);
    put(TRD_FILE_COUNT, files);
    put(TRD_ID, TRD_ID_VALUE);
    put(0x8F5, 'K'); // disk label, outside the tested fields
    return image;
}

int check_and_run(const std::string& path, image_operation operation, size_t stream_buffer)
{
    FILE* file = open_image(path.c_str(), "r+b", stream_buffer);
    if (!file)
        return -100;
    int result = check_trd_image(file);
    if (result == 0 && operation)
        result = operation(file);
    std::fclose(file);
    return result;
}

#ifdef _WIN32
// A real static control, created once, stands in for the main window's pane.
static HWND test_pane()
{
    static HWND pane = CreateWindowExA(0, "static", "", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                       GetModuleHandleA(nullptr), nullptr);
    return pane;
}

std::string pane_text()
{
    static char text[8192];
    text[0] = '\0';
    GetWindowTextA(g_status_pane, text, sizeof text);
    return text;
}
#else
static HWND test_pane()
{
    static standin_window* pane = reinterpret_cast<standin_window*>(&g_standin_pane_text);
    return pane;
}

std::string pane_text()
{
    EXPECT_EQ(g_standin_pane_window, g_status_pane) << "text was set on another window";
    return g_standin_pane_text;
}
#endif

void reset_status_log()
{
    std::memset(g_status_lines, 0, sizeof g_status_lines);
    g_status_count = 0;
    g_status_pane = test_pane();
    SetWindowTextA(g_status_pane, "");
}

std::vector<std::string> status_history()
{
    std::vector<std::string> lines;
    for (unsigned i = 0; i < g_status_count; ++i)
        lines.emplace_back(g_status_lines[i]);
    return lines;
}

std::string error_text(int error)
{
    return error_message(error);
}

::testing::AssertionResult same_bytes(const bytes& actual, const bytes& expected)
{
    size_t common = std::min(actual.size(), expected.size());
    size_t offset = 0;
    while (offset < common && actual[offset] == expected[offset])
        ++offset;
    if (offset == common && actual.size() == expected.size())
        return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << "lengths " << actual.size() << " and " << expected.size();
    if (offset < common)
        failure << ", first difference at offset " << offset << ": " << int(actual[offset])
                << " instead of " << int(expected[offset]);
    return failure;
}

bytes resized(bytes content, size_t length)
{
    content.resize(length, 0);
    return content;
}

char** heap_names(const std::vector<std::string>& names)
{
    char** array = static_cast<char**>(std::calloc(names.size() + 1, sizeof *array));
    for (size_t i = 0; array && i < names.size(); ++i) {
        array[i] = static_cast<char*>(std::malloc(names[i].size() + 1));
        if (array[i])
            std::memcpy(array[i], names[i].c_str(), names[i].size() + 1);
    }
    return array;
}

void make_sparse_image(const std::string& file, int64_t length)
{
    write_file(file, make_image(4096));
    FILE* stream = std::fopen(file.c_str(), "r+b");
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(set_stream_length(stream, length), 0);
    std::fclose(stream);
    ASSERT_EQ(file_length(file), length);
}

int forward_zero_tail(FILE* image, zero_tail* tail)
{
    tail->length = -1;
    tail->data_end = TRD_TRACK_SIZE;
    tail->last_read = 0;
    if (seek_stream(image, 0, SEEK_END) != 0)
        return -1;
    tail->length = tell_stream(image);
    if (tail->length <= TRD_TRACK_SIZE || tail->length > TRD_MAX_LENGTH)
        return 0;
    if (seek_stream(image, TRD_TRACK_SIZE, SEEK_SET) != 0)
        return -1;
    static unsigned char piece[TRD_TRACK_SIZE];
    for (int64_t start = TRD_TRACK_SIZE;; start += TRD_TRACK_SIZE) {
        const size_t count = read_stream(piece, 1, sizeof piece, image);
        if (stream_failed(image))
            return -1;
        tail->last_read = count;
        for (size_t i = 0; i < count; ++i)
            if (piece[i] != 0)
                tail->data_end = start + static_cast<int64_t>(i) + 1;
        if (count < sizeof piece)
            return 1;
    }
}

::testing::AssertionResult scans_agree(const std::string& path, size_t buffer_size)
{
    FILE* image = open_image(path.c_str(), "rb", buffer_size);
    if (!image)
        return ::testing::AssertionFailure() << "cannot open " << path;
    zero_tail forward, backward;
    const int forward_result = forward_zero_tail(image, &forward);
    const int backward_result = scan_zero_tail(image, &backward);
    close_stream(image);
    if (forward_result == backward_result && forward.length == backward.length &&
        forward.data_end == backward.data_end && forward.last_read == backward.last_read &&
        (forward_result != 1 || zero_cut_length(&forward) == zero_cut_length(&backward)))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << path << " (stream buffer " << buffer_size << "): forward " << forward_result
           << ", length " << forward.length << ", data end " << forward.data_end << ", last read "
           << forward.last_read << "; backward " << backward_result << ", length "
           << backward.length << ", data end " << backward.data_end << ", last read "
           << backward.last_read;
}

#ifndef _WIN32
file_size_limit::file_size_limit(uint64_t bytes)
{
    struct rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    old_limit = limit.rlim_cur;
    limit.rlim_cur = bytes;
    std::signal(SIGXFSZ, SIG_IGN);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        ADD_FAILURE() << "could not limit the file size";
}

file_size_limit::~file_size_limit()
{
    struct rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = old_limit;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_DFL);
}
#endif
