// The sheaf command: its options, charsets, exit codes and one-line errors, and what it
// leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

#include "bookgen/books.h"
#include "tests/support/testing.h"

using namespace testing_support;

static std::string Example() { return SourcePath("examples/example.xlsx"); }

// Each test with a fresh directory of its own; workspace points the command's T: there.
class SheafCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseStandIn();
        tmp = TempDir();
        workspace = "SHEAF_TMP=" + tmp;
    }
    void TearDown() override { platform::RemoveTemp(tmp); }
    std::string tmp, workspace;
};

TEST_F(SheafCommand, TakesOptionsInEitherFormAndNamesEachFailure)
{
    const std::string book = Example(), csv = RunSheaf({"--format", "csv", book}).out;
    std::string escape = tmp + "/escape.xlsx";
    ASSERT_TRUE(bookgen::WriteZip(escape, bookgen::Workbook("<row r=\"1\"/>", "", {{"../evil", "x"}})));
    ASSERT_EQ(0u, csv.find("Item,Price,Count"));
    struct { std::vector<std::string> args; int status; std::string err; } cases[] = {
        { {"--format=csv", "--", book}, 0, "" },
        { {book, "--format", "csv"}, 0, "" },                  // options after the workbook
        { {}, 2, "sheaf: no workbook given\nusage: sheaf " },
        { {book, book}, 2, "sheaf: one workbook at a time\n" },
        { {"--format", "xml", book}, 2, "sheaf: unknown format 'xml' (grid, csv, tsv or jsonl)\n" },
        { {"--format"}, 2, "sheaf: --format needs a value\n" },
        { {"--trace=yes", book}, 2, "sheaf: unknown option --trace=yes\n" },
        { {"--module=/nonexistent/sheaf.io", book}, 1, "sheaf: cannot load the module /nonexistent/sheaf.io: " },
        // The cause the unpack recorded, not a general one.
        { {escape}, 1, "sheaf: " + escape + ": unzip failed on ../evil: parent directory\n" },
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
    auto help = RunSheaf({"--help"});
    EXPECT_EQ(0, help.status);
    EXPECT_NE(std::string::npos, help.out.find("KOI8-R")) << help.out;   // the charsets
}

TEST_F(SheafCommand, ShowsTextsInTheCharsetNamed)
{
    const std::string privet = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";   // Привет
    const std::string kalimera = "\xCE\xBA\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1";
    auto book = bookgen::Workbook("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c>"
                                  "<c r=\"B1\" t=\"s\"><v>1</v></c></row>",
                                  "<si><t>" + privet + "</t></si><si><t>" + kalimera + "</t></si>");
    // A refusal is the start of the one-line error; names only iconv knows are taken.
    struct { const char *charset; std::string cells; } cases[] = {
        { "KOI8-R", "A1=" + privet + "|B1=????????" },
        { "windows-1251", "A1=" + privet + "|B1=????????" },
        { "ISO-8859-7", "A1=??????|B1=" + kalimera },
        { "windows-1252", "A1=??????|B1=????????" },
        { "CP819", "A1=??????|B1=????????" },
        { "KOI9", "status 2: sheaf: charset 'KOI9' is unknown" },
        { "UTF-8", "status 2: sheaf: charset 'UTF-8' is not single-byte" },
        { "Shift_JIS", "status 2: sheaf: charset 'Shift_JIS' is not single-byte" },
    };
    for (const auto &c : cases) {
        std::string got = SheafCells(book, {"--charset", c.charset});
        EXPECT_EQ(c.cells, got.substr(0, c.cells[0] == 's' ? c.cells.size() : got.size()))
            << c.charset;
    }
}

TEST_F(SheafCommand, NeverReusesNorLeavesAWorkspace)
{
    std::string xls = tmp + "/XLS";
    mkdir(xls.c_str(), 0700);
    auto run = RunSheaf({Example()}, {workspace});
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("in use or left over")) << run.err;
    EXPECT_TRUE(platform::Exists(xls.c_str()));
    rmdir(xls.c_str());
    EXPECT_EQ(0, RunSheaf({Example()}, {workspace}).status);
    EXPECT_EQ(1, RunSheaf({Example()}, {workspace + "/none"}).status);
    // Nor when its reader goes away early; without SHEAF_TMP it works in TMPDIR.
    std::string early = "TMPDIR=" + tmp + " " + SHEAF_PROGRAM_PATH + " --trace " + Example() +
                        " 2>&1 >/dev/null | head -c 1 >/dev/null";
    ASSERT_NE(-1, system(early.c_str()));
    EXPECT_EQ(0, rmdir(tmp.c_str())) << "something left in " << tmp;   // only if empty
}

TEST_F(SheafCommand, FailsCleanlyAtAnyCall)
{
    std::string book = Example(), whole = RunSheaf({"--format", "csv", book}).out;
    for (const char *n : {"1", "7", "60", "120", "197", "100000"}) {
        std::string failAt = std::string("SHEAF_FAIL_AT=") + n;
        auto run = RunSheaf({"--format", "csv", book}, {workspace, failAt, "SHEAF_STALE_IOERR=205"});
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
}

TEST_F(SheafCommand, FailsCleanlyWhenMemoryRunsOut)
{
    std::string amplified = tmp + "/amplified.xlsx", rows;
    // One long shared string in many cells: copies past the memory budget fail the import.
    for (int r = 1; r <= 3000; r++)
        rows += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) +
                "\" t=\"s\"><v>0</v></c></row>";
    auto strings = "<si><t>" + std::string(32767, 'm') + "</t></si>";
    ASSERT_TRUE(bookgen::WriteZip(amplified, bookgen::Workbook(rows, strings)));
    auto run = RunSheaf({"--format", "csv", amplified}, {workspace, "SHEAF_MAX_MEMORY=64M"});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("sheaf: " + amplified + ": not enough memory: the workbook needs more than the budget "
              "(SHEAF_MAX_MEMORY)\n", run.err);
    EXPECT_EQ("", run.out);
    EXPECT_FALSE(platform::Exists((tmp + "/XLS").c_str()));
    EXPECT_EQ(0, RunSheaf({"--format", "csv", amplified}, {workspace}).status);
}

// The book of several sheets, written into a fresh directory with an empty out/ beside it.
class SheafSheets : public SheafCommand {
protected:
    void SetUp() override
    {
        SheafCommand::SetUp();
        book = tmp + "/sheets.xlsx";
        out = tmp + "/out";
        ASSERT_TRUE(bookgen::WriteZip(book, bookgen::SheetsBook()));
        ASSERT_EQ(0, mkdir(out.c_str(), 0700));
    }
    std::string book, out;
    const std::string over = "\xC3\x9C" "bersicht";
};

// The sheet options: each page marked in jsonl and the grid, one file each in csv, the list.
TEST_F(SheafSheets, MarksEachPage)
{
    auto all = RunSheaf({"--format", "jsonl", "--all-sheets", book});
    ASSERT_EQ(0, all.status) << all.err;
    EXPECT_EQ(0u, all.out.find("{\"sheet\":\"" + over + "\",\"ref\":\"A1\",\"row\":1,\"col\":1,\"text\":\"" + over + "\"}\n"));
    EXPECT_NE(std::string::npos, all.out.find("{\"sheet\":\"Data & more\",\"ref\":\"C2\",\"row\":2,\"col\":3,\"text\":\"=B2+100\"}\n"));
    auto grid = RunSheaf({"--all-sheets", book});
    EXPECT_EQ(0u, grid.out.find("Sheet: " + over + "\n"));
    EXPECT_LT(grid.out.find("\n\nSheet: Q1 2024\n"), grid.out.find("\n\nSheet: Data & more\n"));

    auto files = RunSheaf({"--format", "csv", "--all-sheets", "--output-dir", out, book});
    EXPECT_EQ(0, files.status) << files.err;
    EXPECT_EQ("", files.out);
    EXPECT_EQ("zwei\n", ReadFile(out + "/2.csv"));
    EXPECT_EQ("Data & more,5,=B1+100\n,6,=B2+100\n", ReadFile(out + "/Data & more.csv"));
    EXPECT_NE("", ReadFile(out + "/" + over + ".csv"));
    EXPECT_NE("", ReadFile(out + "/Q1 2024.csv"));
    EXPECT_EQ("1," + over + ",worksheet,visible\n,Chart 1,chartsheet,visible\n2,Q1 2024,worksheet,hidden\n"
              "3,2,worksheet,veryHidden\n4,Data & more,worksheet,visible\n",
              RunSheaf({"--format", "csv", "--list-sheets", book}).out);
}

// A missing sheet named with the ones there are, choices refused, and a workbook from
// standard input that leaves nothing in T:.
TEST_F(SheafSheets, NamesWhatIsMissingOrRefused)
{
    std::string work = tmp + "/t";
    ASSERT_EQ(0, mkdir(work.c_str(), 0700));
    ASSERT_TRUE(bookgen::WriteZip(out + "/2.csv", {{"x", "y"}}));
    struct { std::vector<std::string> args; int status; std::string err; } cases[] = {
        { {"--sheet", "Nope", book}, 1, "sheaf: " + book + ": no worksheet \"Nope\"; the worksheets are \"" +
                                         over + "\", \"Q1 2024\", \"2\", \"Data & more\"\n" },
        { {"--sheet", "5", book}, 1, "sheaf: " + book + ": no worksheet \"5\"; the worksheets are \"" },
        { {"--sheet", "Chart 1", book}, 1, "sheaf: " + book + ": no worksheet \"Chart 1\"" },
        { {"--sheet", std::string(32, 'x'), book}, 2, "sheaf: the module refused the sheet choice" },
        { {"--sheet", "\xE4\xB8\xAD", book}, 2, "sheaf: sheet name '\xE4\xB8\xAD' has a character the charset lacks" },
        { {"--format", "csv", "--all-sheets", book}, 2, "sheaf: several sheets in csv or tsv go into files: give --output-dir\n" },
        { {"--sheet", "2", "--all-sheets", book}, 2, "sheaf: --sheet, --all-sheets and --list-sheets exclude each other\n" },
        { {"--output-dir", out, book}, 2, "sheaf: --output-dir is for csv and tsv\n" },
        { {"--format", "csv", "--output-dir", tmp + "/none", "--sheet", "2", book}, 1, "sheaf: cannot write " + tmp + "/none/2.csv" },
    };
    for (const auto &c : cases) {
        auto run = RunSheaf(c.args);
        EXPECT_EQ(c.status, run.status) << c.args[0] << ": " << run.err;
        EXPECT_EQ(0u, run.err.find(c.err)) << c.args[0] << ": " << run.err;
        if (c.status == 1) {
            EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
        }
    }

    auto piped = RunSheaf({"--format", "jsonl", "--all-sheets", "-"}, {"SHEAF_TMP=" + work}, book);
    EXPECT_EQ(0, piped.status) << piped.err;
    EXPECT_EQ(RunSheaf({"--format", "jsonl", "--all-sheets", book}).out, piped.out);
    auto refused = RunSheaf({"-"}, {"SHEAF_TMP=" + work}, out + "/2.csv");
    EXPECT_EQ(1, refused.status);
    EXPECT_EQ(0u, refused.err.find("sheaf: -: ")) << refused.err;
    EXPECT_TRUE(std::filesystem::is_empty(work));
}
