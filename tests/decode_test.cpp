// Text decoding: references, escapes, UTF-8 and the charset map.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/standin.h"
#include "xml/xml.h"

namespace {

class Decode : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::UseStandIn();
        UseCodeSet(CODESET_ISO_8859_1);
    }
    void UseCodeSet(ULONG codeset)
    {
        SetCharsetMap(platform::CharsetMap(codeset));
    }
    std::string Convert(const char *text)
    {
        char in[XML_BUFSIZE], out[XML_BUFSIZE];
        snprintf(in, sizeof(in), "%s", text);
        memset(out, 'X', sizeof(out));
        ConvertText(in, out, sizeof(out), TEXT_UTF8);
        return out;
    }
};

TEST_F(Decode, ConvertTextDecodesReferencesAndUTF8)
{
    struct { const char *in, *out; } cases[] = {
        { "&lt;b&gt; &quot;x&quot; it&apos;s", "<b> \"x\" it's" },
        { "&LT;&Gt;&AMP;", "<>&" },
        { "Tom &amp; Jerry", "Tom & Jerry" },
        { "&amp;lt;", "&lt;" },
        { "&amp;#65;", "&#65;" },
        { "&#65;&#x42;&#X43;&#228;", "ABC\xE4" },
        { "&#0; &#xD800; &#x110000; &#; &#x; &bogus; & alone &#65", "&#0; &#xD800; &#x110000; &#; &#x; &bogus; & alone &#65" },
        { "caf\xC3\xA9", "caf\xE9" },
        { "\xE2\x82\xAC 5", "? 5" },                    // no euro in Latin-1
        { "\xF0\x9F\x98\x80!", "?!" },                   // four bytes, one character
        { "a\xFF" "b\xC3", "a?b?" },                     // not UTF-8: one "?" a byte
        { "\xC0\xAF", "??" },                            // overlong
        { "x_x000D_y", "x\ry" },
        { "_x005F_x000D_", "_x000D_" },
        { "_x00e9_ _x12_ _xZZZZ_", "\xE9 _x12_ _xZZZZ_" },
        { "&&amp;&am&lt;", "&&&am<" },                    // a failed reference starts again
        { "__x0041_x_x0000_", "_Ax_x0000_" },
        { "&#x41 &#65", "&#x41 &#65" },                   // cut short
        { "&#00000065;&#000000065;", "A&#000000065;" },    // eight digits at most
        { "&#x0000041;&#x00000041;", "A&#x00000041;" },     // seven hex digits
        { "&#1#; &@; &{; &#x1F600;", "&#1#; &@; &{; ?" },
        { "_xD800_ _xFFFD_ _x0041x _x00 1_", "_xD800_ ? _x0041x _x00 1_" },
        { "", "" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.out, Convert(c.in)) << c.in;
}

TEST_F(Decode, OtherCharsets)
{
    UseCodeSet(CODESET_ISO_8859_15);
    EXPECT_EQ("\xA4 \xBD", Convert("\xE2\x82\xAC \xC5\x93"));      // euro, oe
    EXPECT_EQ("?", Convert("\xC2\xA4"));                             // the old currency sign is gone
    UseCodeSet(CODESET_WINDOWS_1252);
    EXPECT_EQ("\x80 \x93x\x94", Convert("\xE2\x82\xAC \xE2\x80\x9Cx\xE2\x80\x9D"));
    UseCodeSet(CODESET_ISO_8859_2);
    EXPECT_EQ("\xB1\xE6", Convert("\xC4\x85\xC4\x87"));              // a and c with ogonek, acute
}

TEST_F(Decode, TheHighestCodeWinsForAPointHeldTwice)
{
    ULONG map[256];
    IExec->CopyMem(ucsmap, map, sizeof(map));
    map[0x41] = 0x263A;
    map[0x90] = 0x263A;
    SetCharsetMap(map);
    EXPECT_EQ("\x90", Convert("\xE2\x98\xBA"));
}

TEST_F(Decode, ConvertTextWithAnotherModeDoesNothing)
{
    char in[XML_BUFSIZE] = "&lt;", out[XML_BUFSIZE] = "keep";
    ConvertText(in, out, sizeof(out), 1);
    EXPECT_STREQ("keep", out);
    EXPECT_STREQ("&lt;", in);
}

TEST_F(Decode, ConvertTextStaysInItsBuffer)
{
    std::string text(2000, 'a');
    char out[XML_BUFSIZE];
    ConvertText(text.data(), out, sizeof(out), TEXT_UTF8);
    EXPECT_EQ(1023u, strlen(out));
    char in[] = "&lt;";
    ConvertText(in, out, 0, TEXT_UTF8);
    EXPECT_STREQ("&lt;", in);       // no room: nothing is done
}

TEST_F(Decode, ConvertCharsetFillsItsBufferAndNoMore)
{
    struct { const char *utf8; uint32 size; const char *out; } cases[] = {
        { "abc", 3, "ab" }, { "abc", 1, "" }, { "caf\xC3\xA9s", 5, "caf\xE9" },
        { "\xC3\xA9\xC3\xA9\xC3\xA9", 3, "\xE9\xE9" }, { "\xC3\xA9", 2, "\xE9" },
    };
    for (const auto &c : cases) {
        char out[8];
        memset(out, '#', sizeof(out));
        ConvertCharset(c.utf8, out, c.size);
        EXPECT_STREQ(c.out, out) << c.utf8 << " in " << c.size;
        EXPECT_EQ('#', out[c.size]) << c.utf8 << " in " << c.size;
    }
    char out = '#';
    ConvertCharset("a", &out, 0);
    EXPECT_EQ('#', out);
}

TEST_F(Decode, ConvertCharsetGoesThroughLongTextsWhole)
{
    // Chunks must never split a character, valid or not.
    std::string text;
    for (int k = 0; k < 3000; k++)
        text += k % 7 == 0 ? "\xC3\xA9" : k % 11 == 0 ? "\xE2\x82\xAC" : k % 13 == 0 ? "\x80\x80\x80\x80" : "b";
    std::string expected;
    for (int k = 0; k < 3000; k++)
        expected += k % 7 == 0 ? "\xE9" : k % 11 == 0 ? "?" : k % 13 == 0 ? "????" : "b";
    std::vector<char> out(text.size() + 1);
    ConvertCharset(text.c_str(), out.data(), (uint32)out.size());
    EXPECT_EQ(expected, std::string(out.data()));
    ConvertCharset(text.data(), text.data(), (uint32)text.size() + 1);    // in place
    EXPECT_EQ(expected, std::string(text.c_str()));
}

}  // namespace
