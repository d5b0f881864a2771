// The system's language, and texts in the program's own code page.
#pragma once

#include <string>

// The code of the user's language ("ru", "en"): on Windows the user's
// display language, elsewhere the first of LC_ALL, LC_MESSAGES and LANG
// that is set. Empty when none says.
std::string system_language();

// The language part of a locale name as LANG takes it, in lower case: "ru"
// of "ru_RU.UTF-8", "RU" or "ru"; "C" and "POSIX" name none (empty).
inline std::string language_of(const char* locale)
{
    std::string code;
    for (const char* at = locale; *at && *at != '_' && *at != '.' && *at != '@' && *at != '-'; ++at)
        code += static_cast<char>(*at >= 'A' && *at <= 'Z' ? *at - 'A' + 'a' : *at);
    return code == "c" || code == "posix" ? "" : code;
}

// A UTF-8 text in the code page the program's narrow calls and outputs use:
// on Windows the ANSI code page, elsewhere the character set of the user's
// locale (LC_ALL, LC_CTYPE, LANG), converted by the C library's iconv. False
// when that set cannot hold every character, or the system cannot convert.
bool to_program_text(const std::string& utf8, std::string* text);

// The system's own text for a C library error number, in a language ("en",
// "ru") where the system has its texts: on Windows the text of the system's
// error code behind it (the code of the call that failed, kept by the
// runtime beside errno), elsewhere the C library's catalogue, as ls shows
// it. True when the text is in that language; false when it is English
// (the system has no such texts, or they cannot be shown).
bool system_error_text(int error, const char* language, std::string* text);

// Whether the program's code page is UTF-8 (or plain ASCII); and, where it
// is not, whether a byte of 0x80 or above is a character of it that a
// terminal shows as such (not a control, not a byte the set leaves unused).
bool program_text_is_utf8();
bool printable_high_byte(unsigned char byte);
