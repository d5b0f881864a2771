// The system's language, and texts in the program's own code page.
#pragma once

#include <string>

// The code of the user's language ("ru", "en"), from KORVAT_LANG when it is
// set; else on Windows the user's display language, elsewhere the first of
// LC_ALL, LC_MESSAGES and LANG that is set. Empty when none says.
std::string system_language();

// A UTF-8 text in the code page the program's narrow calls and outputs use:
// on Windows the ANSI code page, elsewhere UTF-8 as it is. False when the
// code page cannot hold every character.
bool to_program_text(const std::string& utf8, std::string* text);
