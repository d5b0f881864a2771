#include "status_log.h"
#include "system_text.h"

#include "test_support.h"

#include <algorithm>
#include <cerrno>
#include <string>

namespace
{

class StatusLog : public ::testing::Test
{
  protected:
    void SetUp() override { reset_status_log(); }
};

TEST_F(StatusLog, FirstMessageShowsAsOneLineWithLineFeed)
{
    EXPECT_EQ(pane_text(), "");
    status_print("Done");
    EXPECT_EQ(g_status_count, 1u);
    EXPECT_EQ(pane_text(), "Done\n");
}

TEST_F(StatusLog, NineMessagesFillThenTheOldestIsPushedOut)
{
    std::string expected;
    for (int i = 1; i <= 9; ++i) {
        std::string message = "message " + std::to_string(i);
        status_print(message.c_str());
        expected += message + "\n";
        EXPECT_EQ(pane_text(), expected) << "after message " << i;
    }
    status_print("message 10");
    EXPECT_EQ(g_status_count, 9u);
    expected = "";
    for (int i = 2; i <= 10; ++i)
        expected += "message " + std::to_string(i) + "\n";
    EXPECT_EQ(pane_text(), expected);

    // Thirty more keep exactly the last nine, in order.
    for (int i = 11; i <= 40; ++i)
        status_print(("message " + std::to_string(i)).c_str());
    std::vector<std::string> history = status_history();
    ASSERT_EQ(history.size(), 9u);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(history[i], "message " + std::to_string(32 + i));
}

TEST_F(StatusLog, EmptyAndNullMessagesTakeASlotAsEmptyLines)
{
    status_print("a");
    status_print("");
    status_print(nullptr);
    status_print("b");
    EXPECT_EQ(g_status_count, 4u);
    EXPECT_EQ(pane_text(), "a\n\n\nb\n");
}

TEST_F(StatusLog, LongMessagesAreCutTo255CharactersWithoutTouchingTheNextSlot)
{
    const std::string exact(255, 'x');
    const std::string longer = std::string(255, 'y') + std::string(1000, 'z');
    status_print(exact.c_str());
    status_print(longer.c_str());
    status_print("after");
    EXPECT_EQ(std::string(g_status_lines[0]), exact);
    EXPECT_EQ(std::string(g_status_lines[1]), std::string(255, 'y'));
    EXPECT_EQ(std::string(g_status_lines[2]), "after");

    // Nine full slots still fit the joined text.
    for (int i = 0; i < 9; ++i)
        status_print(longer.c_str());
    std::string expected;
    for (int i = 0; i < 9; ++i)
        expected += std::string(255, 'y') + "\n";
    EXPECT_EQ(pane_text(), expected);
}

#ifndef _WIN32
// The native stand-in lets the test choose the code page.
TEST_F(StatusLog, UTF8MessagesAreCutAtTheLastWholeCharacterThatFits)
{
    // Characters of 2, 3 and 4 bytes, each set at every place around the
    // 255-byte edge: the kept text is the longest whole-character prefix.
    for (const std::string character : {"д", "デ", "😀"}) {
        for (size_t pad = 250; pad <= 256; ++pad) {
            const std::string message = std::string(pad, 'a') + character + character;
            SCOPED_TRACE(testing::Message() << character << " after " << pad << " bytes");
            reset_status_log();
            status_print(message.c_str());
            std::string kept = g_status_lines[0];
            size_t expected = std::min<size_t>(pad, 255);
            while (expected + character.size() <= std::min<size_t>(message.size(), 255))
                expected += character.size();
            EXPECT_EQ(kept, message.substr(0, expected));
        }
    }
    // Under a single-byte code page every byte is a character: cut at 255.
    g_standin_code_page = 1251;
    reset_status_log();
    const std::string cyrillic_1251(300, '\xE4');
    status_print(cyrillic_1251.c_str());
    g_standin_code_page = CP_UTF8;
    EXPECT_EQ(std::string(g_status_lines[0]), std::string(255, '\xE4'));
}
#endif

TEST_F(StatusLog, AMessageTakenFromTheHistoryItselfIsCopiedIntact)
{
    for (int i = 1; i <= 9; ++i)
        status_print(("line " + std::to_string(i)).c_str());
    status_print(g_status_lines[0]); // "line 1" while the slots shift under it
    EXPECT_EQ(std::string(g_status_lines[8]), "line 1");
    EXPECT_EQ(std::string(g_status_lines[0]), "line 2");
}

TEST_F(StatusLog, ErrnoTextsAreTheSystemsOwnInTheProgramsLanguage)
{
    // Windows' words for the code behind the error (as Wine has them), or
    // the C library's, as ls shows them.
#ifdef _WIN32
    const std::string english = "File not found\nAccess denied\n";
    std::string russian;
    if (!to_program_text("Файл не найден\nДоступ запрещён\n", &russian))
        russian = english; // a code page without Cyrillic: English, never a mix
#else
    const std::string english = "No such file or directory\nPermission denied\n";
    const std::string russian = "Нет такого файла или каталога\nОтказано в доступе\n";
#endif
    for (const char* language : {"en", "ru", "ru_RU.UTF-8"}) {
        SCOPED_TRACE(language);
        set_language(language);
        reset_status_log();
        errno = ENOENT;
        status_print_errno();
        errno = EACCES;
        status_print_errno();
        EXPECT_EQ(pane_text(), std::string(language) == "en" ? english : russian);
    }
    set_language("en");
}

} // namespace
