// Why a workbook did not import: from the file itself, from the unpack's refusal and from
// the parts inside the archive.
#include <gtest/gtest.h>

#include <fstream>

#include "bookgen/bookwriter.h"
#include "tests/support/testing.h"

namespace {

// A workbook of sheet whose relationships name these worksheets instead.
std::vector<bookgen::Member> Relinked(const std::string &sheet, const std::string &one, const std::string &two,
                                      const std::vector<bookgen::Member> &extra = {})
{
    auto members = bookgen::Workbook(sheet, "", extra);
    const std::string type = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";
    auto r = [&](const char *id, const std::string &target) {
        return "<Relationship Id=\"" + std::string(id) + "\" Type=\"" + type + "\" Target=\"" + target + "\"/>";
    };
    for (auto &m : members) {
        if (m.name == "xl/workbook.xml")
            m.data = "<workbook><sheets><sheet r:id=\"rId1\"/><sheet r:id=\"rId2\"/></sheets></workbook>";
        if (m.name == "xl/_rels/workbook.xml.rels")
            m.data = "<Relationships>" + r("rId1", one) + (two.empty() ? "" : r("rId2", two)) + "</Relationships>";
    }
    return members;
}

}  // namespace

TEST(Diagnose, NamesTheCauseBeforeAndAfterAnImport)
{
    testing_support::UseStandIn();
    std::string dir = testing_support::TempDir(), random;
    for (int i = 0; i < 4096; i++)
        random += (char)(i * 7919 % 251);
    auto Write = [&](const char *name, const std::string &bytes) {
        std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
        return dir + "/" + name;
    };
    auto Zip = [&](const char *name, const std::vector<bookgen::Member> &members) {
        std::string why;
        EXPECT_TRUE(bookgen::WriteZip(dir + "/" + name, members, &why)) << why;
        return dir + "/" + name;
    };
    const std::string sheet = "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>";
    std::string bytes = testing_support::ReadFile(Zip("whole.xlsx", bookgen::Workbook(sheet)));
    auto With = [&](const char *name, const bookgen::Member &member) {
        return Zip(name, bookgen::Workbook(sheet, "", {member}));
    };
    // Imported first or not; an unpack's refusal is named only after it.
    struct { std::string path; bool imported; const char *cause; } cases[] = {
        { dir + "/missing.xlsx", false, "no such file" },
        { dir, false, "not readable: a directory" },
        { Write("random.xlsx", random), false, "not a ZIP workbook" },
        { Write("ole.xlsx", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + random), false,
          "encrypted or old binary workbook, not a ZIP workbook" },
        { Write("pk.xlsx", "PK\x03\x04 and then nothing of a ZIP"), false, "damaged ZIP archive" },
        { dir + "/whole.xlsx", false, "import failed" },
        { Zip("cut.xlsx", bookgen::Workbook("<worksheet><sheetData><row r=\"1\"><c r=\"A1\">")),
          false, "worksheet cut off" },
        { Zip("nosheet.xlsx", {{"[Content_Types].xml", "<Types/>"}, {"xl/workbook.xml", "<w/>"}}),
          false, "no first worksheet" },
        { Zip("empty.xlsx", {}), false, "damaged ZIP archive" },    // no unzip has vouched for it
        { dir + "/empty.xlsx", true, "no first worksheet" },
        { With("escape.xlsx", {"../evil", "x"}), true, "unzip failed on ../evil: parent directory" },
        { With("volume.xlsx", {"Work:evil", "x"}), true, "unzip failed on Work:evil: drive or volume" },
        { With("link.xlsx", {"l", "/etc", bookgen::Member::Symlink}), true, "unzip failed on l: symbolic link" },
        { With("lines.xlsx", {"a\nb\r/../../x", "x"}), true, "unzip failed on a?b?/../../x: parent directory" },
        { Write("truncated.xlsx", bytes.substr(0, bytes.size() / 2)), false, "damaged ZIP archive" },
        { dir + "/truncated.xlsx", true, "unzip failed: no end of central directory record" },
        { Write("endcut.xlsx", bytes.substr(0, bytes.size() - 5)), true,
          "unzip failed: end of central directory record cut" },
        // The worksheets the relationships name: outside the package, a directory, missing.
        { Zip("outside.xlsx", Relinked(sheet, "../../a.xml", "/../b.xml")), true, "every worksheet the workbook names lies outside the package" },
        { Zip("dir.xlsx", Relinked(sheet, "w/d.xml", "", {{"xl/w/d.xml/", "", bookgen::Member::Directory}})), true, "worksheet xl/w/d.xml is a directory" },
        { Zip("gone.xlsx", Relinked(sheet, "w/gone.xml", "")), true, "worksheet xl/w/gone.xml is not in the archive" },
        // What the unpack said about another archive is not taken for this one.
        { dir + "/cut.xlsx", false, "worksheet cut off" },
    };
    for (const auto &c : cases) {
        if (c.imported) {
            EXPECT_EQ(20, testing_support::ImportFile(c.path).rc) << c.path;
        }
        EXPECT_EQ(c.cause, tabulon::Diagnose(c.path)) << c.path;
    }
    EXPECT_EQ("no such file", tabulon::PreCheck(dir + "/missing.xlsx"));
    EXPECT_EQ("", tabulon::PreCheck(cases[2].path));
    platform::RemoveTemp(dir);
}
