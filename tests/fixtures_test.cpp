// Small workbooks as data: every tests/fixtures/NAME.sheet.xml (with NAME.sst.xml when the
// sheet has shared strings) is made into a workbook, shown by the sheaf command as jsonl and
// compared with NAME.jsonl, byte for byte; again with every dos call that succeeds leaving
// a stale code for IoErr, as the system may.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>

#include "tests/support/testing.h"

namespace {

std::vector<std::string> Fixtures()
{
    std::vector<std::string> names;
    const std::string suffix = ".sheet.xml";
    if (DIR *d = opendir(testing_support::SourcePath("tests/fixtures").c_str())) {
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                names.push_back(name.substr(0, name.size() - suffix.size()));
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Fixtures, EachWorkbookShowsItsCells)
{
    testing_support::UseStandIn();
    std::vector<std::string> names = Fixtures();
    ASSERT_FALSE(names.empty());
    for (const std::string &name : names) {
        std::string base = testing_support::SourcePath("tests/fixtures/" + name);
        std::string dir = testing_support::TempDir(), book = dir + "/" + name + ".xlsx", why;
        auto members = bookgen::Workbook(testing_support::ReadFile(base + ".sheet.xml"),
                                         testing_support::ReadFile(base + ".sst.xml"));
        ASSERT_TRUE(bookgen::WriteZip(book, members, &why)) << why;
        for (const char *stale : {"SHEAF_STALE_IOERR=0", "SHEAF_STALE_IOERR=205"}) {
            auto run = testing_support::RunSheaf({"--format", "jsonl", book}, {stale});
            EXPECT_EQ(0, run.status) << name << ", " << stale << ": " << run.err;
            EXPECT_EQ(testing_support::ReadFile(base + ".jsonl"), run.out) << name << ", " << stale;
        }
        platform::RemoveTemp(dir);
    }
}

}  // namespace
