// Every workbook of the shared corpus through the sheaf command: each imports or fails with
// one line and exit 1, as tests/corpus.tsv says; none crashes or leaves a workspace.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "tests/support/testing.h"

using namespace testing_support;

namespace {

TEST(Corpus, EveryWorkbookImportsOrFailsAsItsTableSays)
{
    UseStandIn();
    std::vector<std::string> books;
    std::error_code error;
    for (const auto &e : std::filesystem::directory_iterator(SHEAF_CORPUS_DIR, error))
        if (e.path().extension() == ".xlsx")
            books.push_back(e.path().filename());
    std::sort(books.begin(), books.end());
    if (books.empty())
        GTEST_SKIP() << "no corpus at " << SHEAF_CORPUS_DIR;
    // Each line: name, then "cells<TAB>hash" or "fails<TAB>cause".
    std::map<std::string, std::pair<std::string, std::string>> table;
    std::istringstream in(ReadFile(SourcePath("tests/corpus.tsv")));
    for (std::string line; std::getline(in, line);) {
        size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
        if (!line.empty() && line[0] != '#' && t2 != std::string::npos)
            table[line.substr(0, t1)] = {line.substr(t1 + 1, t2 - t1 - 1), line.substr(t2 + 1)};
    }
    EXPECT_EQ(table.size(), books.size()) << "tests/corpus.tsv and the corpus differ";

    const std::string tmp = TempDir(), workspace = "SHEAF_TMP=" + tmp;
    for (const std::string &name : books) {
        std::string path = std::string(SHEAF_CORPUS_DIR) + "/" + name;
        auto run = RunSheaf({"--format", "jsonl", path}, {workspace, "SHEAF_STALE_IOERR=0"});
        EXPECT_TRUE(std::filesystem::is_empty(tmp)) << name << " left something in T:";
        auto expected = table.find(name);
        if (expected == table.end()) {
            ADD_FAILURE() << name << " is not in tests/corpus.tsv";
            continue;
        }
        const auto &[what, detail] = expected->second;
        if (what == "fails") {
            EXPECT_EQ(1, run.status) << name;
            EXPECT_EQ("sheaf: " + path + ": " + detail + "\n", run.err) << name;
            continue;
        }
        uint64_t hash = 0xcbf29ce484222325ull;      // FNV-1a of the output
        for (unsigned char c : run.out)
            hash = (hash ^ c) * 0x100000001b3ull;
        char hex[17];
        snprintf(hex, sizeof(hex), "%016llx", (unsigned long long)hash);
        EXPECT_EQ(0, run.status) << name << ": " << run.err;
        EXPECT_EQ("", run.err) << name;
        EXPECT_EQ(what, std::to_string(std::count(run.out.begin(), run.out.end(), '\n'))) << name;
        EXPECT_EQ(detail, hex) << name << ": the cells changed";
    }
    platform::RemoveTemp(tmp);
}

}  // namespace
