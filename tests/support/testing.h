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

// The sheaf command run to its end: its exit status (-signal when killed), stdout and stderr.
struct CommandRun {
    int         status = -1;
    std::string out, err;
};
// env: "NAME=value" settings on top of this process's environment.
CommandRun RunSheaf(const std::vector<std::string> &args,
                    const std::vector<std::string> &env = {});
// A workbook written from members and shown by the command with --format jsonl; its cells
// as "A1=text|B1=text" (texts in UTF-8), or the command's error.
std::string SheafCells(const std::vector<bookgen::Member> &members,
                       const std::vector<std::string> &args = {});
// The text of a file, whole.
std::string ReadFile(const std::string &path);

// Nothing of an import is left: no workspace, no open file, memory, library or lock.
::testing::AssertionResult NothingLeft();

}  // namespace testing_support
