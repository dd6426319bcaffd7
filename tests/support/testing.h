// Test support of the whole-import suites: the units' support, plus the headless host's
// services for the linked module code and imports through the module file.
#pragma once

#include <string>
#include <vector>

#include "bookgen/bookwriter.h"
#include "tabulon/host.h"
#include "tests/support/standin.h"

namespace testing_support {

// UseStandIn with the headless host's services in place of the units' own.
void UseHost();

// Where the build put sheaf.io and the sources.
std::string ModulePath();
std::string SourcePath(const std::string &relative);

// One import through the module file, as the host does it.
struct Imported {
    LONG        rc = -1;
    std::string cells;      // "A1=5|B2=x", row-major, texts in the host's 8-bit charset
    size_t      count = 0;
    std::string pages;      // every page: "[name]A1=5|B2=x", pages joined by a line end
    tabulon::Document doc;
};
// Sets the preferences of the module file the imports below use, until set again; the
// module's answer.
LONG ModulePrefs(const std::string &prefs);
// prefs: the module's preferences for this import only (none: those in force).
Imported ImportFile(const std::string &path, const std::string &prefs = "");
Imported ImportMembers(const std::vector<bookgen::Member> &members,
                       const std::string &name = "book.xlsx", const std::string &prefs = "");
// The workbook with this worksheet (and shared strings), imported.
Imported ImportSheet(const std::string &sheetXml, const std::string &sharedStrings = "");

// The sheaf command run to its end: its exit status (-signal when killed), stdout and stderr.
struct CommandRun {
    int         status = -1;
    std::string out, err;
};
// env: "NAME=value" settings on top of this process's environment; input: a file for its
// standard input (none: this process's).
CommandRun RunSheaf(const std::vector<std::string> &args,
                    const std::vector<std::string> &env = {}, const std::string &input = "");
// A workbook written from members and shown by the command with --format jsonl; its cells
// as "A1=text|B1=text" (texts in UTF-8), or the command's error.
std::string SheafCells(const std::vector<bookgen::Member> &members,
                       const std::vector<std::string> &args = {});
// The value of "name":"..." in a line of the command's jsonl, unescaped.
std::string JsonText(const std::string &line, const char *name);
// The text of a file, whole.
std::string ReadFile(const std::string &path);

// A document with one page, filled through the services as the module fills them.
class HostPage : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // A cell made as the module makes it: NewCell, then a host copy of the text.
    Cell *Put(ULONG row, ULONG col, const char *text);
    // The page in a view, as the command prints it.
    std::string View(tabulon::Format format, int width = 80, ULONG codeset = CODESET_ISO_8859_1);

    tabulon::Document doc;
    APTR *table = nullptr;
    Page *page = nullptr;
};

}  // namespace testing_support
