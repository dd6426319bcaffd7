// The views of a sheet: grid, csv, tsv and jsonl, texts converted from the host's 8-bit
// charset to UTF-8.
#include <gtest/gtest.h>

#include "tests/support/testing.h"

using tabulon::Format;
using Show = testing_support::HostPage;

TEST(CellName, WritesColumnLettersAndRow)
{
    struct { ULONG row, col; const char *name; } cases[] = {
        { 1, 1, "A1" }, { 3, 2, "B3" }, { 9, 26, "Z9" }, { 1, 27, "AA1" }, { 1, 52, "AZ1" },
        { 1, 702, "ZZ1" }, { 1, 703, "AAA1" }, { 1048576, 16384, "XFD1048576" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.name, tabulon::CellName(c.row, c.col)) << c.col;
}

TEST(ToUtf8, ConvertsThroughTheCodeSetsMap)
{
    testing_support::UseStandIn();
    struct { const char *text; ULONG codeset; const char *utf8; } cases[] = {
        { "caf\xE9 \xA4", CODESET_ISO_8859_1, "caf\xC3\xA9 \xC2\xA4" },
        { "\xA4" "5", CODESET_ISO_8859_15, "\xE2\x82\xAC" "5" },
        { "\xF0\xD2\xC9\xD7\xC5\xD4", 2084, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82" },
        { "\xE1\xE2", 10, "\xCE\xB1\xCE\xB2" },              // alpha, beta in ISO-8859-7
        { "x\x81y", CODESET_WINDOWS_1252, "x\xEF\xBF\xBDy" },  // undefined: U+FFFD
        { nullptr, CODESET_ISO_8859_1, "" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.utf8, tabulon::ToUtf8(c.text, c.codeset)) << c.codeset;
}

TEST_F(Show, JsonlEscapesAndConvertsToUtf8)
{
    Put(1, 1, "plain");
    Put(3, 2, "say \"hi\"\\ \n\r\t\b\f\x01 caf\xE9");
    Put(1, 28, "=SUM(A1;B1)");
    EXPECT_EQ("{\"ref\":\"A1\",\"row\":1,\"col\":1,\"text\":\"plain\"}\n"
              "{\"ref\":\"AB1\",\"row\":1,\"col\":28,\"text\":\"=SUM(A1;B1)\"}\n"
              "{\"ref\":\"B3\",\"row\":3,\"col\":2,"
              "\"text\":\"say \\\"hi\\\"\\\\ \\n\\r\\t\\b\\f\\u0001 caf\xC3\xA9\"}\n",
              View(Format::Jsonl));
}

TEST_F(Show, JsonlUsesTheChosenCodeSet)
{
    Put(1, 1, "\xA4" "12");
    EXPECT_EQ("{\"ref\":\"A1\",\"row\":1,\"col\":1,\"text\":\"\xE2\x82\xAC" "12\"}\n",
              View(Format::Jsonl, 80, CODESET_ISO_8859_15));
}

TEST_F(Show, CsvIsTheRectangleFromA1)
{
    Put(2, 2, "a,b");
    Put(2, 3, "say \"x\"");
    Put(4, 1, "line\nbreak");
    Put(2, 2, "won");
    Put(3, 4, "\xE9");
    EXPECT_EQ(",,,\n"
              ",won,\"say \"\"x\"\"\",\n"
              ",,,\xC3\xA9\n"
              "\"line\nbreak\",,,\n",
              View(Format::Csv));
}

TEST_F(Show, TsvBlanksTabsAndLineEnds)
{
    Put(1, 2, "a\tb\r\nc");
    Put(2, 1, "x,\"y\"");
    EXPECT_EQ("\ta b  c\nx,\"y\"\t\n", View(Format::Tsv));
}

TEST_F(Show, EmptySheetPrintsANoteOrNothing)
{
    struct { Format format; const char *text; } cases[] = {
        { Format::Grid, "(empty sheet)\n" }, { Format::Csv, "" }, { Format::Tsv, "" },
        { Format::Jsonl, "" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.text, View(c.format)) << (int)c.format;
}

TEST_F(Show, GridShowsLettersNumbersAndCutTexts)
{
    Put(1, 1, "12");
    Put(1, 2, "hello");
    Put(3, 1, "a text far longer than any column may be");
    // Column A is as wide as its cut text; the number stands at its right edge.
    EXPECT_EQ("   A                         B\n"
              "1                        12  hello\n"
              "2\n"
              "3  a text far longer than \xE2\x80\xA6\n",
              View(Format::Grid));
}

TEST_F(Show, GridFitsTheWidthAndSaysWhatIsLeftOut)
{
    for (ULONG col = 1; col <= 10; col++)
        Put(1, col, "abcdefgh");
    // Ten characters per column beside a one-character gutter: three columns fit 40.
    EXPECT_EQ("   A         B         C\n"
              "1  abcdefgh  abcdefgh  abcdefgh\n"
              "(7 columns left out: D to J)\n",
              View(Format::Grid, 40));
}

TEST_F(Show, GridCutsTheFirstColumnToANarrowScreen)
{
    Put(1, 1, "a text far longer than any column may be");
    // Below 20 characters the grid takes 20: the gutter, two blanks and 17 of the text.
    EXPECT_EQ("   A\n"
              "1  a text far longe\xE2\x80\xA6\n",
              View(Format::Grid, 10));
}

TEST_F(Show, GridShrinksLongRunsOfEmptyRows)
{
    Put(1, 1, "top");
    Put(1000000, 1, "bottom");
    Put(1000002, 1, "end");
    EXPECT_EQ("         A\n"
              "      1  top\n"
              "      \xE2\x80\xA6\n"
              "1000000  bottom\n"
              "1000001\n"
              "1000002  end\n",
              View(Format::Grid));
}
