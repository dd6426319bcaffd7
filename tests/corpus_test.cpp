// Every workbook of the shared corpus through the sheaf command: each imports or fails with
// one line and exit 1; none crashes, hangs or leaves a workspace.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/support/testing.h"

namespace {

struct SheafRun {
    int         status = -1;    // exit code, or -signal; -100 on a time-out
    std::string err;
    size_t      lines = 0;      // of the output
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
    FILE *f = fopen(errfile.c_str(), "r");
    if (f != nullptr) {
        char line[4096];
        while (fgets(line, sizeof(line), f) != nullptr)
            run.err += line;
        fclose(f);
    }
    f = fopen(outfile.c_str(), "r");
    if (f != nullptr) {
        for (int c; (c = fgetc(f)) != EOF;)
            run.lines += c == '\n';
        fclose(f);
    }
    unlink(errfile.c_str());
    unlink(outfile.c_str());
    return run;
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

TEST(Corpus, EveryWorkbookImportsOrFailsCleanly)
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

    std::string tmp = testing_support::TempDir();
    int imported = 0, failed = 0;
    size_t cells = 0;
    for (const std::string &name : books) {
        SheafRun run = Sheaf(std::string(SHEAF_CORPUS_DIR) + "/" + name, tmp, 120);
        EXPECT_TRUE(run.status == 0 || run.status == 1) << name << ": status " << run.status
                                                         << "\n" << run.err;
        EXPECT_TRUE(IsEmptyDir(tmp)) << name << " left something in T:";
        if (run.status == 0) {
            imported++;
            cells += run.lines;
            EXPECT_EQ("", run.err) << name;
        } else if (run.status == 1) {
            failed++;
            EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << name << ": " << run.err;
        }
    }
    platform::RemoveTemp(tmp);
    printf("corpus: %zu workbooks, %d imported (%zu cells), %d failed cleanly\n", books.size(),
           imported, cells, failed);
}

}  // namespace
