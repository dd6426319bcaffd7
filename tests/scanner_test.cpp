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
    void TearDown() override { CloseXMLStream(fp); EXPECT_TRUE(testing_support::NothingLeft()); }
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
    // The next tag of any name into tag, read with room for size bytes.
    BOOL Next(uint32 size = XML_BUFSIZE) { return FindXMLSection(fp, "", size, tag, &complete); }
    XMLFile *fp = nullptr;
    char tag[XML_BUFSIZE];
    BOOL complete = FALSE;
};

TEST_F(Scanner, FindXMLSectionCheckofSectionAndGetXMLValue)
{
    const std::string x(1022, 'x');
    struct { std::string xml; const char *sname; BOOL found; std::string tag; const char *rest = "";
             BOOL complete = FALSE, cut = FALSE; } cases[] = {
        { "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c>", "c", TRUE, "c r=\"A1\" t=\"s\"", "<v>0</v></c>" },
        { "<v>1</v></x:c>", "/c", TRUE, "/x:c" }, { "<?xml version=\"1.0\"?><c>", "", TRUE, "c" },
        { "<t>a</t><t xml:space=\"preserve\">b</t>", "t ", TRUE, "t xml:space=\"preserve\"", "b</t>" },
        { "<!-- <c r=\"Z9\"> --><c r=\"A1\">", "c", TRUE, "c r=\"A1\"" },
        { "<![CDATA[<c r=\"Z9\">]]><c r=\"A2\">", "c", TRUE, "c r=\"A2\"" },
        { "<col min=\"1\"/><c r=\"A1\">", "c", TRUE, "col min=\"1\"/", "<c r=\"A1\">", TRUE },
        { "<!-- a -> b --><!DOCTYPE x><c\tr=\"1\"\r\n/>", "c", TRUE, "c\tr=\"1\"\r\n/", "", TRUE },
        { "<!----><c r=\"A3\"/><!-- -->", "c", TRUE, "c r=\"A3\"/", "<!-- -->", TRUE },     // an empty comment
        { "<c a=\"it's\" b='say \"x>\"'>", "c", TRUE, "c a=\"it's\" b='say \"x>\"'" },
        // the end of the file inside markup
        { "<c r=\"A1\"", "c", FALSE, "c r=\"A1\"" }, { "<", "", FALSE, "" }, { "<!-- <c>", "c", FALSE, "" },
        { "<![CDA", "c", FALSE, "" }, { "<!DOCTYPE x", "c", FALSE, "" },
        // long tags are cut and the stream stays in step
        { "<c" + x + "><v>7</v>", "c", TRUE, "c" + x, "<v>7</v>" },
        { "<c" + x + "y><v>7</v>", "c", TRUE, "c" + x, "<v>7</v>", FALSE, TRUE },
        { "<c" + x + x + "/><v>7</v>", "c", TRUE, "c" + x, "<v>7</v>", TRUE, TRUE },   // still known closed
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.xml.substr(0, 60));
        Open(c.xml);
        complete = FALSE;
        EXPECT_EQ(c.found, FindXMLSection(fp, c.sname, sizeof(tag), tag, &complete));
        if (c.cut) { EXPECT_EQ(sizeof(tag) - 1, strlen(tag)); }
        EXPECT_EQ(c.tag, tag); EXPECT_EQ(c.complete, complete);
        if (c.found) { EXPECT_EQ(c.rest, Rest()); }
    }
    struct { const char *xml, *value; BOOL ended = TRUE; const char *rest = ""; BOOL cut = FALSE;
             uint32 maxchars = TEXT_MAXCHARS, size = XML_BUFSIZE; BOOL escapes = TRUE; } values[] = {
        { "3.5</v></c>", "3.5", TRUE, "</c>" }, { "a&lt;&#x263A;</x:v>", "a<\xE2\x98\xBA" }, { "a<!---->b</t>", "ab" },
        { "<![CDATA[a<b & c&amp;]]></t>", "a<b & c&amp;" }, { "<![CDATA[]]]]></t>", "]]" },
        { "<![CDATA[>a]>\nb]]]></t>", ">a]>\nb]" }, { "a_x000D_b_x005F_x0041_</t>", "a\rb_x0041_" },
        { "a\r\nb\rc\n\nd</t>", "a\nb\nc\n\nd" }, { "<![CDATA[a\r\nb\r]]></t>", "a\nb\n" },
        { "&am</t>", "&am" }, { "&amp<![CDATA[;]]></t>", "&amp;" },   // cut by a tag, not completed by CDATA
        // the end of the file, in text or inside markup: what was read is kept
        { "12", "12", FALSE }, { "a<", "a", FALSE }, { "a<![CDA", "a", FALSE }, { "a<!-- x", "a", FALSE },
        { "a</v", "a", FALSE }, { "a<![CDATA[", "a", FALSE }, { "a<![CDATA[x", "ax", FALSE },
        { "<![CDATA[x]]", "x]]", FALSE }, { "<![CDATA[x\r", "x\n", FALSE }, { "<![CDATA[\rx", "\nx", FALSE },
        { "<![CDATA[x\xC3\xA9", "x\xC3\xA9", FALSE },  // no character cut in two
        // whole characters up to the limit, which counts characters, not bytes; a reference is one
        { "abcdefghij</v>x", "abcdefg", TRUE, "x", TRUE, 7 }, { "abcdefg</v>x", "abcdefg", TRUE, "x", FALSE, 7 },
        { "abcde\xC3\xA9z</v>x", "abcde\xC3\xA9", TRUE, "x", TRUE, 6 },
        { "ab\xF0\x9F\x98\x80" "cd</v>x", "ab\xF0\x9F\x98\x80", TRUE, "x", TRUE, 3 },
        { "abc&amp;defg</v>x", "abc&", TRUE, "x", TRUE, 4 }, { "abc&amp;</v>x", "abc", TRUE, "x", TRUE, 3 },
        { "ab_x000D_</v>x", "ab\r", TRUE, "x", FALSE, 3 },       // an escape is one
        { "ab_x000D_</v>x", "ab_", TRUE, "x", TRUE, 3, XML_BUFSIZE, FALSE },   // unless it is none
        { "<![CDATA[abcd]]>ef</v>x", "abc", TRUE, "x", TRUE, 3 },
        // and up to the buffer, whose last byte is the NUL's
        { "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC</v>", "\xE2\x82\xAC\xE2\x82\xAC", TRUE, "", TRUE, 100, 8 },
        { "abc</v>", "ab", TRUE, "", TRUE, 100, 3 },
    };
    for (const auto &c : values) {
        std::vector<char> value(c.size + 4, '#'); XMLText text;
        Open(c.xml);
        TextBegin(&text, value.data(), c.size, c.maxchars, c.escapes);
        SCOPED_TRACE(c.xml);
        EXPECT_EQ(c.ended, GetXMLValue(fp, &text)); EXPECT_STREQ(c.value, value.data());
        EXPECT_EQ(c.cut, text.cut); EXPECT_EQ(c.rest, Rest());
        EXPECT_EQ("####", std::string(value.end() - 4, value.end()));
    }
    // CheckofSection finds the same way but only peeks.
    Open("text <!-- c --><x:f t=\"shared\"/><v>1</v>");
    EXPECT_TRUE(CheckofSection(fp, "f"));
    EXPECT_FALSE(CheckofSection(fp, "v"));      // looks at the same tag again
    EXPECT_TRUE(CheckofSection(fp, "f t="));
    EXPECT_EQ("text <!-- c --><x:f t=\"shared\"/><v>1</v>", Rest());
    EXPECT_FALSE(CheckofSection(fp, ""));       // at the end
    // The peeked tag ends in the next block: the way back is a seek of the system.
    std::string xml = std::string(XML_BLOCKSIZE - 4, ' ') + "<c r=\"A1\"/>";
    Open(xml);
    EXPECT_TRUE(CheckofSection(fp, "c")); EXPECT_EQ(xml, Rest());
    Open(xml);
    platform::faults.failAt = 3;       // the block, the next block, the seek
    EXPECT_TRUE(CheckofSection(fp, "c"));
    EXPECT_STREQ("ChangeFilePosition", platform::FailedCall());
    EXPECT_TRUE(ReadFailed(fp));         // the stream knows it is not where it was
}

// A ">" inside quotes of either kind ends no tag, wherever the tag lies in the member, up to
// the end of the first block; a shorter tag read after a longer one keeps nothing of it.
TEST_F(Scanner, QuotedGreaterThanSignsEndNoTag)
{
    const std::string first = "<first " + std::string(100, 'x') + "/>";
    const std::string quoted = "c a=\"x>'y\" b='p>\"q'/";
    for (size_t at = first.size(); at < XML_BLOCKSIZE + 2; at += at + 40 < XML_BLOCKSIZE ? 997 : 1) {
        Open(first + std::string(at - first.size(), ' ') + "<" + quoted + "><v/>" + std::string(100, ' '));
        ASSERT_TRUE(Next() && Next()) << at;
        EXPECT_EQ(quoted, std::string(tag)) << at; EXPECT_TRUE(complete) << at;
        ASSERT_TRUE(Next()) << at; EXPECT_STREQ("v/", tag) << at;
    }
    // Nor in a tag longer than the buffer, read byte by byte.
    Open("<" + quoted + "><v/>");
    ASSERT_TRUE(Next(8)); EXPECT_STREQ("c a=\"x>", tag); EXPECT_TRUE(complete);
    ASSERT_TRUE(Next()); EXPECT_STREQ("v/", tag);
}

TEST_F(Scanner, TagNamesAndAttributes)
{
    struct { const char *tag, *name; bool is; } is[] = {
        { "col min=\"1\"", "c", false }, { "/x:c", "/c", true }, { "/c", "c", false }, { "c/", "c", true },
        { "sheetDataExt", "sheetData", false },
    };
    for (const auto &c : is)
        EXPECT_EQ(c.is, TagIs(c.tag, c.name) == TRUE) << c.tag << " / " << c.name;
    struct { const char *tag; uint32 size; const char *name; } tags[] = {
        { "/x:c", 16, "/c" }, { "x:row r=\"1\"", 16, "row" }, { "c/", 16, "c" },
        { "/x:conditionalFormatting", 8, "/condit" }, { "/c", 2, "/" }, { "/c", 1, "" },
    };
    for (const auto &c : tags) {
        TagName(c.tag, tag, c.size);
        EXPECT_STREQ(c.name, tag) << c.tag << " in " << c.size;
    }
    struct { const char *key, *tag, *value; uint32 size = XML_BUFSIZE; BOOL cut = FALSE; } params[] = {
        { "r=", "c r=\"B12\" s=\"3\"", "\"B12\"" }, { " t=", "c r=\"B12\" s=\"3\"", "" },
        { "r=", "c R=\"C3\"", "\"C3\"" }, { "r=", "c attr=\"1\" r=\"D4\"", "\"D4\"" },   // not a longer name's end
        { "r=", "c r = \"F6\"", "\"F6\"" }, { "t=", "c t=\"a b\"", "\"a b\"" },
        { "_=", "c \x7F=\"1\"", "" },         // case is for letters only
        // odd but readable: values without quotes, names without values, other blanks, no closing quote
        { " t=", "c r=B2 t=s/", "\"s\"" }, { "r=", "c r=B2>", "\"B2\"" }, { "r=", "c hidden r=\"A1\"", "\"A1\"" },
        { "r=", "c\tr=\n'A1'", "\"A1\"" }, { "r=", "c r=\"A1", "\"A1\"" }, { "r=", "c a/ r=1", "\"1\"" },
        { "r=", "c a>r=1", "" }, { "r=", "c r=\"ABCDEFG\"", "\"ABC\"", 6, TRUE },
        { "r=", "c r=\"A\"", "", 2 },          // not even the quotes fit: nothing is read
    };
    for (const auto &c : params) {
        GetSectionParameter(c.key, c.tag, c.size, tag);
        EXPECT_STREQ(c.value, tag) << c.key << " in " << c.tag;
        if (c.cut) { EXPECT_EQ(c.size - 1, strlen(tag)) << c.key << " in " << c.tag; }
    }
}

// The walk's tags: which of its names a tag text is, and where r and t stand in it.
TEST_F(Scanner, TagIndexAndFindAttributes)
{
    static const char *const names[] = { "c", "/c", "row", "/row", "v" };
    struct { const char *tag; uint32 index; } tags[] = {
        { "c r=\"A1\"", 0 }, { "/x:c", 1 }, { "c/", 0 }, { "col min=\"1\"", 5 }, { "rows", 5 },
        { "x:row r=\"2\"", 2 }, { "/row", 3 }, { "/v", 5 }, { "", 5 }, { "/", 5 }, { "v", 4 },
    };
    for (const auto &c : tags)
        EXPECT_EQ(c.index, TagIndex(c.tag, names, 5)) << c.tag;
    // Several names in one pass, each as GetSectionParameter finds it alone.
    struct { const char *tag, *r, *t; } pairs[] = {
        { "c t=\"s\" r=\"A1\" r=\"B2\"", "\"A1\"", "\"s\"" }, { "c rr=\"1\" T=\"n\"", "", "\"n\"" },
        { "c", "", "" }, { "c tr=\"x\" r=\"C3\"/", "\"C3\"", "" }, { "c rr=\"1\"", "", "" },
        { "c T='s' r=\"B2\" r=\"C3\"/", "\"B2\"", "\"s\"" },
    };
    static const char *const rt[] = { "r", "t" };
    for (const auto &c : pairs) {
        const char *found[2]; uint32 lens[2];
        FindAttributes(c.tag, rt, found, lens, 2);
        auto quoted = [&](int k) {
            return found[k] ? "\"" + std::string(found[k], lens[k]) + "\"" : std::string();
        };
        EXPECT_EQ(c.r, quoted(0)) << c.tag; EXPECT_EQ(c.t, quoted(1)) << c.tag;
    }
}

// Runs of plain text are found a word at a time: a byte that needs a look stops the run
// wherever it stands in a word, and a limit inside a run cuts it there.
TEST_F(Scanner, GetXMLValueStopsARunAtEachByteThatNeedsALook)
{
    struct { const char *put, *got; BOOL escapes; } marks[] = {
        { "&amp;", "&", TRUE }, { "\r\n", "\n", TRUE }, { "\r", "\n", TRUE }, { "\n", "\n", TRUE },
        { "\xC3\xBC", "\xC3\xBC", TRUE }, { "_x0041_", "A", TRUE }, { "_x0041_", "_x0041_", FALSE },
    };
    const std::string plain(24, 'p');
    char value[XML_BUFSIZE]; XMLText text;
    for (const auto &m : marks)
        for (size_t at = 0; at < 20; at++) {
            Open(plain.substr(0, at) + m.put + plain.substr(at) + "</v>");
            TextBegin(&text, value, sizeof(value), TEXT_MAXCHARS, m.escapes);
            EXPECT_TRUE(GetXMLValue(fp, &text));
            EXPECT_EQ(plain.substr(0, at) + m.got + plain.substr(at), value) << m.put << " at " << at;
        }
    for (uint32 most : { 7u, 8u, 9u, 17u }) {
        Open(plain + "</v>x");
        TextBegin(&text, value, sizeof(value), most, TRUE);
        EXPECT_TRUE(GetXMLValue(fp, &text)); EXPECT_EQ(plain.substr(0, most), value);
        EXPECT_TRUE(text.cut); EXPECT_EQ("x", Rest());
    }
}

}  // namespace
