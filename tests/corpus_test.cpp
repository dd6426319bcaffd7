// Every workbook of the shared corpus through the sheaf command: each imports or fails with
// one line and exit 1; none crashes, hangs or leaves a workspace.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <chrono>
#include <thread>

#include "tests/support/testing.h"

namespace {

struct SheafRun {
    int         status = -1;    // exit code, or -signal; -100 on a time-out
    std::string err;
    size_t      lines = 0;      // of the output
    uint64_t    hash = 0xcbf29ce484222325ull;   // FNV-1a of the output
};

// Runs sheaf over a book with its own T:, within a time limit.
SheafRun Sheaf(const std::string &book, const std::string &tmp, int seconds)
{
    SheafRun run;
    std::string errfile = tmp + ".err", outfile = tmp + ".out";
    pid_t pid = fork();
    if (pid == 0) {
        setenv("SHEAF_TMP", tmp.c_str(), 1);
        int out = open(outfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(err, 2);
        execl(SHEAF_PROGRAM_PATH, "sheaf", "--format", "jsonl", book.c_str(), (char *)nullptr);
        _exit(127);
    }
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            run.status = -100;
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    run.err = testing_support::ReadFile(errfile);
    if (FILE *f = fopen(outfile.c_str(), "rb")) {
        static unsigned char chunk[1 << 16];
        size_t n;
        while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0) {
            for (size_t k = 0; k < n; k++) {
                run.lines += chunk[k] == '\n';
                run.hash = (run.hash ^ chunk[k]) * 0x100000001b3ull;
            }
        }
        fclose(f);
    }
    unlink(errfile.c_str());
    unlink(outfile.c_str());
    return run;
}

// What tests/corpus.tsv says of each workbook: "cells<TAB>hash" or "fails<TAB>cause".
std::map<std::string, std::pair<std::string, std::string>> Expected()
{
    std::map<std::string, std::pair<std::string, std::string>> table;
    std::istringstream in(testing_support::ReadFile(testing_support::SourcePath("tests/corpus.tsv")));
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
        if (t1 != std::string::npos && t2 != std::string::npos)
            table[line.substr(0, t1)] = {line.substr(t1 + 1, t2 - t1 - 1), line.substr(t2 + 1)};
    }
    return table;
}

bool IsEmptyDir(const std::string &dir)
{
    DIR *d = opendir(dir.c_str());
    if (d == nullptr)
        return false;
    int entries = 0;
    while (dirent *e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
            entries++;
    closedir(d);
    return entries == 0;
}

TEST(Corpus, EveryWorkbookImportsOrFailsAsItsTableSays)
{
    testing_support::UseStandIn();
    std::vector<std::string> books;
    if (DIR *d = opendir(SHEAF_CORPUS_DIR)) {
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 5 && name.substr(name.size() - 5) == ".xlsx")
                books.push_back(name);
        }
        closedir(d);
    }
    if (books.empty())
        GTEST_SKIP() << "no corpus at " << SHEAF_CORPUS_DIR;
    std::sort(books.begin(), books.end());
    auto table = Expected();
    EXPECT_EQ(table.size(), books.size()) << "tests/corpus.tsv and the corpus differ";

    std::string tmp = testing_support::TempDir();
    int imported = 0, failed = 0;
    size_t cells = 0;
    for (const std::string &name : books) {
        SheafRun run = Sheaf(std::string(SHEAF_CORPUS_DIR) + "/" + name, tmp, 120);
        EXPECT_TRUE(IsEmptyDir(tmp)) << name << " left something in T:";
        auto expected = table.find(name);
        if (expected == table.end()) {
            ADD_FAILURE() << name << " is not in tests/corpus.tsv";
            continue;
        }
        const auto &[what, detail] = expected->second;
        if (what == "fails") {
            std::string line = "sheaf: " + std::string(SHEAF_CORPUS_DIR) + "/" + name + ": " + detail + "\n";
            EXPECT_EQ(1, run.status) << name;
            EXPECT_EQ(line, run.err) << name;
            failed += run.status == 1;
            continue;
        }
        char hash[17];
        snprintf(hash, sizeof(hash), "%016llx", (unsigned long long)run.hash);
        EXPECT_EQ(0, run.status) << name << ": " << run.err;
        EXPECT_EQ("", run.err) << name;
        EXPECT_EQ(what, std::to_string(run.lines)) << name;
        EXPECT_EQ(detail, hash) << name << ": the cells changed";
        imported += run.status == 0;
        cells += run.lines;
    }
    platform::RemoveTemp(tmp);
    printf("corpus: %zu workbooks, %d imported (%zu cells), %d failed as expected\n", books.size(),
           imported, cells, failed);
}

}  // namespace
