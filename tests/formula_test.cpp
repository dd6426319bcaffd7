// ConvertFormula: the text of an f element into the host's formula, references moved.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "formula/formula.h"
#include "tests/support/standin.h"
#include "xml/xml.h"

class ConvertFormulaTest : public ::testing::Test {
protected:
    void SetUp() override { testing_support::UseStandIn(); }

    static std::string Convert(const char *text, int32 drow = 0, int32 dcol = 0)
    {
        char data[XML_BUFSIZE];
        memset(data, '#', sizeof(data));
        ConvertFormula(text, data, sizeof(data), drow, dcol);
        return data;
    }
};

TEST_F(ConvertFormulaTest, PlainFormulas)
{
    struct { const char *in, *out; } cases[] = {
        { "SUM(A1:A3)", "=SUM(A1:A3)" },
        { "average(A1:A3)", "=AVG(A1:A3)" },
        { "IF(A1<>B1,1,2)", "=IF(A1!=B1;1;2)" },
        { "A1<=B1", "=A1<=B1" },
        { "A1>=B1", "=A1>=B1" },
        { "A1<B1", "=A1<B1" },
        { "SUM(A1,B1)*12%", "=SUM(A1;B1)*0.12" },
        { "12%+112%", "=0.12+1.12" },
        { "A1%", "=(A1/100)" },
        { "SUM(A1:A3)%", "=(SUM(A1:A3)/100)" },
        { "\"250\"%", "=(\"250\"/100)" },
        { "LOG10(A1)+ROUND(A2,2)", "=L10(A1)+ROU(A2;2)" },
        { "CONCATENATE(A1,\"caf\xc3\xa9\")", "=CSC(A1;\"caf\xc3\xa9\")" },
        { "1E5+1.5E+3+R1C1", "=1E5+1.5E+3+R1C1" },
        { "#REF!+#DIV/0!+#N/A", "=#REF!+#DIV/0!+#N/A" },
        { "", "=" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.out, Convert(c.in)) << c.in;
}

TEST_F(ConvertFormulaTest, ArrayConstantsKeepTheirShape)
{
    struct { const char *in, *out; } cases[] = {
        { "TYPE({1,2,3})", "=TYPE({1,2,3})" },
        { "SUM({1,2;3,4},A1)", "=SUM({1,2;3,4};A1)" },
        { "SUM({1;2;3;4})", "=SUM({1;2;3;4})" },
        { "IF(A1,{\"a,b\";\"c\"},{3,4})", "=IF(A1;{\"a,b\";\"c\"};{3,4})" },
        { "\"{1,\"&MID(\"}\",1,1)", "=\"{1,\"&MID(\"}\";1;1)" },
        { "}1,2{3,4", "=}1;2{3,4" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.out, Convert(c.in)) << c.in;
}

TEST_F(ConvertFormulaTest, LiteralsAreCopied)
{
    struct { const char *in, *out; } cases[] = {
        { "\"a<>b\"&\"x,y\"", "=\"a<>b\"&\"x,y\"" },
        { "\"SUM(1,2)%\"", "=\"SUM(1,2)%\"" },
        { "\"say \"\"A1<>B1,\"\"\"", "=\"say \"\"A1<>B1,\"\"\"" },
        { "'a,b<>c'!A1+1", "='a,b<>c'!A1+1" },
        { "SUM(Table1[[#This Row],[Col]])", "=SUM(Table1[[#This Row],[Col]])" },
        { "Table1[[#Headers],[A<>B,%]]", "=Table1[[#Headers],[A<>B,%]]" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.out, Convert(c.in)) << c.in;
}

TEST_F(ConvertFormulaTest, MovesReferences)
{
    struct { const char *in; int32 drow, dcol; const char *out; } cases[] = {
        // down a column, along a row, both
        { "A1+B2", 1, 0, "=A2+B3" },
        { "A1+B2", 0, 1, "=B1+C2" },
        { "A1*$B$2+C$3+$D4", 2, 3, "=D3*$B$2+F$3+$D6" },
        { "a1+b2", 1, 0, "=A2+B3" },
        { "a1+b2", 0, 0, "=a1+b2" },
        { "Z9", 1, 1, "=AA10" },
        { "A1", 1048575, 16383, "=XFD1048576" },
        { "D5", -3, -2, "=B2" },
        // ranges, whole columns and rows
        { "SUM(A1:B2)", 1, 1, "=SUM(B2:C3)" },
        { "SUM($A$1:B2)", 1, 1, "=SUM($A$1:C3)" },
        { "SUM(A:B)", 5, 1, "=SUM(B:C)" },
        { "SUM($A:B)", 0, 1, "=SUM($A:C)" },
        { "SUM(3:5)", 2, 7, "=SUM(5:7)" },
        { "SUM($3:5)", 2, 0, "=SUM($3:7)" },
        { "SUM(A:A)", 9, 0, "=SUM(A:A)" },
        // sheet-qualified: the cell moves, the sheet never does
        { "Sheet2!A1", 1, 1, "=Sheet2!B2" },
        { "'My Sheet'!A1+1", 1, 0, "='My Sheet'!A2+1" },
        { "'It''s'!B2:C3", 0, 1, "='It''s'!C2:D3" },
        { "Sheet1:Sheet3!A1", 0, 1, "=Sheet1:Sheet3!B1" },
        { "SUM(Sheet2!A1:A3)", 1, 0, "=SUM(Sheet2!A2:A4)" },
        { "Q1!A1+Q1", 1, 0, "=Q1!A2+Q2" },
        { "2019!A1", 1, 0, "=2019!A2" },
        { "my.data!B2", 1, 0, "=my.data!B3" },
        { "[1]Sheet1!A1", 1, 0, "=[1]Sheet1!A2" },
        { "Sheet2!$A$1", 3, 3, "=Sheet2!$A$1" },
        { "Sheet2!Total+1", 1, 0, "=Sheet2!Total+1" },
        // functions, names and numbers are never references
        { "LOG10(A1)", 1, 0, "=L10(A2)" },
        { "BIN2DEC(A1)+B2D(A1)", 1, 0, "=B2D(A2)+B2D(A2)" },
        { "ATAN2(A1,B1)", 1, 0, "=ATAN2(A2;B2)" },
        { "Q1Sales+TAX2020x+R1C1", 1, 1, "=Q1Sales+TAX2020x+R1C1" },
        { "XFE1+A1048577+A0+ABCD1", 1, 1, "=XFE1+A1048577+A0+ABCD1" },
        { "A1.5+A1_x", 1, 1, "=A1.5+A1_x" },
        { "1E5+A1+1.5E+3", 1, 0, "=1E5+A2+1.5E+3" },
        { "Tbl1[A1]+A1", 1, 1, "=Tbl1[A1]+B2" },
        { "\"A1\"&B1", 1, 0, "=\"A1\"&B2" },
        { "SUM(Table1[[#This Row],[RDS2]])", 1, 1, "=SUM(Table1[[#This Row],[RDS2]])" },
        { "A1%", 1, 0, "=(A2/100)" },
        { "#REF!+A1", 1, 0, "=#REF!+A2" },
        // pieces that only look like references, and sheets that are none
        { "A$:C$+$+A$1", 1, 1, "=A$:C$+$+B$1" },
        { "_rate*A1+\\x", 1, 0, "=_rate*A2+\\x" },
        { "A1[x]+A1:", 1, 0, "=A1[x]+A2:" },
        { "S!A1!B1", 1, 0, "=S!A1!B2" },
        { "S!A1(2)+\xC3\x84rger", 1, 0, "=S!A1(2)+\xC3\x84rger" },
        { "A1:B+1:A+A:1", 1, 1, "=B2:B+1:A+A:1" },
        { "'x'&A1", 1, 0, "='x'&A2" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.out, Convert(c.in, c.drow, c.dcol)) << c.in << " by " << c.drow << "," << c.dcol;
}

TEST_F(ConvertFormulaTest, OffTheSheetIsRef)
{
    struct { const char *in; int32 drow, dcol; const char *out; } cases[] = {
        { "A1", -1, 0, "=#REF!" },
        { "A1", 0, -1, "=#REF!" },
        { "XFD1", 0, 1, "=#REF!" },
        { "A1048576", 1, 0, "=#REF!" },
        { "SUM(A1:A5)", -1, 0, "=SUM(#REF!)" },
        { "SUM(A2:XFD2)", 0, 1, "=SUM(#REF!)" },
        { "Sheet2!A1+1", -1, 0, "=Sheet2!#REF!+1" },
        { "'My Sheet'!B1:C1", 0, -2, "='My Sheet'!#REF!" },
        { "$A$1+A2", -1, 0, "=$A$1+A1" },
        { "A$1+$A1", -5, 0, "=A$1+#REF!" },
        { "A:A", 0, -1, "=#REF!" },
        { "1:1", -1, 0, "=#REF!" },
        { "A1", 2147483647, 2147483647, "=#REF!" },
        { "B2", -2147483647 - 1, 0, "=#REF!" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.out, Convert(c.in, c.drow, c.dcol)) << c.in << " by " << c.drow << "," << c.dcol;
}

TEST_F(ConvertFormulaTest, CutToSize)
{
    char data[32];
    memset(data, '#', sizeof(data));
    ConvertFormula("SUM(A1:A3)", data, 8, 0, 0);
    EXPECT_STREQ("=SUM(A1", data);
    EXPECT_EQ('#', data[8]);

    // Never half of a UTF-8 character: the two bytes of the e with accent go together.
    memset(data, '#', sizeof(data));
    ConvertFormula("\"\xc3\xa9\"", data, 4, 0, 0);
    EXPECT_STREQ("=\"", data);
    EXPECT_EQ('#', data[4]);

    memset(data, '#', sizeof(data));
    ConvertFormula("A1", data, 1, 0, 0);
    EXPECT_STREQ("", data);
    EXPECT_EQ('#', data[1]);

    memset(data, '#', sizeof(data));
    EXPECT_FALSE(ConvertFormula("A1", data, 0, 0, 0));
    EXPECT_EQ('#', data[0]);

    EXPECT_FALSE(ConvertFormula("A1%", data, 6, 0, 0));      // the percent no longer fits
    EXPECT_STREQ("=(A1/", data);

    // Cut before its percent shrinks it: still a cut.
    EXPECT_FALSE(ConvertFormula("100%+A1234", data, 8, 0, 0));
    EXPECT_STREQ("=1+A", data);
    EXPECT_TRUE(ConvertFormula("100%+A1", data, 9, 0, 0));     // exactly full before
    EXPECT_STREQ("=1+A1", data);
}

TEST_F(ConvertFormulaTest, LongTexts)
{
    // Longer than any buffer: cut, never overrun.
    std::string in;
    while (in.size() < 3000)
        in += "A9+";
    char data[XML_BUFSIZE + 16];
    memset(data, '#', sizeof(data));
    ConvertFormula(in.c_str(), data, XML_BUFSIZE, 1, 0);
    EXPECT_EQ((size_t)XML_BUFSIZE - 1, strlen(data));
    EXPECT_EQ(0, strncmp(data, "=A10+A10+", 9));
    for (size_t k = XML_BUFSIZE; k < sizeof(data); k++)
        EXPECT_EQ('#', data[k]) << k;

    // A run of digits before "%" of any length keeps its value.
    std::string digits = std::string(900, '7') + "%";
    EXPECT_EQ("=(" + std::string(900, '7') + "/100)", Convert(digits.c_str()));
}
