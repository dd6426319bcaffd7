// The module's preferences: which sheets an import takes, and what setPrefs and getPrefs
// answer.
#include <gtest/gtest.h>

#include <string>

#include "module/import.h"
#include "tests/support/standin.h"

using namespace testing_support;

namespace {

TEST(ParsePrefs, ReadsTheSheetChoice)
{
    struct { const char *text; uint8 which; const char *name; } taken[] = {
        { "", SHEETS_FIRST, "" }, { " ", SHEETS_FIRST, "" }, { "SHEET=Data", SHEETS_NAMED, "Data" },
        { "sheet=\"Q1 2024\"", SHEETS_NAMED, "Q1 2024" }, { "SHEET=\"ALL\"", SHEETS_NAMED, "ALL" },
        { "SHEET 2", SHEETS_NAMED, "2" },             // a number stays a name here
        { "SHEET=\"\xDC" "bersicht\"", SHEETS_NAMED, "\xDC" "bersicht" },
        { "All", SHEETS_ALL, "" }, { "LIST", SHEETS_LIST, "" },
    };
    const std::string full = "SHEET=x" + std::string(PREFS_SIZE - 8, ' ') + "y";   // not taken cut
    const char *refused[] = { full.c_str(), "SHEET=\"\"", "SHEET", "ALL LIST", "ALL SHEET=x",
                              "SHEETS=x", "Data", "ALL\nLIST", "SHEET=\"a" };
    UseStandIn();
    SheetChoice choice;
    for (const auto &c : taken) {
        EXPECT_TRUE(ParsePrefs(c.text, &choice)) << c.text;
        EXPECT_EQ(c.which, choice.which) << c.text;
        EXPECT_STREQ(c.name, choice.name) << c.text;
    }
    for (const char *text : refused)
        EXPECT_FALSE(ParsePrefs(text, &choice)) << text;
    EXPECT_EQ(nullptr, platform::HeldResource());
}

// Refused texts keep what was in force; the longest a buffer takes is SHEET= and a quoted
// name of 31 characters.
TEST(setPrefs, TakesATextOrKeepsThePreferencesInForce)
{
    UseStandIn();
    IOType &io = StartWithPrefs(nullptr);
    EXPECT_STREQ("", io.io_GetPrefs());
    std::string longest = "SHEET=\"" + std::string(31, 'n') + "\"";
    struct { std::string text; LONG taken; const char *after; } cases[] = {
        { "ALL", 1, "ALL" }, { "UNKNOWN", 0, "ALL" }, { "SHEET=abc", 1, "SHEET=abc" },
        { "SHEET=x1", 1, "SHEET=x1" }, { "SHEET=\"" + std::string(32, 'n') + "\"", 0, "SHEET=x1" },
        { longest, 1, longest.c_str() }, { "", 1, "" },
    };
    for (const auto &c : cases) {
        std::string text = c.text;
        EXPECT_EQ(c.taken, io.io_SetPrefs(text.data())) << c.text;
        EXPECT_EQ(std::string(c.after), io.io_GetPrefs()) << c.text;
    }
    EXPECT_EQ(SHEETS_FIRST, settings.sheetchoice.which);

    // What the host keeps in io_Prefs counts from the start; a refused text leaves the default.
    StartWithPrefs("LIST");
    EXPECT_STREQ("LIST", io.io_GetPrefs());
    EXPECT_EQ(SHEETS_LIST, settings.sheetchoice.which);
    EXPECT_EQ(1, io.io_SetPrefs(nullptr));
    EXPECT_EQ(SHEETS_FIRST, settings.sheetchoice.which);
    StartWithPrefs("nonsense");
    EXPECT_STREQ("", io.io_GetPrefs());
    EXPECT_EQ(nullptr, platform::HeldResource());
}

// Sheet names match without letter case in the system's charset, whole: the letters of
// each alphabet a charset holds, the signs between them not.
TEST(SameSheetName, IgnoresLetterCaseOnly)
{
    UseStandIn();   // ISO-8859-1
    ASSERT_TRUE(GetImportantData());
    struct { ULONG codeset; const char *a, *b; BOOL same; } cases[] = {
        { 4, "Data", "data", TRUE }, { 4, "\xDC" "bersicht", "\xFC" "BERSICHT", TRUE },
        { 4, "Data", "Data ", FALSE }, { 4, "Data", "Dat", FALSE }, { 4, "U", "\xDC", FALSE },
        { 4, "\xD7", "\xF7", FALSE },  // times and division are no letters
        { 4, "", "", TRUE },
        { 5, "\xC5\xA3\xAC\xAE", "\xE5\xB3\xBC\xBE", TRUE },   // Ĺ Ł Ź Ž, at the ends of their runs
        { 5, "\xC5", "\xC6", FALSE },
        { 10, "\xC1\xD3\xD9", "\xE1\xF3\xF9", TRUE },         // Α Σ Ω
        { 10, "\xD3", "\xF2", FALSE },                          // Σ and the final ς
        { 8, "\xA1\xB0\xCF", "\xF1\xD0\xEF", TRUE },          // Ё А Я
    };
    for (const auto &c : cases) {
        SetCharsetMap(platform::CharsetMap(c.codeset));
        EXPECT_EQ(c.same, SameSheetName(c.a, c.b)) << c.codeset << ": " << c.a << " " << c.b;
    }
    SetCharsetMap(platform::CharsetMap(CODESET_ISO_8859_1));
}

}  // namespace
