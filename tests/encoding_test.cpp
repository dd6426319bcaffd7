// OpenXMLFile: members written in UTF-16, either byte order, read back as UTF-8.
#include <gtest/gtest.h>

#include <cstdio>
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
    const char *kept[] = { "<a>caf\xC3\xA9</a>", "\xEF\xBB\xBF<a/>", "a", "" };
    for (const char *k : kept)
        EXPECT_EQ(k, Read(k)) << k;
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
