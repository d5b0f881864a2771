// The translations carried inside the program read as GNU gettext (the C
// library's own) reads the same compiled catalogue: every text, and every
// plural form for the numbers 0 to 1,000. And English stays exactly English.
#include "messages.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <libintl.h>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;

// Every English text of a po file, as gettext's own msgexec lists them.
std::vector<std::string> texts_of(const std::string& po)
{
    std::vector<std::string> texts;
    const std::string command =
        "msgexec -i '" + po + "' sh -c 'printf \"%s\\036\" \"$MSGEXEC_MSGID\"'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return texts;
    std::string all;
    char piece[4096];
    size_t count;
    while ((count = std::fread(piece, 1, sizeof piece, pipe)) > 0)
        all.append(piece, count);
    pclose(pipe);
    for (size_t at = 0, end; (end = all.find('\036', at)) != std::string::npos; at = end + 1)
        if (end > at)
            texts.push_back(all.substr(at, end - at));
    return texts;
}

TEST(Messages, EveryTextAndPluralFormReadsAsGnuGettextReadsIt)
{
    if (!std::setlocale(LC_ALL, "ru_RU.UTF-8"))
        GTEST_SKIP() << "the ru_RU.UTF-8 locale is not made (tools/test.sh makes it)";
    // GNU gettext reads the same .mo file from a folder of its own layout.
    const fs::path folder = fs::temp_directory_path() / "korvat-messages-test";
    fs::create_directories(folder / "ru" / "LC_MESSAGES");
    fs::copy_file(fs::path(KORVAT_MO_DIR) / "ru.mo", folder / "ru" / "LC_MESSAGES" / "korvat.mo",
                  fs::copy_options::overwrite_existing);
    bindtextdomain("korvat", folder.c_str());
    bind_textdomain_codeset("korvat", "UTF-8");
    setenv("LANGUAGE", "ru", 1);

    const std::vector<std::string> texts = texts_of(std::string(KORVAT_PO_DIR) + "/ru.po");
    ASSERT_GT(texts.size(), 150u);
    set_language("ru");
    ASSERT_STREQ(current_language(), "ru");
    int compared = 0;
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        ASSERT_STREQ(tr(text.c_str()), dgettext("korvat", text.c_str()));
        for (long long n = 0; n <= 1000; ++n)
            ASSERT_STREQ(trn(text.c_str(), "-", n), dngettext("korvat", text.c_str(), "-", n)) << n;
        ++compared;
    }
    std::printf("%d texts and their plural forms for 0 to 1,000 read alike\n", compared);

    // English: every text as it is written; "1 file", "2 files".
    set_language("en");
    for (const std::string& text : texts)
        EXPECT_STREQ(tr(text.c_str()), text.c_str());
    EXPECT_STREQ(trn("%lld file", "%lld files", 1), "%lld file");
    EXPECT_STREQ(trn("%lld file", "%lld files", 0), "%lld files");
    EXPECT_EQ(grouped(1234567), "1,234,567");
    // Russian, by the number: 1, 2 to 4, 5 to 20, 21, 111.
    set_language("ru");
    const char* forms[] = {"%lld файл", "%lld файла", "%lld файлов"};
    for (long long n : {1LL, 2LL, 4LL, 5LL, 11LL, 14LL, 20LL, 21LL, 22LL, 25LL, 101LL, 111LL})
        EXPECT_STREQ(trn("%lld file", "%lld files", n), forms[plural_form("ru", n)]) << n;
    EXPECT_EQ(grouped(1234567), "1\u00a0234\u00a0567");
    set_language("xx");
    EXPECT_STREQ(current_language(), "en") << "a language with no translation is English";
    fs::remove_all(folder);
}

} // namespace
