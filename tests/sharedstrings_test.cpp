// The shared-string table read from a stream and looked up by index, and its cells.
#include <gtest/gtest.h>

#include "tests/support/testing.h"
#include "xml/xml.h"

using testing_support::ImportSheet;
using testing_support::NothingLeft;

namespace {

class SharedStrings : public ::testing::Test {
protected:
    void SetUp() override { testing_support::UseStandIn(); }
    void TearDown() override { EXPECT_TRUE(NothingLeft()); }

    // The texts of the table, "|"-joined, as the cells B1, B2, ... show them.
    std::string Table(const std::string &sst, size_t n)
    {
        std::string sheet;
        for (size_t k = 0; k < n; k++)
            sheet += "<row r=\"" + std::to_string(k + 1) + "\"><c r=\"A" + std::to_string(k + 1) +
                     "\" t=\"s\"><v>" + std::to_string(k) + "</v></c></row>";
        auto book = ImportSheet(sheet, sst);
        if (book.rc != 0 || book.doc.sheets.empty()) {
            ADD_FAILURE() << "import failed (" << book.rc << "): " << sst;
            return "(import failed)";
        }
        std::string texts;
        bool first = true;
        for (const Cell &c : book.doc.sheets.back().cells) {
            texts += std::string(first ? "" : "|") + (c.c_Text ? c.c_Text : "(null)");
            first = false;
        }
        return texts;
    }
};

TEST_F(SharedStrings, Items)
{
    struct { const char *name, *sst; size_t n; const char *texts; } cases[] = {
        { "plain", "<sst count=\"2\"><si><t>A</t></si><si><t>B</t></si></sst>", 3, "A|B|" },
        { "preserved blanks", "<sst><si><t xml:space=\"preserve\"> Hello </t></si></sst>", 1, " Hello " },
        { "empty texts keep the indices", "<sst><si><t/></si><si><t></t></si><si/><si><t>x</t></si></sst>",
          4, "|||x" },
        { "rich text", "<sst><si><r><rPr><b/></rPr><t>Bold</t></r><r><t xml:space=\"preserve\"> text</t></r></si>"
          "<si><t>next</t></si></sst>", 2, "Bold text|next" },
        { "phonetic runs", "<sst><si><t>X</t><rPh sb=\"0\" eb=\"1\"><t>Y</t></rPh><phoneticPr fontId=\"1\"/></si>"
          "<si><t>Z</t></si></sst>", 2, "X|Z" },
        { "a raw >", "<sst><si><t>a>b</t></si></sst>", 1, "a>b" },
        { "no attributes on the root", "<sst><si><t>only</t></si></sst>", 1, "only" },
        { "an empty root", "<sst count=\"0\" uniqueCount=\"0\"/>", 1, "" },
        { "prefixed", "<x:sst><x:si><x:t>p</x:t></x:si></x:sst>", 1, "p" },
        { "cut inside an item", "<sst><si><t>kept</t></si><si><t>lo", 2, "kept|" },
        { "CDATA", "<sst><si><t><![CDATA[a<b & c]]></t></si></sst>", 1, "a<b & c" },
        { "entities", "<sst><si><t>caf\xC3\xA9 &amp; &#x263A;</t></si></sst>", 1, "caf\xE9 & ?" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.texts, Table(c.sst, c.n)) << c.name;
}

TEST_F(SharedStrings, LongTextsAreCutAndTheReadingStaysInStep)
{
    std::string longtext(3000, 'x');
    std::string texts = Table("<sst><si><t>" + longtext + "</t></si><si><t>after</t></si></sst>", 2);
    EXPECT_EQ(std::string(1023, 'x') + "|after", texts);
    // Many runs together: cut at the buffer, never inside a character.
    std::string runs;
    for (int k = 0; k < 600; k++)
        runs += "<r><t>\xC3\xA9</t></r>";
    texts = Table("<sst><si>" + runs + "</si><si><t>end</t></si></sst>", 2);
    EXPECT_EQ(std::string(511, '\xE9') + "|end", texts);
}

TEST_F(SharedStrings, Cells)
{
    std::string sst = "<sst><si><t>zero</t></si><si><t>one</t></si></sst>";
    struct { const char *name, *sheet, *cells; } cases[] = {
        { "index 0", "<c r=\"A1\" t=\"s\"><v>0</v></c>", "A1=zero" },
        { "beyond the table", "<c r=\"A1\" t=\"s\"><v>99</v></c>", "A1=" },
        { "not a number", "<c r=\"A1\" t=\"s\"><v>x</v></c>", "A1=" },
        { "negative", "<c r=\"A1\" t=\"s\"><v>-1</v></c>", "A1=" },
        { "S in capitals", "<c r=\"A1\" t=\"S\"><v>1</v></c>", "A1=one" },
        { "inline string", "<c r=\"A1\" t=\"inlineStr\"><is><t>in &amp; line</t></is></c><c r=\"B1\"><v>2</v></c>",
          "A1=in & line|B1=2" },
        { "rich inline string", "<c r=\"A1\" t=\"inlineStr\"><is><r><t>a</t></r><r><t>b</t></r></is></c>", "A1=ab" },
        { "empty inline string", "<c r=\"A1\" t=\"inlineStr\"><is/></c><c r=\"B1\"><v>1</v></c>", "B1=1" },
    };
    for (const auto &c : cases) {
        auto book = ImportSheet(std::string("<row r=\"1\">") + c.sheet + "</row>", sst);
        EXPECT_EQ(0, book.rc) << c.name;
        EXPECT_EQ(c.cells, book.cells) << c.name;
    }
    auto nosst = ImportSheet("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\"><v>5</v></c></row>");
    EXPECT_EQ("A1=|B1=5", nosst.cells);
}

TEST_F(SharedStrings, AllocationFailureFailsTheImport)
{
    std::string sst, sheet = "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>";
    for (int k = 0; k < 50; k++)
        sst += "<si><t>s" + std::to_string(k) + "</t></si>";
    for (uint32 at : {1u, 2u, 10u, 40u}) {
        platform::Reset();
        platform::faults.allocFailsAt = at;
        auto book = ImportSheet(sheet, "<sst>" + sst + "</sst>");
        EXPECT_EQ(20, book.rc) << at;
        EXPECT_TRUE(NothingLeft()) << at;
        EXPECT_EQ(0, book.doc.liveStrings) << at;
    }
}

TEST_F(SharedStrings, LookupAndFree)
{
    IExec->NewList(&stringlist);
    char *text = nullptr;
    Node *node = nullptr;
    EXPECT_EQ(nullptr, GetSharedStrings(0, &stringlist, &node));
    FreeSharedData(&stringlist, 0);
    EXPECT_EQ(nullptr, GetSharedStrings(0, &stringlist, &node));
    EXPECT_EQ(nullptr, text);
}

}  // namespace
