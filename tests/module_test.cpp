// The module's entry and the import's failures, driven by faults of the stand-in; each
// failure must answer 20 and leave nothing behind.
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

#include "bookgen/books.h"
#include "module/import.h"
#include "tests/support/testing.h"

namespace {

class Load : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::UseHost();
        dir = testing_support::TempDir();
        book = dir + "/book.xlsx";
        WriteBook(bookgen::Workbook("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\"><v>2</v></c></row>",
                                    "<si><t>one</t></si>"));
        tabulon::SetCurrentDocument(&doc);
    }
    void TearDown() override
    {
        platform::Reset();
        platform::RemoveTemp(dir);
        EXPECT_TRUE(testing_support::NothingLeft());
    }
    void WriteBook(const std::vector<bookgen::Member> &members)
    {
        ASSERT_TRUE(bookgen::WriteZip(book, members));
    }
    LONG Import()
    {
        BPTR file = platform::dos.FOpen(book.c_str(), MODE_OLDFILE, 1024);
        EXPECT_NE(ZERO, file);
        LONG rc = load(file, (Mappe *)&doc);
        platform::dos.FClose(file);
        return rc;
    }
    size_t Cells() { return doc.sheets.empty() ? 0 : doc.sheets.back().cells.size(); }

    std::string dir, book;
    tabulon::Document doc;
};

TEST_F(Load, Imports)
{
    EXPECT_EQ(0, Import());
    EXPECT_EQ(2u, Cells());
    EXPECT_EQ(2, doc.liveStrings);      // the table's own strings were given back
}

TEST_F(Load, FailuresBeforeTheWorkspaceLeaveNothing)
{
    struct { const char *name; void (*fault)(); } cases[] = {
        { "no utility 54", [] { platform::SetLibraryVersion("utility.library", 53); } },
        { "no diskfont", [] { platform::SetLibraryVersion("diskfont.library", -1); } },
        { "diskfont too old", [] { platform::SetLibraryVersion("diskfont.library", 45); } },
        { "no interface", [] { platform::faults.interfaceFails = TRUE; } },
        { "no locale", [] { platform::faults.localeFails = TRUE; } },
        { "no charset map", [] { platform::faults.noCharsetMap = TRUE; } },
        { "unknown code set", [] { platform::SetCodeSet(9999); } },
        { "path not obtained", [] { platform::faults.pathFails = TRUE; } },
        { "T:XLS not made", [] { platform::faults.createDirFails = TRUE; } },
    };
    for (const auto &c : cases) {
        platform::Reset();
        c.fault();
        EXPECT_EQ(20, Import()) << c.name;
        EXPECT_TRUE(doc.sheets.empty()) << c.name;
        EXPECT_TRUE(testing_support::NothingLeft()) << c.name;
    }
}

TEST_F(Load, LeftoverWorkspaceStaysUntouched)
{
    std::string xls = platform::HostPath("T:XLS");
    ASSERT_EQ(0, mkdir(xls.c_str(), 0700));
    std::ofstream(xls + "/keep.txt") << "mine";
    EXPECT_EQ(20, Import());
    EXPECT_TRUE(platform::Exists("T:XLS/keep.txt"));
    platform::RemoveTemp(xls);
}

TEST_F(Load, FailuresAfterTheWorkspaceRemoveIt)
{
    struct { const char *name; void (*fault)(); } cases[] = {
        { "unzip fails", [] { platform::faults.commandFails = "c:unzip"; } },
        { "worksheet not opened", [] { platform::faults.openFails = "sheet1.xml"; } },
        { "first allocation fails", [] { platform::faults.allocFailsAt = 1; } },
    };
    for (const auto &c : cases) {
        platform::Reset();
        c.fault();
        EXPECT_EQ(20, Import()) << c.name;
        EXPECT_TRUE(testing_support::NothingLeft()) << c.name;
    }
}

TEST_F(Load, APathTooLongForTheUnzipCommand)
{
    std::string deep = dir;
    for (int k = 0; k < 5; k++) {
        deep += "/" + std::string(200, k % 2 ? '"' : 'd');
        ASSERT_EQ(0, mkdir(deep.c_str(), 0700));
    }
    book = deep + "/book.xlsx";
    WriteBook(bookgen::Workbook("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"));
    EXPECT_EQ(20, Import());
    EXPECT_TRUE(doc.sheets.empty());
}

TEST_F(Load, NotAWorkbook)
{
    std::ofstream(book, std::ios::trunc) << "this is not a zip file";
    EXPECT_EQ(20, Import());
    WriteBook({{"readme.txt", "no workbook in here"}});
    EXPECT_EQ(20, Import());
    EXPECT_TRUE(doc.sheets.empty());
}

TEST_F(Load, NoPage)
{
    doc.pageFails = true;
    EXPECT_EQ(20, Import());
    EXPECT_EQ(0, doc.liveStrings);
}

TEST_F(Load, ACellTheHostCannotMakeFailsTheImport)
{
    doc.cellFailsAt = 2;
    EXPECT_EQ(20, Import());
    EXPECT_EQ(1u, Cells());
}

TEST_F(Load, AMemberThereButUnreadableFailsTheImport)
{
    // Missing shared strings leave text cells empty; unreadable ones are a failure.
    for (const char *name : {"sharedStrings.xml", "workbook.xml", "workbook.xml.rels", ".rels"}) {
        platform::Reset();
        platform::faults.openFails = name;
        EXPECT_EQ(20, Import()) << name;
        EXPECT_TRUE(testing_support::NothingLeft()) << name;
    }
}

// Every call of the system or the host that can fail is made to fail in turn: the import
// answers 20, or 0 with exactly the cells of an import without faults, and leaves nothing.
TEST_F(Load, SurvivesAFailureAtEveryCall)
{
    std::string shared = "<c r=\"A2\"><f t=\"shared\" ref=\"A2:A4\" si=\"0\">B2*2</f></c>";
    std::vector<std::pair<const char *, std::vector<bookgen::Member>>> books = {
        { "example", bookgen::ExampleBook() },
        { "inline, long and shared", bookgen::Workbook(
              "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>" + std::string(5000, 'x') +
              "</t></is></c><c r=\"B1\" t=\"s\"><v>1</v></c></row><row r=\"2\">" + shared +
              "</row><row r=\"4\"><c r=\"A4\"><f t=\"shared\" si=\"0\"/></c></row>",
              "<si><t>a</t></si><si><r><t>b</t></r><r><t>c</t></r></si>") },
    };
    auto utf16 = bookgen::Workbook("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>",
                                   "<si><t>caf\xC3\xA9</t></si>");
    for (auto &m : utf16) {
        if (m.name != "xl/sharedStrings.xml")
            continue;
        std::string wide = "\xFF\xFE";
        for (unsigned char c : std::string("<sst><si><t>caf\xE9</t></si></sst>"))
            wide += std::string(1, (char)c) + '\0';
        m.data = wide;
    }
    books.push_back({ "UTF-16 shared strings", utf16 });
    // No shared strings: the relationships are read to their end.
    books.push_back({ "numbers only", bookgen::Workbook("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>") });

    for (const auto &[name, members] : books) {
        WriteBook(members);
        platform::Reset();
        uint64 before = platform::FallibleCalls();
        auto clean = testing_support::ImportFile(book);
        uint64 calls = platform::FallibleCalls() - before;
        ASSERT_EQ(0, clean.rc) << name;
        ASSERT_GT(clean.count, 0u) << name;
        uint64 n = 1;
        for (;; n++) {
            platform::Reset();
            platform::faults.failAt = n;
            auto faulty = testing_support::ImportFile(book);
            bool reached = platform::FailedCall() != nullptr;
            std::string at = std::string(name) + ", call " + std::to_string(n) + " (" +
                             (reached ? platform::FailedCall() : "not reached") + ")";
            EXPECT_TRUE(faulty.rc == 20 || (faulty.rc == 0 && faulty.cells == clean.cells)) << at;
            EXPECT_TRUE(testing_support::NothingLeft()) << at;
            size_t texts = 0;
            for (const tabulon::Sheet &sheet : faulty.doc.sheets)
                for (size_t k = 0; k < sheet.cells.size(); k++)
                    texts += sheet.TextOf(k) != nullptr;
            EXPECT_EQ((long)texts, faulty.doc.liveStrings) << at << ": a module string is left";
            if (!reached)
                break;
        }
        EXPECT_EQ(calls + 1, n) << name;
        printf("%s: %llu calls that can fail, each failed in turn\n", name, (unsigned long long)calls);
    }
}

TEST_F(Load, BuildXLSEnvForWritingUnpacksNothing)
{
    char filename[2048];
    BPTR file = platform::dos.FOpen(book.c_str(), MODE_OLDFILE, 1024);
    ASSERT_TRUE(BuildXLSEnv(TRUE, file, filename, sizeof(filename)));
    platform::dos.FClose(file);
    EXPECT_TRUE(platform::Exists("T:XLS"));
    EXPECT_FALSE(platform::Exists("T:XLS/xl"));
    RemoveXLSEnv();
}

TEST_F(Load, OpenXLSOnlyReadsItsTwoMembers)
{
    EXPECT_EQ(nullptr, OpenXLS(XML_SHEET, XLS_READ + 1));
    EXPECT_EQ(nullptr, OpenXLS(XML_STRINGS + 1, XLS_READ));
}

// The sheets of the workbook part, the target of rId1, and the member the worksheet is read
// from (NULL: no worksheet).
TEST_F(Load, FindWorkbookPartsFollowsTheFirstSheet)
{
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    const std::string sheet = "<sheet r:id=\"rId1\"/>", longprefix(70, 'p');
    struct { std::string sheets; const char *target, *member; } cases[] = {
        // targets resolved segment by segment
        { sheet, "w/s.xml", "T:XLS/xl/w/s.xml" },
        { sheet, "/xl/w/../w/s.xml", "T:XLS/xl/w/s.xml" },
        { sheet, "./w//.x/..\\s.xml", "T:XLS/xl/w/s.xml" },
        { sheet, "../s.xml", "T:XLS/s.xml" },
        { sheet, "../../s.xml", nullptr },          // outside the package
        { sheet, "/", nullptr },
        // the relationship id under other prefixes, or none to be had
        { "<sheet\rq:id=\"rId1\"/>", "a.xml", "T:XLS/xl/a.xml" },
        { "<sheet\tp:id=\"rId1\"/>", "a.xml", "T:XLS/xl/a.xml" },
        { "<sheet a:ix=\"1\" b:idx=\"2\"\nrel:id = \"rId1\"/>", "a.xml", "T:XLS/xl/a.xml" },
        { "<sheet " + longprefix + ":id=\"rId1\"/>", "a.xml", nullptr },
        { "<q:id=:sheet/><sheet name=\"A\"/><sheet r:id=\"rId9\"/>" + sheet, "a.xml", "T:XLS/xl/a.xml" },
    };
    std::string xl = platform::HostPath("T:XLS/xl");
    for (const auto &c : cases) {
        ASSERT_EQ(0, mkdir(platform::HostPath("T:XLS").c_str(), 0700));
        ASSERT_EQ(0, mkdir(xl.c_str(), 0700));
        ASSERT_EQ(0, mkdir((xl + "/_rels").c_str(), 0700));
        std::ofstream(xl + "/workbook.xml") << "<workbook><sheets>" << c.sheets << "</sheets></workbook>";
        std::ofstream(xl + "/_rels/workbook.xml.rels")
            << "<Relationships><Relationship Id=\"rId1\" Type=\"" << rel << "/worksheet\" Target=\"" << c.target
            << "\"/></Relationships>";
        EXPECT_EQ(c.member != nullptr, FindWorkbookParts() == TRUE) << c.target;
        if (c.member != nullptr) {
            EXPECT_STREQ(c.member, xmlfiles[XML_SHEET]) << c.target;
        }
        RemoveXLSEnv();
    }
}

TEST_F(Load, CreateTabulonCellTakesStyleAndPens)
{
    Page *page = NewPage((Mappe *)&doc);
    ASSERT_NE(nullptr, page);
    CFNode format = {};
    format.format = 0x0201;     // a style, and an alignment that is only traced
    format.fc = format.bc = TRUE;
    format.fcolor = 0x112233;
    format.bcolor = 0x445566;
    ASSERT_TRUE(CreateTabulonCell(page, 2, 3, format, "x"));
    const Cell cell = doc.sheets.back().At(0);
    EXPECT_STREQ("x", doc.sheets.back().TextOf(0));
    EXPECT_NE(nullptr, cell.c_FontInfo);
    EXPECT_EQ(0x112233u, cell.c_APen);
    EXPECT_EQ(0x112233u, cell.c_ReservedPen);
    EXPECT_EQ(0x445566u, cell.c_BPen);
    // The cell, its text, its font: whichever the host cannot make fails the call.
    for (uint64 at : {1u, 2u, 3u}) {
        platform::faults.failAt = at;
        EXPECT_FALSE(CreateTabulonCell(page, 2, 4, format, "y")) << at;
        EXPECT_NE(nullptr, platform::FailedCall()) << at;
        platform::Reset();
    }
}

TEST_F(Load, CellsGetTheHostsPens)
{
    ASSERT_EQ(0, Import());
    ASSERT_LE(1u, Cells());
    const Cell cell = doc.sheets.back().At(0);
    Cell fresh{};
    tabulon::Document other;
    tabulon::SetCurrentDocument(&other);
    Page *page = ((NewPage_t)tabulon::ServiceTable()[SVC_NewPage])((Mappe *)&other);
    Cell *made = ((NewCell_t)tabulon::ServiceTable()[SVC_NewCell])(page, 1, 1);
    ASSERT_NE(nullptr, made);
    fresh = *made;
    EXPECT_EQ(fresh.c_APen, cell.c_APen);
    EXPECT_EQ(fresh.c_BPen, cell.c_BPen);
    EXPECT_EQ(fresh.c_ReservedPen, cell.c_ReservedPen);
    EXPECT_EQ(nullptr, cell.c_FontInfo);
    tabulon::SetCurrentDocument(&doc);
}

TEST(InitModule, InstallsTheEntries)
{
    testing_support::UseStandIn();
    IOType io{};
    char prefs[] = "anything";
    io.io_Prefs = prefs;
    EXPECT_TRUE(platform::StartModule(InitModule, &io, tabulon::ServiceTable()));
    ASSERT_NE(nullptr, io.io_Load);
    EXPECT_EQ(0, io.io_Save(ZERO, nullptr));
    EXPECT_EQ(1, io.io_SetPrefs(prefs));
    EXPECT_STREQ("", io.io_GetPrefs());
    io.io_OpenPrefsGUI(nullptr);
    io.io_ClosePrefsGUI();
    EXPECT_EQ(20, _start());
}

}  // namespace
