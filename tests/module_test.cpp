// The module's entry and the import's failures, driven by faults of the stand-in; each
// failure must answer 20 and leave nothing behind.
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

#include "tests/support/testing.h"

extern "C" LONG _start(void) __asm__("sheaf_start");

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

TEST_F(Load, CellsGetTheHostsPens)
{
    ASSERT_EQ(0, Import());
    ASSERT_LE(1u, Cells());
    const Cell &cell = doc.sheets.back().cells[0];
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
    EXPECT_TRUE(InitModule(&io, tabulon::ServiceTable(), nullptr, &platform::exec, &platform::dos,
                           &platform::utility, &platform::locale, &platform::intuition,
                           &platform::gadtools, nullptr, nullptr, 0));
    ASSERT_NE(nullptr, io.io_Load);
    EXPECT_EQ(0, io.io_Save(ZERO, nullptr));
    EXPECT_EQ(1, io.io_SetPrefs(prefs));
    EXPECT_STREQ("", io.io_GetPrefs());
    io.io_OpenPrefsGUI(nullptr);
    io.io_ClosePrefsGUI();
    EXPECT_EQ(20, _start());
}

}  // namespace
