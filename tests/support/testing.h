// Test support: the module's code linked into the tests, wired to the system stand-in and
// the headless host's services, as InitModule wires it in the module file.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bookgen/bookwriter.h"

#include "module/globals.h"
#include "platform/platform.h"
#include "tabulon/tabulon.h"

namespace testing_support {

// Points the module's globals at the stand-in and the host services (InitModule), with a
// fresh private T:, clean faults and the default code set. Idempotent.
void UseStandIn();

// Where the build put sheaf.io and the sources.
std::string ModulePath();
std::string SourcePath(const std::string &relative);

// A fresh directory below the test's T:, removed by the caller or at exit.
std::string TempDir();

// One import through the module file, as the host does it.
struct Imported {
    LONG        rc = -1;
    std::string cells;      // "A1=5|B2=x", row-major, texts in the host's 8-bit charset
    size_t      count = 0;
    tabulon::Document doc;
};
Imported ImportFile(const std::string &path);
Imported ImportMembers(const std::vector<bookgen::Member> &members,
                       const std::string &name = "book.xlsx");
// The workbook with this worksheet (and shared strings), imported.
Imported ImportSheet(const std::string &sheetXml, const std::string &sharedStrings = "");

// Nothing of an import is left: no workspace, no open file, memory, library or lock.
::testing::AssertionResult NothingLeft();

}  // namespace testing_support
