// Texts in the user's language, from the translations compiled by msgfmt
// and carried inside the program.
#include "messages.h"

#include "catalogues.h"
#include "file_io.h"
#include "system_text.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace
{

char g_language[LANGUAGE_CODE_SIZE] = "en";
// Set while a table is being made.
bool g_english_only;
// Each English text (the singular, for a text with plurals) and its
// translation in the program's code page: the forms of a plural one after
// another, each ended by a NUL.
std::unordered_map<std::string, std::string> g_translations;

// A 32-bit number of a .mo file, in the byte order its magic number says.
uint32_t word_at(const unsigned char* bytes, size_t offset, bool swapped)
{
    uint32_t value;
    std::memcpy(&value, bytes + offset, sizeof value);
    if (swapped)
        value = (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
    return value;
}

// Takes the strings of a .mo file as msgfmt writes them: a table of the
// English texts and one of their translations, each entry a length and an
// offset. Every offset is checked against the size. False, with nothing
// taken, when the file is not one or a translation cannot be shown in the
// program's code page.
bool take_catalogue(const embedded_catalogue& catalogue,
                    std::unordered_map<std::string, std::string>* table)
{
    const unsigned char* bytes = catalogue.bytes;
    const size_t size = catalogue.size;
    if (size < 20)
        return false;
    uint32_t magic;
    std::memcpy(&magic, bytes, sizeof magic);
    const bool swapped = magic == 0xde120495u;
    if (magic != 0x950412deu && !swapped)
        return false;
    const uint32_t count = word_at(bytes, 8, swapped);
    const uint32_t originals = word_at(bytes, 12, swapped);
    const uint32_t translations = word_at(bytes, 16, swapped);
    auto string_at = [&](uint32_t table_offset, uint32_t index, std::string* text) {
        const uint64_t entry = uint64_t{table_offset} + uint64_t{index} * 8;
        if (entry + 8 > size)
            return false;
        const uint32_t length = word_at(bytes, size_t(entry), swapped);
        const uint32_t offset = word_at(bytes, size_t(entry) + 4, swapped);
        if (uint64_t{offset} + length > size)
            return false;
        text->assign(reinterpret_cast<const char*>(bytes) + offset, length);
        return true;
    };
    table->clear();
    for (uint32_t i = 0; i < count; ++i) {
        std::string original, translation, shown;
        if (!string_at(originals, i, &original) || !string_at(translations, i, &translation))
            return false;
        if (original.empty())
            continue; // the header
        // A text with plurals is "one\0many"; it is looked up by the first.
        original.resize(std::strlen(original.c_str()));
        // Each form in the program's code page, NULs kept between them.
        std::string converted;
        for (size_t at = 0; at <= translation.size();) {
            const size_t end = translation.find('\0', at);
            const std::string form =
                translation.substr(at, end == std::string::npos ? std::string::npos : end - at);
            if (!to_program_text(form, &shown))
                return false;
            converted += shown;
            if (end == std::string::npos)
                break;
            converted += '\0';
            at = end + 1;
        }
        (*table)[original] = converted;
    }
    return true;
}

// The forms of a translation, or null when there is none.
const std::string* translation_of(const char* text)
{
    if (g_translations.empty() || g_english_only)
        return nullptr;
    const auto found = g_translations.find(text);
    if (found == g_translations.end() || found->second.empty())
        return nullptr;
    return &found->second;
}

} // namespace

// Takes the translations of a language; false, leaving English, when the
// program has none (or they cannot be shown in its code page).
static bool take_language(const std::string& code)
{
    std::snprintf(g_language, sizeof g_language, "en");
    g_translations.clear();
    if (code == "en")
        return true;
    for (const embedded_catalogue* catalogue = g_catalogues; catalogue->language; ++catalogue) {
        if (code != catalogue->language)
            continue;
        std::unordered_map<std::string, std::string> table;
        if (!take_catalogue(*catalogue, &table))
            return false;
        g_translations.swap(table);
        std::snprintf(g_language, sizeof g_language, "%s", catalogue->language);
        return true;
    }
    return false;
}

void set_language(const char* code)
{
    take_language(language_of(code));
}

english_texts::english_texts() : m_was_english(g_english_only)
{
    g_english_only = true;
}

english_texts::~english_texts()
{
    g_english_only = m_was_english;
}

void choose_language()
{
    // KORVAT_LANG as LANG takes it ("ru", "ru_RU.UTF-8", "RU"); one the
    // program has no translations for leaves the system's language.
    const char* chosen = std::getenv("KORVAT_LANG");
    if (chosen && *chosen && take_language(language_of(chosen)))
        return;
    take_language(system_language());
}

std::string error_message(int error, bool* in_language)
{
    std::string text;
    bool translated = true;
    if (error == ERROR_NOT_REGULAR_FILE)
        text = tr(NOT_REGULAR_FILE_TEXT);
    else if (error == ERROR_FILE_IN_USE)
        text = tr(FILE_IN_USE_TEXT);
    else
        translated = system_error_text(error, g_english_only ? "en" : g_language, &text);
    if (in_language)
        *in_language = translated;
    return text;
}

const char* current_language()
{
    return g_language;
}

const char* tr(const char* text)
{
    const std::string* translation = translation_of(text);
    return translation ? translation->c_str() : text;
}

const char* trn(const char* one, const char* many, long long count)
{
    const std::string* translation = translation_of(one);
    if (!translation)
        return count == 1 ? one : many;
    // The form the language gives the number, when the translation has it.
    const char* form = translation->c_str();
    const char* end = form + translation->size();
    for (int index = plural_form(g_language, count); index > 0 && form < end; --index)
        form += std::strlen(form) + 1;
    return form < end ? form : translation->c_str();
}

std::string formatted(const char* format, ...)
{
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

std::string grouped(long long value)
{
    // TRANSLATORS: the thousands separator in a grouped number ("1,234").
    const std::string separator = tr(",");
    std::string digits = std::to_string(value < 0 ? -value : value);
    for (size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, separator);
    return value < 0 ? "-" + digits : digits;
}

int plural_form(const char* language, long long count)
{
    const unsigned long long n = count < 0 ? 0ULL - static_cast<unsigned long long>(count)
                                           : static_cast<unsigned long long>(count);
    // Russian, Ukrainian, Belarusian: 1, 21, 101; 2 to 4, 22 to 24; the rest.
    if (std::strcmp(language, "ru") == 0 || std::strcmp(language, "uk") == 0 ||
        std::strcmp(language, "be") == 0)
        return n % 10 == 1 && n % 100 != 11                                    ? 0
               : n % 10 >= 2 && n % 10 <= 4 && (n % 100 < 10 || n % 100 >= 20) ? 1
                                                                               : 2;
    return n == 1 ? 0 : 1;
}
