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

TEST_F(SharedStrings, AFailingCallFailsTheImport)
{
    std::string sst, sheet = "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>";
    for (int k = 0; k < 50; k++)
        sst += "<si><t>s" + std::to_string(k) + "</t></si>";
    for (uint64 at : {1u, 2u, 10u, 40u, 60u}) {
        platform::Reset();
        platform::faults.failAt = at;
        auto book = ImportSheet(sheet, "<sst>" + sst + "</sst>");
        EXPECT_EQ(20, book.rc) << at;
        EXPECT_TRUE(NothingLeft()) << at;
        EXPECT_EQ(0, book.doc.liveStrings) << at;
    }
}

}  // namespace
