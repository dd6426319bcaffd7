// Text decoding: references, escapes, UTF-8 and the charset map.
#include <gtest/gtest.h>

#include "tests/support/standin.h"
#include "xml/xml.h"

namespace {

class Decode : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::UseStandIn();
        SetCharsetMap(platform::CharsetMap(CODESET_ISO_8859_1));
    }
    // Element text as the import takes it: decoded on its way in, then into the charset.
    std::string Convert(const char *text)
    {
        char utf8[XML_BUFSIZE], out[XML_BUFSIZE];
        XMLText xtext;
        memset(out, 'X', sizeof(out));
        TextBegin(&xtext, utf8, sizeof(utf8), TEXT_MAXCHARS, TRUE);
        for (const char *p = text; *p != '\0'; p++)
            TextPut(&xtext, (uint8)*p);
        TextEnd(&xtext);
        ConvertCharset(utf8, out, sizeof(out));
        return out;
    }
};

TEST_F(Decode, TextPutAndConvertCharset)
{
    struct { const char *in, *out; } cases[] = {
        { "&lt;b&gt; &quot;x&quot; it&apos;s", "<b> \"x\" it's" }, { "&LT;&Gt;&AMP;", "<>&" },
        { "&#65;&#x42;&#X43;&#228;", "ABC\xE4" }, { "&amp;lt;", "&lt;" },      // decoded once
        { "&#0; &#xD800; &#x110000; &#; &#x; &bogus; & alone &#65", nullptr },
        { "caf\xC3\xA9", "caf\xE9" }, { "\xE2\x82\xAC 5", "? 5" },            // no euro in Latin-1
        { "\xF0\x9F\x98\x80!", "?!" },                   // four bytes, one character
        { "a\xFF" "b\xC3", "a?b?" }, { "\xC0\xAF", "??" }, // not UTF-8 or overlong: one "?" a byte
        { "_x00e9_ _x12_ _xZZZZ_", "\xE9 _x12_ _xZZZZ_" }, { "__x0041_x_x0000_", "_Ax_x0000_" },
        { "&&amp;&am&lt;", "&&&am<" },                    // a failed reference starts again
        { "&#00000065;&#000000065;", "A&#000000065;" },    // eight digits at most
        { "&#x0000041;&#x00000041;", "A&#x00000041;" },     // seven hex digits
        { "&#1#; &@; &{; &#x1F600;", "&#1#; &@; &{; ?" },
        { "_xD800_ _xFFFD_ _x0041x _x00 1_", "_xD800_ ? _x0041x _x00 1_" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.out ? c.out : c.in, Convert(c.in)) << c.in;
    std::string text(2000, 'a');
    char out[XML_BUFSIZE];
    ConvertCharset(text.c_str(), out, sizeof(out));
    EXPECT_EQ(1023u, strlen(out));
    struct { const char *utf8; uint32 size; const char *out; } sized[] = {
        { "abc", 3, "ab" }, { "abc", 1, "" }, { "caf\xC3\xA9s", 5, "caf\xE9" },
        { "\xC3\xA9\xC3\xA9\xC3\xA9", 3, "\xE9\xE9" }, { "\xC3\xA9", 2, "\xE9" }, { "a", 0, nullptr },
    };
    // A character cut by the edge of a conversion chunk goes whole into the next one.
    for (uint32 pad = 250; pad < 256; pad++) {
        std::string utf8 = "\xC3\xA9" + std::string(pad, 'a') + "\xF0\x9F\x98\x80" "b";
        char wide[XML_BUFSIZE];
        ConvertCharset(utf8.c_str(), wide, sizeof(wide));
        EXPECT_EQ("\xE9" + std::string(pad, 'a') + "?b", std::string(wide)) << pad;
    }
    for (const auto &c : sized) {
        memset(out, '#', 8);
        ConvertCharset(c.utf8, out, c.size);
        if (c.out) { EXPECT_STREQ(c.out, out) << c.utf8 << " in " << c.size; }
        EXPECT_EQ('#', out[c.size]) << c.utf8 << " in " << c.size;
    }
    // Long texts go through in chunks that never split a character, valid or not.
    std::string utf8, expected;
    for (int k = 0; k < 3000; k++) {
        utf8 += k % 7 == 0 ? "\xC3\xA9" : k % 11 == 0 ? "\xE2\x82\xAC" : k % 13 == 0 ? "\x80\x80\x80\x80" : "b";
        expected += k % 7 == 0 ? "\xE9" : k % 11 == 0 ? "?" : k % 13 == 0 ? "????" : "b";
    }
    std::string whole(utf8.size() + 1, '#');
    ConvertCharset(utf8.c_str(), &whole[0], (uint32)whole.size());
    EXPECT_EQ(expected, std::string(whole.c_str()));
    ConvertCharset(utf8.data(), utf8.data(), (uint32)utf8.size() + 1);    // in place
    EXPECT_EQ(expected, std::string(utf8.c_str()));
    // The maps themselves are checked in platform_test; here, that a new map replaces the old,
    // and that of two bytes for one point the highest wins.
    SetCharsetMap(platform::CharsetMap(CODESET_WINDOWS_1252));
    EXPECT_EQ("\x80 \x93x\x94", Convert("\xE2\x82\xAC \xE2\x80\x9Cx\xE2\x80\x9D"));
    ULONG map[256];
    IExec->CopyMem(charset.ucsmap, map, sizeof(map));
    map[0x41] = map[0x90] = 0x263A;
    SetCharsetMap(map);
    EXPECT_EQ("\x90", Convert("\xE2\x98\xBA"));
}

}  // namespace
