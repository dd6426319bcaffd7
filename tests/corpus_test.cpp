// Every workbook of the shared corpus through the sheaf command: each imports or fails with
// one line and exit 1, as tests/corpus.tsv says; none crashes or leaves a workspace.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "tests/support/testing.h"

namespace {

// Runs every book with the environment setting env and compares with the table.
void RunCorpus(const std::string &env)
{
    testing_support::UseStandIn();
    std::vector<std::string> books;
    std::error_code error;
    for (const auto &e : std::filesystem::directory_iterator(SHEAF_CORPUS_DIR, error))
        if (e.path().extension() == ".xlsx")
            books.push_back(e.path().filename());
    if (books.empty())
        GTEST_SKIP() << "no corpus at " << SHEAF_CORPUS_DIR;
    std::sort(books.begin(), books.end());
    // Each line: name, then "cells<TAB>hash" or "fails<TAB>cause".
    std::map<std::string, std::pair<std::string, std::string>> table;
    std::istringstream in(testing_support::ReadFile(testing_support::SourcePath("tests/corpus.tsv")));
    for (std::string line; std::getline(in, line);) {
        size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
        if (!line.empty() && line[0] != '#' && t2 != std::string::npos)
            table[line.substr(0, t1)] = {line.substr(t1 + 1, t2 - t1 - 1), line.substr(t2 + 1)};
    }
    EXPECT_EQ(table.size(), books.size()) << "tests/corpus.tsv and the corpus differ";

    std::string tmp = testing_support::TempDir();
    for (const std::string &name : books) {
        std::string path = std::string(SHEAF_CORPUS_DIR) + "/" + name;
        auto run = testing_support::RunSheaf({"--format", "jsonl", path}, {"SHEAF_TMP=" + tmp, env});
        EXPECT_TRUE(std::filesystem::is_empty(tmp)) << name << ", " << env << " left something in T:";
        auto expected = table.find(name);
        if (expected == table.end()) {
            ADD_FAILURE() << name << ", " << env << " is not in tests/corpus.tsv";
            continue;
        }
        const auto &[what, detail] = expected->second;
        if (what == "fails") {
            EXPECT_EQ(1, run.status) << name << ", " << env;
            EXPECT_EQ("sheaf: " + path + ": " + detail + "\n", run.err) << name << ", " << env;
            continue;
        }
        uint64_t hash = 0xcbf29ce484222325ull;      // FNV-1a of the output
        for (unsigned char c : run.out)
            hash = (hash ^ c) * 0x100000001b3ull;
        char hex[17];
        snprintf(hex, sizeof(hex), "%016llx", (unsigned long long)hash);
        EXPECT_EQ(0, run.status) << name << ", " << env << ": " << run.err;
        EXPECT_EQ("", run.err) << name << ", " << env;
        EXPECT_EQ(what, std::to_string(std::count(run.out.begin(), run.out.end(), '\n'))) << name << ", " << env;
        EXPECT_EQ(detail, hex) << name << ", " << env << ": the cells changed";
    }
    platform::RemoveTemp(tmp);
}

TEST(Corpus, EveryWorkbookImportsOrFailsAsItsTableSays)
{
    RunCorpus("SHEAF_STALE_IOERR=0");
}

// Every dos call that succeeds leaves a stale code for IoErr, as the system may: nothing
// may change.
TEST(Corpus, AStaleIoErrChangesNothing)
{
    RunCorpus("SHEAF_STALE_IOERR=205");
}

}  // namespace
