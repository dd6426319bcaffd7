// Formula cells through whole imports: shared blocks expanded cell by cell, and uses that
// find no definition keeping their cached value. Conversions are ConvertFormula's suite;
// the plainer shared blocks are fixtures (tests/fixtures/shared-*).
#include <gtest/gtest.h>

#include "tests/support/testing.h"

namespace {

std::string Shared(const std::string &ref, const std::string &si, const std::string &text,
                   const std::string &range)
{
    return "<c r=\"" + ref + "\"><f t=\"shared\" ref=\"" + range + "\" si=\"" + si + "\">" + text +
           "</f><v>0</v></c>";
}

std::string Use(const std::string &ref, const std::string &si, const std::string &cached = "0")
{
    return "<c r=\"" + ref + "\"><f t=\"shared\" si=\"" + si + "\"/><v>" + cached + "</v></c>";
}

std::string Row(int r, const std::string &cells) { return "<row r=\"" + std::to_string(r) + "\">" + cells + "</row>"; }

TEST(GetXMLFormulaTest, SharedBlocks)
{
    testing_support::UseStandIn();
    std::string sum = "A9", moved = "A10", ones = "1";
    while (sum.size() < 3000)
        sum += "+A9", moved += "+A10";
    while (ones.size() < 9000)
        ones += "+1";
    struct { const char *name; std::string sheet, cells; } cases[] = {
        { "past its limit: cut to its first 8192 characters, the walk in step",
          Row(1, "<c r=\"A1\"><f>" + ones + "</f></c><c r=\"B1\"><v>2</v></c>"),
          "A1==" + ones.substr(0, 8192) + "|B1=2" },
        // a carriage return is kept out of the fixture files, where it could be normalised away
        { "blanks of every kind between attributes in any order",
          Row(1, "<c r=\"A1\"><f\tsi=\"0\"\r\nref=\"A1:A3\"\nt=\"shared\">B1</f></c>") +
              Row(2, "<c r=\"A2\"><f\r\nsi=\"0\" t=\"shared\" /><v>1</v></c>") + Row(3, "<c r=\"A3\"><f\nt=\"shared\" si=\"0\"/></c>"),
          "A1==B1|A2==B2|A3==B3" },
        { "si numbers past the index; a later definition of an si counts from its cell on",
          Row(1, Shared("A1", "5", "B1", "A1:A2") + Shared("B1", "1048576", "B1", "B1:B2") +
                     Shared("C1", "2147483647", "D1", "C1:C2")) +
              Row(2, Use("A2", "5") + Use("B2", "1048576") + Use("C2", "2147483647") + Use("D2", "2000000", "7")) +
              Row(3, Shared("A3", "5", "C3", "A3:A4") + Shared("B3", "1048576", "C3", "B3:B4")) +
              Row(4, Use("A4", "5") + Use("B4", "1048576")),
          "A1==B1|B1==B1|C1==D1|A2==B2|B2==B2|C2==D2|D2=7|A3==C3|B3==C3|A4==C4|B4==C4" },
        { "a text of its own without a ref defines nothing: the use after it moves the definition",
          Row(1, Shared("A1", "0", "B1", "A1:A3")) + Row(2, "<c r=\"A2\"><f t=\"shared\" si=\"0\">C7</f></c>") +
              Row(3, Use("A3", "0")),
          "A1==B1|A2==C7|A3==B3" },
        { "a use without an si finds nothing, not the si of the tag before",
          Row(1, Shared("A1", "0", "B1", "A1:A3")) + Row(2, "<c r=\"A2\"><f t=\"shared\"/></c>"), "A1==B1" },
        { "long and growing as it moves, yet whole; the walk stays in step",
          Row(1, Shared("B1", "0", sum, "B1:B2") + "<c r=\"C1\"><v>2</v></c>") + Row(2, Use("B2", "0")),
          "B1==" + sum + "|C1=2|B2==" + moved },
    };
    for (const auto &c : cases) {
        auto book = testing_support::ImportSheet(c.sheet);
        EXPECT_EQ(0, book.rc) << c.name; EXPECT_EQ(c.cells, book.cells) << c.name;
        EXPECT_TRUE(testing_support::NothingLeft()) << c.name;
    }
}

// si numbers past the index of every shape (neighbours, far apart, sharing long leading bits,
// the largest), each defined and used, some defined again: every use finds its latest.
TEST(GetXMLFormulaTest, EverySiPastTheIndexFindsItsLatestDefinition)
{
    testing_support::UseStandIn();
    std::vector<unsigned long> numbers = {1048576, 1048577, 1048578, 1073741824, 1073741825, 2147483647,
                                          2147483646, 1610612736, 1048576 + 65536};
    for (unsigned long k = 1; numbers.size() < 300; k++)
        numbers.push_back(1048576 + (k * 2654435761u) % 2146435071u);
    std::string sheet, cells;
    auto Defined = [&](size_t row, size_t k, const char *plus) {
        std::string ref = "A" + std::to_string(row), text = std::to_string(k) + plus;
        sheet += Row((int)row, Shared(ref, std::to_string(numbers[k]), text, ref + ":" + ref));
        cells += (cells.empty() ? "" : "|") + ref + "==" + text;
    };
    auto Used = [&](size_t row, size_t k, const char *plus) {
        std::string ref = "B" + std::to_string(row);
        sheet += Row((int)row, Use(ref, std::to_string(numbers[k])));
        cells += "|" + ref + "==" + std::to_string(k) + plus;
    };
    size_t row = 1;
    for (size_t k = 0; k < numbers.size(); k++)
        Defined(row++, k, "+1");
    for (size_t k = numbers.size(); k-- > 0;)
        Used(row++, k, "+1");
    for (size_t k = 0; k < numbers.size(); k += 7)
        Defined(row++, k, "+2");
    for (size_t k = 0; k < numbers.size(); k++)
        Used(row++, k, k % 7 == 0 ? "+2" : "+1");
    auto book = testing_support::ImportSheet(sheet);
    EXPECT_EQ(0, book.rc); EXPECT_EQ(cells, book.cells);
    EXPECT_TRUE(testing_support::NothingLeft());
}

}  // namespace
