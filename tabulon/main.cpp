// sheaf: imports a workbook through the module file sheaf.io, as the spreadsheet host does,
// and prints its first sheet.
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "tabulon/host.h"

static const char USAGE[] =
    "usage: sheaf [--format grid|csv|tsv|jsonl] [--charset NAME] [--trace] [--module PATH] BOOK\n";

static const char HELP[] =
    "Imports the first worksheet of an .xlsx workbook through the file-type module sheaf.io\n"
    "and prints it.\n"
    "\n"
    "  --format grid   the cells under column letters and beside row numbers, fitted to\n"
    "                  the terminal; long texts are cut with a mark, long runs of empty\n"
    "                  rows shown as one mark line (the default)\n"
    "  --format csv    the rectangle from A1 to the last used row and column; fields\n"
    "                  holding a comma, a quote or a line end are quoted\n"
    "  --format tsv    the same rectangle, tab-separated; a tab or line end inside a\n"
    "                  text becomes a blank\n"
    "  --format jsonl  one line per cell, row by row:\n"
    "                  {\"ref\":\"B3\",\"row\":3,\"col\":2,\"text\":\"...\"}\n"
    "  --charset NAME  the locale's code set, the module's 8-bit charset (ISO-8859-1 by\n"
    "                  default); output is always UTF-8\n"
    "  --trace         the module's trace lines on stderr\n"
    "  --module PATH   the module file to load (default: sheaf.io beside this program)\n"
    "  -h, --help      this text\n"
    "  --version       the program's version\n"
    "\n"
    "The workspace T: is a private temporary directory unless SHEAF_TMP names one.\n"
    "Exit status: 0 imported, 1 the import failed, 2 wrong usage.\n";

// Code set names offered by --charset, checked against what the system knows.
static const char *const CHARSETS[] = {"ISO-8859-1", "ISO-8859-15", "ISO-8859-2",
                                       "Windows-1252", "UTF-8"};

static int Usage(const char *problem)
{
    if (problem != nullptr)
        fprintf(stderr, "sheaf: %s\n", problem);
    fputs(USAGE, stderr);
    return 2;
}

static int TerminalWidth()
{
    struct winsize ws;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
        return ws.ws_col;
    const char *columns = getenv("COLUMNS");
    if (columns != nullptr && atoi(columns) > 0)
        return atoi(columns);
    return 80;
}

// The value of an option given as "--name value" or "--name=value"; NULL when arg is
// another option. i moves past a separate value.
static const char *OptionValue(const char *name, int argc, char **argv, int &i, bool &missing)
{
    size_t n = strlen(name);
    const char *arg = argv[i];
    missing = false;
    if (strncmp(arg, name, n) != 0)
        return nullptr;
    if (arg[n] == '=')
        return arg + n + 1;
    if (arg[n] != '\0')
        return nullptr;
    if (i + 1 >= argc) {
        missing = true;
        return nullptr;
    }
    return argv[++i];
}

int main(int argc, char **argv)
{
    tabulon::Format format = tabulon::Format::Grid;
    const char *charset = nullptr;
    std::string modulePath;
    const char *book = nullptr;
    bool options = true;

    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i], *value;
        bool missing;
        if (!options || arg[0] != '-' || arg[1] == '\0') {
            if (book != nullptr)
                return Usage("one workbook at a time");
            book = arg;
        } else if (strcmp(arg, "--") == 0) {
            options = false;
        } else if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
            fputs(USAGE, stdout);
            fputs(HELP, stdout);
            return 0;
        } else if (strcmp(arg, "--version") == 0) {
            puts("sheaf 0.12 (host for sheaf.io)");
            return 0;
        } else if (strcmp(arg, "--trace") == 0) {
            platform::tracing = true;
        } else if ((value = OptionValue("--format", argc, argv, i, missing)) != nullptr) {
            if (strcmp(value, "grid") == 0)
                format = tabulon::Format::Grid;
            else if (strcmp(value, "csv") == 0)
                format = tabulon::Format::Csv;
            else if (strcmp(value, "tsv") == 0)
                format = tabulon::Format::Tsv;
            else if (strcmp(value, "jsonl") == 0)
                format = tabulon::Format::Jsonl;
            else
                return Usage(("unknown format '" + std::string(value) +
                              "' (grid, csv, tsv or jsonl)").c_str());
        } else if (!missing && (value = OptionValue("--charset", argc, argv, i, missing)) != nullptr) {
            charset = value;
        } else if (!missing && (value = OptionValue("--module", argc, argv, i, missing)) != nullptr) {
            modulePath = value;
        } else if (missing) {
            return Usage((std::string(arg) + " needs a value").c_str());
        } else {
            return Usage(("unknown option " + std::string(arg)).c_str());
        }
    }
    if (book == nullptr)
        return Usage("no workbook given");

    platform::LoadUnzipLimits();
    platform::LoadMemoryBudget();
    if (charset != nullptr) {
        ULONG codeset = platform::CodeSetByName(charset);
        if (codeset == 0) {
            std::string known;
            for (const char *name : CHARSETS)
                if (platform::CodeSetByName(name) != 0)
                    known += (known.empty() ? "" : ", ") + std::string(name);
            return Usage(("unknown charset '" + std::string(charset) + "' (known: " + known +
                          ")").c_str());
        }
        platform::SetCodeSet(codeset);
    }

    // Missing and unreadable files get their own words before anything is unpacked.
    std::string why = tabulon::PreCheck(book);
    if (!why.empty()) {
        fprintf(stderr, "sheaf: %s: %s\n", book, why.c_str());
        return 1;
    }
    if (modulePath.empty())
        modulePath = tabulon::DefaultModulePath(argv[0]);
    tabulon::Module module;
    why = module.Open(modulePath);
    if (!why.empty()) {
        fprintf(stderr, "sheaf: cannot load the module %s: %s\n", modulePath.c_str(), why.c_str());
        return 1;
    }

    // The workspace lives only while the module runs: an interrupt waits for the import,
    // whose every exit removes T:XLS, and then for the private T: to go.
    std::string temp;
    const char *own = getenv("SHEAF_TMP");
    struct stat st;
    if (own != nullptr && *own != '\0' && (stat(own, &st) != 0 || !S_ISDIR(st.st_mode))) {
        fprintf(stderr, "sheaf: SHEAF_TMP=%s: no such directory\n", own);
        return 1;
    }
    if (own == nullptr || *own == '\0') {
        temp = platform::MakePrivateTemp();
        if (temp.empty()) {
            fprintf(stderr, "sheaf: cannot make a private temporary directory\n");
            return 1;
        }
        platform::SetAssign("T", temp);
    }
    sigset_t stops, was;
    sigemptyset(&stops);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})   // a closed --trace pipe too
        sigaddset(&stops, sig);
    sigprocmask(SIG_BLOCK, &stops, &was);
    tabulon::Document doc;
    // A workspace already there is never reused: another import runs, or one was killed.
    bool busy = platform::Exists("T:XLS");
    // The n-th call of the import that can fail fails, to see what the module makes of it.
    uint64 failAt = 0;
    const char *failEnv = getenv("SHEAF_FAIL_AT");
    if (failEnv != nullptr && *failEnv != '\0') {
        char *end;
        failAt = strtoull(failEnv, &end, 10);
        if (*end != '\0' || failAt == 0) {
            sigprocmask(SIG_SETMASK, &was, nullptr);
            if (!temp.empty())
                platform::RemoveTemp(temp);
            return Usage("SHEAF_FAIL_AT must be a number from 1");
        }
    }
    platform::faults.failAt = failAt;
    LONG rc = module.Import(book, doc);
    platform::faults.failAt = 0;
    if (!temp.empty())
        platform::RemoveTemp(temp);
    sigprocmask(SIG_SETMASK, &was, nullptr);
    if (rc != 0 && busy) {
        fprintf(stderr, "sheaf: %s: the workspace %s is in use or left over; remove it if no "
                        "import runs\n", book, platform::HostPath("T:XLS").c_str());
        return 1;
    }
    if (rc != 0 && platform::FailedCall() != nullptr) {
        fprintf(stderr, "sheaf: %s: call %llu of the import (%s) failed, as SHEAF_FAIL_AT asked\n",
                book, (unsigned long long)failAt, platform::FailedCall());
        return 1;
    }
    if (rc != 0 && platform::MemoryRanOut()) {
        fprintf(stderr, "sheaf: %s: not enough memory: the workbook needs more than the budget "
                        "(SHEAF_MAX_MEMORY)\n", book);
        return 1;
    }
    if (rc != 0) {
        fprintf(stderr, "sheaf: %s: %s\n", book, tabulon::Diagnose(book).c_str());
        return 1;
    }

    static char outbuf[1 << 20];
    setvbuf(stdout, outbuf, _IOFBF, sizeof(outbuf));
    tabulon::Sheet empty;
    const tabulon::Sheet &sheet = doc.sheets.empty() ? empty : doc.sheets.back();
    tabulon::Show(sheet, format, platform::CodeSet(), stdout, TerminalWidth());
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "sheaf: cannot write the output\n");
        return 1;
    }
    return 0;
}
