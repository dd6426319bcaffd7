#include "tests/support/standin.h"

#include <cstdlib>
#include <cstring>

namespace testing_support {

static IOType io;
static long liveStrings;

static STRPTR AllocStringLength(CONST_STRPTR text, ULONG length)
{
    auto *copy = (char *)malloc(length + 1);
    if (copy == nullptr)
        return nullptr;
    memcpy(copy, text, length);
    copy[length] = '\0';
    liveStrings++;
    return copy;
}

static STRPTR AllocString(CONST_STRPTR text)
{
    return AllocStringLength(text, (ULONG)strlen(text));
}

static void FreeString(STRPTR text)
{
    if (text == nullptr)
        return;
    free(text);
    liveStrings--;
}

// Only the string services: a unit that reaches for a page or a cell crashes at once.
static APTR *UnitServices()
{
    static APTR table[SVC_COUNT];
    SetService<SVC_AllocStringLength>(table, AllocStringLength);
    SetService<SVC_AllocString>(table, AllocString);
    SetService<SVC_FreeString>(table, FreeString);
    return table;
}

void WireModule(APTR *services)
{
    platform::UsePrivateTemp();
    platform::StartModule(InitModule, &io, services);
}

IOType &StartWithPrefs(const char *prefs)
{
    io.io_Prefs = (STRPTR)prefs;
    platform::StartModule(InitModule, &io, UnitServices());
    io.io_Prefs = nullptr;
    return io;
}

void UseStandIn()
{
    platform::Reset();
    WireModule(UnitServices());
}

std::string TempDir()
{
    std::string dir = platform::AssignDir("T") + "/test.XXXXXX";
    if (mkdtemp(dir.data()) == nullptr)
        abort();
    return dir;
}

long LiveStrings()
{
    return liveStrings;
}

::testing::AssertionResult NothingLeft()
{
    if (platform::Exists("T:XLS"))
        return ::testing::AssertionFailure() << "T:XLS is left";
    if (const char *held = platform::HeldResource())
        return ::testing::AssertionFailure() << held;
    return ::testing::AssertionSuccess();
}

}  // namespace testing_support
