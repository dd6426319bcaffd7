// The views of a sheet: grid, csv, tsv and jsonl, texts converted from the host's 8-bit
// charset to UTF-8.
#include <gtest/gtest.h>

#include "tests/support/testing.h"

using tabulon::Format;
using Show = testing_support::HostPage;

TEST(ToUtf8, ConvertsThroughTheCodeSetsMap)
{
    testing_support::UseStandIn();
    struct { const char *text; ULONG codeset; const char *utf8; } cases[] = {
        { "caf\xE9 \xA4", CODESET_ISO_8859_1, "caf\xC3\xA9 \xC2\xA4" },
        { "\xA4" "5", CODESET_ISO_8859_15, "\xE2\x82\xAC" "5" },
        { "x\x81y", CODESET_WINDOWS_1252, "x\xEF\xBF\xBDy" },  // undefined: U+FFFD
        { nullptr, CODESET_ISO_8859_1, "" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.utf8, tabulon::ToUtf8(c.text, c.codeset)) << c.codeset;
}

TEST_F(Show, JsonlKeepsTheLaterCellEscapesAndConvertsToUtf8)
{
    // Placed out of order, one cell twice, one without text and one off the sheet.
    Put(1, 1, "plain");
    Put(3, 2, "say \"hi\"\\ \n\r\t\b\f\x01 caf\xE9");
    Put(1, 28, "first");
    Put(2, 1, nullptr);
    Put(1, 28, "=SUM(A1;B1)");
    Put(0, 5, "nowhere");
    EXPECT_EQ("{\"ref\":\"A1\",\"row\":1,\"col\":1,\"text\":\"plain\"}\n"
              "{\"ref\":\"AB1\",\"row\":1,\"col\":28,\"text\":\"=SUM(A1;B1)\"}\n"
              "{\"ref\":\"A2\",\"row\":2,\"col\":1,\"text\":\"\"}\n"
              "{\"ref\":\"B3\",\"row\":3,\"col\":2,"
              "\"text\":\"say \\\"hi\\\"\\\\ \\n\\r\\t\\b\\f\\u0001 caf\xC3\xA9\"}\n",
              View(Format::Jsonl));
}

TEST_F(Show, CsvQuotesAndTsvBlanksTheRectangleFromA1)
{
    Put(2, 2, "a,b");
    Put(2, 3, "say \"x\"");
    Put(4, 1, "line\nbreak");
    Put(2, 2, "won");
    Put(3, 4, "\xE9");
    Put(3, 1, "caf\xE9 \"b\"");     // quotes only behind a byte that is recoded
    Put(1, 2, "a\tb\r\nc");
    EXPECT_EQ(",\"a\tb\r\nc\",,\n"
              ",won,\"say \"\"x\"\"\",\n"
              "\"caf\xC3\xA9 \"\"b\"\"\",,,\xC3\xA9\n"
              "\"line\nbreak\",,,\n",
              View(Format::Csv));
    EXPECT_EQ("\ta b  c\t\t\n\twon\tsay \"x\"\t\ncaf\xC3\xA9 \"b\"\t\t\t\xC3\xA9\nline break\t\t\t\n",
              View(Format::Tsv));
}

TEST_F(Show, GridFitsColumnsToTextsAndWidth)
{
    struct Placed { ULONG row, col; const char *text; };
    struct { const char *name; std::vector<Placed> cells; int width; const char *grid; } cases[] = {
        { "empty", {}, 80, "(empty sheet)\n" },
        // Column A is as wide as its cut text; the number stands at its right edge.
        { "cut text", {{1, 1, "12"}, {1, 2, "hello"}, {3, 1, "a text far longer than any column may be"}},
          80, "   A                         B\n1                        12  hello\n2\n"
              "3  a text far longer than \xE2\x80\xA6\n" },
        // Below 20 characters the grid takes 20: the gutter, two blanks and 17 of the text.
        { "narrow", {{1, 1, "a text far longer than any column may be"}}, 10,
          "   A\n1  a text far longe\xE2\x80\xA6\n" },
        { "long run", {{1, 1, "top"}, {1000000, 1, "bottom"}, {1000002, 1, "end"}}, 80,
          "         A\n      1  top\n      \xE2\x80\xA6\n1000000  bottom\n1000001\n1000002  end\n" },
        // Ten characters per column beside a one-character gutter: three columns fit 40.
        { "left out", {{1, 1, "abcdefgh"}, {1, 2, "abcdefgh"}, {1, 3, "abcdefgh"}, {1, 4, "abcdefgh"},
                       {1, 10, "abcdefgh"}}, 40,
          "   A         B         C\n1  abcdefgh  abcdefgh  abcdefgh\n(7 columns left out: D to J)\n" },
    };
    for (const auto &c : cases) {
        page = ((NewPage_t)table[SVC_NewPage])((Mappe *)&doc);   // the views show the last page
        for (const auto &cell : c.cells)
            Put(cell.row, cell.col, cell.text);
        EXPECT_EQ(c.grid, View(Format::Grid, c.width)) << c.name;
    }
}
