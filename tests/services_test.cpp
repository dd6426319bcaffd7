// The host's services as the module calls them: pages, cells and strings, each with the
// document's faults.
#include <gtest/gtest.h>

#include "tests/support/testing.h"

using NewCell = testing_support::HostPage;
using FreeString = testing_support::HostPage;
using Document = testing_support::HostPage;

TEST_F(NewCell, FollowsTheDocumentsFaults)
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
    // Each cell was kept when the next was asked for: place, text and pens.
    tabulon::Sheet &sheet = doc.sheets.back();
    sheet.Settle();
    ASSERT_EQ(3u, sheet.cells.size());
    EXPECT_STREQ("x", sheet.cells[0].text);
    EXPECT_EQ(3u, sheet.cells[0].row);
    EXPECT_EQ(1u, sheet.At(0).c_APen);
    EXPECT_EQ(3u, sheet.cells[2].col);

    doc.pageFails = true;
    EXPECT_EQ(nullptr, ((NewPage_t)table[SVC_NewPage])((Mappe *)&doc));
    EXPECT_EQ(1u, doc.sheets.size());
}

TEST_F(FreeString, CountsStringsUntilFreed)
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
    STRPTR e = alloc(std::string(20, 'e').c_str());
    STRPTR f = alloc(std::string(20, 'f').c_str());
    release(e);
    EXPECT_EQ(e, alloc(std::string(20, 'g').c_str()));   // a freed text's space goes again
    EXPECT_STREQ("kept", kept);   // and never over a live one
    EXPECT_STREQ("dd", d);
    EXPECT_EQ(std::string(20, 'f'), f);
    EXPECT_NE(nullptr, ((ChangeFontInfoA_t)table[SVC_ChangeFontInfoA])(nullptr, 72, nullptr, 0));
}

TEST_F(Document, AMovedOneKeepsItsPagesAndTexts)
{
    Put(1, 1, "kept");
    tabulon::Document moved(std::move(doc));
    EXPECT_NE(nullptr, Put(1, 2, "new"));    // the page finds its document's new place
    ASSERT_EQ(2u, moved.sheets.back().cells.size());
    moved.sheets.back().Settle();
    EXPECT_STREQ("kept", moved.sheets.back().cells[0].text);
    EXPECT_STREQ("new", moved.sheets.back().cells[1].text);
    EXPECT_EQ(2, moved.liveStrings);
    EXPECT_EQ(0, doc.liveStrings);
}
