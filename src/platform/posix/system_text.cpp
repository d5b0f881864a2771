#include "../system_text.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>
#include <vector>

std::string system_language()
{
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

// The locales the C library's catalogue is read in: messages of a
// language, their text in UTF-8 whatever the user's character set (the
// program converts its output itself). Made once per language; null where
// the system has no locale of that language.
struct messages_locale_entry {
    char language[8];
    locale_t locale;
};
// Plain data, so that the locales stay reachable to the end of the program.
static messages_locale_entry g_messages_locales[8];

static locale_t messages_locale(const std::string& language)
{
    messages_locale_entry* free_entry = nullptr;
    for (messages_locale_entry& entry : g_messages_locales) {
        if (language == entry.language)
            return entry.locale;
        if (!free_entry && !entry.language[0])
            free_entry = &entry;
    }
    std::vector<std::string> names;
    // The user's own locale first, when it is of that language.
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) {
            if (language_of(value) == language)
                names.push_back(value);
            break;
        }
    }
    std::string region = language;
    for (char& c : region)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    names.push_back(language + "_" + region + ".UTF-8");
    names.push_back(language + "_" + region + ".utf8");
    locale_t locale = nullptr;
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    for (size_t k = 0; utf8 && !locale && k < names.size(); ++k)
        locale = newlocale(LC_MESSAGES_MASK, names[k].c_str(), utf8); // takes utf8 over
    if (!locale && utf8)
        freelocale(utf8);
    if (free_entry && language.size() < sizeof free_entry->language) {
        std::memcpy(free_entry->language, language.c_str(), language.size() + 1);
        free_entry->locale = locale;
    }
    return locale;
}

bool system_error_text(int error, const char* language, std::string* text)
{
    static locale_t english = newlocale(LC_ALL_MASK, "C", nullptr);
    *text = english ? strerror_l(error, english) : std::strerror(error);
    if (!language || std::strcmp(language, "en") == 0)
        return true;
    locale_t locale = messages_locale(language);
    if (!locale)
        return false;
    // The catalogue has no text for it: the English one stands.
    const char* translated = strerror_l(error, locale);
    if (std::strcmp(translated, text->c_str()) == 0)
        return false;
    *text = translated;
    return true;
}
