// Shared strings through whole imports: text cells looked up in the table, inline strings,
// and a table that cannot be read failing the import.
#include <gtest/gtest.h>

#include "tests/support/testing.h"

using testing_support::ImportSheet;
using testing_support::NothingLeft;

namespace {

class SharedStrings : public ::testing::Test {
protected:
    void SetUp() override { testing_support::UseStandIn(); }
    void TearDown() override { EXPECT_TRUE(NothingLeft()); }
};

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
    EXPECT_EQ(0, nosst.rc);
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

}  // namespace
