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
    // Every entry the host may call is there; the module saves nothing and has no window.
    const IOType &io = module.io();
    ASSERT_TRUE(io.io_Load && io.io_Save && io.io_SetPrefs && io.io_GetPrefs && io.io_OpenPrefsGUI &&
                io.io_ClosePrefsGUI);
    EXPECT_EQ(20, io.io_Save(ZERO, nullptr));
    io.io_OpenPrefsGUI(nullptr);
    io.io_ClosePrefsGUI();
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

// Each service the module keeps is taken from its own slot of the table: a slot read as
// another's calls the wrong function with the wrong arguments.
TEST(Module, InitModuleTakesEveryServiceFromItsSlot)
{
    testing_support::UseStandIn();
    static char marks[SVC_COUNT];
    APTR table[SVC_COUNT];
    for (int k = 0; k < SVC_COUNT; k++)
        table[k] = &marks[k];
    IOType io{};
    ASSERT_TRUE(platform::StartModule(InitModule, &io, table));
    // The services the module keeps, each from its own slot.
    const struct { int slot; APTR taken; } kept[] = {
        { SVC_NewPage, (APTR)NewPage }, { SVC_NewCell, (APTR)NewCell },
        { SVC_AllocString, (APTR)AllocString }, { SVC_ChangeFontInfoA, (APTR)ChangeFontInfoA },
    };
    for (const auto &k : kept)
        EXPECT_EQ(table[k.slot], k.taken) << "slot " << k.slot;
    testing_support::UseStandIn();      // the real services again for the tests after
}
