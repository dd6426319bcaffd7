// The headless host: its services, the placement of cells, the four views, the diagnosis
// of a failed import and the sheaf command's exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>

#include "bookgen/bookwriter.h"
#include "tests/support/testing.h"

using tabulon::Format;

class Host : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::UseStandIn();
        tabulon::SetCurrentDocument(&doc);
        table = tabulon::ServiceTable();
        page = ((NewPage_t)table[SVC_NewPage])((Mappe *)&doc);
        ASSERT_NE(nullptr, page);
    }
    void TearDown() override { tabulon::SetCurrentDocument(nullptr); }

    // A cell made as the module makes it: NewCell, then a host copy of the text.
    Cell *Put(ULONG row, ULONG col, const char *text)
    {
        Cell *cell = ((NewCell_t)table[SVC_NewCell])(page, col, row);
        if (cell != nullptr && text != nullptr)
            cell->c_Text = ((AllocString_t)table[SVC_AllocString])(text);
        return cell;
    }
    std::string View(Format format, int width = 80, ULONG codeset = CODESET_ISO_8859_1)
    {
        char *data = nullptr;
        size_t size = 0;
        FILE *out = open_memstream(&data, &size);
        tabulon::Show(doc.sheets.back(), format, codeset, out, width);
        fclose(out);
        std::string text(data, size);
        free(data);
        return text;
    }

    tabulon::Document doc;
    APTR *table = nullptr;
    Page *page = nullptr;
};

TEST(CellName, WritesColumnLettersAndRow)
{
    struct { ULONG row, col; const char *name; } cases[] = {
        { 1, 1, "A1" }, { 3, 2, "B3" }, { 9, 26, "Z9" }, { 1, 27, "AA1" }, { 1, 52, "AZ1" },
        { 1, 702, "ZZ1" }, { 1, 703, "AAA1" }, { 1048576, 16384, "XFD1048576" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.name, tabulon::CellName(c.row, c.col)) << c.col;
}

TEST(ToUtf8, ConvertsThroughTheCodeSetsMap)
{
    testing_support::UseStandIn();
    EXPECT_EQ("caf\xC3\xA9 \xC2\xA4", tabulon::ToUtf8("caf\xE9 \xA4", CODESET_ISO_8859_1));
    EXPECT_EQ("\xE2\x82\xAC" "5", tabulon::ToUtf8("\xA4" "5", CODESET_ISO_8859_15));
    EXPECT_EQ("", tabulon::ToUtf8(nullptr, CODESET_ISO_8859_1));
}

TEST_F(Host, NewPageAndNewCellFollowTheDocumentsFaults)
{
    EXPECT_EQ(72u, page->pg_DPI);
    Cell *cell = Put(3, 2, "x");
    ASSERT_NE(nullptr, cell);
    EXPECT_EQ(2u, cell->c_Col);
    EXPECT_EQ(3u, cell->c_Row);
    EXPECT_EQ(1u, cell->c_APen);

    doc.cellFailsAt = 2;
    EXPECT_NE(nullptr, Put(1, 1, nullptr));
    EXPECT_EQ(nullptr, Put(1, 2, nullptr));
    EXPECT_NE(nullptr, Put(1, 3, nullptr));    // the countdown fails once
    EXPECT_EQ(cell, &doc.sheets.back().cells.front());   // earlier cells did not move

    doc.pageFails = true;
    EXPECT_EQ(nullptr, ((NewPage_t)table[SVC_NewPage])((Mappe *)&doc));
    EXPECT_EQ(1u, doc.sheets.size());
}

TEST_F(Host, StringsAreCountedUntilFreed)
{
    auto alloc = (AllocString_t)table[SVC_AllocString];
    auto release = (FreeString_t)table[SVC_FreeString];
    STRPTR kept = alloc("kept");
    STRPTR a = alloc("a");
    STRPTR b = alloc(std::string(300000, 'b').c_str());   // beyond a block's share
    STRPTR c = alloc("c");
    EXPECT_EQ(4, doc.liveStrings);
    release(a);
    release(c);
    release(b);
    release(nullptr);
    EXPECT_EQ(1, doc.liveStrings);
    STRPTR d = alloc("dd");
    EXPECT_STREQ("kept", kept);   // the space of a freed text never overwrites a live one
    EXPECT_STREQ("dd", d);
    EXPECT_NE(nullptr, ((ChangeFontInfoA_t)table[SVC_ChangeFontInfoA])(nullptr, 72, nullptr, 0));
}

TEST_F(Host, AMovedDocumentKeepsItsPagesAndTexts)
{
    Cell *cell = Put(1, 1, "kept");
    tabulon::Document moved(std::move(doc));
    EXPECT_EQ(cell, &moved.sheets.back().cells.front());
    EXPECT_STREQ("kept", cell->c_Text);
    EXPECT_NE(nullptr, Put(1, 2, "new"));    // the page finds its document's new place
    EXPECT_EQ(2u, moved.sheets.back().cells.size());
    EXPECT_EQ(2, moved.liveStrings);
    EXPECT_EQ(0, doc.liveStrings);
}

TEST_F(Host, LaterPlacementWinsAndOrderIsRowMajor)
{
    Put(2, 1, "late row");
    Put(1, 2, "first");
    Put(1, 1, nullptr);
    Put(1, 2, "second");
    Put(0, 5, "nowhere");
    auto placed = tabulon::Placed(doc.sheets.back());
    ASSERT_EQ(3u, placed.size());
    EXPECT_EQ(1u, placed[0].col);
    EXPECT_STREQ("", placed[0].text);
    EXPECT_STREQ("second", placed[1].text);
    EXPECT_STREQ("late row", placed[2].text);
}

TEST_F(Host, JsonlEscapesAndConvertsToUtf8)
{
    Put(1, 1, "plain");
    Put(3, 2, "say \"hi\"\\ \n\r\t\b\f\x01 caf\xE9");
    Put(1, 28, "=SUM(A1;B1)");
    EXPECT_EQ("{\"ref\":\"A1\",\"row\":1,\"col\":1,\"text\":\"plain\"}\n"
              "{\"ref\":\"AB1\",\"row\":1,\"col\":28,\"text\":\"=SUM(A1;B1)\"}\n"
              "{\"ref\":\"B3\",\"row\":3,\"col\":2,"
              "\"text\":\"say \\\"hi\\\"\\\\ \\n\\r\\t\\b\\f\\u0001 caf\xC3\xA9\"}\n",
              View(Format::Jsonl));
}

TEST_F(Host, JsonlUsesTheChosenCodeSet)
{
    Put(1, 1, "\xA4" "12");
    EXPECT_EQ("{\"ref\":\"A1\",\"row\":1,\"col\":1,\"text\":\"\xE2\x82\xAC" "12\"}\n",
              View(Format::Jsonl, 80, CODESET_ISO_8859_15));
}

TEST_F(Host, CsvIsTheRectangleFromA1)
{
    Put(2, 2, "a,b");
    Put(2, 3, "say \"x\"");
    Put(4, 1, "line\nbreak");
    Put(2, 2, "won");
    Put(3, 4, "\xE9");
    EXPECT_EQ(",,,\n"
              ",won,\"say \"\"x\"\"\",\n"
              ",,,\xC3\xA9\n"
              "\"line\nbreak\",,,\n",
              View(Format::Csv));
}

TEST_F(Host, TsvBlanksTabsAndLineEnds)
{
    Put(1, 2, "a\tb\r\nc");
    Put(2, 1, "x,\"y\"");
    EXPECT_EQ("\ta b  c\nx,\"y\"\t\n", View(Format::Tsv));
}

TEST_F(Host, EmptySheetPrintsANoteOrNothing)
{
    EXPECT_EQ("(empty sheet)\n", View(Format::Grid));
    EXPECT_EQ("", View(Format::Csv));
    EXPECT_EQ("", View(Format::Jsonl));
}

TEST_F(Host, GridShowsLettersNumbersAndCutTexts)
{
    Put(1, 1, "12");
    Put(1, 2, "hello");
    Put(3, 1, "a text far longer than any column may be");
    // Column A is as wide as its cut text; the number stands at its right edge.
    EXPECT_EQ("   A                         B\n"
              "1                        12  hello\n"
              "2\n"
              "3  a text far longer than \xE2\x80\xA6\n",
              View(Format::Grid));
}

TEST_F(Host, GridFitsTheWidthAndSaysWhatIsLeftOut)
{
    for (ULONG col = 1; col <= 10; col++)
        Put(1, col, "abcdefgh");
    std::string grid = View(Format::Grid, 40);
    // Ten characters per column beside a one-character gutter: three columns fit 40.
    EXPECT_EQ("   A         B         C\n"
              "1  abcdefgh  abcdefgh  abcdefgh\n"
              "(7 columns left out: D to J)\n",
              grid);
}

TEST_F(Host, GridShrinksLongRunsOfEmptyRows)
{
    Put(1, 1, "top");
    Put(1000000, 1, "bottom");
    Put(1000002, 1, "end");
    EXPECT_EQ("         A\n"
              "      1  top\n"
              "      \xE2\x80\xA6\n"
              "1000000  bottom\n"
              "1000001\n"
              "1000002  end\n",
              View(Format::Grid));
}

class Diagnose : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::UseStandIn();
        dir = testing_support::TempDir();
    }
    void TearDown() override { platform::RemoveTemp(dir); }
    std::string Write(const char *name, const std::string &bytes)
    {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::string Zip(const char *name, const std::vector<bookgen::Member> &members)
    {
        std::string path = dir + "/" + name, why;
        if (!bookgen::WriteZip(path, members, &why))
            ADD_FAILURE() << why;
        return path;
    }
    std::string dir;
};

TEST_F(Diagnose, NamesTheCauseFromTheFileAlone)
{
    std::string random;
    for (int i = 0; i < 4096; i++)
        random += (char)(i * 7919 % 251);
    std::string zip = Write("ok.bin", "");
    struct { std::string path; const char *cause; } cases[] = {
        { dir + "/missing.xlsx", "no such file" },
        { dir, "not readable: a directory" },
        { Write("empty.xlsx", ""), "not a ZIP workbook" },
        { Write("random.xlsx", random), "not a ZIP workbook" },
        { Write("ole.xlsx", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + random),
          "encrypted or old binary workbook, not a ZIP workbook" },
        { Write("pk.xlsx", "PK\x03\x04 and then nothing of a ZIP"), "damaged ZIP archive" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.cause, tabulon::Diagnose(c.path)) << c.path;
    EXPECT_EQ("no such file", tabulon::PreCheck(dir + "/missing.xlsx"));
    EXPECT_EQ("", tabulon::PreCheck(cases[3].path));
}

TEST_F(Diagnose, LooksIntoTheArchive)
{
    const std::string sheet = "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"
                              "</sheetData></worksheet>";
    std::string whole = Zip("whole.xlsx", bookgen::Workbook(sheet));
    std::ifstream in(whole, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    struct { std::string path; const char *cause; } cases[] = {
        { whole, "import failed" },
        { Write("truncated.xlsx", bytes.substr(0, bytes.size() / 2)), "damaged ZIP archive" },
        { Zip("cut.xlsx", bookgen::Workbook("<worksheet><sheetData><row r=\"1\"><c r=\"A1\">")),
          "worksheet cut off" },
        { Zip("nosheet.xlsx", {{"[Content_Types].xml", "<Types/>"}, {"xl/workbook.xml", "<w/>"}}),
          "no first worksheet" },
        { Zip("empty.xlsx", {}), "damaged ZIP archive" },    // no unzip has vouched for it
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.cause, tabulon::Diagnose(c.path)) << c.path;
}

TEST_F(Diagnose, ReportsWhyTheUnpackRefused)
{
    const std::string sheet = "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>";
    std::string whole = Zip("whole.xlsx", bookgen::Workbook(sheet));
    std::ifstream in(whole, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto With = [&](const char *name, const bookgen::Member &member) {
        return Zip(name, bookgen::Workbook(sheet, "", {member}));
    };
    struct { std::string path; const char *cause; } cases[] = {
        { With("escape.xlsx", {"../evil", "x"}), "unzip failed on ../evil: parent directory" },
        { With("volume.xlsx", {"Work:evil", "x"}), "unzip failed on Work:evil: drive or volume" },
        { With("link.xlsx", {"l", "/etc", bookgen::Member::Symlink}), "unzip failed on l: symbolic link" },
        { With("lines.xlsx", {"a\nb\r/../../x", "x"}), "unzip failed on a?b?/../../x: parent directory" },
        { Write("truncated.xlsx", bytes.substr(0, bytes.size() / 2)),
          "unzip failed: no end of central directory record" },
        { Write("cut.xlsx", bytes.substr(0, bytes.size() - 5)),
          "unzip failed: end of central directory record cut" },
        { Zip("empty.xlsx", {}), "no first worksheet" },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(20, testing_support::ImportFile(c.path).rc) << c.path;
        EXPECT_EQ(c.cause, tabulon::Diagnose(c.path)) << c.path;
    }

    // What the unpack said about another archive is not taken for this one.
    std::string cut = Zip("sheetcut.xlsx", bookgen::Workbook("<worksheet><sheetData><row r=\"1\">"));
    EXPECT_EQ(20, testing_support::ImportFile(cases[0].path).rc);
    EXPECT_EQ("worksheet cut off", tabulon::Diagnose(cut));
}

TEST(Module, RefusesWhatIsNoModule)
{
    tabulon::Module module;
    EXPECT_NE("", module.Open("/nonexistent/sheaf.io"));
    EXPECT_NE("", module.Open(SHEAF_PROGRAM_PATH));   // loadable, but no InitModule
    tabulon::Document doc;
    EXPECT_EQ(20, module.Import("/nonexistent.xlsx", doc));
}

TEST(Module, OpensTheModuleFile)
{
    testing_support::UseStandIn();
    tabulon::Module module;
    ASSERT_EQ("", module.Open(testing_support::ModulePath()));
    EXPECT_NE(nullptr, module.io().io_Load);
    EXPECT_NE(nullptr, module.io().io_GetPrefs);
}

// The command's exit code and its stderr for the arguments.
static int Sheaf(const std::string &args, std::string *err, bool program = true)
{
    std::string errFile = platform::AssignDir("T") + "/sheaf.err";
    std::string command = (program ? std::string(SHEAF_PROGRAM_PATH) + " " : std::string()) +
                          args + " >/dev/null 2>" + errFile;
    int status = system(command.c_str());
    std::ifstream in(errFile);
    err->assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    remove(errFile.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SheafCommand, ExitCodes)
{
    testing_support::UseStandIn();
    std::string err;
    EXPECT_EQ(2, Sheaf("", &err));
    EXPECT_NE(std::string::npos, err.find("usage: sheaf"));
    EXPECT_EQ(2, Sheaf("--format xml book.xlsx", &err));
    EXPECT_EQ(2, Sheaf("--charset KOI9 book.xlsx", &err));
    EXPECT_NE(std::string::npos, err.find("charset 'KOI9' is unknown")) << err;
    EXPECT_EQ(2, Sheaf("--format", &err));
    EXPECT_EQ(0, Sheaf("--help", &err));
    EXPECT_EQ(1, Sheaf("--format=csv /nonexistent/book.xlsx", &err));
    EXPECT_EQ("sheaf: /nonexistent/book.xlsx: no such file\n", err);

    // An archive the unpack refuses: the cause it gave, on one line.
    std::string damaged = testing_support::TempDir() + "/overlap.xlsx";
    ASSERT_TRUE(bookgen::WriteZip(damaged, bookgen::Workbook("<row r=\"1\"/>")));
    std::fstream zip(damaged, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(zip)), std::istreambuf_iterator<char>());
    size_t second = bytes.find("PK\x01\x02", bytes.find("PK\x01\x02") + 1);
    ASSERT_NE(std::string::npos, second);
    zip.seekp(second + 42);
    zip.write("\0\0\0\0", 4);         // its data is the first member's
    zip.close();
    std::string name = bytes.substr(second + 46, (uint8)bytes[second + 28]);
    EXPECT_EQ(1, Sheaf(damaged, &err));
    EXPECT_EQ("sheaf: " + damaged + ": unzip failed on " + name + ": member overlaps another member\n", err);

    // A workspace left over is named, and stays untouched.
    std::string book = testing_support::SourcePath("examples/example.xlsx");
    std::string tmp = testing_support::TempDir();
    mkdir((tmp + "/XLS").c_str(), 0700);
    EXPECT_EQ(1, Sheaf("SHEAF_TMP=" + tmp + " " + SHEAF_PROGRAM_PATH + " " + book, &err, false));
    EXPECT_NE(std::string::npos, err.find("in use or left over")) << err;
    EXPECT_TRUE(platform::Exists((tmp + "/XLS").c_str()));
    rmdir((tmp + "/XLS").c_str());
    EXPECT_EQ(0, Sheaf("SHEAF_TMP=" + tmp + " " + SHEAF_PROGRAM_PATH + " " + book, &err, false));
    EXPECT_FALSE(platform::Exists((tmp + "/XLS").c_str()));

    // A reader that goes away during the import (a closed pipe) leaves no workspace behind.
    rmdir((tmp + "/XLS").c_str());
    std::string run = "TMPDIR=" + tmp + " " + SHEAF_PROGRAM_PATH + " --trace " + book +
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

TEST(SheafCommand, FailsCleanlyAtAnyCallAndWhenMemoryRunsOut)
{
    testing_support::UseStandIn();
    std::string tmp = testing_support::TempDir(), book = testing_support::SourcePath("examples/example.xlsx");
    std::string whole = testing_support::RunSheaf({"--format", "csv", book}).out;
    for (const char *n : {"1", "7", "60", "120", "197", "100000"}) {
        auto run = testing_support::RunSheaf({"--format", "csv", book},
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
    EXPECT_EQ(2, testing_support::RunSheaf({book}, {"SHEAF_FAIL_AT=x"}).status);

    // One long shared string in many cells: copies past the memory budget fail the import.
    std::string rows;
    for (int r = 1; r <= 3000; r++)
        rows += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) + "\" t=\"s\"><v>0</v></c></row>";
    std::string amplified = tmp + "/amplified.xlsx";
    ASSERT_TRUE(bookgen::WriteZip(amplified, bookgen::Workbook(rows, "<si><t>" + std::string(32767, 'm') + "</t></si>")));
    auto run = testing_support::RunSheaf({"--format", "csv", amplified},
                                         {"SHEAF_TMP=" + tmp, "SHEAF_MAX_MEMORY=64M"});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("sheaf: " + amplified + ": not enough memory: the workbook needs more than the budget "
              "(SHEAF_MAX_MEMORY)\n", run.err);
    EXPECT_EQ("", run.out);
    EXPECT_FALSE(platform::Exists((tmp + "/XLS").c_str()));
    EXPECT_EQ(0, testing_support::RunSheaf({"--format", "csv", amplified}, {"SHEAF_TMP=" + tmp}).status);
    platform::RemoveTemp(tmp);
}
