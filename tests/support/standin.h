// Test support of the units: the module's code linked into the tests, wired to the system
// stand-in and to host services that only hand out strings. No host, no workbook writer,
// no archive library: these suites run on the target as well.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "module/sheaf.h"
#include "platform/platform.h"

namespace testing_support {

// Points the module's globals at the stand-in and the units' string services (InitModule),
// with a fresh private T:, clean faults and the default code set. Idempotent.
void UseStandIn();

// InitModule with the stand-in and this service table, and a private T: made on first
// use; the faults stay as they are.
void WireModule(APTR *services);

// InitModule again, as a host starts the module with these preferences in io_Prefs; the
// module's record, with its entries.
IOType &StartWithPrefs(const char *prefs);

// A fresh directory below the test's T:, removed by the caller or at exit.
std::string TempDir();

// Strings the units' services handed out and were not given back.
long LiveStrings();

// Nothing of an import is left: no workspace, no open file, memory, library or lock.
::testing::AssertionResult NothingLeft();

}  // namespace testing_support
