// The module file loaded as the host loads it: its entries checked, InitModule called.
#include <gtest/gtest.h>

#include "tests/support/testing.h"

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

// Neither beside the tests nor in ../lib/sheaf/ from them: where the build put it. The
// installed layout is the install test's.
TEST(DefaultModulePath, FallsBackToTheBuildsModule)
{
    EXPECT_EQ(testing_support::ModulePath(), tabulon::DefaultModulePath(nullptr));
}
