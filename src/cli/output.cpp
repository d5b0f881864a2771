// How korvat-cli writes: results to standard output, diagnostics to
// standard error, a progress line on a terminal only, and no name, however
// it is made, able to break a line, a table or a terminal.
#include "cli.h"
#include "system_text.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define korvat_isatty _isatty
#define korvat_fileno _fileno
#else
#include <fcntl.h>
#include <unistd.h>
#define korvat_isatty isatty
#define korvat_fileno fileno
#endif

namespace
{

bool g_stdout_terminal;
bool g_stderr_terminal;
// The first error a write to each stream met, 0 while none has.
int g_stdout_error;
int g_stderr_error;
bool g_pipe_closed;

// The status lines of the file in hand.
std::vector<std::string> g_file_lines;

bool g_progress_enabled;
bool g_progress_shown;
std::chrono::steady_clock::time_point g_progress_start;
std::chrono::steady_clock::time_point g_progress_drawn;

// Notes a failed write: a reader that has gone ends the run quietly, any
// other error is reported at the end.
void note_stdout(int result)
{
    if (result != EOF)
        return;
#ifdef _WIN32
    // A reader gone (korvat-cli.exe | head): the runtime may say EINVAL,
    // and the system's code says which pipe error it was.
    const bool pipe_closed = errno == EPIPE || _doserrno == ERROR_NO_DATA ||
                             _doserrno == ERROR_BROKEN_PIPE ||
                             _doserrno == ERROR_PIPE_NOT_CONNECTED;
#else
    const bool pipe_closed = errno == EPIPE;
#endif
    if (pipe_closed) {
        g_pipe_closed = true;
        g_batch_stop = true;
    } else if (g_stdout_error == 0) {
        g_stdout_error = errno ? errno : EIO;
    }
}

void note_stderr(int result)
{
    if (result < 0 && g_stderr_error == 0)
        g_stderr_error = errno ? errno : EIO;
}

// Appends a byte as \xNN.
void append_escape(std::string* out, unsigned char c)
{
    char escape[5];
    std::snprintf(escape, sizeof escape, "\\x%02X", c);
    *out += escape;
}

// The length of the well-formed UTF-8 character at text[at], 0 when the
// bytes there are not one.
size_t utf8_length(const std::string& text, size_t at)
{
    const unsigned char c = static_cast<unsigned char>(text[at]);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0)
            low = 0xA0; // no overlong forms
        if (c == 0xED)
            high = 0x9F; // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0)
            low = 0x90;
        if (c == 0xF4)
            high = 0x8F;
    }
    if (length == 0 || at + length > text.size())
        return 0;
    const unsigned char second = static_cast<unsigned char>(text[at + 1]);
    if (second < low || second > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
            return 0;
    return length;
}

} // namespace

// Control characters (C0, DEL and C1) and bytes that are no character of
// the terminal's set (UTF-8, or the locale's own) as escapes, the way ls
// shows such names: a terminal is never sent a byte that could move its
// cursor, retitle it or start a sequence.
static std::string terminal_safe(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    const bool utf8 = program_text_is_utf8();
    for (size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c == '\t' || c == '\n' || c == '\r') {
            out += c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r";
            ++at;
        } else if (c < 0x20 || c == 0x7F) {
            append_escape(&out, c);
            ++at;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++at;
        } else if (!utf8) {
            // A character set of one byte a character (KOI8-R, CP1251).
            if (printable_high_byte(c))
                out += static_cast<char>(c);
            else
                append_escape(&out, c);
            ++at;
        } else if (const size_t length = utf8_length(text, at)) {
            // U+0080 to U+009F, the C1 controls, are escaped byte by byte.
            const bool control = c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0;
            for (size_t i = 0; i < length; ++i) {
                if (control)
                    append_escape(&out, static_cast<unsigned char>(text[at + i]));
                else
                    out += text[at + i];
            }
            at += length;
        } else {
            append_escape(&out, c);
            ++at;
        }
    }
    return out;
}

std::string table_field(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += c;
            break;
        }
    }
    return out;
}

void start_output(size_t file_count)
{
    g_stdout_terminal = korvat_isatty(korvat_fileno(stdout));
    g_stderr_terminal = korvat_isatty(korvat_fileno(stderr));
#ifndef _WIN32
    // A reader that goes away is noticed in the write, not by a signal that
    // would end the run in the middle of a file.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    g_progress_enabled = file_count > 1 && g_stderr_terminal;
    g_progress_start = std::chrono::steady_clock::now();
}

void clear_progress()
{
    if (!g_progress_shown)
        return;
    note_stderr(std::fputs("\r\033[K", stderr));
    std::fflush(stderr);
    g_progress_shown = false;
}

void show_progress(size_t done, size_t total, const std::string& name)
{
    if (!g_progress_enabled)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (g_progress_shown && now - g_progress_drawn < std::chrono::milliseconds(100))
        return;
    g_progress_drawn = now;
    const double seconds = std::chrono::duration<double>(now - g_progress_start).count();
    const double rate = seconds > 0 ? static_cast<double>(g_totals.before) / seconds : 0;
    // The name's tail, so that the line fits an 80-column terminal; the cut
    // is moved to the start of a UTF-8 character.
    std::string shown = terminal_safe(name);
    if (shown.size() > 40) {
        size_t from = shown.size() - 37;
        while (from < shown.size() && (static_cast<unsigned char>(shown[from]) & 0xC0) == 0x80)
            ++from;
        shown = "..." + shown.substr(from);
    }
    // The rate with the language's decimal separator.
    char megabytes[32];
    std::snprintf(megabytes, sizeof megabytes, "%.1f", rate / 1e6);
    std::string speed = megabytes;
    // TRANSLATORS: the decimal separator in a number ("1.5").
    speed.replace(speed.find('.'), 1, tr("."));
    note_stderr(std::fprintf(
        stderr, "\r\033[K%s",
        formatted(tr("%zu/%zu files, %s MB/s, %s"), done, total, speed.c_str(), shown.c_str())
            .c_str()));
    std::fflush(stderr);
    g_progress_shown = true;
}

void print_line(const std::string& line)
{
    clear_progress();
    note_stdout(std::fputs((g_stdout_terminal ? terminal_safe(line) : line).c_str(), stdout));
    note_stdout(std::fputc('\n', stdout));
}

void report(const std::string& name, const std::string& message)
{
    clear_progress();
    note_stdout(std::fflush(stdout));
    note_stderr(std::fprintf(stderr, "korvat-cli: %s: %s\n", terminal_safe(name).c_str(),
                             terminal_safe(message).c_str()));
    // In order with standard output, wherever the two meet.
    std::fflush(stderr);
}

void begin_file()
{
    g_file_lines.clear();
}

void echo_status(const char* message)
{
    g_file_lines.push_back(message);
    if (g_options.quiet || g_options.table || g_options.command == COMMAND_VERIFY)
        return;
    print_line(message);
    note_stdout(std::fflush(stdout));
}

std::string last_status_line()
{
    return g_file_lines.empty() ? "-" : g_file_lines.back();
}

void report_failure(const std::string& name)
{
    // The status lines have just shown it, on the same terminal.
    const bool shown = !g_options.quiet && !g_options.table && g_options.command != COMMAND_VERIFY;
    if (shown && g_stdout_terminal && g_stderr_terminal)
        return;
    for (size_t i = 0; i < g_file_lines.size(); ++i) {
        const std::string& line = g_file_lines[i];
        // An operation's first line is its prefix and the name.
        const bool changes = g_options.command == COMMAND_OPERATION ||
                             g_options.command == COMMAND_CONFORM ||
                             g_options.command == COMMAND_CONVERT;
        // TRANSLATORS: the start of every dry run's line ("Dry run: 655360 bytes would become...").
        if ((i == 0 && changes) || line == tr("Done") || line.rfind(tr("Dry run:"), 0) == 0)
            continue;
        report(name, line);
    }
}

void print_summary(const std::string& line)
{
    clear_progress();
    // The list dat writes to standard output is the list alone.
    const bool list_on_output = g_options.command == COMMAND_DAT && g_options.output.empty();
    if (!g_options.table && !list_on_output) {
        print_line(line);
        return;
    }
    note_stdout(std::fflush(stdout));
    note_stderr(std::fprintf(stderr, "%s\n", line.c_str()));
}

bool output_pipe_closed()
{
    return g_pipe_closed;
}

bool finish_output()
{
    clear_progress();
    note_stdout(std::fflush(stdout));
    if (std::ferror(stdout) && g_stdout_error == 0 && !g_pipe_closed)
        g_stdout_error = EIO;
    if (g_pipe_closed) {
#ifndef _WIN32
        // Ended as a writer to a closed pipe ends: quietly, by the signal.
        std::signal(SIGPIPE, SIG_DFL);
        std::raise(SIGPIPE);
#endif
        return false;
    }
    bool ok = true;
    if (g_stdout_error != 0) {
        note_stderr(std::fprintf(
            stderr, "korvat-cli: %s\n",
            formatted(tr("write error: %s"), error_message(g_stdout_error).c_str()).c_str()));
        ok = false;
    }
    if (std::fflush(stderr) != 0 || std::ferror(stderr) || g_stderr_error != 0)
        ok = false;
    return ok;
}

// A standard stream closed when the program started: a descriptor from
// /dev/null takes its place, so that no image opened later can take its
// number and receive the output, and the run fails at the end as a write
// to it would have.
void guard_standard_streams()
{
#ifndef _WIN32
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int null = open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != descriptor) {
            dup2(null, descriptor);
            close(null);
        }
        if (descriptor == 1)
            g_stdout_error = EBADF;
        if (descriptor == 2)
            g_stderr_error = EBADF;
    }
#endif
}

std::string number(int64_t value)
{
    return std::to_string(value);
}

std::string counted(int64_t count, const char* one, const char* many)
{
    return formatted(trn(one, many, count), static_cast<long long>(count));
}

void show(const char* format, ...)
{
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    print_line(line);
}

void print_row(const std::vector<std::string>& fields)
{
    std::string line;
    for (const std::string& field : fields)
        line += (line.empty() ? "" : "\t") + table_field(field);
    print_line(line);
}

int display_width(const std::string& text)
{
    int width = 0;
    for (unsigned char c : text)
        width += (c & 0xC0) != 0x80; // each UTF-8 character once
    return width;
}

std::string padded(const std::string& text, int width, bool right)
{
    const int missing = width - display_width(text);
    if (missing <= 0)
        return text;
    return right ? std::string(size_t(missing), ' ') + text
                 : text + std::string(size_t(missing), ' ');
}
