// ReadToken: the pieces of a formula as every formula pass reads them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "formula/tokens.h"

namespace {

// The tokens of text, one letter each and its text in brackets: "N[SUM]O[(]N[A1]O[)]".
std::string Tokens(const char *text)
{
    static const char kinds[] = "ESQBXNnWO";   // END STRING SHEET BRACKETS ERROR NUMBER NAME ...
    std::string out;
    uint32 i = 0;
    for (Token t; (t = ReadToken(text, i)).kind != TOKEN_END; i = t.end) {
        char kind = t.kind == TOKEN_NUMBER ? (t.plain ? 'N' : 'M') : kinds[t.kind];
        out += std::string(1, kind) + "[" + std::string(text + t.start, t.end - t.start) + "]";
        if (t.end <= t.start)
            return out + "(stuck)";
    }
    return out;
}

TEST(ReadToken, ReadsEveryKindOfPiece)
{
    struct { const char *text, *tokens; } cases[] = {
        { "\"a\"\"b\"&'it''s'!A1", "S[\"a\"\"b\"]O[&]Q['it''s']O[!]n[A1]" },
        { "\"open", "S[\"open]" },                               // never closed: to the end
        { "T[[#This Row],[a]b]+T[Col'[x']", "n[T]B[[[#This Row],[a]b]]O[+]n[T]B[[Col'[x']]" },  // ' escapes
        { "T[a'", "n[T]B[[a']" },                                  // never closed: to the end
        { "#REF!+#DIV/0!+#N/A", "X[#REF!]O[+]X[#DIV/0!]O[+]X[#N/A]" },
        { "12+1.5+.5+1E+5+2. 1E5", "N[12]O[+]N[1.5]O[+]N[.5]O[+]M[1E+5]O[+]N[2.]W[ ]M[1E5]" },
        { "1e-5+1E+x+12ab", "M[1e-5]O[+]M[1E]O[+]n[x]O[+]M[12ab]" },   // no exponent: stuck on
        { "#RE$F+#N/+#NAME?+#D/A$", "X[#RE]n[$F]O[+]X[#N]O[/]O[+]X[#NAME?]O[+]X[#D]O[/]n[A$]" },
        // Only #DIV/0! and #N/A take a "/" in.
        { "#GETTING_DATA/ASIN(1)", "X[#GETTING_DATA]O[/]n[ASIN]O[(]N[1]O[)]" },
        { "#getting_data/B2+#n/a/C1", "X[#getting_data]O[/]n[B2]O[+]X[#n/a]O[/]n[C1]" },
        { "#VALUE!/A1+#NULL!/2", "X[#VALUE!]O[/]n[A1]O[+]X[#NULL!]O[/]N[2]" },
        { "$A$1+_xlfn.XOR(\xC3\xA4)", "n[$A$1]O[+]n[_xlfn.XOR]O[(]n[\xC3\xA4]O[)]" },
        { "a\tb\r\n.x<>%", "n[a]W[\t]n[b]W[\r]W[\n]O[.]n[x]O[<]O[>]O[%]" }, { "", "" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.tokens, Tokens(c.text)) << c.text;
}

TEST(Finish, NeverLeavesHalfACharacter)
{
    struct { const char *text; uint32 size; const char *result; } cases[] = {
        { "ab\xE2\x82\xAC", 6, "ab\xE2\x82\xAC" },   // exactly full
        { "a\xF0\x9F\x98\x80", 5, "a" },
        { "\xE0\xA4\x85", 3, "" },                 // the first character, a lead of E0
        { "ab\xC0\xAF", 4, "ab" },                 // an overlong lead is a lead all the same
        { "\x80\x80\x80\x80\x80\x80", 6, "\x80\x80\x80\x80\x80" },  // no lead byte: nothing to keep whole
    };
    for (const auto &c : cases) {
        char buf[8]; Output out = { buf, c.size, 0, FALSE };
        Append(&out, c.text, (uint32)strlen(c.text)); Finish(&out);
        EXPECT_STREQ(c.result, buf) << c.text << " in " << c.size;
    }
}

}  // namespace
