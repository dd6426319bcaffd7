// The stream scanner over in-memory streams.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/standin.h"
#include "xml/xml.h"

namespace {

class Scanner : public ::testing::Test {
protected:
    void SetUp() override { testing_support::UseStandIn(); }
    void TearDown() override
    {
        Close();
        EXPECT_TRUE(testing_support::NothingLeft());
    }
    // A stream over text, read through a handle whose buffer holds bufsize bytes.
    XMLFile *Open(const std::string &text, int32 bufsize = 1024)
    {
        Close();
        fp = OpenXMLStream(platform::MemoryFile(text, bufsize));
        return fp;
    }
    void Close()
    {
        CloseXMLStream(fp);
        fp = nullptr;
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
    struct {
        const char *xml, *sname;
        BOOL found;
        const char *tag, *rest;
        BOOL complete;
    } cases[] = {
        { "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c>", "c", TRUE, "c r=\"A1\" t=\"s\"", "<v>0</v></c>", FALSE },
        { "<c r=\"A1\" s=\"2\"/>", "c", TRUE, "c r=\"A1\" s=\"2\"/", "", TRUE },
        { "<x:row r=\"2\"><x:c r=\"B2\">", "c", TRUE, "x:c r=\"B2\"", "", FALSE },
        { "<v>1</v></x:c>", "/c", TRUE, "/x:c", "", FALSE },
        { "<t>a</t><t xml:space=\"preserve\">b</t>", "t ", TRUE, "t xml:space=\"preserve\"", "b</t>", FALSE },
        { "<t>a</t>", "t ", FALSE, "", "", FALSE },
        { "<!-- <c r=\"Z9\"> --><c r=\"A1\">", "c", TRUE, "c r=\"A1\"", "", FALSE },
        { "<![CDATA[<c r=\"Z9\">]]><c r=\"A2\">", "c", TRUE, "c r=\"A2\"", "", FALSE },
        { "<?xml version=\"1.0\"?><c>", "", TRUE, "c", "", FALSE },
        { "<c f=\"a>b\" r=\"A3\">x", "c", TRUE, "c f=\"a>b\" r=\"A3\"", "x", FALSE },
        { "<c r='A4'/>", "c", TRUE, "c r='A4'/", "", TRUE },
        { "<c r=\"A1\"", "c", FALSE, "c r=\"A1\"", "", FALSE },     // the end inside the tag
        { "no tags here", "c", FALSE, "", "", FALSE },
        { "<col min=\"1\"/><c r=\"A1\">", "c", TRUE, "col min=\"1\"/", "<c r=\"A1\">", TRUE },
        { "<!-- a -> b --><!DOCTYPE x><c\tr=\"1\"\r\n/>", "c", TRUE, "c\tr=\"1\"\r\n/", "", TRUE },
        { "<c a=\"it's\" b='say \"x>\"'>", "c", TRUE, "c a=\"it's\" b='say \"x>\"'", "", FALSE },
        // the end of the file inside markup
        { "<", "", FALSE, "", "", FALSE },
        { "<!-- <c>", "c", FALSE, "", "", FALSE },
        { "<!-", "c", FALSE, "", "", FALSE },
        { "<![CDA", "c", FALSE, "", "", FALSE },
        { "<!DOCTYPE x", "c", FALSE, "", "", FALSE },
    };
    for (const auto &c : cases) {
        Open(c.xml);
        complete = trunc = FALSE;
        EXPECT_EQ(c.found, FindXMLSection(fp, c.sname, sizeof(tag), tag, &trunc, &complete)) << c.xml;
        EXPECT_FALSE(trunc) << c.xml;
        EXPECT_STREQ(c.tag, tag) << c.xml;
        EXPECT_EQ(c.complete, complete) << c.xml;
        if (c.found) {
            EXPECT_EQ(c.rest, Rest()) << c.xml;
        }
        Close();
    }
}

TEST_F(Scanner, LongTagsAreCutAndTheStreamStaysInStep)
{
    for (size_t len : {1022u, 1023u, 1024u, 5000u}) {
        std::string text = "c" + std::string(len - 1, 'x');     // a tag text of len bytes
        Open("<" + text + "><v>7</v>");
        trunc = FALSE;
        ASSERT_TRUE(FindXMLSection(fp, "c", sizeof(tag), tag, &trunc, &complete));
        EXPECT_EQ(std::min<size_t>(len, 1023), strlen(tag)) << len;
        EXPECT_EQ(len > 1023, trunc == TRUE) << len;
        EXPECT_EQ("<v>7</v>", Rest()) << len;
        Close();
    }
}

TEST_F(Scanner, CheckofSectionPeeksWithoutMoving)
{
    Open("text <!-- c --><x:f t=\"shared\"/><v>1</v>");
    EXPECT_TRUE(CheckofSection(fp, "f"));
    EXPECT_FALSE(CheckofSection(fp, "v"));      // looks at the same tag again
    EXPECT_TRUE(CheckofSection(fp, "f t="));
    EXPECT_FALSE(CheckofSection(fp, "/c"));
    EXPECT_EQ("text <!-- c --><x:f t=\"shared\"/><v>1</v>", Rest());
    EXPECT_FALSE(CheckofSection(fp, ""));       // at the end
    Open("<?xml version=\"1.0\"?><c/>");
    EXPECT_TRUE(CheckofSection(fp, "c"));       // past the declaration
}

TEST_F(Scanner, CheckofSectionSeeksBackAcrossABlock)
{
    // The peeked tag ends in the next block: the way back is a seek of the system.
    std::string xml = std::string(XML_BLOCKSIZE - 4, ' ') + "<c r=\"A1\"/>";
    Open(xml);
    EXPECT_TRUE(CheckofSection(fp, "c"));
    EXPECT_EQ(xml, Rest());
    EXPECT_TRUE(EndOfFile(fp));

    Open(xml);
    platform::faults.failAt = 3;       // the block, the next block, the seek
    EXPECT_TRUE(CheckofSection(fp, "c"));
    EXPECT_STREQ("ChangeFilePosition", platform::FailedCall());
    EXPECT_FALSE(EndOfFile(fp));       // the stream knows it is not where it was
}

TEST_F(Scanner, PeeksInsideTheBufferCostNoSystemCall)
{
    std::string xml;
    for (int k = 0; k < 2000; k++)
        xml += "<c r=\"A" + std::to_string(k + 1) + "\"><v>1</v></c>";
    Open(xml);
    uint64 before = platform::FileSystemCalls();
    int peeks = 0;
    while (FindXMLSection(fp, "c", sizeof(tag), tag, &trunc, &complete)) {
        CheckofSection(fp, "v");
        peeks++;
    }
    uint64 calls = platform::FileSystemCalls() - before;
    EXPECT_EQ(2000, peeks);
    // One read per buffer and a few seeks where a peek crosses a buffer's end.
    EXPECT_LT(calls, xml.size() / 1024 * 3 + 10);
}

TEST_F(Scanner, GetSectionParameterReadsAttributes)
{
    struct { const char *key, *tag, *value; } cases[] = {
        { "r=", "c r=\"B12\" s=\"3\"", "\"B12\"" },
        { " t=", "c r=\"B12\" s=\"3\"", "" },
        { " t=", "c r=\"B12\" t=\"s\"", "\"s\"" },
        { "r=", "c R=\"C3\"", "\"C3\"" },
        { "r=", "c attr=\"1\" r=\"D4\"", "\"D4\"" },       // not the end of a longer name
        { "r=", "row r=\"7\"/", "\"7\"" },
        { "r=", "c r='E5' t='n'", "\"E5\"" },
        { "r=", "c r = \"F6\"", "\"F6\"" },
        { "t=", "c t=\"a b\"", "\"a b\"" },
        { "r=", "c", "" },
        { "r=", "r=", "" },
        { "ref=", "f t=\"shared\" ref=\"A1:A9\" si=\"0\"", "\"A1:A9\"" },
        // odd but readable: values without quotes, names without values, other blanks
        { " t=", "c r=B2 t=s/", "\"s\"" },
        { "r=", "c r=B2>", "\"B2\"" },
        { "r=", "c hidden r=\"A1\"", "\"A1\"" },
        { "r=", "c\tr=\n'A1'", "\"A1\"" },
        { "r=", "c r=\"A1", "\"A1\"" },                  // never closed: to the end
        { "r", "c r=\"A1\"", "\"A1\"" },
        { "=", "c r=\"A1\"", "" },
        { "r=", "c >r=\"A1\"", "" },
        { "r=", "c r=B2", "\"B2\"" },
        { "r=", "c hidden", "" },
        { "r=", "c a/ r=1", "\"1\"" },
        { "r=", "c a>r=1", "" },
        { "_=", "c \x7F=\"1\"", "" },                      // case is for letters only
    };
    char value[XML_BUFSIZE];
    for (const auto &c : cases) {
        GetSectionParameter(c.key, c.tag, sizeof(value), value, &trunc);
        EXPECT_STREQ(c.value, value) << c.key << " in " << c.tag;
    }
    char small[6];
    trunc = FALSE;
    GetSectionParameter("r=", "c r=\"ABCDEFG\"", sizeof(small), small, &trunc);
    EXPECT_STREQ("\"ABC\"", small);
    EXPECT_TRUE(trunc);
    GetSectionParameter("r=", "c r=\"A\"", 2, small, &trunc);
    EXPECT_STREQ("", small);        // not even the quotes fit
}

TEST_F(Scanner, GetXMLValueReadsUpToTheEndTag)
{
    struct { const char *xml, *value, *rest; BOOL ended; } cases[] = {
        { "3.5</v></c>", "3.5", "</c>", TRUE },
        { "</v>", "", "", TRUE },
        { "a&amp;b&lt;&#x263A;</x:v>", "a&b<\xE2\x98\xBA", "", TRUE },
        { "x > y</t>", "x > y", "", TRUE },
        { "<![CDATA[a<b & c&amp;]]></t>", "a<b & c&amp;", "", TRUE },
        { "<![CDATA[]]]]></t>", "]]", "", TRUE },
        { "a<!-- note -->b</t>", "ab", "", TRUE },
        { "12", "12", "", FALSE },
        { "a\r\nb\rc\n\nd</t>", "a\nb\nc\n\nd", "", TRUE },
        { "<![CDATA[a\r\nb\r]]></t>", "a\nb\n", "", TRUE },
        { "a_x000D_b_x005F_x0041_</t>", "a\rb_x0041_", "", TRUE },
        { "&am</t>", "&am", "", TRUE },                  // a reference cut by the end tag
        { "&amp<![CDATA[;]]></t>", "&amp;", "", TRUE },  // nor does CDATA complete one
        { "<![CDATA[>a]>\nb]]]></t>", ">a]>\nb]", "", TRUE },
        // the end of the file inside markup
        { "a<", "a", "", FALSE },
        { "a<!", "a", "", FALSE },
        { "a<![CDA", "a", "", FALSE },
        { "a<![CDATA[xy", "axy", "", FALSE },           // as read, like "12"
        { "<![CDATA[x\xC3\xA9", "x\xC3\xA9", "", FALSE },  // no character cut in two
        { "<![CDATA[x\r", "x\n", "", FALSE },
        { "<![CDATA[\rx", "\nx", "", FALSE },
        { "a<![CDATA[", "a", "", FALSE },
        { "a<![CDATA[x", "ax", "", FALSE },
        { "<![CDATA[x]]", "x]]", "", FALSE },
        { "a<!-- x", "a", "", FALSE },
        { "a</v", "a", "", FALSE },
    };
    char value[XML_BUFSIZE];
    for (const auto &c : cases) {
        XMLText text;
        Open(c.xml);
        TextBegin(&text, value, sizeof(value), TEXT_MAXCHARS, TRUE);
        EXPECT_EQ(c.ended, GetXMLValue(fp, &text)) << c.xml;
        EXPECT_STREQ(c.value, value) << c.xml;
        EXPECT_FALSE(text.cut) << c.xml;
        EXPECT_EQ(c.rest, Rest()) << c.xml;
        Close();
    }
}

TEST_F(Scanner, GetXMLValueKeepsWholeCharactersUpToItsLimit)
{
    struct { const char *xml; uint32 maxchars; BOOL escapes; const char *value; BOOL cut; } cases[] = {
        { "abcdefghij</v>x", 7, TRUE, "abcdefg", TRUE },
        { "abcdefg</v>x", 7, TRUE, "abcdefg", FALSE },
        { "abcde\xC3\xA9z</v>x", 6, TRUE, "abcde\xC3\xA9", TRUE },       // a character is one
        { "ab\xF0\x9F\x98\x80" "cd</v>x", 3, TRUE, "ab\xF0\x9F\x98\x80", TRUE },
        { "abc&amp;defg</v>x", 4, TRUE, "abc&", TRUE },                // a reference is one
        { "abc&amp;</v>x", 3, TRUE, "abc", TRUE },                      // never half of it
        { "ab_x000D_</v>x", 3, TRUE, "ab\r", FALSE },                   // an escape is one
        { "ab_x000D_</v>x", 3, FALSE, "ab_", TRUE },                    // unless it is none
        { "<![CDATA[abcd]]>ef</v>x", 3, TRUE, "abc", TRUE },
    };
    for (const auto &c : cases) {
        char value[64];
        XMLText text;
        Open(c.xml);
        TextBegin(&text, value, sizeof(value), c.maxchars, c.escapes);
        EXPECT_TRUE(GetXMLValue(fp, &text)) << c.xml;
        EXPECT_STREQ(c.value, value) << c.xml;
        EXPECT_EQ(c.cut, text.cut) << c.xml;
        EXPECT_EQ("x", Rest()) << c.xml;
        Close();
    }
}

TEST_F(Scanner, GetXMLValueNeverWritesPastItsBuffer)
{
    char value[8 + 4];
    memset(value, '#', sizeof(value));
    XMLText text;
    Open("\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC</v>");
    TextBegin(&text, value, 8, 100, TRUE);
    EXPECT_TRUE(GetXMLValue(fp, &text));
    EXPECT_STREQ("\xE2\x82\xAC\xE2\x82\xAC", value);   // a third would need the NUL's byte
    EXPECT_TRUE(text.cut);
    EXPECT_EQ(std::string(4, '#'), std::string(value + 8, 4));

    Open("abc</v>");
    TextBegin(&text, value, 3, 100, TRUE);
    EXPECT_TRUE(GetXMLValue(fp, &text));
    EXPECT_STREQ("ab", value);
    EXPECT_TRUE(text.cut);
}

TEST(ReplaceString, ReplacesEveryOccurrenceIgnoringCase)
{
    testing_support::UseStandIn();
    struct { const char *text, *from, *to, *result; } cases[] = {
        { "1&lt;2&LT;3", "&lt;", "<", "1<2<3" },
        { "abc", "abcd", "x", "abc" },
        { "aaa", "a", "aa", "aaaaaa" },
        { "v>42</v", "v>", "", "42</v" },
    };
    for (const auto &c : cases) {
        char buf[XML_BUFSIZE];
        strcpy(buf, c.text);
        ReplaceString(buf, c.from, c.to);
        EXPECT_STREQ(c.result, buf) << c.text;
    }
    char buf[XML_BUFSIZE];
    std::string text(1000, 'x');
    for (const std::string &s : {text + "y", "y" + text}) {
        strcpy(buf, s.c_str());
        ReplaceString(buf, "y", std::string(101, 'z').c_str());
        EXPECT_EQ(1023u, strlen(buf));      // cut in the replacement, or behind it
    }
    strcpy(buf, "abc");
    ReplaceString(buf, "", "x");
    EXPECT_STREQ("abc", buf);
}

TEST(GetRowColumnNumber, ReadsCellNames)
{
    testing_support::UseStandIn();
    struct { const char *name; uint32 row, col; } cases[] = {
        { "B3", 3, 2 }, { "\"AA10\"", 10, 27 }, { "XFD1048576", 1048576, 16384 },
        { "A1:A9", 1, 1 }, { "AB", 0, 0 }, { "12", 12, 0 }, { "", 0, 0 }, { "a1", 1, 1 },
        { "\"A7\"/", 7, 1 }, { "ZZ1", 1, 702 }, { "AAA1", 1, 703 }, { "AAAA1", 1, 0 },
        { "A0", 0, 1 }, { "$A$1", 0, 0 }, { "A_1", 0, 0 }, { "A:1", 0, 0 }, { "AAAAA1", 1, 0 },
        { "A1234567890", 0, 1 }, { "A{1", 0, 0 },
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

TEST(TagIs, ComparesWholeLocalNames)
{
    struct { const char *tag, *name; bool is; } cases[] = {
        { "c r=\"A1\"", "c", true }, { "col min=\"1\"", "c", false }, { "x:c", "c", true },
        { "/x:c", "/c", true }, { "/c", "c", false }, { "c/", "c", true },
        { "sheetData/", "sheetData", true }, { "sheetDataExt", "sheetData", false },
        { "rowBreaks", "row", false },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.is, TagIs(c.tag, c.name) == TRUE) << c.tag << " / " << c.name;
}

TEST(TagName, CutsToItsBuffer)
{
    struct { const char *tag; uint32 size; const char *name; } cases[] = {
        { "/x:c", 16, "/c" }, { "x:row r=\"1\"", 16, "row" }, { "c/", 16, "c" },
        { "/x:conditionalFormatting", 8, "/condit" }, { "/c", 2, "/" }, { "/c", 1, "" },
    };
    for (const auto &c : cases) {
        char name[16];
        TagName(c.tag, name, c.size);
        EXPECT_STREQ(c.name, name) << c.tag << " in " << c.size;
    }
}

}  // namespace
