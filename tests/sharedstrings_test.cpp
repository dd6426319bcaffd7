// The shared-string table read from a file in T: and looked up by index.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "tests/support/standin.h"
#include "xml/xml.h"

namespace {

using namespace testing_support;

class ReadSharedStringsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseStandIn();
        SetCharsetMap(platform::CharsetMap(CODESET_ISO_8859_1));
        dir = TempDir();
        BeginSharedStrings(&strings, nullptr);
    }
    void TearDown() override
    {
        FreeTable();
        platform::RemoveTemp(dir);
        EXPECT_TRUE(NothingLeft());
        EXPECT_EQ(0, LiveStrings());    // the table keeps its texts in its own pool
    }
    void FreeTable()
    {
        APTR pool = strings.pool;
        FreeSharedData(&strings);
        IExec->DeletePool(pool);
        strings.pool = nullptr;
    }
    // Writes sst as the shared-string file and reads it into a new table, with its pool as the
    // driver makes it; gives the number of entries, then their texts, "|"-joined, or "(failed)".
    std::string Table(const std::string &sst)
    {
        FreeTable();
        std::string name = "T:" + dir.substr(platform::AssignDir("T").size() + 1) + "/strings.xml";
        std::ofstream(platform::HostPath(name.c_str()), std::ios::binary) << sst;
        strings.pool = IExec->CreatePool(MEMF_PRIVATE, SHARED_PUDDLE, SHARED_PUDDLE / 32);
        if (strings.pool == nullptr || !ReadSharedStrings(name.c_str(), &strings, buffers.get()))
            return "(failed)";
        std::string texts; uint32 count = 0;
        for (const char *text; (text = GetSharedStrings(count, &strings)) != nullptr;)
            texts += std::string(count++ == 0 ? "" : "|") + text;
        EXPECT_EQ(nullptr, strings.stringlist.lh_Head->ln_Succ);   // the entries have no nodes
        return std::to_string(count) + ":" + texts;
    }
    SharedStrings strings;
    std::unique_ptr<TextBuffers> buffers = std::make_unique<TextBuffers>();   // as large as the import's
    std::string dir;
};

TEST_F(ReadSharedStringsTest, ItemsAndAFailingCallGivesEverythingBack)
{
    std::string runs;
    for (int k = 0; k < 600; k++)
        runs += "<r><t>\xC3\xA9</t></r>";
    struct { const char *name; std::string sst, texts; } cases[] = {
        { "preserved blanks", "<sst><si><t xml:space=\"preserve\"> Hello </t></si></sst>", "1: Hello " },
        { "empty texts keep the indices", "<sst><si><t/></si><si><t></t></si><si/><si><t>x</t></si></sst>", "4:|||x" },
        { "rich text", "<sst><si><r><rPr><b/></rPr><t>Bold</t></r><r><t xml:space=\"preserve\"> text</t></r></si>"
          "<si><t>next</t></si></sst>", "2:Bold text|next" },
        { "phonetic runs", "<sst><si><t>X</t><rPh sb=\"0\" eb=\"1\"><t>Y</t></rPh><phoneticPr fontId=\"1\"/></si>"
          "<si><t>Z</t></si></sst>", "2:X|Z" },
        { "a run behind a phonetic one", "<sst><si><r><t>a</t></r><rPh sb=\"0\" eb=\"1\"><t>Y</t></rPh>"
          "<r><t>b</t></r></si></sst>", "1:ab" },
        { "an empty root", "<sst count=\"0\" uniqueCount=\"0\"/>", "0:" }, { "an empty file", "", "0:" },
        { "prefixed", "<x:sst><x:si><x:t>p</x:t></x:si></x:sst>", "1:p" },
        { "cut inside an item", "<sst><si><t>kept</t></si><si><t>lo", "1:kept" },
        { "cut between runs", "<sst><si><t>kept</t></si><si><r><t>a</t></r>", "1:kept" },
        { "entities", "<sst><si><t>caf\xC3\xA9 &amp; &#x263A;</t></si></sst>", "1:caf\xE9 & ?" },
        // Long texts are whole up to the limit, which counts the runs of an item together, and
        // characters, not bytes; the reading stays in step.
        { "too long", "<sst><si><t>" + std::string(40000, 'x') + "</t></si><si><t>after</t></si></sst>",
          "2:" + std::string(32767, 'x') + "|after" },
        { "many runs", "<sst><si>" + runs + "</si><si><t>z</t></si></sst>", "2:" + std::string(600, '\xE9') + "|z" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.texts, Table(c.sst)) << c.name;
    // Past the index's first block, so that it grows, and its growth fails too.
    std::string sst = "<sst>";
    for (int k = 0; k < 70; k++)
        sst += "<si><t>s" + std::to_string(k) + "</t></si>";
    sst += "</sst>";
    uint64 before = platform::FallibleCalls();
    std::string whole = Table(sst);
    uint64 calls = platform::FallibleCalls() - before;
    EXPECT_EQ("70:s0|", whole.substr(0, 6)); EXPECT_STREQ("s69", GetSharedStrings(69, &strings));
    for (uint64 at = 1; at <= calls; at++) {
        platform::faults.failAt = at;
        std::string read = Table(sst);
        EXPECT_TRUE(read == "(failed)" || read == whole) << at << ": " << read;
        platform::faults.failAt = 0;
        FreeTable();
        EXPECT_TRUE(NothingLeft()) << at; EXPECT_EQ(0, LiveStrings()) << at;
    }
}

}  // namespace
