// The module file loaded as the host loads it: its entries checked, InitModule called.
#include <gtest/gtest.h>

#include "tests/support/testing.h"

TEST(Module, OpensOnlyAModuleFile)
{
    testing_support::UseStandIn();
    tabulon::Module bad, module;
    EXPECT_NE("", bad.Open(SHEAF_PROGRAM_PATH));   // loadable, but no InitModule
    tabulon::Document doc;
    EXPECT_EQ(20, bad.Import("/nonexistent.xlsx", doc));
    ASSERT_EQ("", module.Open(testing_support::ModulePath()));
    EXPECT_NE(nullptr, module.io().io_Load);
    // Neither beside the tests nor in ../lib/sheaf/ from them: where the build put it.
    EXPECT_EQ(testing_support::ModulePath(), tabulon::DefaultModulePath(nullptr));
}
