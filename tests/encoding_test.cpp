// OpenXMLFile: members written in UTF-16, either byte order, read back as UTF-8.
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <string>

#include "tests/support/standin.h"
#include "xml/xml.h"

using namespace std::string_literals;

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
        EXPECT_TRUE(testing_support::NothingLeft());
    }
    // Writes bytes as the member and gives all OpenXMLFile reads of it; "(none)" when it opens nothing.
    std::string Read(const std::string &bytes)
    {
        std::ofstream(platform::HostPath(name.c_str()), std::ios::binary) << bytes;
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
    for (unsigned u : units)
        out += {(char)(bigendian ? u >> 8 : u & 0xFF), (char)(bigendian ? u & 0xFF : u >> 8)};
    return out;
}

TEST_F(OpenXMLFileTest, ReadsBothByteOrdersLeavesOtherBytesAndNeedsRoomForACopy)
{
    struct { const char *name; std::initializer_list<unsigned> units; const char *utf8; } cases[] = {
        { "a mark", { 0xFEFF, '<', 'a', '/', '>' }, "<a/>" }, { "the mark alone", { 0xFEFF }, "" },
        { "two and three bytes", { '<', 0xE9, 0x20AC, '>' }, "<\xC3\xA9\xE2\x82\xAC>" },
        { "a pair", { 0xFEFF, '<', 0xD83D, 0xDE00, '>' }, "<\xF0\x9F\x98\x80>" },
        { "a lone high half takes the next unit along", { '<', 0xD83D, 'x', 'y' }, "<\xEF\xBF\xBDy" },
        { "a lone low half", { '<', 0xDE00, 'x' }, "<\xEF\xBF\xBDx" },
        { "a high half before a unit past the halves", { '<', 0xD83D, 0xE000, 0xE000 }, "<\xEF\xBF\xBD\xEE\x80\x80" },
    };
    for (bool bigendian : {false, true}) {
        SCOPED_TRACE(bigendian ? "BE" : "LE");
        for (const auto &c : cases)
            EXPECT_EQ(c.utf8, Read(Units(c.units, bigendian))) << c.name;
        EXPECT_EQ("<a>", Read(Units({ '<', 'a', '>' }, bigendian) + "b")) << "an odd last byte";
        // Long texts cross the write chunk.
        std::string wide = Units({ 0xFEFF, '<' }, bigendian), utf8 = "<";
        for (int k = 0; k < 3000; k++) {
            wide += Units({ k % 3 == 0 ? 0xE9u : k % 3 == 1 ? 0x20ACu : 'z' }, bigendian);
            utf8 += k % 3 == 0 ? "\xC3\xA9" : k % 3 == 1 ? "\xE2\x82\xAC" : "z";
        }
        EXPECT_EQ(utf8, Read(wide)) << "a long text";
    }
    // Bytes that are no UTF-16 stand as they are: half a mark, or a byte that only looks like
    // one half of a wide "<".
    for (const std::string &k : { "<a>caf\xC3\xA9</a>"s, "\xEF\xBB\xBF<a/>"s, "a"s, ""s, "\xFF<"s, "\xFE\xFE"s,
                                  "<a"s, "\0a"s, "\xFF\0"s })
        EXPECT_EQ(k, Read(k)) << k;
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
