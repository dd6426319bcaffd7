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

TEST_F(TranslateFormulaTest, EveryNamedRow)
{
    struct { const char *name, *code; } rows[] = {
        { "ABS", "ABS" },         { "COUNTA", "NUM" },      { "SUM", "SUM" },
        { "PRODUCT", "PRT" },     { "FACT", "FAK" },        { "EXP", "EXP" },
        { "LN", "LN" },           { "LOG10", "L10" },       { "GCD", "GCD" },
        { "NOT", "NOT" },         { "AND", "AND" },         { "OR", "OR" },
        { "IF", "IF" },           { "CHOOSE", "SEL" },      { "RADIANS", "RAD" },
        { "DEGREES", "DEG" },     { "SIN", "SIN" },         { "COS", "COS" },
        { "TAN", "TAN" },         { "SINH", "SNH" },        { "COSH", "CSH" },
        { "TANH", "TNH" },        { "ASIN", "ASN" },        { "ACOS", "ACS" },
        { "ATAN", "ATN" },        { "RAND", "RAN" },        { "UPPER", "UPC" },
        { "LOWER", "LWC" },       { "LEFT", "LEF" },        { "RIGHT", "RIG" },
        { "MID", "MID" },         { "EXACT", "PAT" },       { "LEN", "LEN" },
        { "FIND", "POS" },        { "VALUE", "VAL" },       { "TEXT", "TXT" },
        { "CHAR", "CHR" },        { "MONTH", "MON" },       { "DAY", "DAY" },
        { "YEAR", "YER" },        { "ORG.OPENOFFICE.ISLEAPYEAR", "LEP" },
        { "DAYSINYEAR", "DOY" },  { "WEEKNUM", "WEK" },     { "WEEKDAY", "WKD" },
        { "TODAY", "TDY" },       { "NOW", "NOW" },         { "HOUR", "THR" },
        { "MINUTE", "TMN" },      { "SECOND", "TSC" },      { "AVERAGE", "AVG" },
        { "MEDIAN", "MED" },      { "PERCENTILE", "PER" },  { "VAR", "VAR" },
        { "MIN", "MIN" },         { "MAX", "MAX" },         { "SQRT", "SQR" },
        { "CONCATENATE", "CSC" }, { "COM.MICROSOFT.CONCAT", "CSC" },
        { "ORG.OPENOFFICE.EASTERSUNDAY", "ESD" },           { "PI", "PI" },
        { "MODE", "MOD" },        { "XOR", "XOR" },         { "INT", "INT" },
        { "ROUND", "ROU" },       { "SIGN", "SGN" },        { "ISTEXT", "ITX" },
        { "ISNUMBER", "INM" },    { "ISDATE", "IDT" },      { "ISBLANK", "IEC" },
        { "TRIM", "TRI" },        { "CLEAN", "CLN" },       { "REPT", "REP" },
        { "PROPER", "UP2" },      { "CODE", "ASC" },        { "BIN2DEC", "B2D" },
        { "BIN2OCT", "B2O" },     { "BIN2HEX", "B2H" },     { "OCT2DEC", "O2D" },
        { "OCT2BIN", "O2B" },     { "OCT2HEX", "O2H" },     { "DEC2BIN", "D2B" },
        { "DEC2OCT", "D2O" },     { "DEC2HEX", "D2H" },     { "HEX2DEC", "H2D" },
        { "HEX2OCT", "H2O" },     { "HEX2BIN", "H2B" },
    };
    EXPECT_EQ(86u, sizeof(rows) / sizeof(rows[0]));
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
