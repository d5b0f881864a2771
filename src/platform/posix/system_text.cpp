#include "../system_text.h"

#include <cstdlib>

// The language part of a locale name: "ru" of "ru_RU.UTF-8"; "C" and
// "POSIX" name no language.
static std::string language_of(const char* locale)
{
    std::string code;
    for (const char* at = locale; *at && *at != '_' && *at != '.' && *at != '@'; ++at)
        code += *at;
    return code == "C" || code == "POSIX" ? "" : code;
}

std::string system_language()
{
    if (const char* chosen = std::getenv("KORVAT_LANG"); chosen && *chosen)
        return chosen;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(variable); value && *value)
            return language_of(value);
    return "";
}

bool to_program_text(const std::string& utf8, std::string* text)
{
    *text = utf8;
    return true;
}
