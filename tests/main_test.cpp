// The sheaf command: its options, charsets, exit codes and one-line errors, and what it
// leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

#include "bookgen/bookwriter.h"
#include "tests/support/testing.h"

using testing_support::RunSheaf;

static std::string Example()
{
    return testing_support::SourcePath("examples/example.xlsx");
}

TEST(SheafCommand, TakesOptionsInEitherForm)
{
    testing_support::UseStandIn();
    const std::string book = Example(), csv = RunSheaf({"--format", "csv", book}).out;
    ASSERT_EQ(0u, csv.find("Item,Price,Count"));
    struct { std::vector<std::string> args; int status; std::string err; } cases[] = {
        { {"--format=csv", book}, 0, "" },
        { {book, "--format", "csv"}, 0, "" },                  // options after the workbook
        { {"--format", "csv", "--", book}, 0, "" },
        { {"--format", "csv", "--", "--trace"}, 1, "sheaf: --trace: no such file\n" },
        { {}, 2, "sheaf: no workbook given\nusage: sheaf " },
        { {book, book}, 2, "sheaf: one workbook at a time\n" },
        { {"--format", "xml", book}, 2, "sheaf: unknown format 'xml' (grid, csv, tsv or jsonl)\n" },
        { {"--format="}, 2, "sheaf: unknown format '' (grid, csv, tsv or jsonl)\n" },
        { {"--format"}, 2, "sheaf: --format needs a value\n" },
        { {book, "--module"}, 2, "sheaf: --module needs a value\n" },
        { {"--bogus", book}, 2, "sheaf: unknown option --bogus\n" },
        { {"--trace=yes", book}, 2, "sheaf: unknown option --trace=yes\n" },
        { {"-x", book}, 2, "sheaf: unknown option -x\n" },
        { {"--module=/nonexistent/sheaf.io", book}, 1, "sheaf: cannot load the module /nonexistent/sheaf.io: " },
        { {"--format=csv", "/nonexistent/book.xlsx"}, 1, "sheaf: /nonexistent/book.xlsx: no such file\n" },
    };
    for (const auto &c : cases) {
        auto run = RunSheaf(c.args);
        std::string args = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(c.status, run.status) << args << ": " << run.err;
        EXPECT_EQ(0u, run.err.find(c.err)) << args << ": " << run.err;
        if (c.status == 0) {
            EXPECT_EQ(csv, run.out) << args;
        }
    }
    for (const char *help : {"-h", "--help"}) {
        auto run = RunSheaf({help});
        EXPECT_EQ(0, run.status);
        EXPECT_NE(std::string::npos, run.out.find("KOI8-R")) << run.out;   // the charsets
    }
}

TEST(SheafCommand, TakesSingleByteCharsetsByAnyNameIconvKnows)
{
    testing_support::UseStandIn();
    struct { const char *name; int status; const char *err; } cases[] = {
        { "KOI8-R", 0, "" }, { "koi8r", 0, "" }, { "Windows-1251", 0, "" }, { "latin9", 0, "" },
        { "CP819", 0, "" },                  // Latin-1 by a name only iconv has
        { "KOI9", 2, "sheaf: charset 'KOI9' is unknown" },
        { "", 2, "sheaf: charset '' is unknown" },
        { "UTF-8", 2, "sheaf: charset 'UTF-8' is not single-byte" },
        { "Shift_JIS", 2, "sheaf: charset 'Shift_JIS' is not single-byte" },
        { "UTF-16", 2, "sheaf: charset 'UTF-16' is not single-byte" },
    };
    for (const auto &c : cases) {
        auto run = RunSheaf({"--format", "csv", "--charset", c.name, Example()});
        EXPECT_EQ(c.status, run.status) << c.name << ": " << run.err;
        EXPECT_EQ(0u, run.err.find(c.err)) << c.name << ": " << run.err;
    }
}

TEST(SheafCommand, ShowsTextsOfTheLocalesCharset)
{
    testing_support::UseStandIn();
    const std::string privet = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";   // Привет
    const std::string kalimera = "\xCE\xBA\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1";
    auto book = bookgen::Workbook("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c>"
                                  "<c r=\"B1\" t=\"s\"><v>1</v></c></row>",
                                  "<si><t>" + privet + "</t></si><si><t>" + kalimera + "</t></si>");
    struct { const char *charset; std::string cells; } cases[] = {
        { "KOI8-R", "A1=" + privet + "|B1=????????" },
        { "windows-1251", "A1=" + privet + "|B1=????????" },
        { "ISO-8859-7", "A1=??????|B1=" + kalimera },
        { "ISO-8859-1", "A1=??????|B1=????????" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.cells, testing_support::SheafCells(book, {"--charset", c.charset})) << c.charset;
}

// A workbook whose second central directory entry points at the first member's data.
static std::string OverlappingBook(std::string *second)
{
    std::string path = testing_support::TempDir() + "/overlap.xlsx";
    EXPECT_TRUE(bookgen::WriteZip(path, bookgen::Workbook("<row r=\"1\"/>")));
    std::fstream zip(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(zip)), std::istreambuf_iterator<char>());
    size_t entry = bytes.find("PK\x01\x02", bytes.find("PK\x01\x02") + 1);
    EXPECT_NE(std::string::npos, entry);
    zip.seekp(entry + 42);
    zip.write("\0\0\0\0", 4);
    *second = bytes.substr(entry + 46, (uint8)bytes[entry + 28]);
    return path;
}

TEST(SheafCommand, NamesTheCauseTheUnpackGave)
{
    testing_support::UseStandIn();
    std::string name, book = OverlappingBook(&name);
    auto run = RunSheaf({book});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("sheaf: " + book + ": unzip failed on " + name + ": member overlaps another member\n",
              run.err);
}

TEST(SheafCommand, NeverReusesAWorkspaceLeftOver)
{
    testing_support::UseStandIn();
    std::string tmp = testing_support::TempDir();
    mkdir((tmp + "/XLS").c_str(), 0700);
    auto run = RunSheaf({Example()}, {"SHEAF_TMP=" + tmp});
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("in use or left over")) << run.err;
    EXPECT_TRUE(platform::Exists((tmp + "/XLS").c_str()));
    rmdir((tmp + "/XLS").c_str());
    EXPECT_EQ(0, RunSheaf({Example()}, {"SHEAF_TMP=" + tmp}).status);
    EXPECT_FALSE(platform::Exists((tmp + "/XLS").c_str()));
    EXPECT_EQ(1, RunSheaf({Example()}, {"SHEAF_TMP=" + tmp + "/none"}).status);
    platform::RemoveTemp(tmp);
}

TEST(SheafCommand, LeavesNoWorkspaceWhenItsReaderGoesAway)
{
    testing_support::UseStandIn();
    std::string tmp = testing_support::TempDir();
    std::string run = "TMPDIR=" + tmp + " " + SHEAF_PROGRAM_PATH + " --trace " + Example() +
                      " 2>&1 >/dev/null | head -c 1 >/dev/null";
    ASSERT_NE(-1, system(run.c_str()));
    DIR *d = opendir(tmp.c_str());
    int entries = 0;
    while (dirent *e = readdir(d))
        entries += e->d_name[0] != '.';
    closedir(d);
    EXPECT_EQ(0, entries);
    platform::RemoveTemp(tmp);
}

TEST(SheafCommand, FailsCleanlyAtAnyCall)
{
    testing_support::UseStandIn();
    std::string tmp = testing_support::TempDir(), book = Example();
    std::string whole = RunSheaf({"--format", "csv", book}).out;
    for (const char *n : {"1", "7", "60", "120", "197", "100000"}) {
        auto run = RunSheaf({"--format", "csv", book},
                            {"SHEAF_TMP=" + tmp, std::string("SHEAF_FAIL_AT=") + n});
        if (run.status == 0) {
            EXPECT_EQ(whole, run.out) << n;
        } else {
            EXPECT_EQ(1, run.status) << n << ": " << run.err;
            EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
            EXPECT_NE(std::string::npos, run.err.find("as SHEAF_FAIL_AT asked")) << run.err;
        }
        EXPECT_FALSE(platform::Exists((tmp + "/XLS").c_str())) << n;
    }
    for (const char *bad : {"x", "0", "12a"})
        EXPECT_EQ(2, RunSheaf({book}, {std::string("SHEAF_FAIL_AT=") + bad}).status) << bad;
    platform::RemoveTemp(tmp);
}

TEST(SheafCommand, FailsCleanlyWhenMemoryRunsOut)
{
    testing_support::UseStandIn();
    std::string tmp = testing_support::TempDir();
    // One long shared string in many cells: copies past the memory budget fail the import.
    std::string rows;
    for (int r = 1; r <= 3000; r++)
        rows += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) +
                "\" t=\"s\"><v>0</v></c></row>";
    std::string amplified = tmp + "/amplified.xlsx";
    ASSERT_TRUE(bookgen::WriteZip(amplified, bookgen::Workbook(rows, "<si><t>" +
                                                               std::string(32767, 'm') + "</t></si>")));
    auto run = RunSheaf({"--format", "csv", amplified}, {"SHEAF_TMP=" + tmp, "SHEAF_MAX_MEMORY=64M"});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("sheaf: " + amplified + ": not enough memory: the workbook needs more than the budget "
              "(SHEAF_MAX_MEMORY)\n", run.err);
    EXPECT_EQ("", run.out);
    EXPECT_FALSE(platform::Exists((tmp + "/XLS").c_str()));
    EXPECT_EQ(0, RunSheaf({"--format", "csv", amplified}, {"SHEAF_TMP=" + tmp}).status);
    platform::RemoveTemp(tmp);
}
