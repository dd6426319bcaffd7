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

    static std::string Convert(const std::string &text, int32 drow = 0, int32 dcol = 0)
    {
        char data[XML_BUFSIZE]; memset(data, '#', sizeof(data));
        ConvertFormula(text.c_str(), data, sizeof(data), drow, dcol);
        return data;
    }
};

TEST_F(ConvertFormulaTest, ConvertsAndMovesReferences)
{
    struct { const char *in; int32 drow, dcol; const char *out; } cases[] = {
        // host operators and separators; array constants keep theirs. Percentages and function
        // codes have their own suites: one of each shows they run here.
        { "IF(A1<>B1,1,2)&(A1<=B1)&(A1>=B1)&(A1<B1)", 0, 0, "=IF(A1!=B1;1;2)&(A1<=B1)&(A1>=B1)&(A1<B1)" },
        { "SUM(A1,B1)*12%+CONCATENATE(A1,\"caf\xc3\xa9\")", 0, 0, "=SUM(A1;B1)*0.12+CSC(A1;\"caf\xc3\xa9\")" },
        { "SUM({1,2;3,4},A1)", 0, 0, "=SUM({1,2;3,4};A1)" },        { "}1,2{3,4", 0, 0, "=}1;2{3,4" },
        { "IF(A1,{\"a,b\";\"c\"},{3,4})", 0, 0, "=IF(A1;{\"a,b\";\"c\"};{3,4})" },  { "", 0, 0, "=" },
        { "5.0%+1.10%+250.00%+0.0%", 0, 0, "=0.05+0.011+2.5+0" },    // zeros behind the point go
        { "A1*$B$2+C$3+$D4", 2, 3, "=D3*$B$2+F$3+$D6" },
        { "a1+b2", 1, 0, "=A2+B3" },   { "a1+b2", 0, 0, "=a1+b2" },   { "Z9", 1, 1, "=AA10" },
        { "z1+az1", 1, 0, "=Z2+AZ2" },  { "\xC3\x80" "A1+A1", 1, 0, "=\xC3\x80" "A1+A2" },   // a name of any letter
        { "A1", 1048575, 16383, "=XFD1048576" },                       { "D5", -3, -2, "=B2" },
        // ranges; whole columns move only along, whole rows only down
        { "SUM($A$1:B2,$A:B,$3:5,A:A,3:5)", 2, 1, "=SUM($A$1:C4;$A:C;$3:7;B:B;5:7)" },
        // sheet-qualified: the cell moves, the sheet never does
        { "Sheet2!A1+'It''s'!B2:C3+Sheet1:Sheet3!$A$1", 1, 1, "=Sheet2!B2+'It''s'!C3:D4+Sheet1:Sheet3!$A$1" },
        { "'S'!AB1+'My Sheet'!$B$2+'S'!B$1:$C3", 1, 1, "='S'!AC2+'My Sheet'!$B$2+'S'!C$1:$C4" },
        { "'x'&LOG10(A1)&'y'", 1, 0, "='x'&L10(A2)&'y'" },
        { "2019!A1+Q1!A1+Q1", 1, 0, "=2019!A2+Q1!A2+Q2" },  { "Q1:Q4!A1+Q1", 1, 0, "=Q1:Q4!A2+Q2" },
        { "my.data!B2+[1]Sheet1!A1+Sheet2!Total", 1, 0, "=my.data!B3+[1]Sheet1!A2+Sheet2!Total" },
        // functions, names, numbers, errors and literals are never references
        { "LOG10(A1)+BIN2DEC(A1)+B2D(A1)+ATAN2(A1,B1)", 1, 0, "=L10(A2)+B2D(A2)+B2D(A2)+ATAN2(A2;B2)" },
        { "Q1Sales+TAX2020x+R1C1+XFE1+A1048577+A0+ABCD1", 1, 1, "=Q1Sales+TAX2020x+R1C1+XFE1+A1048577+A0+ABCD1" },
        { "A1.5+A1_x+1E5+A1+1.5E+3+#REF!+#DIV/0!+#N/A", 1, 0, "=A1.5+A1_x+1E5+A2+1.5E+3+#REF!+#DIV/0!+#N/A" },
        { "Tbl1[A1]+A1+SUM(Table1[[#This Row],[RDS2]])", 1, 1, "=Tbl1[A1]+B2+SUM(Table1[[#This Row],[RDS2]])" },
        { "\"a<>A1\"&\"x,y\"&'a,b<>c'!A1", 1, 0, "=\"a<>A1\"&\"x,y\"&'a,b<>c'!A2" },
        { "\"say \"\"A1<>B1,\"\"\"&Table1[[#Headers],[A<>B,%]]", 1, 0,
          "=\"say \"\"A1<>B1,\"\"\"&Table1[[#Headers],[A<>B,%]]" },
        // pieces that only look like references, and sheets that are none
        { "A$:C$+$+A$1", 1, 1, "=A$:C$+$+B$1" },     { "A1[x]+A1:", 1, 0, "=A1[x]+A2:" },
        { "S!A1!B1", 1, 0, "=S!A1!B2" },               { "A1:B+1:A+A:1", 1, 1, "=B2:B+1:A+A:1" },
        { "S!A1(2)+\xC3\x84rger", 1, 0, "=S!A1(2)+\xC3\x84rger" },
        { "'x'&A1+_rate*A1+\\x", 1, 0, "='x'&A2+_rate*A2+\\x" },
        // off the sheet
        { "B1+A2+$A$1", -1, -1, "=#REF!+#REF!+$A$1" }, { "XFD1+A1048576", 1, 1, "=#REF!+#REF!" },
        { "SUM(A1:A5)+Sheet2!A1+'My Sheet'!B1:C1", -1, 0, "=SUM(#REF!)+Sheet2!#REF!+'My Sheet'!#REF!" },
        { "SUM(A2:XFD2)+A:A", 0, -1, "=SUM(#REF!)+#REF!" },
        { "A$1+$A1+1:1", -5, 0, "=A$1+#REF!+#REF!" },
        { "A1", 2147483647, 2147483647, "=#REF!" },  { "B2", -2147483647 - 1, 0, "=#REF!" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.out, Convert(c.in, c.drow, c.dcol)) << c.in << " by " << c.drow << "," << c.dcol;
}

// The text ends at its NUL, whatever the buffer holds behind it, after a quoted name too.
TEST_F(ConvertFormulaTest, ReadsNothingPastTheEndOfTheText)
{
    for (const char *last : { "'y'", "\"y\"", "A1", "SUM(", "#N/A" }) {
        std::string text = std::string(last) + '\0' + std::string(3000, 'B');
        char data[64];
        EXPECT_TRUE(ConvertFormula(text.c_str(), data, sizeof(data), 0, 0, "A1")) << last;
        EXPECT_EQ(text.substr(0, strlen(last)), std::string(data + 1)) << last;
    }
}

TEST_F(ConvertFormulaTest, CutToSize)
{
    struct { const char *in; uint32 size; const char *out; BOOL whole; } cases[] = {
        { "SUM(A1:A3)", 8, "=SUM(A1", FALSE },
        { "\"\xc3\xa9\"", 4, "=\"", FALSE },          // never half of a UTF-8 character
        { "\"\xF0\x9F\x98\x80\"", 7, "=\"\xF0\x9F\x98\x80", FALSE },   // but a whole one of four bytes
        { "A1%&\"\xc3\xa9\"", 13, "=(A1/100)&\"", FALSE },   // nor when a percent pushes it out
        { "A1", 1, "", FALSE },
        { "A1%", 6, "=(A1/", FALSE },                 // the percent no longer fits
        { "100%+A1234", 8, "=1+A", FALSE },          // cut before its percent shrinks it
        { "100%+A1", 9, "=1+A1", TRUE },             // exactly full before
        // own functions: an expansion that does not fit keeps the name, nor does _xlfn.CSC(1)
        { "CSC(1)", 12, "=(1/SIN(1))", TRUE }, { "CSC(1)", 11, "=_xlfn.CSC", FALSE },
        { "ASC(A1)", 9, "=(A1)", TRUE },             // it shrinks: room for the call is enough
    };
    for (const auto &c : cases) {
        char data[32]; memset(data, '#', sizeof(data));
        EXPECT_EQ(c.whole, ConvertFormula(c.in, data, c.size, 0, 0)) << c.in << " in " << c.size;
        EXPECT_STREQ(c.out, data) << c.in << " in " << c.size;
        EXPECT_EQ('#', data[c.size]) << c.in << " in " << c.size;
    }
    char data[4] = "##";
    EXPECT_FALSE(ConvertFormula("A1", data, 0, 0, 0));
    EXPECT_EQ('#', data[0]);
}

TEST_F(ConvertFormulaTest, LongTexts)
{
    // Longer than any buffer, and growing as it moves: cut, never overrun.
    std::string in;
    while (in.size() < 3000)
        in += "A9+";
    char data[XML_BUFSIZE + 16]; memset(data, '#', sizeof(data));
    ConvertFormula(in.c_str(), data, XML_BUFSIZE, 1, 0);
    EXPECT_EQ((size_t)XML_BUFSIZE - 1, strlen(data));
    EXPECT_EQ(0, strncmp(data, "=A10+A10+", 9));
    EXPECT_EQ(std::string(16, '#'), std::string(data + XML_BUFSIZE, 16));
    // A run of digits before "%" of any length keeps its value.
    EXPECT_EQ("=(" + std::string(900, '7') + "/100)", Convert(std::string(900, '7') + "%"));
    // An expansion of MOD that would not fit keeps the name. "=((n)-(2)*INT((n)/(2)))" is 21
    // characters and twice n: 1023 for n of 501.
    std::string arg(501, '1');
    EXPECT_EQ("=((" + arg + ")-(2)*INT((" + arg + ")/(2)))", Convert("MOD(" + arg + ",2)"));
    EXPECT_EQ("=_xlfn.MOD(" + arg + ";22)", Convert("MOD(" + arg + ",22)"));
}

// MOD, ASC and CSC of the workbook never reach the host under its codes for MODE, CODE and
// CONCATENATE: they become expressions of the host's functions, arguments converted first.
TEST_F(ConvertFormulaTest, OwnModAscCscBecomeExpressions)
{
    struct { const char *in; int32 drow; const char *out; } cases[] = {
        { "MOD(A1,2)", 0, "=((A1)-(2)*INT((A1)/(2)))" },
        { "mod( A1 , B1 )+MODE(A1:A9)", 0, "=(( A1 )-( B1 )*INT(( A1 )/( B1 )))+MOD(A1:A9)" },
        { "CSC(A1)&ASC(\"x\")&CODE(B1)", 0, "=(1/SIN(A1))&(\"x\")&ASC(B1)" },
        { "_xlfn.CSC(PI()/2)*_xlws._xlfn.asc(1)", 0, "=(1/SIN(PI()/2))*(1)" },
        { "_XLFN.CSC(1)+_Xlfn.Mod(3,2)", 0, "=(1/SIN(1))+((3)-(2)*INT((3)/(2)))" },
        { "MOD(MOD(A1,3),2)", 1,
          "=((((A2)-(3)*INT((A2)/(3))))-(2)*INT((((A2)-(3)*INT((A2)/(3))))/(2)))" },
        { "MOD(A1%,5%)+MOD(SUM({1,2;3,4}),AVERAGE(B1,B2))", 0,
          "=(((A1/100))-(0.05)*INT(((A1/100))/(0.05)))+"
          "((SUM({1,2;3,4}))-(AVG(B1;B2))*INT((SUM({1,2;3,4}))/(AVG(B1;B2))))" },
        { "CONCATENATE(\"MOD(1,2)\",\"CSC(1)\")", 0, "=CSC(\"MOD(1,2)\";\"CSC(1)\")" },
        // another number of arguments: the name stays, marked as the workbook's own
        { "MOD(A1)+CSC(1,2)+ASC()+_xlfn.CSC(A1,B1)", 0,
          "=_xlfn.MOD(A1)+_xlfn.CSC(1;2)+_xlfn.ASC()+_xlfn.CSC(A1;B1)" },
        { "MOD(A1,", 0, "=_xlfn.MOD(A1;" },
        { "XMOD(A1,2)+MOD.X(1)+A1MOD(1)", 0, "=XMOD(A1;2)+MOD.X(1)+A1MOD(1)" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.out, Convert(c.in, c.drow)) << c.in;
}
