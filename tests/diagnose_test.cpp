// Why a workbook did not import: from the file itself, from the unpack's refusal and from
// the parts inside the archive.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "bookgen/bookwriter.h"
#include "tests/support/testing.h"

class Diagnose : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::UseStandIn();
        dir = testing_support::TempDir();
    }
    void TearDown() override { platform::RemoveTemp(dir); }
    std::string Write(const char *name, const std::string &bytes)
    {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::string Zip(const char *name, const std::vector<bookgen::Member> &members)
    {
        std::string path = dir + "/" + name, why;
        if (!bookgen::WriteZip(path, members, &why))
            ADD_FAILURE() << why;
        return path;
    }
    std::string dir;
};

TEST_F(Diagnose, NamesTheCauseFromTheFileAlone)
{
    std::string random;
    for (int i = 0; i < 4096; i++)
        random += (char)(i * 7919 % 251);
    std::string zip = Write("ok.bin", "");
    struct { std::string path; const char *cause; } cases[] = {
        { dir + "/missing.xlsx", "no such file" },
        { dir, "not readable: a directory" },
        { Write("empty.xlsx", ""), "not a ZIP workbook" },
        { Write("random.xlsx", random), "not a ZIP workbook" },
        { Write("ole.xlsx", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + random),
          "encrypted or old binary workbook, not a ZIP workbook" },
        { Write("pk.xlsx", "PK\x03\x04 and then nothing of a ZIP"), "damaged ZIP archive" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.cause, tabulon::Diagnose(c.path)) << c.path;
    EXPECT_EQ("no such file", tabulon::PreCheck(dir + "/missing.xlsx"));
    EXPECT_EQ("", tabulon::PreCheck(cases[3].path));
}

TEST_F(Diagnose, LooksIntoTheArchive)
{
    const std::string sheet = "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"
                              "</sheetData></worksheet>";
    std::string whole = Zip("whole.xlsx", bookgen::Workbook(sheet));
    std::ifstream in(whole, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    struct { std::string path; const char *cause; } cases[] = {
        { whole, "import failed" },
        { Write("truncated.xlsx", bytes.substr(0, bytes.size() / 2)), "damaged ZIP archive" },
        { Zip("cut.xlsx", bookgen::Workbook("<worksheet><sheetData><row r=\"1\"><c r=\"A1\">")),
          "worksheet cut off" },
        { Zip("nosheet.xlsx", {{"[Content_Types].xml", "<Types/>"}, {"xl/workbook.xml", "<w/>"}}),
          "no first worksheet" },
        { Zip("empty.xlsx", {}), "damaged ZIP archive" },    // no unzip has vouched for it
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.cause, tabulon::Diagnose(c.path)) << c.path;
}

TEST_F(Diagnose, ReportsWhyTheUnpackRefused)
{
    const std::string sheet = "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>";
    std::string whole = Zip("whole.xlsx", bookgen::Workbook(sheet));
    std::ifstream in(whole, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto With = [&](const char *name, const bookgen::Member &member) {
        return Zip(name, bookgen::Workbook(sheet, "", {member}));
    };
    struct { std::string path; const char *cause; } cases[] = {
        { With("escape.xlsx", {"../evil", "x"}), "unzip failed on ../evil: parent directory" },
        { With("volume.xlsx", {"Work:evil", "x"}), "unzip failed on Work:evil: drive or volume" },
        { With("link.xlsx", {"l", "/etc", bookgen::Member::Symlink}), "unzip failed on l: symbolic link" },
        { With("lines.xlsx", {"a\nb\r/../../x", "x"}), "unzip failed on a?b?/../../x: parent directory" },
        { Write("truncated.xlsx", bytes.substr(0, bytes.size() / 2)),
          "unzip failed: no end of central directory record" },
        { Write("cut.xlsx", bytes.substr(0, bytes.size() - 5)),
          "unzip failed: end of central directory record cut" },
        { Zip("empty.xlsx", {}), "no first worksheet" },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(20, testing_support::ImportFile(c.path).rc) << c.path;
        EXPECT_EQ(c.cause, tabulon::Diagnose(c.path)) << c.path;
    }

    // What the unpack said about another archive is not taken for this one.
    std::string cut = Zip("sheetcut.xlsx", bookgen::Workbook("<worksheet><sheetData><row r=\"1\">"));
    EXPECT_EQ(20, testing_support::ImportFile(cases[0].path).rc);
    EXPECT_EQ("worksheet cut off", tabulon::Diagnose(cut));
}
