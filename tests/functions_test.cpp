// TranslateFormula: function names into the host's three-letter codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "formula/formula.h"
#include "tests/support/standin.h"
#include "xml/xml.h"

class TranslateFormulaTest : public ::testing::Test {
protected:
    void SetUp() override { testing_support::UseStandIn(); }

    static std::string Translate(const std::string &text, uint32 d = 2)
    {
        char buf[XML_BUFSIZE];
        snprintf(buf, sizeof(buf), "%s", text.c_str());
        TranslateFormula(buf, d);
        return buf;
    }
};

TEST_F(TranslateFormulaTest, RowsAtTheEdgesOfTheTable)
{
    // The first and last rows, codes filled with "_", codes with digits, two names for one
    // code, the longest name, names of two words, a name in mixed case.
    struct { const char *name, *code; } rows[] = {
        { "ABS", "ABS" },         { "HEX2BIN", "H2B" },     { "LN", "LN" },
        { "OR", "OR" },           { "IF", "IF" },           { "PI", "PI" },
        { "LOG10", "L10" },       { "BIN2DEC", "B2D" },     { "CONCATENATE", "CSC" },
        { "COM.MICROSOFT.CONCAT", "CSC" },                  { "ORG.OPENOFFICE.EASTERSUNDAY", "ESD" },
        { "ORG.OPENOFFICE.ISLEAPYEAR", "LEP" },             { "DAYSINYEAR", "DOY" },
        { "PROPER", "UP2" },      { "CODE", "ASC" },        { "ISBLANK", "IEC" },
    };
    for (const auto &r : rows) {
        EXPECT_EQ("=" + std::string(r.code) + "(A1)", Translate("=" + std::string(r.name) + "(A1)"))
            << r.name;
    }
}

TEST_F(TranslateFormulaTest, KnownAnswers)
{
    struct { const char *in, *out; } cases[] = {
        { "=average(A1:A3)", "=AVG(A1:A3)" },
        { "=Pi()*2", "=PI()*2" },
        { "=Ln(2)+log10(100)", "=LN(2)+L10(100)" },
        { "=CONCATENATE(A1,B1)&com.microsoft.concat(C1)", "=CSC(A1,B1)&CSC(C1)" },
        { "=ORG.OPENOFFICE.EASTERSUNDAY(2020)", "=ESD(2020)" },
        { "=IF(A1>0,SUM(B1:B3),AVERAGE(C1:C3))", "=IF(A1>0,SUM(B1:B3),AVG(C1:C3))" },
        { "=SUM(A1:A3)/COUNTA(B1:B9)", "=SUM(A1:A3)/NUM(B1:B9)" },
        { "=ROUND(LOG10(ABS(A1)),2)", "=ROU(L10(ABS(A1)),2)" },
        { "=SUM((A1+B1)*2)", "=SUM((A1+B1)*2)" },
        { "=(A1+B1)*2", "=(A1+B1)*2" },
        { "=A1+B1", "=A1+B1" },
        { "", "" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.out, Translate(c.in)) << c.in;
}

TEST_F(TranslateFormulaTest, LongestNameWins)
{
    EXPECT_EQ("=ASN(1)+SIN(1)", Translate("=ASIN(1)+SIN(1)"));
    EXPECT_EQ("=WKD(A1)+DAY(A1)", Translate("=WEEKDAY(A1)+DAY(A1)"));
    EXPECT_EQ("=SNH(1)+TNH(1)", Translate("=SINH(1)+TANH(1)"));
}

TEST_F(TranslateFormulaTest, WholeNamesOnly)
{
    const char *kept[] = {
        "=DATEVALUE(A1)", "=SUMPRODUCT(A1:A3,B1:B3)", "=ISOWEEKNUM(A1)", "=DCOUNTA(A1:B9,1,C1:C2)",
        "=COUNTIF(A1:A9,1)", "=COUNT(A1:A9)", "=_xlfn.CONCAT(A1,B1)", "=X.SIN(1)", "=A_SIN(1)",
        "=\xc3\x84SIN(1)", "=SUM (A1)", "=?\?\?(1)", "=EXT(1)", "=NOP()",
    };
    for (const char *k : kept)
        EXPECT_EQ(k, Translate(k));
}

TEST_F(TranslateFormulaTest, PrefixesOfNewerFunctions)
{
    struct { const char *in, *out; } cases[] = {
        { "=_xlfn.XOR(A1,B1)", "=XOR(A1,B1)" },                  // found: the prefix goes
        { "=_xlws._xlfn.round(A1,1)", "=ROU(A1,1)" },
        { "=_XLFN.Average(A1:A3)", "=AVG(A1:A3)" },
        { "=_xlfn._xlws.SORT(A1:A9)", "=_xlfn._xlws.SORT(A1:A9)" },   // not found: as written
        { "=_xlfn.(1)", "=_xlfn.(1)" },
        { "=_xlfnXOR(1)", "=_xlfnXOR(1)" },
        { "=\"_xlfn.XOR(\"&_xlfn.XOR(1,0)", "=\"_xlfn.XOR(\"&XOR(1,0)" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.out, Translate(c.in)) << c.in;
}

TEST_F(TranslateFormulaTest, LiteralsAreLeftAlone)
{
    const char *kept[] = {
        "=IF(A1=\"SIN(x)\",1,0)",
        "=LEN(\"a\"\"SIN(\")",
        "='ABS(1)'!A1",
        "='it''s SUM('!A1",
        "=Table1[[#This Row],[MIN(x)]]",
        "=Table1[Col'[SUM(']]",
    };
    for (const char *k : kept)
        EXPECT_EQ(k, Translate(k));
    EXPECT_EQ("=IF(\"SIN(\"=A1,ABS(1),\"\")", Translate("=IF(\"SIN(\"=A1,ABS(1),\"\")"));
    EXPECT_EQ("=\"ABS(\"&ABS(1)", Translate("=\"ABS(\"&ABS(1)"));
}

TEST_F(TranslateFormulaTest, ModeOneLeavesTheText)
{
    EXPECT_EQ("=AVERAGE(A1:A3)", Translate("=AVERAGE(A1:A3)", 1));
    EXPECT_EQ("=AVG(A1:A3)", Translate("=AVERAGE(A1:A3)", 0));
}

TEST_F(TranslateFormulaTest, FullBuffer)
{
    // 127 nested calls fill the buffer to its last byte; each shrinks by four characters.
    std::string in = "=", out = "=";
    for (int k = 0; k < 127; k++) {
        in += "AVERAGE(";
        out += "AVG(";
    }
    in += std::string(1023 - in.size(), ')');
    out += std::string(1023 - 1 - 127 * 8, ')');
    ASSERT_EQ(1023u, in.size());
    EXPECT_EQ(out, Translate(in));
}
