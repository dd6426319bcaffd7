// ConvertProzent: every percent sign into a decimal or a division by 100, in one pass.
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
    // The text after one call, which must not write past the buffer; whole: nothing was cut.
    static std::string Convert(const std::string &text, BOOL whole = TRUE)
    {
        char buf[XML_BUFSIZE + 16]; memset(buf, '#', sizeof(buf));
        snprintf(buf, XML_BUFSIZE, "%s", text.c_str());
        EXPECT_EQ(whole, ConvertProzent(buf, XML_BUFSIZE)) << text.substr(0, 40);
        EXPECT_EQ(std::string(16, '#'), std::string(buf + XML_BUFSIZE, 16)) << "overrun";
        return buf;
    }
};

TEST_F(ConvertProzentTest, LiteralsBecomeDecimalsOtherOperandsDivisionsToTheBuffersEnd)
{
    struct { const char *in, *out; } cases[] = {
        { "=12.5%", "=0.125" }, { "=150%", "=1.5" }, { "=100%", "=1" }, { "=0%", "=0" }, { "=.5%", "=0.005" },
        { "=007%", "=0.07" }, { "=1000.50%", "=10.005" }, { "=2.%", "=0.02" }, { "=-5%", "=-0.05" },
        { "=SUM(5%,B1)", "=SUM(0.05,B1)" }, { "=5%%", "=0.0005" }, { "=\"a%\"&5%", "=\"a%\"&0.05" },
        // blanks between a number and its "%" belong to the literal
        { "=10 %", "=0.1" }, { "=5 %+1", "=0.05+1" }, { "=5\t\r\n%", "=0.05" }, { "=A1 %", "=(A1/100)" },
        { "=$A$1%*2", "=($A$1/100)*2" }, { "=\"250\"%", "=(\"250\"/100)" }, { "=(A1+B1)%", "=((A1+B1)/100)" },
        { "=B1*A1:A3%", "=B1*(A1:A3/100)" }, { "={1,2}%", "=({1,2}/100)" }, { "=1E5%", "=(1E5/100)" },
        { "=1E5-3%", "=1E5-0.03" },   // the sign of an exponent stands right behind the E
        { "='My Sheet'!A1%", "=('My Sheet'!A1/100)" }, { "=Table1[Col]%", "=(Table1[Col]/100)" },
        { "=A1%%", "=((A1/100)/100)" }, { "=1+!A1%", "=1+!(A1/100)" }, { "=1 2%", "=1 0.02" },
        { "=1 (2)%", "=1 ((2)/100)" },
        { "=A1: B1%", "=A1: (B1/100)" }, { "=1 :A1%", "=1 :(A1/100)" },   // a blank ends the range
        // percent inside literals, or with no operand, stays
        { "=\"12%\"", nullptr }, { "=\"a\"\"5%\"", nullptr }, { "='100%'!A1", nullptr }, { "=%", nullptr },
        { "=Table1[[#This Row],[50%]]", nullptr }, { "=(%)", nullptr }, { "=1+%", nullptr }, { "=A1)%", nullptr },
        { "=)%", nullptr }, { "=A1:%", nullptr }, { "=Sheet1!%", nullptr }, { "=A1:B1 %", "=(A1:B1/100)" },
        { "=12%+112%", "=0.12+1.12" }, { "=A1%+5%+B1%", "=(A1/100)+0.05+(B1/100)" },
        // a percent of a percent divides what the first one made, whatever stands before it
        { "=A1%%%", "=(((A1/100)/100)/100)" }, { "=(A1+B1)%%+5%", "=(((A1+B1)/100)/100)+0.05" },
        { "=5%%*A1%", "=0.0005*(A1/100)" }, { "=SUM(A1%%,2)", "=SUM(((A1/100)/100),2)" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.out != nullptr ? c.out : c.in, Convert(c.in)) << c.in;
    std::string digits, ones(1021, '1'), open(300, '('), close(300, ')'), grows = "=";
    for (int k = 0; k < 60; k++)
        digits += "1234567890";
    EXPECT_EQ("=" + digits.substr(0, 126) + ".78", Convert("=" + digits.substr(0, 128) + "%"));
    // Longer runs than any number a workbook holds are divided, which gives the same value.
    EXPECT_EQ("=(" + digits + "/100)", Convert("=" + digits + "%"));
    // 1021 ones fill the buffer: the division is cut where it no longer fits.
    EXPECT_EQ("=(" + ones, Convert("=" + ones + "%", FALSE));
    // Past 256 open parentheses a closing one takes no "%"; the outer ones still do.
    EXPECT_EQ("=(" + open + "1" + close + "/100)", Convert("=" + open + "1" + close + "%"));
    EXPECT_EQ("=" + open + "0.01" + close, Convert("=" + open + "1%" + close));
    std::string deep = "=" + open + "A1)%" + close.substr(1);
    EXPECT_EQ(deep, Convert(deep));
    // Every "A1%+" grows by five: the first that no longer fits is cut at the buffer, which
    // Convert checks for overruns, and ends the pass.
    while (grows.size() + 4 < XML_BUFSIZE)
        grows += "A1%+";
    std::string out = Convert(grows, FALSE);
    EXPECT_LE(out.size(), (size_t)XML_BUFSIZE - 1);
    EXPECT_EQ(0, out.compare(0, 14, "=(A1/100)+A1%+"));
    struct { const char *in; uint32 size; const char *out; BOOL cut; } full[] = {
        { "=A1%", 10, "=(A1/100)", FALSE }, { "=5%", 5, "=0.0", TRUE }, { "=5%", 6, "=0.05", FALSE },
        { "=A1%", 9, "=(A1/100", TRUE },                 // the division fits, its "(" does not
        { "=A1%\xE2\x82\xAC", 10, "=(A1/100)", TRUE },   // the euro goes whole, and "(" fits
        { "=A1%+B1%", 10, "=(A1/100)", TRUE },           // stops at the first cut
        { "=5%", 0, "=5%", TRUE },
    };
    char buf[XML_BUFSIZE];
    for (const auto &c : full) {
        SCOPED_TRACE(std::string(c.in) + " in " + std::to_string(c.size));
        EXPECT_EQ(!c.cut, ConvertProzent(strcpy(buf, c.in), c.size)); EXPECT_STREQ(c.out, buf);
    }
}
