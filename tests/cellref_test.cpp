// SetRowColumnNumber and GetRowColumnNumber: cell names from row and column numbers and back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "formula/formula.h"
#include "tests/support/standin.h"
#include "xml/xml.h"

TEST(SetRowColumnNumber, WritesCellNamesWithinSixteenBytes)
{
    testing_support::UseStandIn();
    struct { uint32 row, col; const char *name; } cases[] = {
        { 5, 26, "Z5" },         { 10, 27, "AA10" },      { 1, 52, "AZ1" },         { 1, 53, "BA1" },
        { 1, 702, "ZZ1" },       { 1, 703, "AAA1" },       { 1048576, 16384, "XFD1048576" },
        { 1, 18278, "ZZZ1" },    { 1, 18279, "AAAA1" },    { 2, 321272406, "ZZZZZZ2" },
        { 4294967295u, 0, "4294967295" },                  { 0, 0, "0" },  { 0, 28, "AB0" },
        { 4294967295u, 4294967295u, "MWLQKWU42949672" },   // seven letters, ten digits: cut at 16
    };
    for (const auto &c : cases) {
        char name[24]; memset(name, '#', sizeof(name));
        SetRowColumnNumber(name, c.row, c.col);
        EXPECT_STREQ(c.name, name) << c.row << "," << c.col;
        EXPECT_EQ(0, memcmp(name + 16, "########", 8)) << c.row << "," << c.col;
    }
}

TEST(SetRowColumnNumber, RoundTripsEveryColumnAndLongRows)
{
    testing_support::UseStandIn();
    const uint32 rows[] = { 1, 9, 10, 99999, 100000, 999999, 1000000, 1048576 };
    for (uint32 col = 1; col <= 16384; col++)
        for (uint32 row : rows) {
            char name[16]; uint32 r = 0, c = 0;
            SetRowColumnNumber(name, row, col);
            GetRowColumnNumber(name, &r, &c);
            ASSERT_TRUE(r == row && c == col) << name << " read back as " << r << "," << c;
        }
}

// Good names are read back above; these are the odd ones.
TEST(GetRowColumnNumber, OddNamesGiveNoRowOrColumnBeyondTheSheet)
{
    testing_support::UseStandIn();
    char buf[XML_BUFSIZE];
    struct { const char *name; uint32 row, col; } names[] = {
        { "\"AA10\"", 10, 27 }, { "A1:A9", 1, 1 }, { "AB", 0, 0 }, { "12", 12, 0 }, { "", 0, 0 },
        { "a1", 1, 1 }, { "\"A7\"/", 7, 1 }, { "AAAA1", 1, 0 }, { "A0", 0, 1 }, { "$A$1", 0, 0 },
        { "A_1", 0, 0 }, { "A:1", 0, 0 }, { "A1234567890", 0, 1 }, { "A{1", 0, 0 },
    };
    for (const auto &c : names) {
        uint32 row = 99, col = 99;
        GetRowColumnNumber(strcpy(buf, c.name), &row, &col);
        EXPECT_EQ(c.row, row) << c.name; EXPECT_EQ(c.col, col) << c.name;
    }
}

// The walk reads a cell's name where it stands in the tag text: only len bytes count, and
// quotes anywhere are passed over as GetRowColumnNumber drops them.
TEST(ReadCellName, ReadsOnlyItsSpanAndPassesOverQuotes)
{
    struct { const char *text; uint32 len, row, col; } names[] = {
        { "B12\" s=\"3", 3, 12, 2 }, { "B12", 2, 1, 2 }, { "A\"1\"", 4, 1, 1 }, { "\"\"AA\"10", 7, 10, 27 },
        { "XFD1048576", 10, 1048576, 16384 }, { "A1", 0, 0, 0 }, { "AB", 2, 0, 0 }, { "A 1", 3, 0, 0 },
    };
    for (const auto &c : names) {
        uint32 row = 99, col = 99;
        ReadCellName(c.text, c.len, &row, &col);
        EXPECT_EQ(std::to_string(c.row) + "," + std::to_string(c.col),
                  std::to_string(row) + "," + std::to_string(col)) << c.text << " " << c.len;
    }
}
