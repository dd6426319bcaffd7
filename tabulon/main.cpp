// sheaf: imports a workbook through the module file sheaf.io, as the spreadsheet host does,
// and prints its first sheet, a sheet chosen by name or number, every sheet, or the list.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "tabulon/host.h"

static const char USAGE[] =
    "usage: sheaf [--format grid|csv|tsv|jsonl] [--sheet NAME|N | --all-sheets | --list-sheets]\n"
    "             [--output-dir DIR] [--charset NAME] [--trace] [--module PATH] BOOK|-\n";

static const char HELP[] =
    "Imports the first worksheet of an .xlsx workbook (BOOK, or - for standard input)\n"
    "through the file-type module sheaf.io and prints it.\n"
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
    "  --sheet NAME|N  the worksheet of that name, letter case aside; when no worksheet\n"
    "                  has the name N, a whole number N from 1 is the N-th worksheet in\n"
    "                  the workbook's order (chart, dialog and macro sheets not counted)\n"
    "  --all-sheets    every worksheet, one page each, in the workbook's order\n"
    "  --list-sheets   one row per sheet in the workbook's order: A its position among\n"
    "                  the worksheets (empty for other sheets), B its name, C its kind\n"
    "                  (worksheet, chartsheet, dialogsheet, macrosheet), D its state\n"
    "                  (visible, hidden, veryHidden)\n"
    "  --output-dir DIR  csv and tsv: each page into DIR/NAME.csv (or .tsv), NAME the\n"
    "                  sheet's name with / and control characters as _; required for\n"
    "                  --all-sheets in csv or tsv\n"
    "                  With a sheet option each JSON line begins {\"sheet\":\"NAME\",...\n"
    "                  and the grid heads each page with a line Sheet: NAME\n"
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
    "A workbook from standard input is kept in T: for the unpack and removed at exit.\n"
    "Exit status: 0 imported, 1 the import failed (also: no such sheet), 2 wrong usage.\n";

// Exit statuses, and the word for "no reason to stop yet".
enum { IMPORTED = 0, FAILED = 1, WRONG_USAGE = 2, GO_ON = -1 };

// What the command line asks for.
struct Options {
    tabulon::Format format  = tabulon::Format::Grid;
    const char     *charset = nullptr;
    std::string     modulePath;
    const char     *book    = nullptr;
    const char     *sheet   = nullptr;    // --sheet
    bool            allSheets = false, listSheets = false;
    const char     *outputDir = nullptr;
    bool Named() const { return sheet != nullptr || allSheets; }
};

static const struct option LONG_OPTIONS[] = {
    {"format",  required_argument, nullptr, 'f'},
    {"charset", required_argument, nullptr, 'c'},
    {"module",  required_argument, nullptr, 'm'},
    {"trace",   no_argument,       nullptr, 't'},
    {"sheet",       required_argument, nullptr, 'S'},
    {"all-sheets",  no_argument,       nullptr, 'A'},
    {"list-sheets", no_argument,       nullptr, 'L'},
    {"output-dir",  required_argument, nullptr, 'o'},
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

// The sheet options together; GO_ON, or the status to exit with.
static int CheckSheetOptions(const Options &o)
{
    bool separated = o.format == tabulon::Format::Csv || o.format == tabulon::Format::Tsv;
    if ((o.sheet != nullptr) + o.allSheets + o.listSheets > 1)
        return Usage("--sheet, --all-sheets and --list-sheets exclude each other");
    if (o.sheet != nullptr && *o.sheet == '\0')
        return Usage("--sheet needs a name or number");
    if (o.outputDir != nullptr && !separated)
        return Usage("--output-dir is for csv and tsv");
    if (o.allSheets && separated && o.outputDir == nullptr)
        return Usage("several sheets in csv or tsv go into files: give --output-dir");
    if (strcmp(o.book, "-") == 0 && isatty(STDIN_FILENO))
        return Usage("no workbook on standard input: it is a terminal");
    return GO_ON;
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
        case 'S': o.sheet = optarg; break;
        case 'A': o.allSheets = true; break;
        case 'L': o.listSheets = true; break;
        case 'o': o.outputDir = optarg; break;
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
    return CheckSheetOptions(o);
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
    std::string input;      // the copy of standard input, or empty
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
    if (!w.input.empty())
        unlink(w.input.c_str());
    if (!w.temp.empty())
        platform::RemoveTemp(w.temp);
    sigprocmask(SIG_SETMASK, &w.was, nullptr);
}

// Standard input into a file of T:, which CloseWorkspace removes.
static int KeepInput(Workspace &w)
{
    std::string path = platform::HostPath("T:") + "/sheaf-input-" + std::to_string(getpid()) + ".xlsx";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        fprintf(stderr, "sheaf: cannot keep standard input in %s\n", path.c_str());
        return FAILED;
    }
    w.input = path;
    static char block[1 << 16];
    ssize_t n, put = 0;
    while ((n = read(STDIN_FILENO, block, sizeof(block))) > 0)
        for (ssize_t done = 0; done < n && put >= 0; done += put)
            put = write(fd, block + done, (size_t)(n - done));
    if (close(fd) != 0 || n < 0 || put < 0) {
        fprintf(stderr, "sheaf: cannot keep standard input in %s\n", path.c_str());
        return FAILED;
    }
    return GO_ON;
}

// Why the import failed, on one line.
static int Explain(const char *book, const std::string &path, bool busy, uint64 failAt)
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
        fprintf(stderr, "sheaf: %s: %s\n", book, tabulon::Diagnose(path).c_str());
    return FAILED;
}

// After a failed import of one sheet: the module's list of the sheets tells whether it is
// there at all. The line naming it, or empty.
static std::string ExplainSheet(tabulon::Module &module, const char *sheet, const std::string &path)
{
    tabulon::Document list;
    if (platform::FailedCall() != nullptr || platform::MemoryRanOut() ||
        module.SetPrefs("LIST") == 0 || module.Import(path, list) != 0 || list.sheets.empty())
        return "";
    return tabulon::MissingSheet(sheet, list.sheets.back(), platform::CodeSet());
}

// The module's preferences for the sheet options; GO_ON, or the status to exit with.
static int SetPrefs(tabulon::Module &module, const Options &o)
{
    std::string prefs = o.allSheets ? "ALL" : o.listSheets ? "LIST" : "";
    if (o.sheet != nullptr) {
        prefs = tabulon::SheetPrefs(o.sheet, platform::CodeSet());
        if (prefs.empty())
            return Usage("sheet name '" + std::string(o.sheet) +
                         "' has a character the charset lacks, or a line end");
    }
    if (module.SetPrefs(prefs) == 0)
        return Usage("the module refused the sheet choice " + prefs +
                     " (a sheet name has at most 31 characters)");
    return GO_ON;
}

static int Import(tabulon::Module &module, const Options &o, uint64 failAt, tabulon::Document &doc)
{
    Workspace w;
    int status = OpenWorkspace(w);
    if (status != GO_ON)
        return status;
    bool stdinput = strcmp(o.book, "-") == 0;
    if ((!stdinput || (status = KeepInput(w)) == GO_ON) && (status = SetPrefs(module, o)) == GO_ON) {
        std::string path = stdinput ? w.input : o.book;
        // A workspace already there is never reused: another import runs, or one was killed.
        bool busy = platform::Exists("T:XLS");
        platform::faults.failAt = failAt;
        LONG rc = module.Import(path, doc);
        platform::faults.failAt = 0;
        std::string missing = rc != 0 && !busy && o.sheet != nullptr
                            ? ExplainSheet(module, o.sheet, path) : "";
        if (!missing.empty())
            fprintf(stderr, "sheaf: %s: %s\n", o.book, missing.c_str());
        status = rc == 0 ? GO_ON : !missing.empty() ? FAILED : Explain(o.book, path, busy, failAt);
    }
    CloseWorkspace(w);
    return status;
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

// Each page into a file of its own under dir.
static int WritePages(const tabulon::Document &doc, const Options &o)
{
    std::set<std::string> taken;
    const char *ext = o.format == tabulon::Format::Csv ? ".csv" : ".tsv";
    for (size_t i = 0; i < doc.sheets.size(); i++) {
        std::string path = std::string(o.outputDir) + "/" +
            tabulon::PageFileName(doc.sheets[i], i, platform::CodeSet(), taken, ext);
        FILE *out = fopen(path.c_str(), "w");
        if (out == nullptr) {
            fprintf(stderr, "sheaf: cannot write %s: %s\n", path.c_str(), strerror(errno));
            return FAILED;
        }
        tabulon::Show(doc.sheets[i], o.format, platform::CodeSet(), out, 0);
        if (fclose(out) != 0) {
            fprintf(stderr, "sheaf: cannot write %s\n", path.c_str());
            return FAILED;
        }
    }
    return IMPORTED;
}

// The pages one after another; with a sheet option each carries its sheet's name.
static int ShowPages(const tabulon::Document &doc, const Options &o)
{
    static char outbuf[1 << 20];
    if (o.outputDir != nullptr)
        return WritePages(doc, o);
    setvbuf(stdout, outbuf, _IOFBF, sizeof(outbuf));
    tabulon::Sheet empty;
    bool named = o.Named(), grid = o.format == tabulon::Format::Grid;
    size_t first = named ? 0 : doc.sheets.size() - (doc.sheets.empty() ? 0 : 1);
    if (doc.sheets.empty())
        tabulon::Show(empty, o.format, platform::CodeSet(), stdout, TerminalWidth());
    for (size_t i = first; i < doc.sheets.size(); i++) {
        const char *name = doc.sheets[i].page.pg_Node.ln_Name;
        if (named && grid)
            printf("%sSheet: %s\n", i > 0 ? "\n" : "",
                   tabulon::ToUtf8(name != nullptr ? name : "", platform::CodeSet()).c_str());
        tabulon::Show(doc.sheets[i], o.format, platform::CodeSet(), stdout, TerminalWidth(),
                      named ? (name != nullptr ? name : "") : nullptr);
    }
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
    std::string why = strcmp(o.book, "-") == 0 ? "" : tabulon::PreCheck(o.book);
    if (!why.empty()) {
        fprintf(stderr, "sheaf: %s: %s\n", o.book, why.c_str());
        return FAILED;
    }
    tabulon::Module module;
    tabulon::Document doc;
    if ((status = LoadModule(module, o.modulePath, argv[0])) != GO_ON ||
        (status = Import(module, o, failAt, doc)) != GO_ON)
        return status;
    return ShowPages(doc, o);
}
