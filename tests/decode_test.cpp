// Text decoding: references, escapes, UTF-8 and the charset map.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/charsets.h"
#include "tests/support/standin.h"
#include "xml/xml.h"

namespace {

// What the scanner keeps of a string item's bytes, as it puts them one by one.
std::string Decoded(const std::string &bytes, uint32 size = XML_BUFSIZE,
                    uint32 maxchars = TEXT_MAXCHARS)
{
    char buf[XML_BUFSIZE + 8]; XMLText text;
    memset(buf, '#', sizeof(buf));
    TextBegin(&text, buf, size, maxchars, TRUE);
    for (char c : bytes)
        TextPut(&text, (uint8)c);
    TextEnd(&text);
    EXPECT_EQ('#', buf[size]) << bytes;
    return buf;
}

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
        char out[XML_BUFSIZE];
        ConvertCharset(Decoded(text).c_str(), out, sizeof(out));
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
    char out[XML_BUFSIZE];
    ConvertCharset(std::string(2000, 'a').c_str(), out, sizeof(out));
    EXPECT_EQ(1023u, strlen(out));
    // A character cut by the edge of a conversion chunk goes whole into the next one.
    for (uint32 pad = 250; pad < 256; pad++) {
        std::string utf8 = "\xC3\xA9" + std::string(pad, 'a') + "\xF0\x9F\x98\x80" "b";
        ConvertCharset(utf8.c_str(), out, sizeof(out));
        EXPECT_EQ("\xE9" + std::string(pad, 'a') + "?b", std::string(out)) << pad;
    }
    struct { const char *utf8; uint32 size; const char *out; } sized[] = {
        { "abc", 3, "ab" }, { "abc", 1, "" }, { "caf\xC3\xA9s", 5, "caf\xE9" },
        { "\xC3\xA9\xC3\xA9\xC3\xA9", 3, "\xE9\xE9" }, { "\xC3\xA9", 2, "\xE9" }, { "a", 0, nullptr },
    };
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

// A code point as UTF-8, written here apart from the module's encoder.
std::string Utf8(uint32 cp)
{
    if (cp < 0x80)
        return std::string(1, (char)cp);
    std::string s(cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4, '\x80');
    for (size_t k = s.size() - 1; k > 0; k--, cp >>= 6)
        s[k] = (char)(0x80 | (cp & 0x3F));
    s[0] = (char)((0xFF00 >> s.size() & 0xFF) | cp);    // C0, E0 or F0 and the top bits
    return s;
}

// References and escapes at the edges of what they may name (nullptr: the text stays as it
// is). Characters are counted and cut whole, valid UTF-8 or not: a byte that continues no
// character counts as one, and so does a lead byte whose character breaks off.
TEST_F(Decode, ReferencesEscapesAndWholeCharacters)
{
    struct { const char *in, *out; uint32 size = XML_BUFSIZE, most = TEXT_MAXCHARS; } cases[] = {
        { "&#x10FFFF;&#1114111;", "\xF4\x8F\xBF\xBF\xF4\x8F\xBF\xBF" },
        { "&#x110000; &#1114112;", nullptr },                       // past the last code point
        { "&#xD7FF;&#xE000;", "\xED\x9F\xBF\xEE\x80\x80" }, { "&#xD800; &#xDFFF; &#55296;", nullptr },
        { "&#x7F;&#x80;&#x7FF;&#x800;", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80" },
        { "&#xFFFF;&#x10000;", "\xEF\xBF\xBF\xF0\x90\x80\x80" }, { "&#1;&#x0;", "\x01&#x0;" },
        { "&#39;&#x39;&#x3a;&#x3A;&#58;", "'9:::" },                   // each end of each digit run
        { "_xD7FF__xE000_", "\xED\x9F\xBF\xEE\x80\x80" }, { "_xD800_ _xDFFF_ _x0000_", nullptr },
        { "_x0001__x007f__x0080__x07FF__x0800__xffff_", "\x01\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF" },
        { "_X0041_ _x0041X _x004G_ _xG041_", nullptr },
        { "abc", "ab", 3, 10 }, { "abc", "abc", 4, 10 }, { "abc", "ab", 10, 2 },
        { "a\xC3\xA9", "a", 3, 10 }, { "a\xC3\xA9", "a\xC3\xA9", 4, 10 },
        { "a\xC3\xA9" "b", "a\xC3\xA9", 10, 2 },
        { "\xE2\x82\xAC\xE2\x82\xAC", "\xE2\x82\xAC", 6, 10 },
        { "\xE2\x82\xAC\xE2\x82\xAC", "\xE2\x82\xAC\xE2\x82\xAC", 7, 10 },
        { "\x80\x80\x80\x80", "\x80\x80\x80", 10, 3 }, { "\xC3" "ab", "\xC3" "a", 10, 2 },
        { "\xF0\x9F\x98\x80\x80\x80", "\xF0\x9F\x98\x80\x80", 10, 2 },
        { "\xE2\x82" "ab", "\xE2\x82" "a", 10, 2 }, { "\xF5\x80" "a", "\xF5\x80", 10, 2 },
        { "a\xC3\xA9", "a", 10, 1 },
        { "a\xC3\xA9\xC3\xA9", "a\xC3\xA9", 5, 10 },     // no tail of a refused character
        { "&lt;&lt;&lt;", "<<", 10, 2 }, { "&lt;&lt;&lt;", "<<", 3, 10 },
        { "_x00e9_a", "\xC3\xA9", 3, 10 },
        // the first lead byte of each length, and a byte too many behind a whole character
        { "\xC2\xA9" "ab", "\xC2\xA9" "a", 10, 2 },
        { "\xE0\xA0\x80" "ab", "\xE0\xA0\x80" "a", 10, 2 },
        { "\xF0\x90\x80\x80" "ab", "\xF0\x90\x80\x80" "a", 10, 2 },
        { "\xC3\xA9\x80" "b", "\xC3\xA9\x80", 10, 2 },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.out ? c.out : c.in, Decoded(c.in, c.size, c.most))
            << c.in << " in " << c.size << ", " << c.most;
    }
}

// Every character of every charset comes back as its byte; of two bytes for one point, the
// higher. A map whose ASCII is not itself takes no short cut for ASCII.
TEST_F(Decode, EveryCharsetMapsEachCharacterBackToItsByte)
{
    ULONG shifted[256], latin1[256], first[256];
    for (uint32 k = 0; k < 256; k++)
        shifted[k] = 0x1000 + (k * 7 % 256);      // none below 256, in no order
    IExec->CopyMem(platform::CharsetMap(CODESET_ISO_8859_1), latin1, sizeof(latin1));
    IExec->CopyMem(latin1, first, sizeof(first));
    latin1['A'] = 0x263A;
    first[1] = 0x263A;                            // the first code of ASCII
    std::vector<std::pair<std::string, const ULONG *>> maps = { { "shifted", shifted }, { "A moved", latin1 },
                                                                { "1 moved", first } };
    for (const auto &c : platform::charsets)
        maps.push_back({ c.name, platform::CharsetMap(c.codeset) });
    for (const auto &[name, map] : maps) {
        SCOPED_TRACE(name);
        SetCharsetMap(map);
        std::map<uint32, uint8> code;
        for (uint32 k = 1; k < 256; k++)
            if (map[k] != platform::UNMAPPED && map[k] != 0)
                code[map[k]] = (uint8)k;
        std::string utf8, expected;
        for (uint32 cp = 1; cp < 128; cp++)       // first: a text may start with any of them
            utf8 += (char)cp, expected += code.count(cp) ? (char)code[cp] : '?';
        for (const auto &[cp, k] : code)
            utf8 += Utf8(cp), expected += (char)k;
        std::string out(utf8.size() + 1, '#');
        ConvertCharset(utf8.c_str(), &out[0], (uint32)out.size());
        EXPECT_EQ(expected, std::string(out.c_str()));
    }
}

}  // namespace
