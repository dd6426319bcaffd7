// Whole imports through the module file: workbooks built here, their cells as the host got
// them, and nothing left behind.
#include <gtest/gtest.h>

#include <pthread.h>

#include "bookgen/books.h"
#include "tests/support/testing.h"

using testing_support::ImportMembers;
using testing_support::ImportSheet;
using testing_support::NothingLeft;

namespace {

class Import : public ::testing::Test {
protected:
    void SetUp() override { testing_support::UseStandIn(); }
    void TearDown() override { EXPECT_TRUE(NothingLeft()); }
};

TEST_F(Import, EmptyAndCutSheets)
{
    auto empty = ImportSheet("<?xml version=\"1.0\"?><worksheet><sheetData/></worksheet>");
    EXPECT_EQ(0, empty.rc);
    EXPECT_EQ(1u, empty.doc.sheets.size());
    EXPECT_EQ(0u, empty.count);

    // The end of the file anywhere before </sheetData> fails the import.
    const char *cuts[] = {
        "<c r=\"A1\"><v>1</v></c>", "<c r=\"A1\"", "<c r=\"A1\"><v>1</v>", "<c r=\"A1\"><v>1",
        "<c r=\"A1\"><f>A", "<c r=\"A1\" t=\"inlineStr\"><is><t>x</t>",
    };
    for (const char *cut : cuts) {
        auto book = ImportSheet(std::string("<worksheet><sheetData><row r=\"1\">") + cut);
        EXPECT_EQ(20, book.rc) << cut;
        EXPECT_TRUE(NothingLeft()) << cut;
    }

    auto noData = ImportSheet("<?xml version=\"1.0\"?><worksheet></worksheet>");
    EXPECT_EQ(20, noData.rc);
}

TEST_F(Import, NamesWithBlanksQuotesAndAsterisks)
{
    auto sheet = bookgen::Workbook("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>");
    for (const char *name : {"my book.xlsx", "say \"hi\".xlsx", "star*.xlsx", "**\"*\".xlsx",
                             "a -d b.xlsx"}) {
        auto book = ImportMembers(sheet, name);
        EXPECT_EQ(0, book.rc) << name;
        EXPECT_EQ("A1=1", book.cells) << name;
        EXPECT_TRUE(NothingLeft()) << name;
    }
}

TEST_F(Import, ReadsTheFirstWorksheetByItsRelationships)
{
    const char *rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    auto part = [&](const std::string &name, const std::string &data) {
        return bookgen::Member{name, data};
    };
    std::string sheet = "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v>first</v></c></row></sheetData></worksheet>";
    std::string other = "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v>other</v></c></row></sheetData></worksheet>";
    std::string rels = std::string("<Relationships><Relationship Id=\"rId1\" Type=\"") + rel +
                       "/officeDocument\" Target=\"/book/main.xml\"/></Relationships>";
    std::string wb = std::string("<workbook xmlns:r=\"") + rel + "\"><sheets>"
                     "<sheet name=\"Chart\" sheetId=\"3\" r:id=\"rId3\"/>"
                     "<sheet name=\"Data\" sheetId=\"1\" r:id=\"rId7\"/>"
                     "<sheet name=\"More\" sheetId=\"2\" r:id=\"rId1\"/></sheets></workbook>";
    std::string wbrels = std::string("<Relationships>") +
        "<Relationship Id=\"rId1\" Type=\"" + rel + "/worksheet\" Target=\"sheets/sheet1.xml\"/>"
        "<Relationship Id=\"rId3\" Type=\"" + rel + "/chartsheet\" Target=\"charts/c.xml\"/>"
        "<Relationship Id=\"rId7\" Type=\"" + rel + "/worksheet\" Target=\"../book/sheets/data.xml\"/>"
        "<Relationship Id=\"rId9\" Type=\"" + rel + "/sharedStrings\" Target=\"/strings/s.xml\"/>"
        "</Relationships>";
    auto book = ImportMembers({part("_rels/.rels", rels), part("book/main.xml", wb),
                               part("book/_rels/main.xml.rels", wbrels),
                               part("book/sheets/sheet1.xml", other),
                               part("book/sheets/data.xml",
                                    "<worksheet><sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c>"
                                    "</row></sheetData></worksheet>"),
                               part("strings/s.xml", "<sst><si><t>from data</t></si></sst>")});
    EXPECT_EQ(0, book.rc);
    EXPECT_EQ("A1=from data", book.cells);

    // No worksheet listed: nothing to import.
    auto none = ImportMembers({part("_rels/.rels", rels),
                               part("book/main.xml", "<workbook><sheets/></workbook>"),
                               part("book/_rels/main.xml.rels", wbrels)});
    EXPECT_EQ(20, none.rc);

    // A target that leaves the package is never read.
    std::string escape = std::string("<Relationships><Relationship Id=\"rId1\" Type=\"") + rel +
                         "/worksheet\" Target=\"../../../../etc/passwd\"/></Relationships>";
    auto out = ImportMembers({part("xl/workbook.xml", std::string("<workbook xmlns:r=\"") + rel +
                                                          "\"><sheets><sheet r:id=\"rId1\"/></sheets></workbook>"),
                              part("xl/_rels/workbook.xml.rels", escape)});
    EXPECT_EQ(20, out.rc);

    // Without relationships the usual names stand.
    auto plain = ImportMembers({part("xl/worksheets/sheet1.xml", sheet)});
    EXPECT_EQ(0, plain.rc);
    EXPECT_EQ("A1=first", plain.cells);
}

TEST_F(Import, RelationshipsOfOddShapes)
{
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    auto rels = [&](const std::string &type, const std::string &target, const std::string &id = "rId1") {
        return "<Relationships><Relationship Id=\"" + id + "\" Type=\"" + rel + "/" + type + "\" Target=\"" +
               target + "\"/></Relationships>";
    };
    auto workbook = [](const std::string &sheets) { return "<workbook><sheets>" + sheets + "</sheets></workbook>"; };
    auto sheet = [](const char *text) {
        return std::string("<worksheet><sheetData><row r=\"1\"><c r=\"A1\" t=\"str\"><v>") + text +
               "</v></c></row></sheetData></worksheet>";
    };
    const std::string wb = workbook("<sheet name=\"S\" r:id=\"rId1\"/>"), far(250, 'f');
    using M = bookgen::Member;
    const M usual = {"xl/worksheets/sheet1.xml", sheet("usual")}, found = {"xl/w/s.xml", sheet("found")};
    const M wbrels = {"xl/_rels/workbook.xml.rels", rels("worksheet", "w/s.xml")};
    struct { const char *name; std::vector<M> members; LONG rc; const char *cells; } cases[] = {
        // where the workbook part cannot be had, the usual names stand
        { "no workbook target", {{"_rels/.rels", "<Relationships><Relationship Type=\"" + rel +
                                                 "/officeDocument\"/></Relationships>"}, usual}, 0, "A1=usual" },
        { "a workbook target too long", {{"_rels/.rels", rels("officeDocument", "/" + std::string(600, 'x'))},
                                         usual}, 0, "A1=usual" },
        { "no room for the workbook's relationships",
          {{"_rels/.rels", rels("officeDocument", "/" + far + "/" + std::string(255, 'g') + "/w")}, usual}, 0,
          "A1=usual" },
        { "no room for them behind _rels",
          {{"_rels/.rels", rels("officeDocument", "/" + std::string(500, 'w'))}, usual}, 0, "A1=usual" },
        { "a workbook without relationships", {{"xl/workbook.xml", wb}, usual}, 0, "A1=usual" },
        // sheets that cannot be had
        { "a sheet member past the room of a path",
          {{"xl/workbook.xml", wb}, {"xl/_rels/workbook.xml.rels", rels("worksheet", far + "/" + far + "/s.xml")}},
          20, "" },
        { "a relationship without a target", {{"xl/workbook.xml", wb},
          {"xl/_rels/workbook.xml.rels", "<Relationships><Relationship Id=\"rId1\" Type=\"" + rel + "/worksheet\"/>"
                                         "</Relationships>"}}, 20, "" },
        { "a relationship without a type", {{"xl/workbook.xml", wb},
          {"xl/_rels/workbook.xml.rels",
           "<Relationships><Relationship Id=\"rId1\" Target=\"w/s.xml\"/></Relationships>"}, found}, 20, "" },
        { "a sheet under another prefix", {{"xl/workbook.xml", workbook("<sheet\trel:id=\"rId1\"/>")}, wbrels, found},
          0, "A1=found" },
        { "shared strings outside the package: the usual name",
          {{"xl/workbook.xml", wb},
           {"xl/_rels/workbook.xml.rels", "<Relationships><Relationship Id=\"rId1\" Type=\"" + rel +
                                          "/worksheet\" Target=\"w/s.xml\"/><Relationship Id=\"rId2\" Type=\"" + rel +
                                          "/sharedStrings\" Target=\"../../s.xml\"/></Relationships>"},
           {"xl/w/s.xml",
            "<worksheet><sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row></sheetData></worksheet>"},
           {"xl/sharedStrings.xml", "<sst><si><t>usual</t></si></sst>"}}, 0, "A1=usual" },
    };
    for (const auto &c : cases) {
        auto book = ImportMembers(c.members);
        EXPECT_EQ(c.rc, book.rc) << c.name;
        EXPECT_EQ(c.cells, book.cells) << c.name;
        EXPECT_TRUE(NothingLeft()) << c.name;
    }
}

TEST_F(Import, HostileArchivesAreRefusedWhole)
{
    std::string outside = testing_support::TempDir();
    std::string sheet = "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>";
    struct { const char *name; bookgen::Member member; } cases[] = {
        { "parent path", {"../../escaped.txt", "x"} },
        { "deep parent path", {"xl/../../../escaped.txt", "x"} },
        { "absolute path", {outside + "/escaped.txt", "x"} },
        { "backslash parent", {"..\\..\\escaped.txt", "x"} },
        { "drive prefix", {"C:/escaped.txt", "x"} },
        { "symlink", {"xl/link", outside, bookgen::Member::Symlink} },
    };
    for (const auto &c : cases) {
        auto book = ImportMembers(bookgen::Workbook(sheet, "", {c.member}));
        EXPECT_EQ(20, book.rc) << c.name;
        EXPECT_TRUE(NothingLeft()) << c.name;
        EXPECT_FALSE(platform::Exists((outside + "/escaped.txt").c_str())) << c.name;
        EXPECT_FALSE(platform::Exists("T:escaped.txt")) << c.name;
    }

    // A bomb: a member that inflates far beyond its packed size stops the unpacking early.
    platform::unzipLimits.ratioFrom = 1 << 20;
    auto bomb = ImportMembers(bookgen::Workbook(sheet, "", {{"xl/media/zeros.bin", std::string(64 << 20, '\0')}}));
    EXPECT_EQ(20, bomb.rc);
    EXPECT_TRUE(NothingLeft());
    platform::Reset();
    platform::RemoveTemp(outside);
}

// text (UTF-8, characters below U+10000) in UTF-16, with or without a byte order mark.
static std::string Utf16(const std::string &text, bool bigendian, bool mark)
{
    std::string out;
    auto unit = [&](unsigned u) {
        out += bigendian ? (char)(u >> 8) : (char)(u & 0xFF);
        out += bigendian ? (char)(u & 0xFF) : (char)(u >> 8);
    };
    if (mark)
        unit(0xFEFF);
    for (size_t i = 0; i < text.size();) {
        unsigned char b = text[i];
        unsigned cp = b;
        if (b >= 0xE0) {
            cp = ((b & 0x0F) << 12) | ((text[i + 1] & 0x3F) << 6) | (text[i + 2] & 0x3F);
            i += 3;
        } else if (b >= 0xC0) {
            cp = ((b & 0x1F) << 6) | (text[i + 1] & 0x3F);
            i += 2;
        } else {
            i++;
        }
        unit(cp);
    }
    return out;
}

TEST_F(Import, WorkbooksWrittenInUTF16)
{
    std::string sheet = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><worksheet><sheetData>"
                        "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"inlineStr\">"
                        "<is><t>gr\xC3\xBC\xC3\x9F</t></is></c></row></sheetData></worksheet>";
    std::string sst = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><sst><si><t>caf\xC3\xA9</t></si></sst>";
    for (bool bigendian : {false, true}) {
        for (bool mark : {true, false}) {
            auto members = bookgen::Workbook(sheet, sst);
            for (auto &m : members)
                if (m.name == "xl/worksheets/sheet1.xml" || m.name == "xl/sharedStrings.xml" ||
                    m.name == "xl/_rels/workbook.xml.rels")
                    m.data = Utf16(m.data, bigendian, mark);
            auto book = ImportMembers(members);
            EXPECT_EQ(0, book.rc) << bigendian << mark;
            EXPECT_EQ("A1=caf\xE9|B1=gr\xFC\xDF", book.cells) << bigendian << mark;
        }
    }
}

TEST_F(Import, TheExampleWorkbook)
{
    auto book = testing_support::ImportFile(testing_support::SourcePath("examples/example.xlsx"));
    ASSERT_EQ(0, book.rc);
    EXPECT_NE(std::string::npos, book.cells.find("A3=Birnen & Quitten")) << book.cells;
    EXPECT_NE(std::string::npos, book.cells.find("D2==B2*C2|")) << book.cells;
    EXPECT_NE(std::string::npos, book.cells.find("D6==B6*C6|")) << book.cells;
    EXPECT_NE(std::string::npos, book.cells.find("E3==ROU(D3*(1+0.19);2)")) << book.cells;
    EXPECT_NE(std::string::npos, book.cells.find("F2==IF(C2!=0;\"in stock\";\"sold out\")")) << book.cells;
}

}  // namespace

// Texts and formulas through the sheaf command, whole up to what a spreadsheet cell keeps.
namespace {

using testing_support::SheafCells;

// A workbook whose A1 holds text as a shared string, an inline string or a value.
std::vector<bookgen::Member> TextBook(const std::string &text, int form)
{
    if (form == 0)
        return bookgen::Workbook("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\"><v>1</v></c></row>",
                                 "<si><t>" + text + "</t></si>");
    if (form == 1)
        return bookgen::Workbook("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>" + text +
                                 "</t></is></c><c r=\"B1\"><v>1</v></c></row>");
    return bookgen::Workbook("<row r=\"1\"><c r=\"A1\" t=\"str\"><v>" + text +
                             "</v></c><c r=\"B1\"><v>1</v></c></row>");
}

std::string Repeat(const std::string &s, size_t n)
{
    std::string out;
    out.reserve(s.size() * n);
    while (n-- > 0)
        out += s;
    return out;
}

TEST(LongTexts, AreWholeUpToTheLimitAndCutOnACharacter)
{
    testing_support::UseStandIn();
    const std::string a = "a", e = "\xC3\xA9", yo = "\xD1\x91";   // e acute, Cyrillic yo
    struct { const char *name; std::string text, shown; } cases[] = {
        { "1023 bytes", Repeat(a, 1023), Repeat(a, 1023) },
        { "1024 bytes", Repeat(a, 1024), Repeat(a, 1024) },
        { "1025 bytes", Repeat(a, 1025), Repeat(a, 1025) },
        { "a character across byte 1024", Repeat(a, 1023) + e + "b", Repeat(a, 1023) + e + "b" },
        { "600 Cyrillic characters", Repeat(yo, 600), Repeat("?", 600) },
        { "32767 characters", Repeat(a, 32767), Repeat(a, 32767) },
        { "32768 characters", Repeat(a, 32768), Repeat(a, 32767) },
        { "32767 two-byte characters", Repeat(e, 32767), Repeat(e, 32767) },
        { "32768 two-byte characters", Repeat(e, 32768), Repeat(e, 32767) },
        { "a reference as the last character", Repeat(a, 32766) + "&amp;", Repeat(a, 32766) + "&" },
        { "a reference past the limit", Repeat(a, 32767) + "&amp;", Repeat(a, 32767) },
        { "an escape as the last character", Repeat(a, 32766) + "_x0009_", Repeat(a, 32766) + "\t" },
        { "an escape past the limit", Repeat(a, 32767) + "_x0009_", Repeat(a, 32767) },
        { "references all along", Repeat("&lt;", 32768), Repeat("<", 32767) },
    };
    for (const auto &c : cases) {
        for (int form = 0; form < 3; form++) {
            std::string cells = SheafCells(TextBook(c.text, form));
            EXPECT_EQ("A1=" + c.shown + "|B1=1", cells)
                << c.name << " form " << form << ": " << cells.size() << " bytes";
        }
    }
}

TEST(LongTexts, FormulasAreWholeBeforeAndAfterTheirConversion)
{
    testing_support::UseStandIn();
    std::string refs = "A1" + Repeat("+A1", 2729);     // 8189 characters
    std::string sum = refs + "+BC";                      // 8192: one more, and it is cut off
    std::string moved = "A100000" + Repeat("+A100000", 2729);
    struct { const char *name; std::string sheet, cells; } cases[] = {
        { "8192 characters", "<row r=\"1\"><c r=\"C1\"><f>" + sum + "</f></c></row>", "C1==" + sum },
        { "8193 characters", "<row r=\"1\"><c r=\"C1\"><f>" + sum + "2</f></c></row>", "C1==" + sum },
        { "a shared formula that grows past 8192 when it moves",
          "<row r=\"1\"><c r=\"C1\"><f t=\"shared\" ref=\"C1:C100000\" si=\"0\">" + refs +
          "</f></c></row><row r=\"100000\"><c r=\"C100000\"><f t=\"shared\" si=\"0\"/></c></row>",
          "C1==" + refs + "|C100000==" + moved },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.cells, SheafCells(bookgen::Workbook(c.sheet))) << c.name;
}

TEST(LongTexts, ACutIsTracedWithItsCell)
{
    testing_support::UseStandIn();
    std::string dir = testing_support::TempDir(), book = dir + "/long.xlsx";
    ASSERT_TRUE(bookgen::WriteZip(book, bookgen::Workbook("<row r=\"2\"><c r=\"D2\" t=\"inlineStr\"><is><t>" +
                                                          Repeat("x", 40000) + "</t></is></c></row>")));
    auto run = testing_support::RunSheaf({"--trace", "--format", "csv", book});
    EXPECT_EQ(0, run.status);
    EXPECT_NE(std::string::npos, run.err.find("Zelle D2: Text gek\xC3\xBCrzt auf 32767 Zeichen")) << run.err.substr(0, 200);
    platform::RemoveTemp(dir);
}

// The target's stack is a few tens of KiB and overflows silently: whole imports of the
// heaviest kinds of workbook must run on a thread with 64 KiB.
#if !defined(__SANITIZE_ADDRESS__)
struct StackRun {
    std::vector<std::string> books;
    std::vector<LONG> results;
    std::vector<std::string> cells;
};

static void *ImportAll(void *arg)
{
    StackRun *run = (StackRun *)arg;
    for (const std::string &book : run->books) {
        auto imported = testing_support::ImportFile(book);
        run->results.push_back(imported.rc);
        run->cells.push_back(imported.cells);
    }
    return nullptr;
}

TEST(ImportStack, FitsInTheTargetsStack)
{
    testing_support::UseStandIn();
    const size_t size = 64 * 1024;
    std::string dir = testing_support::TempDir();
    std::string sum = "SUM(A1:A3)" + Repeat("+ROUND(A1*12%,2)", 500);
    std::vector<std::vector<bookgen::Member>> books = {
        bookgen::ExampleBook(),
        TextBook(Repeat("\xC3\xA9&amp;_x0009_", 20000), 0),
        TextBook(Repeat("x", 40000), 1),
        bookgen::Workbook("<row r=\"1\"><c r=\"A1\"><f t=\"shared\" ref=\"A1:A9\" si=\"0\">" + sum +
                          "</f></c></row><row r=\"9\"><c r=\"A9\"><f t=\"shared\" si=\"0\"/></c></row>"),
    };
    auto utf16 = bookgen::Workbook("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>", "<si><t>caf\xC3\xA9</t></si>");
    for (auto &m : utf16)
        if (m.name == "xl/worksheets/sheet1.xml" || m.name == "xl/sharedStrings.xml")
            m.data = Utf16(m.data, false, true);
    books.push_back(utf16);

    StackRun run;
    for (size_t k = 0; k < books.size(); k++) {
        run.books.push_back(dir + "/book" + std::to_string(k) + ".xlsx");
        ASSERT_TRUE(bookgen::WriteZip(run.books.back(), books[k]));
    }
    // A stack of our own, filled with a mark, shows how deep the imports went.
    std::vector<unsigned char> stack(size, 0xA5);
    pthread_attr_t attr;
    pthread_t thread;
    pthread_attr_init(&attr);
    ASSERT_EQ(0, pthread_attr_setstack(&attr, stack.data(), size));
    ASSERT_EQ(0, pthread_create(&thread, &attr, ImportAll, &run));
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);

    size_t untouched = 0;
    while (untouched < size && stack[untouched] == 0xA5)
        untouched++;
    printf("deepest stack of an import: %zu bytes\n", size - untouched);
    ASSERT_EQ(books.size(), run.results.size());
    for (size_t k = 0; k < books.size(); k++)
        EXPECT_EQ(0, run.results[k]) << run.books[k];
    EXPECT_NE(std::string::npos, run.cells[0].find("D6==B6*C6"));
    EXPECT_EQ("A1=caf\xE9", run.cells[4]);
    EXPECT_GT(untouched, size / 4) << "an import needs more than three quarters of the stack";
    platform::RemoveTemp(dir);
}
#endif

}  // namespace
