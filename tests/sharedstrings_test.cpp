// The shared-string table read from a file in T: and looked up by index.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "tests/support/standin.h"
#include "xml/xml.h"

using testing_support::LiveStrings;
using testing_support::NothingLeft;

namespace {

class ReadSharedStringsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::UseStandIn();
        SetCharsetMap(platform::CharsetMap(CODESET_ISO_8859_1));
        dir = testing_support::TempDir();
        NewTable();
    }
    void TearDown() override
    {
        FreeTable();
        platform::RemoveTemp(dir);
        EXPECT_TRUE(NothingLeft());
        EXPECT_EQ(0, LiveStrings());
    }
    // The list and its pool, as the driver makes them for an import.
    void NewTable()
    {
        IExec->NewList(&stringlist);
        sharedpool = IExec->CreatePool(MEMF_PRIVATE, SHARED_PUDDLE, SHARED_PUDDLE / 32);
        ASSERT_NE(nullptr, sharedpool);
    }
    void FreeTable()
    {
        FreeSharedData(&stringlist, SHARED_STRINGS);
        IExec->DeletePool(sharedpool);
        sharedpool = nullptr;
    }

    // Writes sst as the shared-string file, reads it and gives the table's texts, "|"-joined;
    // count is the number of entries. "(failed)" when ReadSharedStrings fails.
    std::string Table(const std::string &sst)
    {
        FreeSharedData(&stringlist, SHARED_STRINGS);
        IExec->NewList(&stringlist);
        std::string name = "T:" + dir.substr(platform::AssignDir("T").size() + 1) + "/strings.xml";
        FILE *f = fopen(platform::HostPath(name.c_str()).c_str(), "wb");
        if (f == nullptr || fwrite(sst.data(), 1, sst.size(), f) != sst.size() || fclose(f) != 0) {
            ADD_FAILURE() << "cannot write " << name;
            return "(not written)";
        }
        count = 0;
        if (!ReadSharedStrings(name.c_str(), buffers.get()))
            return "(failed)";
        std::string texts;
        Node *node = nullptr;
        for (const char *text; (text = GetSharedStrings(count, &stringlist, &node)) != nullptr;)
            texts += std::string(count++ == 0 ? "" : "|") + text;
        EXPECT_EQ(nullptr, node);   // the table's entries have no nodes
        return texts;
    }

    // On the heap, as the import makes them.
    std::unique_ptr<TextBuffers> buffers = std::make_unique<TextBuffers>();
    std::string dir;
    uint32 count = 0;
};

TEST_F(ReadSharedStringsTest, Items)
{
    struct { const char *name, *sst; uint32 count; const char *texts; } cases[] = {
        { "plain", "<sst count=\"2\"><si><t>A</t></si><si><t>B</t></si></sst>", 2, "A|B" },
        { "preserved blanks", "<sst><si><t xml:space=\"preserve\"> Hello </t></si></sst>", 1, " Hello " },
        { "empty texts keep the indices", "<sst><si><t/></si><si><t></t></si><si/><si><t>x</t></si></sst>",
          4, "|||x" },
        { "rich text", "<sst><si><r><rPr><b/></rPr><t>Bold</t></r><r><t xml:space=\"preserve\"> text</t></r></si>"
          "<si><t>next</t></si></sst>", 2, "Bold text|next" },
        { "phonetic runs", "<sst><si><t>X</t><rPh sb=\"0\" eb=\"1\"><t>Y</t></rPh><phoneticPr fontId=\"1\"/></si>"
          "<si><t>Z</t></si></sst>", 2, "X|Z" },
        { "a raw >", "<sst><si><t>a>b</t></si></sst>", 1, "a>b" },
        { "no attributes on the root", "<sst><si><t>only</t></si></sst>", 1, "only" },
        { "an empty root", "<sst count=\"0\" uniqueCount=\"0\"/>", 0, "" },
        { "prefixed", "<x:sst><x:si><x:t>p</x:t></x:si></x:sst>", 1, "p" },
        { "cut inside an item", "<sst><si><t>kept</t></si><si><t>lo", 1, "kept" },
        { "cut between runs", "<sst><si><t>kept</t></si><si><r><t>a</t></r>", 1, "kept" },
        { "CDATA", "<sst><si><t><![CDATA[a<b & c]]></t></si></sst>", 1, "a<b & c" },
        { "entities", "<sst><si><t>caf\xC3\xA9 &amp; &#x263A;</t></si></sst>", 1, "caf\xE9 & ?" },
        { "an empty file", "", 0, "" },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.texts, Table(c.sst)) << c.name;
        EXPECT_EQ(c.count, count) << c.name;
    }
}

TEST_F(ReadSharedStringsTest, LongTextsAreWholeUpToTheLimitAndTheReadingStaysInStep)
{
    EXPECT_EQ(std::string(3000, 'x') + "|after",
              Table("<sst><si><t>" + std::string(3000, 'x') + "</t></si><si><t>after</t></si></sst>"));
    EXPECT_EQ(std::string(32767, 'x') + "|after",
              Table("<sst><si><t>" + std::string(40000, 'x') + "</t></si><si><t>after</t></si></sst>"));
    // The limit counts the runs of an item together, and characters, not bytes.
    std::string runs;
    for (int k = 0; k < 600; k++)
        runs += "<r><t>\xC3\xA9</t></r>";
    EXPECT_EQ(std::string(600, '\xE9') + "|end", Table("<sst><si>" + runs + "</si><si><t>end</t></si></sst>"));
}

TEST_F(ReadSharedStringsTest, ManyEntriesGrowTheIndex)
{
    std::string sst;
    for (int k = 0; k < 3000; k++)
        sst += "<si><t>s" + std::to_string(k) + "</t></si>";
    Table("<sst>" + sst + "</sst>");
    EXPECT_EQ(3000u, count);
    Node *node = nullptr;
    EXPECT_STREQ("s2999", GetSharedStrings(2999, &stringlist, &node));
    EXPECT_STREQ("s1024", GetSharedStrings(1024, &stringlist, &node));
    EXPECT_EQ(nullptr, GetSharedStrings(3000, &stringlist, &node));
    EXPECT_EQ(nullptr, GetSharedStrings(0xFFFFFFFFu, &stringlist, &node));
    EXPECT_EQ(0, LiveStrings());    // the table keeps its texts in its own pool
}

TEST_F(ReadSharedStringsTest, NoFileIsAnEmptyTable)
{
    EXPECT_TRUE(ReadSharedStrings("T:no-such-dir/sharedStrings.xml", buffers.get()));
    Node *node = nullptr;
    EXPECT_EQ(nullptr, GetSharedStrings(0, &stringlist, &node));
}

TEST_F(ReadSharedStringsTest, AFailingCallGivesEverythingBack)
{
    std::string sst;
    for (int k = 0; k < 50; k++)
        sst += "<si><t>s" + std::to_string(k) + "</t></si>";
    sst = "<sst>" + sst + "</sst>";
    uint64 before = platform::FallibleCalls();
    ASSERT_NE("(failed)", Table(sst));
    uint64 calls = platform::FallibleCalls() - before;
    std::string whole = Table(sst);
    for (uint64 at = 1; at <= calls; at++) {
        FreeTable();
        NewTable();
        platform::faults.failAt = at;
        std::string read = Table(sst);
        EXPECT_TRUE(read == "(failed)" || read == whole) << at << ": " << read;
        platform::faults.failAt = 0;
        FreeTable();
        EXPECT_TRUE(NothingLeft()) << at;
        EXPECT_EQ(0, LiveStrings()) << at;
        NewTable();
    }
}

TEST_F(ReadSharedStringsTest, LookupAndFreeOfAnEmptyList)
{
    Node *node = nullptr;
    EXPECT_EQ(nullptr, GetSharedStrings(0, &stringlist, &node));
    FreeSharedData(&stringlist, SHARED_STRINGS);
    EXPECT_EQ(nullptr, GetSharedStrings(0, &stringlist, &node));
    EXPECT_EQ(nullptr, node);
}

}  // namespace
