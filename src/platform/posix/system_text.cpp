#include "../system_text.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <iconv.h>
#include <langinfo.h>
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

// The converter from UTF-8 to the character set of the user's locale, made
// at the first text; none where that set is UTF-8 (or ASCII, of which UTF-8
// is a superset for the names the program prints as they are).
static bool g_converter_made;
static iconv_t g_converter = reinterpret_cast<iconv_t>(-1);
static bool g_converter_failed;
// The other way, from that set to UTF-8: which of its bytes are characters,
// where the system has no locale for it.
static iconv_t g_back = reinterpret_cast<iconv_t>(-1);

// The user's locale name for characters: KORVAT_LANG when it names a
// character set ("ru_RU.KOI8-R"), else the first of LC_ALL, LC_CTYPE and
// LANG that is set.
static std::string character_locale_name()
{
    if (const char* chosen = std::getenv("KORVAT_LANG"); chosen && std::strchr(chosen, '.'))
        return chosen;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"})
        if (const char* value = std::getenv(variable); value && *value)
            return value;
    return "";
}

static void make_converter()
{
    g_converter_made = true;
    const std::string name = character_locale_name();
    locale_t user = newlocale(LC_CTYPE_MASK, name.c_str(), nullptr);
    std::string codeset = user ? nl_langinfo_l(CODESET, user) : "";
    if (user)
        freelocale(user);
    if (codeset.empty() || codeset == "ANSI_X3.4-1968") {
        // The C library could not read the locale (a static program reads
        // none but its own): the name says the set, "ru_RU.KOI8-R", or the
        // set cannot be known and no translated text is shown.
        if (language_of(name.c_str()).empty())
            return;
        const size_t dot = name.find('.');
        if (dot == std::string::npos) {
            g_converter_failed = true;
            return;
        }
        codeset =
            name.substr(dot + 1, name.find('@') == std::string::npos ? std::string::npos
                                                                     : name.find('@') - dot - 1);
    }
    std::string folded;
    for (char c : codeset)
        if (c != '-' && c != '_')
            folded += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (folded == "UTF8" || folded == "ANSIX3.41968" || folded == "ASCII")
        return;
    // A character the set lacks (a dash, a quotation mark) becomes its
    // nearest likeness there ("--", "<<") rather than losing the text.
    g_converter = iconv_open((codeset + "//TRANSLIT").c_str(), "UTF-8");
    // The system cannot convert to it: no translated text can be shown.
    g_converter_failed = g_converter == reinterpret_cast<iconv_t>(-1);
    if (!g_converter_failed)
        g_back = iconv_open("UTF-8", codeset.c_str());
}

bool program_text_is_utf8()
{
    if (!g_converter_made)
        make_converter();
    return g_converter == reinterpret_cast<iconv_t>(-1) && !g_converter_failed;
}

bool printable_high_byte(unsigned char byte)
{
    if (!g_converter_made)
        make_converter();
    // As the user's locale classifies the byte; where the system has no
    // such locale, a byte that is a character of its set past the C1
    // controls (U+00A0 on) is one.
    locale_t user = newlocale(LC_CTYPE_MASK, character_locale_name().c_str(), nullptr);
    if (!user) {
        if (g_back == reinterpret_cast<iconv_t>(-1))
            return false;
        char in[1] = {static_cast<char>(byte)}, out[8];
        char* from = in;
        char* to = out;
        size_t from_left = 1, to_left = sizeof out;
        iconv(g_back, nullptr, nullptr, nullptr, nullptr);
        if (iconv(g_back, &from, &from_left, &to, &to_left) == static_cast<size_t>(-1))
            return false;
        const unsigned char first = static_cast<unsigned char>(out[0]);
        return sizeof out - to_left >= 2 &&
               (first > 0xC2 || (first == 0xC2 && static_cast<unsigned char>(out[1]) >= 0xA0));
    }
    locale_t before = uselocale(user);
    const wint_t wide = btowc(byte);
    const bool printable = wide != WEOF && iswprint(wide);
    uselocale(before);
    freelocale(user);
    return printable;
}

bool to_program_text(const std::string& utf8, std::string* text)
{
    if (!g_converter_made)
        make_converter();
    if (g_converter_failed)
        return false;
    if (g_converter == reinterpret_cast<iconv_t>(-1)) {
        *text = utf8;
        return true;
    }
    // Each character takes at most four bytes in any set the locales use.
    std::string in = utf8;
    std::string out(utf8.size() * 4 + 4, '\0');
    char* from = &in[0];
    size_t from_left = in.size();
    char* to = &out[0];
    size_t to_left = out.size();
    iconv(g_converter, nullptr, nullptr, nullptr, nullptr);
    if (iconv(g_converter, &from, &from_left, &to, &to_left) == static_cast<size_t>(-1) ||
        iconv(g_converter, nullptr, nullptr, &to, &to_left) == static_cast<size_t>(-1))
        return false;
    out.resize(out.size() - to_left);
    *text = out;
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
    // No text in the catalogue, or none the user's character set can show:
    // the English one stands.
    const char* translated = strerror_l(error, locale);
    std::string shown;
    if (std::strcmp(translated, text->c_str()) == 0 || !to_program_text(translated, &shown))
        return false;
    *text = shown;
    return true;
}
