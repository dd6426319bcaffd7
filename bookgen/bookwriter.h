// Writes ZIP archives from texts: workbooks for the example, the benchmark and the tests,
// and hostile archives for the unzip tests.
#pragma once

#include <string>
#include <vector>

namespace bookgen {

struct Member {
    enum Kind { File, Directory, Symlink, Hardlink };
    std::string name;             // written exactly as given: "../x", "/abs", "a\\b" too
    std::string data;             // the content; the link target for links
    Kind        kind = File;
    bool        stored = false;   // no compression
};

// Writes the members in order; false (and errno-style message in why) on failure. zip64
// gives every member ZIP64 fields and the archive a ZIP64 end record.
bool WriteZip(const std::string &path, const std::vector<Member> &members,
              std::string *why = nullptr, bool zip64 = false);

// Gives the archive at path a comment behind its end record, which must have none.
bool AppendComment(const std::string &path, const std::string &comment, std::string *why = nullptr);

// Writes first and then second as one archive whose directory lists the members of first;
// its comment holds a second directory and end record, listing those of second.
bool WriteTwoWayZip(const std::string &path, const std::vector<Member> &first,
                    const std::vector<Member> &second, std::string *why = nullptr);

// A workbook of the usual parts around a worksheet and, when not empty, a shared-string
// table; extra members are appended. A text that is not a whole document is wrapped: the
// sheet's into <worksheet><sheetData>, the table's into <sst>.
std::vector<Member> Workbook(const std::string &sheetXml, const std::string &sharedStringsXml = "",
                             const std::vector<Member> &extra = {});

}  // namespace bookgen
