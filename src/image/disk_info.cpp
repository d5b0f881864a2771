#include "trd_image.h"

#include "file_io.h"
#include "messages.h"
#include "status_log.h"

#include <cstdio>
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

bool has_full_catalogue(const unsigned char* track0)
{
    return track0[TRD_FILE_COUNT] == TRD_MAX_ENTRIES;
}

int tracks_of_disk_info(const unsigned char* track0, bool full_catalogue_too)
{
    if (track0[TRD_INFO_START] != 0x00)
        return 0;
    if (track0[TRD_FILE_COUNT] >= 0x80 && !(full_catalogue_too && has_full_catalogue(track0)))
        return 0;
    if (track0[TRD_ID] != TRD_ID_VALUE)
        return 0;
    switch (track0[TRD_DISK_TYPE]) {
    case 0x16: // 80 cylinders, two sides
        return 160;
    case 0x17: // 40 cylinders, two sides
    case 0x18: // 80 cylinders, one side
        return 80;
    case 0x19: // 40 cylinders, one side
        return 40;
    default:
        return 0;
    }
}

int parse_disk_info(bool full_catalogue_too)
{
    const int tracks = tracks_of_disk_info(g_io_buffer, full_catalogue_too);
    if (tracks == 0)
        return 0;
    g_track_count = static_cast<int16_t>(tracks);
    return 1;
}

int64_t read_track0(FILE* image)
{
    // The buffer is shared across files: clear it and count the bytes read,
    // so that a short file is judged on its own bytes only.
    std::memset(g_io_buffer, 0, sizeof g_io_buffer);
    const size_t count = read_stream(g_io_buffer, 1, sizeof g_io_buffer, image);
    return stream_failed(image) ? -1 : static_cast<int64_t>(count);
}

int judge_track0(int64_t count, bool full_catalogue_too)
{
    return count >= TRD_MIN_CHECKED_LENGTH && parse_disk_info(full_catalogue_too) == 1;
}

void describe_check_failure(int64_t count, char* text, size_t size)
{
    const unsigned char* info = g_io_buffer;
    if (count < TRD_MIN_CHECKED_LENGTH)
        std::snprintf(text, size, tr("the file holds %lld bytes, wanted at least %d"),
                      static_cast<long long>(count < 0 ? 0 : count), TRD_MIN_CHECKED_LENGTH);
    else if (info[TRD_INFO_START] != 0x00)
        std::snprintf(text, size, tr("byte 0x%03X is 0x%02X, wanted 0x00"), TRD_INFO_START,
                      info[TRD_INFO_START]);
    else if (info[TRD_FILE_COUNT] >= 0x80)
        std::snprintf(text, size, tr("the file count at 0x%03X is 0x%02X, wanted below 0x80"),
                      TRD_FILE_COUNT, info[TRD_FILE_COUNT]);
    else if (info[TRD_ID] != TRD_ID_VALUE)
        std::snprintf(text, size, tr("the identifier at 0x%03X is 0x%02X, wanted 0x%02X"), TRD_ID,
                      info[TRD_ID], TRD_ID_VALUE);
    else if (info[TRD_DISK_TYPE] < 0x16 || info[TRD_DISK_TYPE] > 0x19)
        std::snprintf(text, size, tr("the disk type at 0x%03X is 0x%02X, wanted 0x16 to 0x19"),
                      TRD_DISK_TYPE, info[TRD_DISK_TYPE]);
    else if (size > 0)
        text[0] = '\0';
}

const char* not_image_text()
{
    return tr("File is not TRD image !");
}

int check_trd_image(FILE* image)
{
    if (judge_track0(read_track0(image)))
        return 0;
    status_print(not_image_text());
    return -1;
}
