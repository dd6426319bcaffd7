// The module's preferences: which sheets an import takes, and what setPrefs and getPrefs
// answer.
#include <gtest/gtest.h>

#include <string>

#include "module/import.h"
#include "tests/support/standin.h"

namespace {

TEST(ParsePrefs, ReadsTheSheetChoice)
{
    const std::string full = "SHEET=x" + std::string(PREFS_SIZE - 8, ' ') + "y";   // not taken cut
    struct { const char *text; BOOL ok; uint8 which; const char *name; } cases[] = {
        { full.c_str(), FALSE, 0, "" },
        { "", TRUE, SHEETS_FIRST, "" },
        { " ", TRUE, SHEETS_FIRST, "" },
        { "SHEET=Data", TRUE, SHEETS_NAMED, "Data" },
        { "sheet=\"Q1 2024\"", TRUE, SHEETS_NAMED, "Q1 2024" },
        { "SHEET 2", TRUE, SHEETS_NAMED, "2" },             // a number stays a name here
        { "SHEET=\"\xDC" "bersicht\"", TRUE, SHEETS_NAMED, "\xDC" "bersicht" },
        { "SHEET=\"ALL\"", TRUE, SHEETS_NAMED, "ALL" },
        { "All", TRUE, SHEETS_ALL, "" },
        { "LIST", TRUE, SHEETS_LIST, "" },
        { "SHEET=\"\"", FALSE, 0, "" },
        { "SHEET", FALSE, 0, "" },
        { "ALL LIST", FALSE, 0, "" },
        { "ALL SHEET=x", FALSE, 0, "" },
        { "SHEETS=x", FALSE, 0, "" },
        { "Data", FALSE, 0, "" },
        { "ALL\nLIST", FALSE, 0, "" },
        { "SHEET=\"a", FALSE, 0, "" },
    };
    testing_support::UseStandIn();
    for (const auto &c : cases) {
        SheetChoice choice;
        EXPECT_EQ(c.ok, ParsePrefs(c.text, &choice)) << c.text;
        if (c.ok) {
            EXPECT_EQ(c.which, choice.which) << c.text;
            EXPECT_STREQ(c.name, choice.name) << c.text;
        }
    }
    EXPECT_EQ(nullptr, platform::HeldResource());
}

// Refused texts keep what was in force; the longest a buffer takes is SHEET= and a quoted
// name of 31 characters.
TEST(setPrefs, TakesATextOrKeepsThePreferencesInForce)
{
    testing_support::UseStandIn();
    IOType &io = testing_support::StartWithPrefs(nullptr);
    EXPECT_STREQ("", io.io_GetPrefs());
    std::string longest = "SHEET=\"" + std::string(31, 'n') + "\"";
    struct { std::string text; LONG taken; const char *after; } cases[] = {
        { "ALL", 1, "ALL" },
        { "UNKNOWN", 0, "ALL" },
        { "SHEET=abc", 1, "SHEET=abc" },
        { "SHEET=x1", 1, "SHEET=x1" },
        { "SHEET=\"" + std::string(32, 'n') + "\"", 0, "SHEET=x1" },
        { longest, 1, longest.c_str() },
        { "", 1, "" },
    };
    for (const auto &c : cases) {
        std::string text = c.text;
        EXPECT_EQ(c.taken, io.io_SetPrefs(text.data())) << c.text;
        EXPECT_EQ(std::string(c.after), io.io_GetPrefs()) << c.text;
    }
    EXPECT_EQ(SHEETS_FIRST, settings.sheetchoice.which);

    // What the host keeps in io_Prefs counts from the start; a refused text leaves the default.
    testing_support::StartWithPrefs("LIST");
    EXPECT_STREQ("LIST", io.io_GetPrefs());
    EXPECT_EQ(SHEETS_LIST, settings.sheetchoice.which);
    EXPECT_EQ(1, io.io_SetPrefs(nullptr));
    EXPECT_EQ(SHEETS_FIRST, settings.sheetchoice.which);
    testing_support::StartWithPrefs("nonsense");
    EXPECT_STREQ("", io.io_GetPrefs());
    EXPECT_EQ(nullptr, platform::HeldResource());
}

// Sheet names match without letter case in the system's charset, whole: the letters of
// each alphabet a charset holds, the signs between them not.
TEST(SameSheetName, IgnoresLetterCaseOnly)
{
    testing_support::UseStandIn();   // ISO-8859-1
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
