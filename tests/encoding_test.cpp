// OpenXMLFile: members written in UTF-16, either byte order, read back as UTF-8.
#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>
#include <string>

#include "tests/support/standin.h"
#include "xml/xml.h"

using testing_support::NothingLeft;

namespace {

class OpenXMLFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::UseStandIn();
        dir = testing_support::TempDir();
        name = "T:" + dir.substr(platform::AssignDir("T").size() + 1) + "/part.xml";
    }
    void TearDown() override
    {
        platform::RemoveTemp(dir);
        EXPECT_TRUE(NothingLeft());
    }

    // Writes bytes as the member, opens it through OpenXMLFile and gives all it reads;
    // "(none)" when it opens nothing.
    std::string Read(const std::string &bytes)
    {
        FILE *f = fopen(platform::HostPath(name.c_str()).c_str(), "wb");
        if (f == nullptr || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || fclose(f) != 0) {
            ADD_FAILURE() << "cannot write " << name;
            return "(not written)";
        }
        BOOL missing = TRUE;
        XMLFile *fp = OpenXMLFile(name.c_str(), &missing);
        EXPECT_FALSE(missing);
        if (fp == nullptr)
            return "(none)";
        std::string text;
        for (int32 c; (c = NextByte(fp)) >= 0;)
            text += (char)c;
        if (!EndOfFile(fp))
            text = "(failed read)";
        CloseXMLStream(fp);
        return text;
    }

    std::string dir, name;
};

// 16-bit units as bytes, in the order asked for.
std::string Units(std::initializer_list<unsigned> units, bool bigendian)
{
    std::string out;
    for (unsigned u : units) {
        out += (char)(bigendian ? u >> 8 : u & 0xFF);
        out += (char)(bigendian ? u & 0xFF : u >> 8);
    }
    return out;
}

TEST_F(OpenXMLFileTest, ReadsBothByteOrders)
{
    struct { const char *name; std::initializer_list<unsigned> units; const char *utf8; } cases[] = {
        { "a mark", { 0xFEFF, '<', 'a', '/', '>' }, "<a/>" },
        { "no mark", { '<', 'a', '/', '>' }, "<a/>" },
        { "two and three bytes", { '<', 0xE9, 0x20AC, '>' }, "<\xC3\xA9\xE2\x82\xAC>" },
        { "a pair", { 0xFEFF, '<', 0xD83D, 0xDE00, '>' }, "<\xF0\x9F\x98\x80>" },
        { "a lone high half takes the next unit along", { '<', 0xD83D, 'x', 'y' }, "<\xEF\xBF\xBDy" },
        { "a lone low half", { '<', 0xDE00, 'x' }, "<\xEF\xBF\xBDx" },
        { "a high half before a unit past the halves", { '<', 0xD83D, 0xE000, 0xE000 }, "<\xEF\xBF\xBD\xEE\x80\x80" },
        { "the mark alone", { 0xFEFF }, "" },
    };
    for (bool bigendian : {false, true}) {
        for (const auto &c : cases) {
            EXPECT_EQ(c.utf8, Read(Units(c.units, bigendian))) << c.name << (bigendian ? " BE" : " LE");
        }
    }
}

TEST_F(OpenXMLFileTest, AnOddLastByteIsDropped)
{
    EXPECT_EQ("<a>", Read(Units({ '<', 'a', '>' }, false) + "b"));
    EXPECT_EQ("<a>", Read(Units({ '<', 'a', '>' }, true) + "b"));
}

TEST_F(OpenXMLFileTest, BytesThatAreNoUTF16StandAsTheyAre)
{
    // Half a mark, or a byte that only looks like one half of a wide "<".
    const std::string kept[] = {
        "<a>caf\xC3\xA9</a>", "\xEF\xBB\xBF<a/>", "a", "", "\xFF<", "\xFE\xFE", "<a", std::string("\0a", 2),
        std::string("\xFF\0", 2),
    };
    for (const std::string &k : kept)
        EXPECT_EQ(k, Read(k)) << k;
}

TEST_F(OpenXMLFileTest, AFailingCallOpensNothingOrAllOfIt)
{
    std::string wide = Units({ 0xFEFF, '<' }, false);
    for (int k = 0; k < 600; k++)
        wide += Units({ 0x20AC }, false);      // three bytes each: past one write chunk
    std::string utf8 = "<";
    for (int k = 0; k < 600; k++)
        utf8 += "\xE2\x82\xAC";
    struct { const char *name; std::string bytes, text; } cases[] = {
        { "one byte", "a", "a" },      // the way back to the start is a seek of the system
        { "UTF-8", "<a>caf\xC3\xA9</a>", "<a>caf\xC3\xA9</a>" },
        { "UTF-16", wide, utf8 },
    };
    for (const auto &c : cases) {
        for (uint64 at = 1;; at++) {
            platform::faults.failAt = at;
            std::string text = Read(c.bytes);
            bool reached = platform::FailedCall() != nullptr;
            platform::faults.failAt = 0;
            platform::ForgetFailure();
            EXPECT_TRUE(text == c.text || text == "(none)" || text == "(failed read)")
                << c.name << " " << at;
            EXPECT_TRUE(NothingLeft()) << c.name << " " << at;
            if (!reached) {
                EXPECT_EQ(c.text, text) << c.name;
                break;
            }
        }
    }
}

TEST_F(OpenXMLFileTest, NoRoomForTheNameOfTheCopy)
{
    // The name and ".utf8" need one byte more than a path has.
    std::string sub = name.substr(0, name.rfind('/'));
    for (int k = 0; k < 2; k++) {
        sub += "/" + std::string(200, 'd');
        ASSERT_EQ(0, mkdir(platform::HostPath(sub.c_str()).c_str(), 0700));
    }
    name = sub + "/" + std::string(XML_PATHSIZE - 5 - sub.size() - 1, 'n');
    EXPECT_EQ("<a/>", Read("<a/>"));       // read as it is: no copy is needed
    EXPECT_EQ("(none)", Read(Units({ 0xFEFF, '<', 'a', '/', '>' }, false)));
}

TEST_F(OpenXMLFileTest, LongTextsCrossTheWriteChunk)
{
    std::string le = Units({ 0xFEFF, '<' }, false), be = Units({ 0xFEFF, '<' }, true), utf8 = "<";
    for (int k = 0; k < 3000; k++) {
        unsigned u = k % 3 == 0 ? 0xE9 : k % 3 == 1 ? 0x20AC : 'z';
        le += Units({ u }, false);
        be += Units({ u }, true);
        utf8 += u == 0xE9 ? "\xC3\xA9" : u == 0x20AC ? "\xE2\x82\xAC" : "z";
    }
    EXPECT_EQ(utf8, Read(le));
    EXPECT_EQ(utf8, Read(be));
}

TEST_F(OpenXMLFileTest, MissingFileOpensNothing)
{
    BOOL missing = FALSE;
    EXPECT_EQ(nullptr, OpenXMLFile("T:no-such-dir/part.xml", &missing));
    EXPECT_TRUE(missing);
}

}  // namespace
