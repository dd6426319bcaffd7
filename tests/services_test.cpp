// The host's services as the module calls them: strings, and a document that moves.
#include <gtest/gtest.h>

#include "tests/support/testing.h"

using Services = testing_support::HostPage;

TEST_F(Services, FreeStringGivesTheSpaceBack)
{
    auto alloc = (AllocString_t)table[SVC_AllocString];
    auto release = (FreeString_t)table[SVC_FreeString];
    STRPTR kept = alloc("kept");
    STRPTR big = alloc(std::string(300000, 'b').c_str());   // beyond a block's share
    STRPTR e = alloc(std::string(20, 'e').c_str());
    STRPTR f = alloc(std::string(20, 'f').c_str());
    EXPECT_EQ(4, doc.liveStrings);
    release(big);
    release(e);
    release(nullptr);
    EXPECT_EQ(2, doc.liveStrings);
    EXPECT_EQ(e, alloc(std::string(20, 'g').c_str()));   // a freed text's space goes again
    EXPECT_STREQ("kept", kept);   // and never over a live one
    EXPECT_EQ(std::string(20, 'f'), f);
}

TEST_F(Services, AMovedDocumentKeepsItsPagesAndTexts)
{
    Put(1, 1, "kept");
    tabulon::Document moved(std::move(doc));
    EXPECT_NE(nullptr, Put(1, 2, "new"));    // the page finds its document's new place
    moved.sheets.back().Settle();
    ASSERT_EQ(2u, moved.sheets.back().cells.size());
    EXPECT_STREQ("kept", moved.sheets.back().cells[0].text);
    EXPECT_STREQ("new", moved.sheets.back().cells[1].text);
    EXPECT_EQ(2, moved.liveStrings);
    EXPECT_EQ(0, doc.liveStrings);
}
