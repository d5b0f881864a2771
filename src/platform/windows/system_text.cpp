#include "../system_text.h"
#include "system_path.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

std::string system_language()
{
    // The language Windows shows its own texts in, which the user picks.
    switch (PRIMARYLANGID(GetUserDefaultUILanguage())) {
    case LANG_RUSSIAN:
        return "ru";
    case LANG_ENGLISH:
        return "en";
    default:
        return "";
    }
}

bool to_program_text(const std::string& utf8, std::string* text)
{
    text->clear();
    if (utf8.empty())
        return true;
    const int wide_length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                                int(utf8.size()), nullptr, 0);
    if (wide_length <= 0)
        return false;
    std::wstring wide(size_t(wide_length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], wide_length);
    const UINT code_page = GetACP();
    if (code_page == CP_UTF8) {
        *text = utf8;
        return true;
    }
    BOOL lossy = FALSE;
    const int length = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide.data(),
                                           wide_length, nullptr, 0, nullptr, &lossy);
    if (length <= 0 || lossy)
        return false;
    text->resize(size_t(length));
    WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide.data(), wide_length, &(*text)[0],
                        length, nullptr, nullptr);
    return true;
}

// The language of a code ("ru") as Windows names it; English otherwise.
static LANGID language_id(const char* language)
{
    if (language && std::strcmp(language, "ru") == 0)
        return MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);
    return MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

// The system's text for a code in one language, UTF-8, without the full
// stop and line break it ends with; empty when it has none.
static std::string text_for_code(unsigned long code, LANGID language)
{
    wchar_t wide[512];
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       language, wide, sizeof wide / sizeof wide[0], nullptr);
    std::wstring message(wide, length);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.'))
        message.pop_back();
    if (message.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, message.c_str(), int(message.size()), nullptr,
                                         0, nullptr, nullptr);
    std::string utf8(size > 0 ? size_t(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, message.c_str(), int(message.size()), &utf8[0], size,
                            nullptr, nullptr);
    return utf8;
}

bool system_code_text(unsigned long code, const char* language, std::string* text)
{
    const LANGID wanted = language_id(language);
    const LANGID english = language_id("en");
    std::string utf8 = text_for_code(code, wanted);
    bool in_language = !utf8.empty() && to_program_text(utf8, text);
    if (!in_language) {
        // Windows without that language's texts: its English ones.
        utf8 = text_for_code(code, english);
        if (utf8.empty())
            utf8 = "Error " + std::to_string(code);
        to_program_text(utf8, text);
    }
    return in_language || wanted == english;
}

// The system's code for an error number the runtime set without one.
static unsigned long code_for_error(int error)
{
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
        return ERROR_ACCESS_DENIED;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case EMFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EFBIG:
        return ERROR_FILE_TOO_LARGE;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EPIPE:
        return ERROR_BROKEN_PIPE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    default:
        return 0;
    }
}

bool system_error_text(int error, const char* language, std::string* text)
{
    // The code of the call that failed, when the runtime kept one; it is
    // taken once.
    unsigned long code = _doserrno;
    _doserrno = 0;
    if (code == 0)
        code = code_for_error(error);
    if (code != 0)
        return system_code_text(code, language, text);
    *text = std::strerror(error);
    return !language || std::strcmp(language, "en") == 0;
}

bool program_text_is_utf8()
{
    return GetACP() == CP_UTF8;
}

bool printable_high_byte(unsigned char)
{
    // Windows' ANSI code pages use every byte from 0x80 up for characters.
    return true;
}
