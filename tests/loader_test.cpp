// The module file loaded as the host loads it: its entries checked, InitModule called.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <string>

#include "host/module.h"
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

// The host reads the module's version before it trusts the record's layout.
TEST(Module, ExportsVersionOneAndItsVersionString)
{
    void *handle = dlopen(testing_support::ModulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, handle) << dlerror();
    const LONG *version = (const LONG *)dlsym(handle, "Version");
    const char *verstring = (const char *)dlsym(handle, "verstring");
    ASSERT_NE(nullptr, version);
    EXPECT_EQ(1, *version);
    ASSERT_NE(nullptr, verstring);
    EXPECT_EQ(0, std::string(verstring).rfind("$VER: sheaf.io ", 0)) << verstring;
    dlclose(handle);
}

// Each service is taken from its own slot of the table, those the import does not call yet
// included: a slot read as another's calls the wrong function with the wrong arguments.
TEST(Module, InitModuleTakesEveryServiceFromItsSlot)
{
    testing_support::UseStandIn();
    static char marks[SVC_COUNT];
    APTR table[SVC_COUNT];
    for (int k = 0; k < SVC_COUNT; k++)
        table[k] = &marks[k];
    IOType io{};
    ASSERT_TRUE(platform::StartModule(InitModule, &io, table));
    const APTR taken[] = {
        (APTR)ReportErrorA, (APTR)NewPage, (APTR)CalculatePageDPI, (APTR)NewCell, (APTR)UpdateCellText,
        (APTR)SetTableSize, (APTR)FindColorPen, (APTR)AddPen, (APTR)Coord2String, (APTR)pixel, (APTR)mm,
        (APTR)AllocStringLength, (APTR)AllocString, (APTR)FreeString, (APTR)ita, (APTR)ChangeFontInfoA,
        (APTR)AddName,
    };
    static_assert(sizeof(taken) / sizeof(taken[0]) == SVC_COUNT);
    for (int k = 0; k < SVC_COUNT; k++)
        EXPECT_EQ(table[k], taken[k]) << "slot " << k;
    EXPECT_EQ(table, ioBase);
    testing_support::UseStandIn();      // the real services again for the tests after
}
