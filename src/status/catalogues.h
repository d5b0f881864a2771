// The translations carried inside the program: each po/*.po file compiled
// by msgfmt at build time, its .mo bytes in a generated source.
#pragma once

#include <cstddef>

struct embedded_catalogue {
    const char* language; // the po file's name: "ru"
    const unsigned char* bytes;
    size_t size;
};

// Ended by an entry whose language is null.
extern const embedded_catalogue g_catalogues[];
