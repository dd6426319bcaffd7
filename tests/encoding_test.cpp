// OpenXMLFile: members written in UTF-16, either byte order, read back as UTF-8 as they are
// read, with nothing written beside them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <string>
#include <vector>

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
        if (ReadFailed(fp))
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

TEST_F(OpenXMLFileTest, ReadsBothByteOrdersKeepsEveryUnitAndLeavesOtherBytes)
{
    struct { const char *name; std::initializer_list<unsigned> units; const char *utf8; } cases[] = {
        { "a mark", { 0xFEFF, '<', 'a', '/', '>' }, "<a/>" }, { "the mark alone", { 0xFEFF }, "" },
        { "two and three bytes", { '<', 0xE9, 0x20AC, '>' }, "<\xC3\xA9\xE2\x82\xAC>" },
        { "a pair", { 0xFEFF, '<', 0xD83D, 0xDE00, '>' }, "<\xF0\x9F\x98\x80>" },
        { "a lone high half", { '<', 0xD83D, 'x', 'y' }, "<\xEF\xBF\xBDxy" },
        { "a lone high half before an end tag", { 0xFEFF, 'a', 0xD83D, '<', '/', 'v', '>' }, "a\xEF\xBF\xBD</v>" },
        { "two high halves, then a pair", { 0xFEFF, 0xD83D, 0xD83D, 0xDE00 }, "\xEF\xBF\xBD\xF0\x9F\x98\x80" },
        { "a high half at the end", { '<', 0xD83D }, "<\xEF\xBF\xBD" },
        { "a lone low half", { '<', 0xDE00, 'x' }, "<\xEF\xBF\xBDx" },
        { "a high half before a unit past the halves", { '<', 0xD83D, 0xE000, 0xE000 }, "<\xEF\xBF\xBD\xEE\x80\x80\xEE\x80\x80" },
        { "the first and the last pair", { 0xFEFF, 0xD800, 0xDC00, 0xDBFF, 0xDFFF }, "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF" },
        { "the units around the halves", { 0xFEFF, 0xD7FF, 0xE000 }, "\xED\x9F\xBF\xEE\x80\x80" },
        { "the first and the last low half alone", { 0xFEFF, 0xDC00, 0xDFFF }, "\xEF\xBF\xBD\xEF\xBF\xBD" },
        { "a high half before a unit just below the low halves", { 0xFEFF, 0xDBFF, 0xDBFF, 0xDBFF, 0xD7FF },
          "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xED\x9F\xBF" },
    };
    for (bool bigendian : {false, true}) {
        SCOPED_TRACE(bigendian ? "BE" : "LE");
        for (const auto &c : cases)
            EXPECT_EQ(c.utf8, Read(Units(c.units, bigendian))) << c.name;
        EXPECT_EQ("<a>", Read(Units({ '<', 'a', '>' }, bigendian) + "b")) << "an odd last byte";
        // Long texts cross the write chunk.
        std::string wide = Units({ 0xFEFF, '<' }, bigendian), utf8 = "<";
        for (int k = 0; k < 3000; k++)
            wide += Units({ k % 3 == 0 ? 0xE9u : k % 3 == 1 ? 0x20ACu : 'z' }, bigendian),
            utf8 += k % 3 == 0 ? "\xC3\xA9" : k % 3 == 1 ? "\xE2\x82\xAC" : "z";
        EXPECT_EQ(utf8, Read(wide)) << "a long text";
    }
    // Bytes that are no UTF-16 stand as they are: half a mark, or a byte that only looks like
    // one half of a wide "<".
    for (const std::string &k : { "<a>caf\xC3\xA9</a>"s, "\xEF\xBB\xBF<a/>"s, "a"s, ""s, "\xFF<"s, "\xFE\xFE"s,
                                  "<a"s, "\0a"s, "\xFF\0"s })
        EXPECT_EQ(k, Read(k)) << k;
    // Nothing is written beside the member, however long the name.
    std::string sub = name.substr(0, name.rfind('/'));
    for (int k = 0; k < 2; k++) {
        sub += "/" + std::string(200, 'd');
        ASSERT_EQ(0, mkdir(platform::HostPath(sub.c_str()).c_str(), 0700));
    }
    name = sub + "/" + std::string(XML_PATHSIZE - sub.size() - 1, 'n');
    EXPECT_EQ("<a/>", Read(Units({ 0xFEFF, '<', 'a', '/', '>' }, false)));
    size_t files = 0;
    for (const auto &e : std::filesystem::recursive_directory_iterator(dir))
        files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(2u, files);     // the two members written here
    BOOL missing = FALSE;
    EXPECT_EQ(nullptr, OpenXMLFile("T:no-such-dir/part.xml", &missing)); EXPECT_TRUE(missing);
}

// Blocks of UTF-8 made from a member of several reads, and places taken back to: a peek may
// reach behind the block it started in.
TEST_F(OpenXMLFileTest, GoesBackToEveryPlaceAcrossBlocksAndReads)
{
    for (bool bigendian : {false, true}) {
        SCOPED_TRACE(bigendian ? "BE" : "LE");
        std::string wide = Units({ 0xFEFF }, bigendian), utf8;
        for (unsigned k = 0; k < 60000; k++) {
            // A pair across the end of the first read: its high half is the read's last unit.
            if (k == XML_RAWSIZE / 2 - 2) {
                wide += Units({ 0xD83D, 0xDE00 }, bigendian), utf8 += "\xF0\x9F\x98\x80", k++;
                continue;
            }
            unsigned u = k % 5 == 0 ? 0x3000u : k % 5 == 1 ? 0xE9u : 'a' + k % 26;
            wide += Units({ u }, bigendian);
            utf8 += u == 0x3000 ? "\xE3\x80\x80" : u == 0xE9 ? "\xC3\xA9" : std::string(1, (char)u);
        }
        std::ofstream(platform::HostPath(name.c_str()), std::ios::binary) << wide;
        BOOL missing;
        XMLFile *fp = OpenXMLFile(name.c_str(), &missing);
        ASSERT_NE(nullptr, fp);
        std::vector<std::pair<int64, size_t>> places; std::string text;
        for (int32 c; (c = NextByte(fp)) >= 0;) {
            if (text.size() % 7919 == 0)
                places.push_back({ XMLTell(fp) - 1, text.size() });
            text += (char)c;
        }
        EXPECT_FALSE(ReadFailed(fp)); EXPECT_EQ(utf8, text);
        for (auto it = places.rbegin(); it != places.rend(); ++it) {
            ASSERT_TRUE(XMLSeek(fp, it->first));
            std::string again;
            for (int k = 0; k < 100 && it->second + again.size() < utf8.size(); k++)
                again += (char)NextByte(fp);
            EXPECT_EQ(utf8.substr(it->second, again.size()), again) << it->second;
        }
        CloseXMLStream(fp);
    }
}

}  // namespace
