// Formula cells through whole imports: the forms of the f element, shared blocks expanded
// cell by cell, and uses that find no definition keeping their cached value.
#include <gtest/gtest.h>

#include "tests/support/testing.h"

using testing_support::ImportSheet;
using testing_support::NothingLeft;

namespace {

class GetXMLFormulaTest : public ::testing::Test {
protected:
    void SetUp() override { testing_support::UseStandIn(); }
    void TearDown() override { EXPECT_TRUE(NothingLeft()); }

    // Cells "A1:f" etc. written as <c r="A1"><f ...>text</f><v>cached</v></c>, one row each.
    std::string Import(const std::string &cells)
    {
        auto book = ImportSheet(cells);
        EXPECT_EQ(0, book.rc) << cells;
        return book.cells;
    }
};

std::string Shared(const char *ref, const char *si, const char *text, const char *range)
{
    return std::string("<c r=\"") + ref + "\"><f t=\"shared\" ref=\"" + range + "\" si=\"" + si +
           "\">" + text + "</f><v>0</v></c>";
}

std::string Use(const char *ref, const char *si, const char *cached = "0")
{
    return std::string("<c r=\"") + ref + "\"><f t=\"shared\" si=\"" + si + "\"/><v>" + cached +
           "</v></c>";
}

std::string Row(int r, const std::string &cells)
{
    return "<row r=\"" + std::to_string(r) + "\">" + cells + "</row>";
}

TEST_F(GetXMLFormulaTest, SharedBlocks)
{
    struct { const char *name; std::string sheet; const char *cells; } cases[] = {
        { "down a column",
          Row(1, Shared("B1", "0", "SUM(A1,C$1)*$A1", "B1:B3")) + Row(2, Use("B2", "0")) + Row(3, Use("B3", "0")),
          "B1==SUM(A1;C$1)*$A1|B2==SUM(A2;C$1)*$A2|B3==SUM(A3;C$1)*$A3" },
        { "along a row",
          Row(5, Shared("B5", "0", "B4+$A$1+$A4+A$4", "B5:D5") + Use("C5", "0") + Use("D5", "0")),
          "B5==B4+$A$1+$A4+A$4|C5==C4+$A$1+$A4+B$4|D5==D4+$A$1+$A4+C$4" },
        { "a block of rows and columns",
          Row(1, Shared("A1", "3", "E1*F$1", "A1:B2") + Use("B1", "3")) + Row(2, Use("A2", "3") + Use("B2", "3")),
          "A1==E1*F$1|B1==F1*G$1|A2==E2*F$1|B2==F2*G$1" },
        { "a gap in the block",
          Row(1, Shared("A1", "0", "B1", "A1:A5")) + Row(4, Use("A4", "0")),
          "A1==B1|A4==B4" },
        { "the definition inside its range",
          Row(1, Use("A1", "0", "9")) + Row(2, Shared("A2", "0", "B2*2", "A1:A3")) + Row(3, Use("A3", "0")),
          "A1=9|A2==B2*2|A3==B3*2" },
        { "sheets, ranges, whole columns and rows, codes with digits",
          Row(1, Shared("A1", "0", "SUM(Sheet2!A1:B2,'My Sheet'!C1,E:F,2:3)+LOG10(A1)+BIN2DEC(B1)", "A1:A2")) +
              Row(2, Use("A2", "0")),
          "A1==SUM(Sheet2!A1:B2;'My Sheet'!C1;E:F;2:3)+L10(A1)+B2D(B1)|"
          "A2==SUM(Sheet2!A2:B3;'My Sheet'!C2;E:F;3:4)+L10(A2)+B2D(B2)" },
        { "strings and structured references stay",
          Row(1, Shared("A1", "0", "\"A1\"&amp;T[[#This Row],[C1]]&amp;B1", "A1:A2")) + Row(2, Use("A2", "0")),
          "A1==\"A1\"&T[[#This Row],[C1]]&B1|A2==\"A1\"&T[[#This Row],[C1]]&B2" },
        { "off the sheet",
          Row(1048575, Shared("A1048575", "0", "B1048576+Sheet2!C1048576:D1048576", "A1048575:A1048576")) +
              Row(1048576, Use("A1048576", "0")),
          "A1048575==B1048576+Sheet2!C1048576:D1048576|A1048576==#REF!+Sheet2!#REF!" },
        { "interleaved definitions",
          Row(1, Shared("A1", "0", "X1", "A1:A2") + Shared("B1", "1", "Y1*2", "B1:B2")) +
              Row(2, Use("B2", "1") + Use("A2", "0")),
          "A1==X1|B1==Y1*2|A2==X2|B2==Y2*2" },
        { "si numbers that start elsewhere",
          Row(1, Shared("A1", "7", "C1", "A1:A2") + Shared("B1", "2", "D1", "B1:B2")) +
              Row(2, Use("A2", "7") + Use("B2", "2")),
          "A1==C1|B1==D1|A2==C2|B2==D2" },
        { "a use without a definition keeps its value",
          Row(1, Use("A1", "4", "12.5") + Use("B1", "x", "3")) + Row(2, Shared("A2", "4", "Z2", "A2:A3")),
          "A1=12.5|B1=3|A2==Z2" },
        { "attributes in another order",
          Row(1, "<c r=\"A1\"><f si=\"0\" ref=\"A1:A2\" t=\"shared\">B1</f></c>") +
              Row(2, "<c r=\"A2\"><f si=\"0\" t=\"shared\" /><v>1</v></c>"),
          "A1==B1|A2==B2" },
        { "blanks of every kind between attributes",
          Row(1, "<c r=\"A1\"><f\tt=\"shared\"\r\nref=\"A1:A3\"\nsi=\"0\">B1</f></c>") +
              Row(2, "<c r=\"A2\"><f\r\nt=\"shared\" si=\"0\"/></c>") +
              Row(3, "<c r=\"A3\"><f\nt=\"shared\" si=\"0\"/></c>"),
          "A1==B1|A2==B2|A3==B3" },
        { "a writer that repeats the text in every cell",
          Row(1, Shared("A1", "0", "B1", "A1:A2")) + Row(2, "<c r=\"A2\"><f t=\"shared\" si=\"0\">C2</f></c>"),
          "A1==B1|A2==C2" },
        { "si numbers past the index",
          Row(1, Shared("A1", "1048576", "B1", "A1:A2") + Shared("B1", "2147483647", "C1", "B1:B2")) +
              Row(2, Use("A2", "1048576") + Use("B2", "2147483647") + Use("C2", "2000000", "7")),
          "A1==B1|B1==C1|A2==B2|B2==C2|C2=7" },
        { "a later definition of an si counts from its cell on",
          Row(1, Shared("A1", "5", "B1", "A1:A2") + Shared("B1", "1048580", "B1", "B1:B2")) +
              Row(2, Use("A2", "5") + Use("B2", "1048580")) +
              Row(3, Shared("A3", "5", "C3", "A3:A4") + Shared("B3", "1048580", "C3", "B3:B4")) +
              Row(4, Use("A4", "5") + Use("B4", "1048580")),
          "A1==B1|B1==B1|A2==B2|B2==B2|A3==C3|B3==C3|A4==C4|B4==C4" },
        { "a definition without a usable si is only a formula",
          Row(1, "<c r=\"A1\"><f t=\"shared\" ref=\"A1:A2\">B1</f></c>" + Shared("B1", "-1", "C1", "B1:B2") +
                     Shared("C1", "x", "D1", "C1:C2")) +
              Row(2, Use("B2", "-1", "5") + Use("C2", "x", "6")),
          "A1==B1|B1==C1|C1==D1|B2=5|C2=6" },
        { "a range of one cell",
          Row(1, Shared("A1", "0", "B1", "A1")) + Row(2, Use("A2", "0")),
          "A1==B1|A2==B2" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.cells, Import(c.sheet)) << c.name;
}

TEST_F(GetXMLFormulaTest, LongFormulasAreWholeAndTheWalkStaysInStep)
{
    std::string sum = "A1";
    while (sum.size() < 3000)
        sum += "+A1";
    std::string cells = Import(Row(1, "<c r=\"B1\"><f>" + sum + "</f><v>1</v></c><c r=\"C1\"><v>2</v></c>"));
    EXPECT_EQ("B1==" + sum + "|C1=2", cells);
}

TEST_F(GetXMLFormulaTest, AWorkbookAsSpreadsheetProgramsWriteIt)
{
    // Written the way the common desktop programs store a filled-down block.
    std::string sheet =
        "<row r=\"1\" spans=\"1:3\" x14ac:dyDescent=\"0.25\"><c r=\"A1\"><v>1</v></c><c r=\"B1\">"
        "<v>2</v></c><c r=\"C1\"><f>A1+B1</f><v>3</v></c></row>"
        "<row r=\"2\" spans=\"1:3\" x14ac:dyDescent=\"0.25\"><c r=\"A2\"><v>4</v></c><c r=\"B2\">"
        "<v>5</v></c><c r=\"C2\"><f t=\"shared\" ref=\"C2:C4\" si=\"0\">A2+B2</f><v>9</v></c></row>"
        "<row r=\"3\" spans=\"1:3\" x14ac:dyDescent=\"0.25\"><c r=\"C3\"><f t=\"shared\" si=\"0\"/><v>0</v></c></row>"
        "<row r=\"4\" spans=\"1:3\" x14ac:dyDescent=\"0.25\"><c r=\"C4\"><f t=\"shared\" si=\"0\"/><v>0</v></c></row>"
        "<row r=\"5\"><c r=\"C5\" t=\"str\"><f>IF(SUM(C1:C4)&gt;10,\"big\",\"small\")</f><v>big</v></c></row>";
    EXPECT_EQ("A1=1|B1=2|C1==A1+B1|A2=4|B2=5|C2==A2+B2|C3==A3+B3|C4==A4+B4|"
              "C5==IF(SUM(C1:C4)>10;\"big\";\"small\")",
              Import(sheet));
}

}  // namespace
