// Windows build: names as the system's wide calls take them, at any length.
#pragma once

#include <string>

// A name in the program's code page as a wide path for the system's calls:
// a path past 259 characters is made absolute and given the "\\?\" prefix
// (or "\\?\UNC\" for a share), which every Windows version takes at any
// length. False when the name cannot be converted.
bool system_path(const char* name, std::wstring* wide);

// A wide text (a name from a folder's listing) in the program's code page,
// and a text in the program's code page in the system's wide form (empty
// when it cannot be converted).
std::string narrow_text(const std::wstring& wide);
std::wstring wide_text(const char* text);

// A file time (100-nanosecond ticks since 1601, in two halves) as whole
// seconds since 1970, as stat gives it.
long long unix_seconds(unsigned long high, unsigned long low);

// The system's own words for a Windows error code, without the full stop
// and line break it ends with, in a language ("en", "ru") where Windows has
// them: true then, false when they are English.
bool system_code_text(unsigned long code, const char* language, std::string* text);
