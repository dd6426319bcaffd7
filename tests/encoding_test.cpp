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
    // Writes bytes as the member and gives all OpenXMLFile reads of it; "(none)" when it
    // opens nothing.
    std::string Read(const std::string &bytes)
    {
        FILE *f = fopen(platform::HostPath(name.c_str()).c_str(), "wb");
        if (f == nullptr || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || fclose(f) != 0)
            return "(not written)";
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
        { "two and three bytes", { '<', 0xE9, 0x20AC, '>' }, "<\xC3\xA9\xE2\x82\xAC>" },
        { "a pair", { 0xFEFF, '<', 0xD83D, 0xDE00, '>' }, "<\xF0\x9F\x98\x80>" },
        { "a lone high half takes the next unit along", { '<', 0xD83D, 'x', 'y' }, "<\xEF\xBF\xBDy" },
        { "a lone low half", { '<', 0xDE00, 'x' }, "<\xEF\xBF\xBDx" },
        { "a high half before a unit past the halves", { '<', 0xD83D, 0xE000, 0xE000 }, "<\xEF\xBF\xBD\xEE\x80\x80" },
        { "the mark alone", { 0xFEFF }, "" },
    };
    for (bool bigendian : {false, true}) {
        const char *order = bigendian ? " BE" : " LE";
        for (const auto &c : cases)
            EXPECT_EQ(c.utf8, Read(Units(c.units, bigendian))) << c.name << order;
        EXPECT_EQ("<a>", Read(Units({ '<', 'a', '>' }, bigendian) + "b")) << "an odd last byte" << order;
        // Long texts cross the write chunk.
        std::string wide = Units({ 0xFEFF, '<' }, bigendian), utf8 = "<";
        for (int k = 0; k < 3000; k++) {
            unsigned u = k % 3 == 0 ? 0xE9 : k % 3 == 1 ? 0x20AC : 'z';
            wide += Units({ u }, bigendian);
            utf8 += u == 0xE9 ? "\xC3\xA9" : u == 0x20AC ? "\xE2\x82\xAC" : "z";
        }
        EXPECT_EQ(utf8, Read(wide)) << "a long text" << order;
    }
}

TEST_F(OpenXMLFileTest, BytesThatAreNoUTF16StandAsTheyAre)
{
    // Half a mark, or a byte that only looks like one half of a wide "<".
    for (const std::string &k : { std::string("<a>caf\xC3\xA9</a>"), std::string("\xEF\xBB\xBF<a/>"), std::string("a"),
                                  std::string(), std::string("\xFF<"), std::string("\xFE\xFE"), std::string("<a"),
                                  std::string("\0a", 2), std::string("\xFF\0", 2) })
        EXPECT_EQ(k, Read(k)) << k;
}

TEST_F(OpenXMLFileTest, NoRoomForTheNameOfTheCopyAndNoFile)
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

    BOOL missing = FALSE;
    EXPECT_EQ(nullptr, OpenXMLFile("T:no-such-dir/part.xml", &missing));
    EXPECT_TRUE(missing);
}

}  // namespace
