#include "../system_text.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>

std::string system_language()
{
    if (const char* chosen = std::getenv("KORVAT_LANG"); chosen && *chosen)
        return chosen;
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
