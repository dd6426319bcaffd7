// sheaf: imports a workbook through the module file sheaf.io, as the spreadsheet host does,
// and prints its first sheet.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
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
    "  --module PATH   the module file to load (default: sheaf.io beside this program,\n"
    "                  else in ../lib/sheaf/ from it)\n"
    "  -h, --help      this text\n"
    "  --version       the program's version\n"
    "\n";

static const char NOTES[] =
    "\n"
    "The workspace T: is a private temporary directory unless SHEAF_TMP names one.\n"
    "Exit status: 0 imported, 1 the import failed, 2 wrong usage.\n";

// Exit statuses, and the word for "no reason to stop yet".
enum { IMPORTED = 0, FAILED = 1, WRONG_USAGE = 2, GO_ON = -1 };

// What the command line asks for.
struct Options {
    tabulon::Format format  = tabulon::Format::Grid;
    const char     *charset = nullptr;
    std::string     modulePath;
    const char     *book    = nullptr;
};

static const struct option LONG_OPTIONS[] = {
    {"format",  required_argument, nullptr, 'f'},
    {"charset", required_argument, nullptr, 'c'},
    {"module",  required_argument, nullptr, 'm'},
    {"trace",   no_argument,       nullptr, 't'},
    {"help",    no_argument,       nullptr, 'h'},
    {"version", no_argument,       nullptr, 'v'},
    {nullptr,   0,                 nullptr, 0},
};

static int Usage(const std::string &problem)
{
    fprintf(stderr, "sheaf: %s\n", problem.c_str());
    fputs(USAGE, stderr);
    return WRONG_USAGE;
}

// The help, with the charsets the system knows, a few to a line.
static int Help()
{
    fputs(USAGE, stdout);
    fputs(HELP, stdout);
    puts("Charsets for --charset (any other name iconv has for one of them works too):");
    std::string line;
    for (const std::string &name : platform::CodeSetNames()) {
        if (!line.empty() && line.size() + name.size() + 2 > 78) {
            puts(line.c_str());
            line.clear();
        }
        line += (line.empty() ? "  " : " ") + name + ",";
    }
    line.pop_back();
    puts(line.c_str());
    fputs(NOTES, stdout);
    return IMPORTED;
}

static bool FormatByName(const char *name, tabulon::Format *format)
{
    static const struct { const char *name; tabulon::Format format; } formats[] = {
        {"grid", tabulon::Format::Grid}, {"csv", tabulon::Format::Csv},
        {"tsv", tabulon::Format::Tsv},   {"jsonl", tabulon::Format::Jsonl},
    };
    for (const auto &f : formats)
        if (strcmp(name, f.name) == 0) {
            *format = f.format;
            return true;
        }
    return false;
}

// The option a value is missing for, as its long name.
static std::string LongName(int val)
{
    for (const option *o = LONG_OPTIONS; o->name != nullptr; o++)
        if (o->val == val)
            return std::string("--") + o->name;
    return std::string("-") + (char)val;
}

// The option getopt_long refused, as given: a long one whole, a short one by its letter.
static std::string Refused(char **argv)
{
    const char *arg = argv[optind - 1];
    if (optopt == 0 || strncmp(arg, "--", 2) == 0)
        return arg;
    return std::string("-") + (char)optopt;
}

// Fills o from the command line; GO_ON, or the status to exit with.
static int ParseOptions(int argc, char **argv, Options &o)
{
    opterr = 0;     // the messages are ours
    for (int c; (c = getopt_long(argc, argv, ":h", LONG_OPTIONS, nullptr)) != -1;) {
        switch (c) {
        case 'h': return Help();
        case 'v': puts("sheaf 0.12 (host for sheaf.io)"); return IMPORTED;
        case 't': platform::tracing = true; break;
        case 'c': o.charset = optarg; break;
        case 'm': o.modulePath = optarg; break;
        case 'f':
            if (!FormatByName(optarg, &o.format))
                return Usage("unknown format '" + std::string(optarg) + "' (grid, csv, tsv or jsonl)");
            break;
        case ':': return Usage(LongName(optopt) + " needs a value");
        default:  return Usage("unknown option " + Refused(argv));
        }
    }
    if (argc - optind > 1)
        return Usage("one workbook at a time");
    if (argc == optind)
        return Usage("no workbook given");
    o.book = argv[optind];
    return GO_ON;
}

// The system's code set by a name the stand-in knows.
static int ChooseCharset(const char *name)
{
    const char *why;
    ULONG codeset = platform::CodeSetByName(name, &why);
    if (codeset == 0)
        return Usage("charset '" + std::string(name) + "' " + why +
                     " (sheaf --help lists the known ones)");
    platform::SetCodeSet(codeset);
    return GO_ON;
}

// SHEAF_FAIL_AT: the n-th call of the import that can fail fails, to see what the module
// makes of it. 0 when unset.
static int ReadFailAt(uint64 *failAt)
{
    const char *text = getenv("SHEAF_FAIL_AT");
    *failAt = 0;
    if (text == nullptr || *text == '\0')
        return GO_ON;
    char *end;
    *failAt = strtoull(text, &end, 10);
    if (*end != '\0' || *failAt == 0)
        return Usage("SHEAF_FAIL_AT must be a number from 1");
    return GO_ON;
}

static int LoadModule(tabulon::Module &module, std::string path, const char *argv0)
{
    if (path.empty())
        path = tabulon::DefaultModulePath(argv0);
    std::string why = module.Open(path);
    if (why.empty())
        return GO_ON;
    fprintf(stderr, "sheaf: cannot load the module %s: %s\n", path.c_str(), why.c_str());
    return FAILED;
}

// The workspace lives only while the module runs: an interrupt waits for the import, whose
// every exit removes T:XLS, and then for the private T: to go.
struct Workspace {
    std::string temp;       // the private T:, or empty under SHEAF_TMP
    sigset_t    was;        // the signal mask before
};

static int OpenWorkspace(Workspace &w)
{
    const char *own = getenv("SHEAF_TMP");
    struct stat st;
    if (own != nullptr && *own != '\0' && (stat(own, &st) != 0 || !S_ISDIR(st.st_mode))) {
        fprintf(stderr, "sheaf: SHEAF_TMP=%s: no such directory\n", own);
        return FAILED;
    }
    if (own == nullptr || *own == '\0') {
        w.temp = platform::MakePrivateTemp();
        if (w.temp.empty()) {
            fprintf(stderr, "sheaf: cannot make a private temporary directory\n");
            return FAILED;
        }
        platform::SetAssign("T", w.temp);
    }
    sigset_t stops;
    sigemptyset(&stops);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})   // a closed --trace pipe too
        sigaddset(&stops, sig);
    sigprocmask(SIG_BLOCK, &stops, &w.was);
    return GO_ON;
}

static void CloseWorkspace(Workspace &w)
{
    if (!w.temp.empty())
        platform::RemoveTemp(w.temp);
    sigprocmask(SIG_SETMASK, &w.was, nullptr);
}

// Why the import failed, on one line.
static int Explain(const char *book, bool busy, uint64 failAt)
{
    if (busy)
        fprintf(stderr, "sheaf: %s: the workspace %s is in use or left over; remove it if no "
                        "import runs\n", book, platform::HostPath("T:XLS").c_str());
    else if (platform::FailedCall() != nullptr)
        fprintf(stderr, "sheaf: %s: call %llu of the import (%s) failed, as SHEAF_FAIL_AT asked\n",
                book, (unsigned long long)failAt, platform::FailedCall());
    else if (platform::MemoryRanOut())
        fprintf(stderr, "sheaf: %s: not enough memory: the workbook needs more than the budget "
                        "(SHEAF_MAX_MEMORY)\n", book);
    else
        fprintf(stderr, "sheaf: %s: %s\n", book, tabulon::Diagnose(book).c_str());
    return FAILED;
}

static int Import(tabulon::Module &module, const char *book, uint64 failAt, tabulon::Document &doc)
{
    Workspace w;
    int status = OpenWorkspace(w);
    if (status != GO_ON)
        return status;
    // A workspace already there is never reused: another import runs, or one was killed.
    bool busy = platform::Exists("T:XLS");
    platform::faults.failAt = failAt;
    LONG rc = module.Import(book, doc);
    platform::faults.failAt = 0;
    CloseWorkspace(w);
    return rc == 0 ? GO_ON : Explain(book, busy, failAt);
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

static int ShowSheet(const tabulon::Document &doc, tabulon::Format format)
{
    static char outbuf[1 << 20];
    setvbuf(stdout, outbuf, _IOFBF, sizeof(outbuf));
    tabulon::Sheet empty;
    const tabulon::Sheet &sheet = doc.sheets.empty() ? empty : doc.sheets.back();
    tabulon::Show(sheet, format, platform::CodeSet(), stdout, TerminalWidth());
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "sheaf: cannot write the output\n");
        return FAILED;
    }
    return IMPORTED;
}

int main(int argc, char **argv)
{
    Options o;
    uint64 failAt;
    int status = ParseOptions(argc, argv, o);
    if (status != GO_ON)
        return status;
    platform::LoadUnzipLimits();
    platform::LoadMemoryBudget();
    platform::LoadStaleIoErr();
    if (o.charset != nullptr && (status = ChooseCharset(o.charset)) != GO_ON)
        return status;
    if ((status = ReadFailAt(&failAt)) != GO_ON)
        return status;
    // Missing and unreadable files get their own words before anything is unpacked.
    std::string why = tabulon::PreCheck(o.book);
    if (!why.empty()) {
        fprintf(stderr, "sheaf: %s: %s\n", o.book, why.c_str());
        return FAILED;
    }
    tabulon::Module module;
    tabulon::Document doc;
    if ((status = LoadModule(module, o.modulePath, argv[0])) != GO_ON ||
        (status = Import(module, o.book, failAt, doc)) != GO_ON)
        return status;
    return ShowSheet(doc, o.format);
}
