// The texts people read, in their language. Every such text is written in
// English in the sources, marked with tr() or trn() for xgettext, and
// looked up in the translations that po/*.po give, compiled by msgfmt at
// build time and carried inside the program. Tables read by programs are
// never translated. With English (or no translation of a text) the English
// text is given exactly as it stands.
#pragma once

#include <string>

// The languages the program speaks: English always, and one for each
// po/*.po file, by its code ("ru").
enum { LANGUAGE_CODE_SIZE = 8 };

// Picks the language: KORVAT_LANG when it is set, taken as LANG takes it
// ("ru", "ru_RU.UTF-8", "RU") and when the program speaks it; else the
// system's (on Windows the user's display language; elsewhere the first of
// LC_ALL, LC_MESSAGES and LANG that is set). Any language without
// translations is English.
void choose_language();
// Picks a language by its code or locale name; English for any without
// translations.
void set_language(const char* code);
// The language in force: "en", or a translation's code.
const char* current_language();

// A text in the language in force, in the program's own code page.
const char* tr(const char* text);
// Marks a text for translation where it is written (a table of texts); tr()
// translates it where it is shown.
constexpr const char* text_to_translate(const char* text)
{
    return text;
}
// A text with a number, in the plural form the language gives that number
// ("1 file", "2 files"; "1 файл", "2 файла", "5 файлов").
const char* trn(const char* one, const char* many, long long count);

// While one stands, every text is English: the fields of a table, which
// programs read, are the same in every language.
class english_texts
{
  public:
    english_texts();
    ~english_texts();
    english_texts(const english_texts&) = delete;
    english_texts& operator=(const english_texts&) = delete;

  private:
    bool m_was_english;
};

// What is said of a name that is not a regular file, in English; tr() gives
// it in the user's language.
constexpr const char* NOT_REGULAR_FILE_TEXT = text_to_translate("Not a regular file");
// What is said of a file another program has open when it is to change.
constexpr const char* FILE_IN_USE_TEXT =
    text_to_translate("In use by another program, left as it is");

// The system's own text for an error number (errno), in the language in
// force where the system has it, English otherwise; in_language (when
// given) says which, so that a line never mixes two languages. A name that
// is not a regular file (ERROR_NOT_REGULAR_FILE) or a file in use by
// another program (ERROR_FILE_IN_USE) is the program's own text.
std::string error_message(int error, bool* in_language = nullptr);

// printf into a string.
std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A number with its thousands grouped as the language groups them: "1,234"
// in English, "1 234" in Russian.
std::string grouped(long long value);

// The plural form (0, 1 or 2) that a language gives a number; the rules of
// English and of the East Slavic languages.
int plural_form(const char* language, long long count);
