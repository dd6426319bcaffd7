// The module's entry and the import's failures, driven by faults of the stand-in; each
// failure must answer 20 and leave nothing behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "bookgen/books.h"
#include "module/import.h"
#include "tests/support/testing.h"

using namespace testing_support;

namespace {

// The text as UTF-16, little-endian behind a mark; its bytes taken as ISO-8859-1.
std::string Wide(const std::string &text)
{
    std::string out = "\xFF\xFE";
    for (char c : text)
        out += std::string(1, c) + '\0';
    return out;
}

class Load : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseHost();
        dir = TempDir();
        book = dir + "/book.xlsx";
        WriteBook(bookgen::Workbook("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\"><v>2</v></c></row>",
                                    "<si><t>one</t></si>"));
        tabulon::SetCurrentDocument(&doc);
    }
    void TearDown() override
    {
        platform::Reset();
        platform::RemoveTemp(dir);
        EXPECT_TRUE(NothingLeft());
    }
    void WriteBook(const std::vector<bookgen::Member> &members) { ASSERT_TRUE(bookgen::WriteZip(book, members)); }
    LONG Import()
    {
        BPTR file = platform::dos.FOpen(book.c_str(), MODE_OLDFILE, 1024);
        EXPECT_NE(ZERO, file);
        LONG rc = load(file, (Mappe *)&doc);
        platform::dos.FClose(file);
        return rc;
    }
    // An import whose n-th call that can fail fails (0: none), dos calls leaving stale for IoErr.
    Imported FailingAt(uint64 n, int32 stale = 0)
    {
        platform::Reset();
        platform::faults.failAt = n;
        platform::faults.staleIoErr = stale;
        return ImportFile(book);
    }

    std::string dir, book;
    tabulon::Document doc;
};

// Faults the sweep below cannot make: missing or old parts of the system, members that are
// there but cannot be read (missing ones may fall back, unreadable ones must not), a page the
// host cannot make, and books that are no workbook or lie too deep for the unzip command.
// Which members the unpacking refuses is the unzip tests' part; here a refusal, before or part
// way through the unpacking, fails the import too.
TEST_F(Load, FailuresLeaveNothing)
{
    const std::string one = "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>";
    struct { const char *name; std::function<void()> fault; } cases[] = {
        { "no utility 54", [] { platform::SetLibraryVersion("utility.library", 53); } },
        // the commands' streams: NIL: for ZERO only from 53.65
        { "dos before 53.65", [] { platform::SetLibraryVersion("dos.library", 53, 64); } },
        // an absent diskfont.library opens as a too old one does: not at all
        { "diskfont too old", [] { platform::SetLibraryVersion("diskfont.library", 45); } },
        { "no interface", [] { platform::faults.interfaceFails = TRUE; } },
        { "no locale", [] { platform::faults.localeFails = TRUE; } },
        { "no charset map", [] { platform::faults.noCharsetMap = TRUE; } },
        { "unknown code set", [] { platform::SetCodeSet(9999); } },
        { "path not obtained", [] { platform::faults.pathFails = TRUE; } },
        { "T:XLS not made", [] { platform::faults.createDirFails = TRUE; } },
        { "unzip fails", [] { platform::faults.commandFails = "c:unzip"; } },
        { "sharedStrings.xml unreadable", [] { platform::faults.openFails = "sharedStrings.xml"; } },
        { "workbook.xml unreadable", [] { platform::faults.openFails = "workbook.xml"; } },
        { "workbook.xml.rels unreadable", [] { platform::faults.openFails = "workbook.xml.rels"; } },
        { ".rels unreadable", [] { platform::faults.openFails = ".rels"; } },
        { "no page", [&] { doc.pageFails = true; } },
        // the book itself replaced from here on
        { "not a zip file", [&] { std::ofstream(book, std::ios::trunc) << "this is not a zip file"; } },
        { "no workbook in the zip", [&] { WriteBook({{"readme.txt", "no workbook in here"}}); } },
        { "a parent path", [&] { WriteBook(bookgen::Workbook(one, "", {{"../../escaped.txt", "x"}})); } },
        { "a bomb", [&] {
              platform::unzipLimits.ratioFrom = 1 << 20;
              WriteBook(bookgen::Workbook(one, "", {{"xl/media/zeros.bin", std::string(64 << 20, '\0')}}));
          } },
        { "a path too long for the unzip command", [&] {
              std::string deep = dir;
              for (int k = 0; k < 5; k++)
                  deep += "/" + std::string(200, k % 2 ? '"' : 'd');
              std::filesystem::create_directories(deep);
              book = deep + "/book.xlsx";
              WriteBook(bookgen::Workbook(one));
          } },
    };
    for (const auto &c : cases) {
        platform::Reset();
        doc.pageFails = false;
        c.fault();
        EXPECT_EQ(20, Import()) << c.name;
        EXPECT_TRUE(doc.sheets.empty()) << c.name;
        EXPECT_EQ(0, doc.liveStrings) << c.name;
        EXPECT_TRUE(NothingLeft()) << c.name;
        EXPECT_FALSE(platform::Exists("T:escaped.txt")) << c.name;
    }
}

TEST_F(Load, ACellTheHostCannotMakeFailsTheImport)
{
    doc.cellFailsAt = 2;
    EXPECT_EQ(20, Import());
    EXPECT_EQ(1u, doc.sheets.empty() ? 0 : doc.sheets.back().cells.size());
}

// A workbook's path reaches the unzip command whole, with the shell's escapes for what
// would end or change the quoted text.
TEST_F(Load, TakesAPathWithQuotesAndStars)
{
    auto clean = ImportFile(book);
    std::string odd = dir + "/say \"*hi*\".xlsx";
    ASSERT_EQ(0, rename(book.c_str(), odd.c_str()));
    auto moved = ImportFile(odd);
    EXPECT_EQ(0, moved.rc);
    EXPECT_EQ(clean.cells, moved.cells);
    EXPECT_TRUE(NothingLeft());
}

// The workspace goes even when the first delete fails, whether the shell could not run it
// (-1) or it left something (RETURN_ERROR): a workspace left behind blocks every later import.
TEST_F(Load, RemovesTheWorkspaceWhenTheFirstDeleteFails)
{
    uint64 before = platform::FallibleCalls();
    auto clean = FailingAt(0);
    uint64 calls = platform::FallibleCalls() - before;
    ASSERT_EQ(0, clean.rc);
    std::set<std::string> failed;
    for (uint64 n = calls; n > 0 && n + 6 > calls; n--) {
        auto faulty = FailingAt(n);
        std::string what = platform::FailedCall() ? platform::FailedCall() : "";
        if (what != "delete: examine" && what != "SystemTags")
            continue;
        failed.insert(what);
        EXPECT_EQ(0, faulty.rc) << what;
        EXPECT_EQ(clean.cells, faulty.cells) << what;
        EXPECT_TRUE(NothingLeft()) << what;
    }
    EXPECT_EQ((std::set<std::string>{"SystemTags", "delete: examine"}), failed);
}

// The workbook's relationships are read once, however many sheets look theirs up: in
// UTF-16 each reading of them leaves a trace line.
TEST_F(Load, ReadsTheRelationshipsOnceForEverySheet)
{
    auto members = bookgen::SheetsBook();
    for (auto &m : members)
        if (m.name == "xl/_rels/workbook.xml.rels")
            m.data = Wide(m.data);
    WriteBook(members);
    auto Readings = [&](const char *prefs) {
        std::string trace;
        bool tracing = platform::tracing;
        platform::tracing = true;
        platform::traceCapture = &trace;
        auto imported = ImportFile(book, prefs);
        platform::traceCapture = nullptr;
        platform::tracing = tracing;
        EXPECT_EQ(0, imported.rc) << prefs;
        size_t n = 0;
        for (size_t at = 0; (at = trace.find("UTF-16: T:XLS/xl/_rels/workbook.xml.rels\n", at)) != std::string::npos; at++)
            n++;
        return std::make_pair(n, imported.doc.sheets.size());
    };
    auto first = Readings(""), all = Readings("ALL");
    EXPECT_GT(all.second, 2u);
    EXPECT_EQ(first.first, all.first) << "readings for one sheet and for " << all.second;
}

// Every call of the system or the host that can fail is made to fail in turn: the import
// answers 20, or 0 with exactly the cells of an import without faults, and leaves nothing.
// All of it again with every dos call that succeeds leaving a stale code for IoErr, as the
// system may: that changes nothing.
TEST_F(Load, SurvivesAFailureAtEveryCall)
{
    auto utf16 = bookgen::Workbook("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>", "x");
    for (auto &m : utf16)
        if (m.name == "xl/sharedStrings.xml")
            m.data = Wide("<sst><si><t>caf\xE9</t></si></sst>");
    auto wide = bookgen::SheetsBook();     // the sheet list and relationships past a block
    for (auto &m : wide)
        if (m.name == "xl/workbook.xml" || m.name == "xl/_rels/workbook.xml.rels")
            m.data.insert(m.data.find("/>") + 2, std::string(70000, ' '));
    struct { const char *first; std::vector<bookgen::Member> second; const char *prefs = ""; } books[] = {
        { "example", bookgen::ExampleBook() },
        // Every sheet, each with its own shared formulas, and pages made before a failure.
        { "several sheets, ALL", bookgen::SheetsBook(), "ALL" },
        { "several sheets, LIST", bookgen::SheetsBook(), "LIST" },
        { "several sheets past a block, ALL", wide, "ALL" },
        { "inline, long and shared", bookgen::Workbook(
              "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>" + std::string(5000, 'x') + "</t></is></c><c r=\"B1\" "
              "t=\"s\"><v>1</v></c></row><row r=\"2\"><c r=\"A2\"><f t=\"shared\" ref=\"A2:A4\" si=\"0\">B2*2</f></c>"
              "</row><row r=\"4\"><c r=\"A4\"><f t=\"shared\" si=\"0\"/></c></row>",
              "<si><t>a</t></si><si><r><t>b</t></r><r><t>c</t></r></si>") },
        { "UTF-16 shared strings", utf16 },
        // No shared strings: the relationships are read to their end.
        { "numbers only", bookgen::Workbook("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>") },
    };
    for (const auto &[name, members, prefs] : books) {
        WriteBook(members);
        platform::Reset();
        ASSERT_EQ(1, ModulePrefs(prefs)) << name;
        uint64 before = platform::FallibleCalls();
        auto clean = FailingAt(0);
        uint64 calls = platform::FallibleCalls() - before;
        ASSERT_EQ(0, clean.rc) << name;
        for (int32 stale : {ERROR_OBJECT_NOT_FOUND, ERROR_DIR_NOT_FOUND, ERROR_SEEK_ERROR}) {
            auto again = FailingAt(0, stale);
            EXPECT_TRUE(again.rc == 0 && again.cells == clean.cells) << name << ", IoErr left at " << stale;
        }
        ASSERT_GT(clean.count, 0u) << name;
        for (const char *cell : {"A3=Birnen & Quitten", "D2==B2*C2|", "E3==ROU(D3*(1+0.19);2)",
                                 "F2==IF(C2!=0;\"in stock\";\"sold out\")"})
            EXPECT_TRUE(name != books[0].first || clean.cells.find(cell) != std::string::npos) << cell << " in " << clean.cells;
        for (uint64 n = 1;; n++) {
            auto faulty = FailingAt(n, n % 2 == 0 ? ERROR_OBJECT_NOT_FOUND : 0);
            const char *failed = platform::FailedCall();
            std::string at = std::string(name) + ", call " + std::to_string(n) + " (" + (failed ? failed : "not reached") + ")";
            EXPECT_TRUE(faulty.rc == 20 || (faulty.rc == 0 && faulty.pages == clean.pages)) << at;
            EXPECT_TRUE(NothingLeft()) << at;
            size_t texts = 0;
            for (const tabulon::Sheet &sheet : faulty.doc.sheets) {
                texts += sheet.page.pg_Node.ln_Name != nullptr;   // the sheet's name
                for (size_t k = 0; k < sheet.cells.size(); k++)
                    texts += sheet.TextOf(k) != nullptr;
            }
            EXPECT_EQ((long)texts, faulty.doc.liveStrings) << at << ": a module string is left";
            if (!failed) {
                EXPECT_EQ(calls + 1, n) << name;
                break;
            }
        }
        printf("%s: %llu calls that can fail, each failed in turn\n", name, (unsigned long long)calls);
        ModulePrefs("");
    }
}

// The preferences choose the pages of a workbook of several sheets: the first worksheet, one
// by name (letter case aside) or by number (when no worksheet has that name), every worksheet,
// or the list of all sheets. A sheet that is not there, or no worksheet, fails the import.
TEST_F(Load, PreferencesChooseTheSheets)
{
    const std::string over = "[\xDC" "bersicht]A1=\xDC" "bersicht|B2=10|C2=zehn";
    const std::string q1 = "[Q1 2024]A1=Q1 2024|B1=3|C1==B1*2|B2=4|C2==B2*2";
    const std::string two = "[2]A1=zwei";
    const std::string data = "[Data & more]A1=Data & more|B1=5|C1==B1+100|B2=6|C2==B2+100";
    const std::string list = "[]A1=1|B1=\xDC" "bersicht|C1=worksheet|D1=visible|"
                             "B2=Chart 1|C2=chartsheet|D2=visible|A3=2|B3=Q1 2024|C3=worksheet|D3=hidden|"
                             "A4=3|B4=2|C4=worksheet|D4=veryHidden|A5=4|B5=Data & more|C5=worksheet|D5=visible";
    struct { std::string prefs; LONG rc; std::string pages; } cases[] = {
        { "", 0, over }, { "SHEET=\"q1 2024\"", 0, q1 }, { "SHEET=\xFC" "BERSICHT", 0, over },
        { "SHEET=\"data & MORE\"", 0, data },
        { "SHEET=2", 0, two },          // the name "2" before the second worksheet
        { "SHEET=3", 0, two }, { "SHEET=1", 0, over }, { "SHEET=4", 0, data },
        { "SHEET=5", 20, "" }, { "SHEET=0", 20, "" }, { "SHEET=Q1", 20, "" },
        { "SHEET=\"Chart 1\"", 20, "" },   // no worksheet
        { "ALL", 0, over + "\n" + q1 + "\n" + two + "\n" + data }, { "LIST", 0, list },
    };
    for (const auto &c : cases) {
        auto got = ImportMembers(bookgen::SheetsBook(), "book.xlsx", c.prefs);
        EXPECT_EQ(c.rc, got.rc) << c.prefs;
        EXPECT_EQ(c.pages, got.pages) << c.prefs;
        EXPECT_TRUE(NothingLeft()) << c.prefs;
    }
    // No worksheet at all: every choice fails, the list shows the chart sheet.
    auto charts = bookgen::SheetsBook();
    for (auto &m : charts)
        if (m.name == "xl/workbook.xml")
            m.data = "<workbook xmlns:r=\"r\"><sheets><sheet name=\"Chart 1\" r:id=\"rId5\"/></sheets></workbook>";
    for (const char *prefs : {"", "ALL", "SHEET=1"})
        EXPECT_EQ(20, ImportMembers(charts, "book.xlsx", prefs).rc) << prefs;
    EXPECT_EQ("[]B1=Chart 1|C1=chartsheet|D1=visible",
              ImportMembers(charts, "book.xlsx", "LIST").pages);
}

TEST_F(Load, CreateTabulonCellTakesStyleAndTheHostsPens)
{
    Page *page = NewPage((Mappe *)&doc);
    ASSERT_NE(nullptr, page);
    CFNode format = {{}, 0x0201};    // a style, and an alignment only traced
    ASSERT_TRUE(CreateTabulonCell(page, 2, 3, format, "x"));
    const Cell cell = doc.sheets.back().At(0);
    EXPECT_STREQ("x", doc.sheets.back().TextOf(0));
    EXPECT_NE(nullptr, cell.c_FontInfo);
    // A cell keeps the pens the host gives a new one.
    ASSERT_TRUE(CreateTabulonCell(page, 5, 5, CFNode{}, "z"));
    Cell *fresh = NewCell(page, 6, 6);
    ASSERT_NE(nullptr, fresh);
    const Cell plain = doc.sheets.back().At(1);
    EXPECT_EQ(fresh->c_APen, plain.c_APen);
    EXPECT_EQ(fresh->c_BPen, plain.c_BPen);
    EXPECT_EQ(fresh->c_ReservedPen, plain.c_ReservedPen);
    EXPECT_EQ(nullptr, plain.c_FontInfo);
    // The cell, its text, its font: whichever the host cannot make fails the call.
    for (uint64 at : {1u, 2u, 3u}) {
        platform::faults.failAt = at;
        EXPECT_FALSE(CreateTabulonCell(page, 2, 4, format, "y")) << at;
        EXPECT_NE(nullptr, platform::FailedCall()) << at;
        platform::Reset();
    }
}

}  // namespace
