// ConvertProzent: percent signs into decimals and divisions by 100.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "formula/formula.h"
#include "tests/support/standin.h"
#include "xml/xml.h"

class ConvertProzentTest : public ::testing::Test {
protected:
    void SetUp() override { testing_support::UseStandIn(); }

    // The text after every call that converts; *calls counts them.
    static std::string Convert(const std::string &text, int *calls = nullptr)
    {
        char buf[XML_BUFSIZE];
        int n = 0;
        snprintf(buf, sizeof(buf), "%s", text.c_str());
        while (n < 2000 && ConvertProzent(buf, sizeof(buf), nullptr))
            n++;
        if (calls != nullptr)
            *calls = n;
        return buf;
    }
};

TEST_F(ConvertProzentTest, LiteralsBecomeExactDecimals)
{
    struct { const char *in, *out; } cases[] = {
        { "=A1*12%", "=A1*0.12" },   { "=5%", "=0.05" },         { "=12.5%", "=0.125" },
        { "=150%", "=1.5" },         { "=100%", "=1" },          { "=0%", "=0" },
        { "=0.5%", "=0.005" },       { "=.5%", "=0.005" },       { "=007%", "=0.07" },
        { "=1000%", "=10" },         { "=1000.50%", "=10.005" }, { "=2.%", "=0.02" },
        { "=12345%", "=123.45" },    { "=-5%", "=-0.05" },       { "=10%*A1", "=0.1*A1" },
        { "=SUM(5%,B1)", "=SUM(0.05,B1)" },
        // blanks between a number and its "%" belong to the literal
        { "=A1*10 %", "=A1*0.1" },   { "=10 %", "=0.1" },        { "=5 %+1", "=0.05+1" },
        { "=5\t\r\n%", "=0.05" },     { "=A1 %", "=(A1/100)" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.out, Convert(c.in)) << c.in;
}

TEST_F(ConvertProzentTest, OneLiteralPerCall)
{
    char buf[XML_BUFSIZE] = "=12%+112%";
    EXPECT_TRUE(ConvertProzent(buf, sizeof(buf), nullptr));
    EXPECT_STREQ("=0.12+112%", buf);
    EXPECT_TRUE(ConvertProzent(buf, sizeof(buf), nullptr));
    EXPECT_STREQ("=0.12+1.12", buf);
    EXPECT_FALSE(ConvertProzent(buf, sizeof(buf), nullptr));
    EXPECT_STREQ("=0.12+1.12", buf);
}

TEST_F(ConvertProzentTest, OtherOperandsAreDivided)
{
    struct { const char *in, *out; } cases[] = {
        { "=A1%", "=(A1/100)" },
        { "=$A$1%*2", "=($A$1/100)*2" },
        { "=SUM(A1:A3)%", "=(SUM(A1:A3)/100)" },
        { "=\"250\"%", "=(\"250\"/100)" },
        { "=(A1+B1)%", "=((A1+B1)/100)" },
        { "=B1*A1:A3%", "=B1*(A1:A3/100)" },
        { "=Sheet2!A1%", "=(Sheet2!A1/100)" },
        { "='My Sheet'!A1%", "=('My Sheet'!A1/100)" },
        { "=Table1[Col]%", "=(Table1[Col]/100)" },
        { "=1E5%", "=(1E5/100)" },
        { "=A1%%", "=((A1/100)/100)" },
        { "=5%%", "=0.0005" },
        { "=IF(A1,B1%,C1)", "=IF(A1,(B1/100),C1)" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.out, Convert(c.in)) << c.in;
}

TEST_F(ConvertProzentTest, PercentInLiteralsStays)
{
    const char *kept[] = {
        "=\"12%\"", "=\"a\"\"5%\"", "='100%'!A1", "=Table1[[#This Row],[50%]]",
        "=SUM(A1:A3)", "=%", "=(%)", "=1+%",
    };
    for (const char *k : kept) {
        char buf[XML_BUFSIZE];
        snprintf(buf, sizeof(buf), "%s", k);
        EXPECT_FALSE(ConvertProzent(buf, sizeof(buf), nullptr)) << k;
        EXPECT_STREQ(k, buf);
    }
    EXPECT_EQ("=\"a%\"&0.05", Convert("=\"a%\"&5%"));
}

TEST_F(ConvertProzentTest, LongDigitRuns)
{
    std::string digits;
    for (int k = 0; k < 60; k++)
        digits += "1234567890";
    EXPECT_EQ("=" + digits.substr(0, 126) + ".78", Convert("=" + digits.substr(0, 128) + "%"));
    // Longer runs than any number a workbook holds are divided, which gives the same value.
    EXPECT_EQ("=(" + digits + "/100)", Convert("=" + digits + "%"));

    // 1021 ones fill the buffer: the division is cut where it no longer fits.
    std::string ones(1021, '1');
    EXPECT_EQ("=(" + ones, Convert("=" + ones + "%"));
}

TEST_F(ConvertProzentTest, GrowthIsCutAtTheBuffer)
{
    // Every "A1%+" grows by five; the sentinel behind the buffer must survive.
    char buf[XML_BUFSIZE + 16];
    memset(buf, '#', sizeof(buf));
    std::string in = "=";
    while (in.size() + 4 < XML_BUFSIZE)
        in += "A1%+";
    memcpy(buf, in.c_str(), in.size() + 1);
    int calls = 0;
    while (calls < 2000 && ConvertProzent(buf, XML_BUFSIZE, nullptr))
        calls++;
    EXPECT_LT(calls, 2000);
    EXPECT_LE(strlen(buf), (size_t)XML_BUFSIZE - 1);
    EXPECT_EQ(0, strncmp(buf, "=(A1/100)+(A1/100)+", 19));
    for (size_t k = XML_BUFSIZE; k < sizeof(buf); k++)
        EXPECT_EQ('#', buf[k]) << k;
}
