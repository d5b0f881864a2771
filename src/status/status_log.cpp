#include "status_log.h"

#include "file_io.h"
#include "messages.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

char g_status_lines[STATUS_LINE_COUNT][STATUS_LINE_SIZE];
unsigned g_status_count;
HWND g_status_pane;
void (*g_status_echo)(const char* message);

// Copies at most 255 bytes of message into a slot, always ended by a NUL.
// Where the code page is UTF-8 a character is never split: the cut moves
// back to the start of the character that would not fit whole.
static void store_message(char* slot, const char* message)
{
    if (!message)
        message = "";
    size_t length = strnlen(message, STATUS_LINE_SIZE);
    if (length == STATUS_LINE_SIZE) {
        length = STATUS_LINE_SIZE - 1;
        if (GetACP() == CP_UTF8)
            while (length > 0 && (static_cast<unsigned char>(message[length]) & 0xC0) == 0x80)
                --length;
    }
    std::memcpy(slot, message, length);
    slot[length] = '\0';
}

void status_print(const char* message)
{
    // Copy first: the caller's text may be one of the slots about to move.
    char copy[STATUS_LINE_SIZE];
    store_message(copy, message);
    if (g_status_count < STATUS_LINE_COUNT) {
        std::memcpy(g_status_lines[g_status_count], copy, STATUS_LINE_SIZE);
        ++g_status_count;
    } else {
        // All slots in use: the oldest message drops out.
        std::memmove(g_status_lines[0], g_status_lines[1],
                     (STATUS_LINE_COUNT - 1) * STATUS_LINE_SIZE);
        std::memcpy(g_status_lines[STATUS_LINE_COUNT - 1], copy, STATUS_LINE_SIZE);
    }

    // With an echo, the pane is the echo's to show: its text is set once.
    if (g_status_echo) {
        g_status_echo(message ? message : "");
        return;
    }
    // Every line ends in a lone line feed; nine full slots need 2,305 bytes.
    char text[STATUS_TEXT_SIZE];
    size_t used = 0;
    for (unsigned i = 0; i < g_status_count; ++i) {
        size_t length = std::strlen(g_status_lines[i]);
        std::memcpy(text + used, g_status_lines[i], length);
        used += length;
        text[used++] = '\n';
    }
    text[used] = '\0';
    if (g_status_pane)
        show_pane_text(g_status_pane, text);
}

void status_print_errno()
{
    status_print(error_message(errno).c_str());
}
