// TranslateFormula: function names into the host's three-letter codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "formula/formula.h"
#include "tests/support/standin.h"
#include "xml/xml.h"

class TranslateFormulaTest : public ::testing::Test {
protected:
    void SetUp() override { testing_support::UseStandIn(); }

    static std::string Translate(const std::string &text)
    {
        char buf[XML_BUFSIZE];
        snprintf(buf, sizeof(buf), "%s", text.c_str());
        TranslateFormula(buf);
        return buf;
    }
};

TEST_F(TranslateFormulaTest, KnownAnswers)
{
    struct { const char *in, *out; } cases[] = {
        // the table's first and last rows, codes filled with "_", codes with digits, two
        // names for one code, names of two words, mixed case
        { "=ABS(A1)+HEX2BIN(A1)+LN(A1)+PI()+OR(A1)", "=ABS(A1)+H2B(A1)+LN(A1)+PI()+OR(A1)" },
        { "=LOG10(A1)+BIN2DEC(A1)+CONCATENATE(A1)&com.microsoft.concat(A1)", "=L10(A1)+B2D(A1)+CSC(A1)&CSC(A1)" },
        { "=ORG.OPENOFFICE.EASTERSUNDAY(2020)+Org.OpenOffice.IsLeapYear(A1)", "=ESD(2020)+LEP(A1)" },
        { "=PROPER(A1)&CODE(A1)&ISBLANK(A1)&DAYSINYEAR(A1)", "=UP2(A1)&ASC(A1)&IEC(A1)&DOY(A1)" },
        // nested, after parentheses of no function, and the longest name wins
        { "=IF(A1>0,SUM(B1:B3),average(C1:C3))/COUNTA(B1:B9)", "=IF(A1>0,SUM(B1:B3),AVG(C1:C3))/NUM(B1:B9)" },
        { "=ROUND(LOG10(ABS(A1)),2)+(A1+B1)*Pi()", "=ROU(L10(ABS(A1)),2)+(A1+B1)*PI()" },
        { "=ASIN(1)+SIN(1)+WEEKDAY(A1)+DAY(A1)+SINH(1)+TANH(1)", "=ASN(1)+SIN(1)+WKD(A1)+DAY(A1)+SNH(1)+TNH(1)" },
        // after a literal, names count again
        { "=\"ABS(\"&AVERAGE(1)", "=\"ABS(\"&AVG(1)" },
        { "=IF(\"SIN(\"=A1,ROUND(1,0),\"\")", "=IF(\"SIN(\"=A1,ROU(1,0),\"\")" },
        // prefixes of newer functions: go when the name is found, stay as written when not
        { "=_xlfn.XOR(A1,B1)+_xlws._xlfn.round(A1,1)+_XLFN.Average(A1)", "=XOR(A1,B1)+ROU(A1,1)+AVG(A1)" },
        { "=_xlfn._xlws.SORT(A1:A9)+_xlfn.(1)+_xlfnXOR(1)", "=_xlfn._xlws.SORT(A1:A9)+_xlfn.(1)+_xlfnXOR(1)" },
        { "=\"_xlfn.XOR(\"&_xlfn.XOR(1,0)", "=\"_xlfn.XOR(\"&XOR(1,0)" }, { "", "" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.out, Translate(c.in)) << c.in;
}

TEST_F(TranslateFormulaTest, WholeNamesOutsideLiteralsOnly)
{
    const char *kept[] = {
        "=DATEVALUE(A1)", "=SUMPRODUCT(A1:A3,B1:B3)", "=ISOWEEKNUM(A1)", "=DCOUNTA(A1:B9,1,C1:C2)",
        "=COUNTIF(A1:A9,1)", "=COUNT(A1:A9)", "=_xlfn.CONCAT(A1,B1)", "=X.SIN(1)", "=A_SIN(1)",
        "=\xc3\x84SIN(1)", "=SUM (A1)", "=?\?\?(1)", "=EXT(1)", "=NOP()",
        "=IF(A1=\"SIN(x)\",1,0)", "=LEN(\"a\"\"SIN(\")", "='ABS(1)'!A1", "='it''s SUM('!A1",
        "=Table1[[#This Row],[MIN(x)]]", "=Table1[Col'[SUM(']]",
        "=(CODE+MODE)*Sin+pi", "=((A1))+(1)",       // names of functions, but no call
    };
    for (const char *k : kept)
        EXPECT_EQ(k, Translate(k));
}

TEST_F(TranslateFormulaTest, FullBuffer)
{
    // 127 nested calls fill the buffer to its last byte; each shrinks by four characters.
    std::string in = "=", out = "=";
    for (int k = 0; k < 127; k++)
        in += "AVERAGE(", out += "AVG(";
    in += std::string(1023 - in.size(), ')');
    out += std::string(1023 - 1 - 127 * 8, ')');
    ASSERT_EQ(1023u, in.size());
    EXPECT_EQ(out, Translate(in));
}
