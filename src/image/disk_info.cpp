#include "trd_image.h"

#include "file_io.h"
#include "status_log.h"

#include <cstring>

unsigned char g_io_buffer[TRD_TRACK_SIZE];
int16_t g_track_count;

bool has_trd_extension(const char* name)
{
    const size_t length = std::strlen(name);
    if (length < 4)
        return false;
    const char* extension = name + length - 4;
    for (int i = 0; i < 4; ++i) {
        const char c = extension[i];
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != ".trd"[i])
            return false;
    }
    return true;
}

int parse_disk_info()
{
    if (g_io_buffer[TRD_INFO_START] != 0x00)
        return 0;
    if (g_io_buffer[TRD_FILE_COUNT] >= 0x80)
        return 0;
    if (g_io_buffer[TRD_ID] != TRD_ID_VALUE)
        return 0;
    switch (g_io_buffer[TRD_DISK_TYPE]) {
    case 0x16: // 80 cylinders, two sides
        g_track_count = 160;
        return 1;
    case 0x17: // 40 cylinders, two sides
    case 0x18: // 80 cylinders, one side
        g_track_count = 80;
        return 1;
    case 0x19: // 40 cylinders, one side
        g_track_count = 40;
        return 1;
    default:
        return 0;
    }
}

int check_trd_image(FILE* image)
{
    // The buffer is shared across files: clear it and count the bytes read,
    // so that a short file is judged on its own bytes only.
    std::memset(g_io_buffer, 0, sizeof g_io_buffer);
    size_t count = read_stream(g_io_buffer, 1, sizeof g_io_buffer, image);
    if (!stream_failed(image) && count >= static_cast<size_t>(TRD_MIN_CHECKED_LENGTH) &&
        parse_disk_info() == 1)
        return 0;
    status_print("File is not TRD image !");
    return -1;
}
