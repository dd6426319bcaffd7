// Small workbooks as data: every tests/fixtures/NAME.sheet.xml (with NAME.sst.xml when the
// sheet has shared strings) is made into a workbook, shown by the sheaf command as jsonl and
// compared with NAME.jsonl, byte for byte; again with every dos call that succeeds leaving
// a stale code for IoErr, as the system may.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/testing.h"

using namespace testing_support;

namespace {

TEST(Fixtures, EachWorkbookShowsItsCells)
{
    UseStandIn();
    const std::string suffix = ".sheet.xml";
    std::vector<std::string> names;
    std::error_code error;
    for (const auto &e : std::filesystem::directory_iterator(SourcePath("tests/fixtures"), error)) {
        std::string name = e.path().filename();
        if (name.size() > suffix.size() && name.ends_with(suffix))
            names.push_back(name.substr(0, name.size() - suffix.size()));
    }
    std::sort(names.begin(), names.end());
    ASSERT_FALSE(names.empty());
    for (const std::string &name : names) {
        std::string base = SourcePath("tests/fixtures/" + name), why;
        std::string dir = TempDir(), book = dir + "/" + name + ".xlsx";
        auto parts = bookgen::Workbook(ReadFile(base + ".sheet.xml"), ReadFile(base + ".sst.xml"));
        ASSERT_TRUE(bookgen::WriteZip(book, parts, &why)) << why;
        for (const char *stale : {"SHEAF_STALE_IOERR=0", "SHEAF_STALE_IOERR=205"}) {
            auto run = RunSheaf({"--format", "jsonl", book}, {stale});
            EXPECT_EQ(0, run.status) << name << ", " << stale << ": " << run.err;
            EXPECT_EQ(ReadFile(base + ".jsonl"), run.out) << name << ", " << stale;
        }
        platform::RemoveTemp(dir);
    }
}

}  // namespace
