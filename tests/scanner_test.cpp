// The stream scanner over in-memory streams.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/standin.h"
#include "xml/xml.h"

namespace {

class Scanner : public ::testing::Test {
protected:
    void SetUp() override { testing_support::UseStandIn(); }
    void TearDown() override
    {
        CloseXMLStream(fp);
        EXPECT_TRUE(testing_support::NothingLeft());
    }
    void Open(const std::string &text)
    {
        CloseXMLStream(fp);
        fp = OpenXMLStream(platform::MemoryFile(text, 1024));
    }
    // The rest of the stream, to see where a call left it.
    std::string Rest()
    {
        std::string s;
        for (int32 c; (c = NextByte(fp)) >= 0;)
            s += (char)c;
        return s;
    }
    XMLFile *fp = nullptr;
    char tag[XML_BUFSIZE];
    BOOL trunc = FALSE, complete = FALSE;
};

TEST_F(Scanner, FindXMLSectionMatchesNamesAfterAPrefix)
{
    const std::string x(1022, 'x');
    struct {
        std::string xml;
        const char *sname;
        BOOL found;
        std::string tag;
        const char *rest;
        BOOL complete, cut = FALSE;
    } cases[] = {
        { "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c>", "c", TRUE, "c r=\"A1\" t=\"s\"", "<v>0</v></c>", FALSE },
        { "<v>1</v></x:c>", "/c", TRUE, "/x:c", "", FALSE },
        { "<t>a</t><t xml:space=\"preserve\">b</t>", "t ", TRUE, "t xml:space=\"preserve\"", "b</t>", FALSE },
        { "<!-- <c r=\"Z9\"> --><c r=\"A1\">", "c", TRUE, "c r=\"A1\"", "", FALSE },
        { "<![CDATA[<c r=\"Z9\">]]><c r=\"A2\">", "c", TRUE, "c r=\"A2\"", "", FALSE },
        { "<?xml version=\"1.0\"?><c>", "", TRUE, "c", "", FALSE },
        { "<col min=\"1\"/><c r=\"A1\">", "c", TRUE, "col min=\"1\"/", "<c r=\"A1\">", TRUE },
        { "<!-- a -> b --><!DOCTYPE x><c\tr=\"1\"\r\n/>", "c", TRUE, "c\tr=\"1\"\r\n/", "", TRUE },
        { "<c a=\"it's\" b='say \"x>\"'>", "c", TRUE, "c a=\"it's\" b='say \"x>\"'", "", FALSE },
        // the end of the file inside markup
        { "<c r=\"A1\"", "c", FALSE, "c r=\"A1\"", "", FALSE }, { "<", "", FALSE, "", "", FALSE },
        { "<!-- <c>", "c", FALSE, "", "", FALSE },              { "<![CDA", "c", FALSE, "", "", FALSE },
        { "<!DOCTYPE x", "c", FALSE, "", "", FALSE },
        // long tags are cut and the stream stays in step
        { "<c" + x + "><v>7</v>", "c", TRUE, "c" + x, "<v>7</v>", FALSE },
        { "<c" + x + "y><v>7</v>", "c", TRUE, "c" + x, "<v>7</v>", FALSE, TRUE },
        { "<c" + x + x + "/><v>7</v>", "c", TRUE, "c" + x, "<v>7</v>", TRUE, TRUE },   // still known closed
    };
    for (const auto &c : cases) {
        std::string what = c.xml.substr(0, 60);
        Open(c.xml);
        complete = trunc = FALSE;
        EXPECT_EQ(c.found, FindXMLSection(fp, c.sname, sizeof(tag), tag, &trunc, &complete)) << what;
        EXPECT_EQ(c.cut, trunc) << what;
        EXPECT_EQ(c.tag, tag) << what;
        EXPECT_EQ(c.complete, complete) << what;
        if (c.found) {
            EXPECT_EQ(c.rest, Rest()) << what;
        }
    }
}

TEST_F(Scanner, CheckofSectionPeeksWithoutMoving)
{
    Open("text <!-- c --><x:f t=\"shared\"/><v>1</v>");
    EXPECT_TRUE(CheckofSection(fp, "f"));
    EXPECT_FALSE(CheckofSection(fp, "v"));      // looks at the same tag again
    EXPECT_TRUE(CheckofSection(fp, "f t="));
    EXPECT_EQ("text <!-- c --><x:f t=\"shared\"/><v>1</v>", Rest());
    EXPECT_FALSE(CheckofSection(fp, ""));       // at the end

    // The peeked tag ends in the next block: the way back is a seek of the system.
    std::string xml = std::string(XML_BLOCKSIZE - 4, ' ') + "<c r=\"A1\"/>";
    Open(xml);
    EXPECT_TRUE(CheckofSection(fp, "c"));
    EXPECT_EQ(xml, Rest());
    Open(xml);
    platform::faults.failAt = 3;       // the block, the next block, the seek
    EXPECT_TRUE(CheckofSection(fp, "c"));
    EXPECT_STREQ("ChangeFilePosition", platform::FailedCall());
    EXPECT_FALSE(EndOfFile(fp));       // the stream knows it is not where it was
}

TEST_F(Scanner, GetSectionParameterReadsAttributes)
{
    struct { const char *key, *tag, *value; uint32 size = XML_BUFSIZE; BOOL cut = FALSE; } cases[] = {
        { "r=", "c r=\"B12\" s=\"3\"", "\"B12\"" }, { " t=", "c r=\"B12\" s=\"3\"", "" },
        { "r=", "c R=\"C3\"", "\"C3\"" },   { "r=", "c attr=\"1\" r=\"D4\"", "\"D4\"" },   // not a longer name's end
        { "r=", "c r = \"F6\"", "\"F6\"" }, { "t=", "c t=\"a b\"", "\"a b\"" },
        // odd but readable: values without quotes, names without values, other blanks
        { " t=", "c r=B2 t=s/", "\"s\"" },   { "r=", "c r=B2>", "\"B2\"" },
        { "r=", "c hidden r=\"A1\"", "\"A1\"" }, { "r=", "c\tr=\n'A1'", "\"A1\"" },
        { "r=", "c r=\"A1", "\"A1\"" },      // never closed: to the end
        { "r=", "c a/ r=1", "\"1\"" },       { "r=", "c a>r=1", "" },
        { "_=", "c \x7F=\"1\"", "" },         // case is for letters only
        { "r=", "c r=\"ABCDEFG\"", "\"ABC\"", 6, TRUE },
        { "r=", "c r=\"A\"", "", 2 },          // not even the quotes fit: nothing is read
    };
    for (const auto &c : cases) {
        char value[XML_BUFSIZE];
        trunc = FALSE;
        GetSectionParameter(c.key, c.tag, c.size, value, &trunc);
        EXPECT_STREQ(c.value, value) << c.key << " in " << c.tag;
        EXPECT_EQ(c.cut, trunc) << c.key << " in " << c.tag;
    }
}

TEST_F(Scanner, GetXMLValueReadsUpToTheEndTagAndItsLimits)
{
    struct {
        const char *xml, *value, *rest;
        BOOL ended = TRUE, cut = FALSE;
        uint32 maxchars = TEXT_MAXCHARS, size = XML_BUFSIZE;
        BOOL escapes = TRUE;
    } cases[] = {
        { "3.5</v></c>", "3.5", "</c>" },   { "a&lt;&#x263A;</x:v>", "a<\xE2\x98\xBA", "" },
        { "<![CDATA[a<b & c&amp;]]></t>", "a<b & c&amp;", "" },
        { "<![CDATA[]]]]></t>", "]]", "" }, { "a<!-- note -->b</t>", "ab", "" },
        { "a\r\nb\rc\n\nd</t>", "a\nb\nc\n\nd", "" }, { "<![CDATA[a\r\nb\r]]></t>", "a\nb\n", "" },
        { "a_x000D_b_x005F_x0041_</t>", "a\rb_x0041_", "" },
        { "&am</t>", "&am", "" },                        // a reference cut by the end tag
        { "&amp<![CDATA[;]]></t>", "&amp;", "" },        // nor does CDATA complete one
        { "<![CDATA[>a]>\nb]]]></t>", ">a]>\nb]", "" },
        // the end of the file, in text or inside markup: what was read is kept
        { "12", "12", "", FALSE },          { "a<", "a", "", FALSE },
        { "a<![CDA", "a", "", FALSE },      { "a<!-- x", "a", "", FALSE },
        { "a</v", "a", "", FALSE },         { "a<![CDATA[", "a", "", FALSE },
        { "a<![CDATA[x", "ax", "", FALSE }, { "<![CDATA[x]]", "x]]", "", FALSE },
        { "<![CDATA[x\xC3\xA9", "x\xC3\xA9", "", FALSE },  // no character cut in two
        { "<![CDATA[x\r", "x\n", "", FALSE }, { "<![CDATA[\rx", "\nx", "", FALSE },
        // whole characters up to the limit, which counts characters, not bytes
        { "abcdefghij</v>x", "abcdefg", "x", TRUE, TRUE, 7 }, { "abcdefg</v>x", "abcdefg", "x", TRUE, FALSE, 7 },
        { "abcde\xC3\xA9z</v>x", "abcde\xC3\xA9", "x", TRUE, TRUE, 6 },
        { "ab\xF0\x9F\x98\x80" "cd</v>x", "ab\xF0\x9F\x98\x80", "x", TRUE, TRUE, 3 },
        { "abc&amp;defg</v>x", "abc&", "x", TRUE, TRUE, 4 },     // a reference is one
        { "abc&amp;</v>x", "abc", "x", TRUE, TRUE, 3 },          // never half of it
        { "ab_x000D_</v>x", "ab\r", "x", TRUE, FALSE, 3 },       // an escape is one
        { "ab_x000D_</v>x", "ab_", "x", TRUE, TRUE, 3, XML_BUFSIZE, FALSE },   // unless it is none
        { "<![CDATA[abcd]]>ef</v>x", "abc", "x", TRUE, TRUE, 3 },
        // and up to the buffer, whose last byte is the NUL's
        { "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC</v>", "\xE2\x82\xAC\xE2\x82\xAC", "", TRUE, TRUE, 100, 8 },
        { "abc</v>", "ab", "", TRUE, TRUE, 100, 3 },
    };
    for (const auto &c : cases) {
        std::vector<char> value(c.size + 4, '#');
        XMLText text;
        Open(c.xml);
        TextBegin(&text, value.data(), c.size, c.maxchars, c.escapes);
        EXPECT_EQ(c.ended, GetXMLValue(fp, &text)) << c.xml;
        EXPECT_STREQ(c.value, value.data()) << c.xml;
        EXPECT_EQ(c.cut, text.cut) << c.xml;
        EXPECT_EQ(c.rest, Rest()) << c.xml;
        EXPECT_EQ("####", std::string(value.end() - 4, value.end())) << c.xml;
    }
}

TEST(ReplaceString, ReplacesEveryOccurrenceIgnoringCase)
{
    testing_support::UseStandIn();
    std::string x(1000, 'x'), z(101, 'z');
    struct { std::string text; const char *from, *to; std::string result; } cases[] = {
        { "1&lt;2&LT;3", "&lt;", "<", "1<2<3" }, { "abc", "abcd", "x", "abc" }, { "abc", "", "x", "abc" },
        { "aaa", "a", "aa", "aaaaaa" },           { "v>42</v", "v>", "", "42</v" },
        { x + "y", "y", z.c_str(), (x + z).substr(0, 1023) },    // cut in the replacement
        { "y" + x, "y", z.c_str(), (z + x).substr(0, 1023) },    // or behind it
    };
    for (const auto &c : cases) {
        char buf[XML_BUFSIZE];
        strcpy(buf, c.text.c_str());
        ReplaceString(buf, c.from, c.to);
        EXPECT_EQ(c.result, buf) << c.text;
    }
}

// Good names are read back in cellref_test; these are the odd ones.
TEST(GetRowColumnNumber, ReadsCellNames)
{
    testing_support::UseStandIn();
    struct { const char *name; uint32 row, col; } cases[] = {
        { "\"AA10\"", 10, 27 }, { "A1:A9", 1, 1 }, { "AB", 0, 0 }, { "12", 12, 0 }, { "", 0, 0 },
        { "a1", 1, 1 }, { "\"A7\"/", 7, 1 }, { "AAAA1", 1, 0 }, { "A0", 0, 1 }, { "$A$1", 0, 0 },
        { "A_1", 0, 0 }, { "A:1", 0, 0 }, { "A1234567890", 0, 1 }, { "A{1", 0, 0 },
    };
    for (const auto &c : cases) {
        char buf[256];
        uint32 row = 99, col = 99;
        snprintf(buf, sizeof(buf), "%s", c.name);
        GetRowColumnNumber(buf, &row, &col);
        EXPECT_EQ(c.row, row) << c.name;
        EXPECT_EQ(c.col, col) << c.name;
    }
}

TEST(TagIs, ComparesWholeLocalNamesAndTagNameCutsToItsBuffer)
{
    struct { const char *tag, *name; bool is; } cases[] = {
        { "col min=\"1\"", "c", false }, { "/x:c", "/c", true }, { "/c", "c", false }, { "c/", "c", true },
        { "sheetDataExt", "sheetData", false },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.is, TagIs(c.tag, c.name) == TRUE) << c.tag << " / " << c.name;
    struct { const char *tag; uint32 size; const char *name; } names[] = {
        { "/x:c", 16, "/c" }, { "x:row r=\"1\"", 16, "row" }, { "c/", 16, "c" },
        { "/x:conditionalFormatting", 8, "/condit" }, { "/c", 2, "/" }, { "/c", 1, "" },
    };
    for (const auto &c : names) {
        char name[16];
        TagName(c.tag, name, c.size);
        EXPECT_STREQ(c.name, name) << c.tag << " in " << c.size;
    }
}

}  // namespace
