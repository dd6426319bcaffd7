// Whole imports through the module file: workbooks built here, their cells as the host got
// them, and nothing left behind.
#include <gtest/gtest.h>

#include <pthread.h>

#include "bookgen/books.h"
#include "tests/support/testing.h"

using namespace testing_support;

namespace {

class Import : public ::testing::Test {
protected:
    void SetUp() override { UseStandIn(); }
    void TearDown() override { EXPECT_TRUE(NothingLeft()); }
};

std::string Repeat(const std::string &s, size_t n)
{
    std::string out;
    while (n-- > 0)
        out += s;
    return out;
}

TEST_F(Import, EmptyAndCutSheets)
{
    auto empty = ImportSheet("<?xml version=\"1.0\"?><worksheet><sheetData/></worksheet>");
    EXPECT_EQ(0, empty.rc);
    EXPECT_EQ(1u, empty.doc.sheets.size());
    EXPECT_EQ(0u, empty.count);
    EXPECT_EQ(20, ImportSheet("<?xml version=\"1.0\"?><worksheet></worksheet>").rc);
    // The end of the file anywhere before </sheetData> fails the import.
    for (const char *cut : {"<c r=\"A1\"><v>1</v></c>", "<c r=\"A1\"", "<c r=\"A1\"><v>1</v>", "<c r=\"A1\"><v>1",
                            "<c r=\"A1\"><f>A", "<c r=\"A1\" t=\"inlineStr\"><is><t>x</t>"}) {
        EXPECT_EQ(20, ImportSheet(std::string("<worksheet><sheetData><row r=\"1\">") + cut).rc) << cut;
        EXPECT_TRUE(NothingLeft()) << cut;
    }
}

// The worksheet read is the first one the workbook lists, found through the relationships;
// cells "" for a failed import.
TEST_F(Import, FindsTheFirstWorksheetByRelationshipsOfAnyShape)
{
    using M = bookgen::Member;
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    auto r = [&](const std::string &id, const std::string &type, const std::string &target) {
        return "<Relationship Id=\"" + id + "\" Type=\"" + rel + "/" + type + "\" Target=\"" + target + "\"/>";
    };
    auto rels = [](const std::string &body) { return "<Relationships>" + body + "</Relationships>"; };
    auto sheet = [](const char *t, const char *v) {
        return std::string("<worksheet><sheetData><row r=\"1\"><c r=\"A1\" t=\"") + t + "\"><v>" + v +
               "</v></c></row></sheetData></worksheet>";
    };
    auto wb = [](const std::string &sheets) { return M{"xl/workbook.xml", "<workbook><sheets>" + sheets + "</sheets></workbook>"}; };
    auto wbrels = [&](const std::string &body) { return M{"xl/_rels/workbook.xml.rels", rels(body)}; };
    auto to = [&](const std::string &target) { return wbrels(r("rId1", "worksheet", target)); };
    auto at = [&](const std::string &name) { return M{name, sheet("str", "found")}; };
    auto root = [&](const std::string &target) { return M{"_rels/.rels", rels(r("rId1", "officeDocument", target))}; };
    const std::string first = "<sheet r:id=\"rId1\"/>", far(250, 'f');
    const M usual = {"xl/worksheets/sheet1.xml", sheet("str", "usual")}, found = at("xl/w/s.xml");
    auto listed = [&](const std::string &sheets) { return std::vector<M>{wb(sheets), to("w/s.xml"), found}; };
    struct { const char *name; std::vector<M> members; const char *cells; } cases[] = {
        { "a chart sheet first, the worksheet's strings elsewhere",
          {root("/book/main.xml"),
           {"book/main.xml", "<workbook xmlns:r=\"" + rel + "\"><sheets><sheet name=\"Chart\" r:id=\"rId3\"/>"
                             "<sheet name=\"Data\" r:id=\"rId7\"/><sheet r:id=\"rId1\"/></sheets></workbook>"},
           {"book/_rels/main.xml.rels", rels(r("rId1", "worksheet", "sheets/sheet1.xml") + r("rId3", "chartsheet", "c.xml") +
                                             r("rId7", "worksheet", "../book/sheets/data.xml") + r("rId9", "sharedStrings", "/strings/s.xml"))},
           {"book/sheets/sheet1.xml", sheet("str", "other")}, {"book/sheets/data.xml", sheet("s", "0")},
           {"strings/s.xml", "<sst><si><t>from data</t></si></sst>"}}, "A1=from data" },
        { "no worksheet listed", listed(""), "" },
        // targets resolved segment by segment, never outside the package
        { "a target from the root", {wb(first), to("/xl/w/../w/s.xml"), found}, "A1=found" },
        { "dots and backslashes", {wb(first), to("./w//.x/..\\s.xml"), found}, "A1=found" },
        { "a target above xl", {wb(first), to("../s.xml"), at("s.xml")}, "A1=found" },
        { "a dot before a step up", {wb(first), to("./../s.xml"), at("s.xml")}, "A1=found" },
        { "a target outside", {wb(first), to("../../s.xml"), at("s.xml")}, "" },
        { "a target of the root alone", {wb(first), to("/"), found}, "" },
        { "a sheet member past the room of a path", {wb(first), to(far + "/" + far + "/s.xml")}, "" },
        { "no target", {wb(first), wbrels("<Relationship Id=\"rId1\" Type=\"" + rel + "/worksheet\"/>"), found}, "" },
        { "no type", {wb(first), wbrels("<Relationship Id=\"rId1\" Target=\"w/s.xml\"/>"), found}, "" },
        // the type's last segment names the kind, in any case, however short the rest
        { "a type of the kind alone", {wb(first), wbrels("<Relationship Id=\"rId1\" Type=\"/Worksheet\" Target=\"w/s.xml\"/>"), found}, "A1=found" },
        { "a type without its slash", {wb(first), wbrels("<Relationship Id=\"rId1\" Type=\"worksheet\" Target=\"w/s.xml\"/>"), found}, "" },
        { "a type that only ends alike", {wb(first), wbrels("<Relationship Id=\"rId1\" Type=\"/xworksheet\" Target=\"w/s.xml\"/>"), found}, "" },
        // a joined path that fills its room is taken; one byte more is refused, not cut
        { "a path of the room's length", {wb(first), to(Repeat("x/../", 100) + "w/s.xml"), found}, "A1=found" },
        { "a path a byte too long", {wb(first), to(Repeat("x/../", 100) + "w///s.xml"), found, at("xl/w/s.xm")}, "" },
        { "a path of one character", {wb(first), to("/s"), at("s")}, "A1=found" },
        { "a folder of one character", {wb(first), to("/x/s.xml"), at("x/s.xml")}, "A1=found" },
        // sheet ids looked up in a table of the relationships: the first of an id counts, its case not
        { "an id given twice: a chart sheet first", {wb("<sheet r:id=\"rId2\"/>" + first),
          wbrels(r("rId2", "chartsheet", "c.xml") + r("rId2", "worksheet", "x.xml") + r("rId1", "worksheet", "w/s.xml")), found}, "A1=found" },
        { "an id given twice: a worksheet first",
          {wb(first), wbrels(r("rId1", "worksheet", "w/s.xml") + r("rId1", "worksheet", "x.xml")), found}, "A1=found" },
        { "ids in another case, many unknown before", {wb(Repeat("<sheet r:id=\"rIdX\"/>", 50) + "<sheet r:id=\"RID1\"/>"),
          wbrels(r("rIdB", "chartsheet", "c.xml") + r("rid1", "worksheet", "w/s.xml") + r("rIdA", "chartsheet", "d.xml")), found}, "A1=found" },
        { "only unknown ids", {wb(Repeat("<sheet r:id=\"rIdX\"/>", 50)), to("w/s.xml"), found}, "" },
        // the relationship id under other prefixes, or none to be had
        { "a prefix after a return", listed("<sheet\rq:id=\"rId1\"/>"), "A1=found" },
        { "a prefix after a tab", listed("<sheet\trel:id=\"rId1\"/>"), "A1=found" },
        { "look-alikes", listed("<sheet a:ix=\"1\" b:idx=\"2\"\nrel:id = \"rId1\"/>"), "A1=found" },
        { "a prefix too long", listed("<sheet " + std::string(70, 'p') + ":id=\"rId1\"/>"), "" },
        { "sheets without an id first", listed("<q:id=:sheet/><sheet name=\"A\"/><sheet r:id=\"rId9\"/>" + first), "A1=found" },
        // where the workbook part cannot be had, the usual names stand
        { "no relationships at all", {usual}, "A1=usual" },
        { "no workbook target", {{"_rels/.rels", rels("<Relationship Type=\"" + rel + "/officeDocument\"/>")}, usual}, "A1=usual" },
        { "a workbook target too long", {root("/" + std::string(600, 'x')), usual}, "A1=usual" },
        { "no room for its relationships", {root("/" + far + "/" + std::string(255, 'g') + "/w"), usual}, "A1=usual" },
        { "no room for them behind _rels", {root("/" + std::string(500, 'w')), usual}, "A1=usual" },
        // no xl/_rels/ folder at all, or a folder where its file should be
        { "a workbook without relationships", {wb(first), usual}, "A1=usual" },
        { "a folder for its relationships", {wb(first), {"xl/_rels/workbook.xml.rels/x", "x"}, usual}, "A1=usual" },
        { "shared strings past the workspace's room: the usual name, not the member cut short",
          {wb(first), wbrels(r("rId1", "worksheet", "w/s.xml") + r("rId2", "sharedStrings", far + "/" + std::string(245, 'y') + "/s.xmlx")),
           {"xl/w/s.xml", sheet("s", "0")}, {"xl/sharedStrings.xml", "<sst><si><t>usual</t></si></sst>"},
           {"xl/" + far + "/" + std::string(245, 'y') + "/s.xml", "<sst><si><t>cut</t></si></sst>"}}, "A1=usual" },
        { "shared strings outside the package: the usual name",
          {wb(first), wbrels(r("rId1", "worksheet", "w/s.xml") + r("rId2", "sharedStrings", "../../s.xml")),
           {"xl/w/s.xml", sheet("s", "0")}, {"xl/sharedStrings.xml", "<sst><si><t>usual</t></si></sst>"}}, "A1=usual" },
    };
    for (const auto &c : cases) {
        auto book = ImportMembers(c.members);
        EXPECT_EQ(*c.cells ? 0 : 20, book.rc) << c.name;
        EXPECT_EQ(c.cells, book.cells) << c.name;
        EXPECT_TRUE(NothingLeft()) << c.name;
    }
}

// A sheet's name keeps at most 255 characters, however many bytes each takes, and what ends
// it, even a reference left open.
TEST_F(Import, ASheetNameIsCutAtItsLimitAndKeepsItsEnd)
{
    struct { std::string written, shown; } cases[] = {
        { Repeat("x", 300), std::string(255, 'x') }, { Repeat("\xC3\xA9", 300), std::string(255, '\xE9') },
        { "R&D", "R&D" }, { "Q&#65", "Q&#65" }, { "A&amp;B", "A&B" },
    };
    for (const auto &c : cases) {
        std::vector<bookgen::Member> members = {
            {"xl/workbook.xml", "<workbook><sheets><sheet name=\"" + c.written + "\" r:id=\"rId1\"/></sheets></workbook>"},
            {"xl/_rels/workbook.xml.rels", "<Relationships><Relationship Id=\"rId1\" Type=\"/worksheet\" "
                                           "Target=\"s.xml\"/></Relationships>"},
            {"xl/s.xml", "<worksheet><sheetData/></worksheet>"}};
        auto list = ImportMembers(members, "book.xlsx", "LIST");
        EXPECT_EQ(0, list.rc);
        EXPECT_NE(std::string::npos, list.cells.find("B1=" + c.shown + "|")) << list.cells;
    }
}

// Shared formulas belong to their sheet: a use on the next sheet without a definition of
// its own finds none of the sheet before.
TEST_F(Import, SharedFormulasStayOnTheirSheet)
{
    auto sheet = [](const std::string &cells) {
        return "<worksheet><sheetData><row r=\"1\">" + cells + "</row></sheetData></worksheet>";
    };
    std::vector<bookgen::Member> members = {
        {"xl/workbook.xml", "<workbook><sheets><sheet name=\"One\" r:id=\"rId1\"/><sheet name=\"Two\" r:id=\"rId2\"/>"
                            "</sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels", "<Relationships><Relationship Id=\"rId1\" Type=\"/worksheet\" Target=\"a.xml\"/>"
                                       "<Relationship Id=\"rId2\" Type=\"/worksheet\" Target=\"b.xml\"/></Relationships>"},
        {"xl/a.xml", sheet("<c r=\"A1\"><f t=\"shared\" ref=\"A1:B1\" si=\"0\">C1*2</f></c><c r=\"B1\"><f t=\"shared\" si=\"0\"/></c>")},
        {"xl/b.xml", sheet("<c r=\"B1\"><f t=\"shared\" si=\"0\"/><v>7</v></c>")}};
    auto all = ImportMembers(members, "book.xlsx", "ALL");
    EXPECT_EQ(0, all.rc);
    EXPECT_EQ("[One]A1==C1*2|B1==D1*2\n[Two]B1=7", all.pages);
}

// The worksheet as UTF-16, little-endian behind a mark.
std::string Utf16(const std::u16string &text)
{
    std::string out = "\xFF\xFE";
    for (char16_t u : text)
        out += {(char)(u & 0xFF), (char)(u >> 8)};
    return out;
}

// A lone half of a pair becomes U+FFFD ("?" in the host's charset) and takes nothing after it
// along: each cell keeps its own value.
TEST_F(Import, AUtf16SheetKeepsEveryUnitAroundALoneHalf)
{
    const std::u16string rows[] = {
        u"<row r=\"1\"><c r=\"A1\" t=\"str\"><v>x\xD83D</v></c><c r=\"B1\"><v>2</v></c></row>",
        u"<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>\xD83D</t></is></c><c r=\"B2\"><v>\xDE00</v></c></row>",
        u"<row r=\"3\"><c r=\"A3\"><v>\xD83D\xD83D\xDE00</v></c><c r=\"B3\"><v>3</v></c></row>",
    };
    std::u16string sheet = u"<worksheet><sheetData>";
    for (const auto &row : rows)
        sheet += row;
    sheet += u"</sheetData></worksheet>";
    std::vector<bookgen::Member> members = bookgen::Workbook("<worksheet/>");
    for (auto &m : members)
        if (m.name == "xl/worksheets/sheet1.xml")
            m.data = Utf16(sheet);
    auto book = ImportMembers(members);
    EXPECT_EQ(0, book.rc);
    EXPECT_EQ("A1=x?|B1=2|A2=?|B2=?|A3=??|B3=3", book.cells);
}

// A workbook whose A1 holds text as a shared string (form 0), an inline string (1) or a value.
std::vector<bookgen::Member> TextBook(const std::string &text, int form)
{
    std::string a1 = form == 0 ? "<c r=\"A1\" t=\"s\"><v>0</v></c>"
                     : form == 1 ? "<c r=\"A1\" t=\"inlineStr\"><is><t>" + text + "</t></is></c>"
                                 : "<c r=\"A1\" t=\"str\"><v>" + text + "</v></c>";
    return bookgen::Workbook("<row r=\"1\">" + a1 + "<c r=\"B1\"><v>1</v></c></row>", form == 0 ? "<si><t>" + text + "</t></si>" : "");
}

// Texts through the sheaf command, whole up to what a spreadsheet cell keeps.
TEST(LongTexts, AreWholeUpToTheLimitAndCutOnACharacter)
{
    UseStandIn();
    const std::string a = "a", e = "\xC3\xA9", yo = "\xD1\x91";   // e acute, Cyrillic yo
    struct { const char *name; std::string text, shown; } cases[] = {
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
    for (const auto &c : cases)
        for (int form = 0; form < 3; form++) {
            std::string cells = SheafCells(TextBook(c.text, form));
            EXPECT_EQ("A1=" + c.shown + "|B1=1", cells) << c.name << " form " << form << ": " << cells.size() << " bytes";
        }
}

// The walk's worked example: A1 a value, B1 a shared string, C1 a formula with its cached
// value, then an empty row. The whole trace, line by line: each test of the walk where it
// decides, each read with what the buffer held before.
TEST(WalkTrace, TheWorkedExampleLineByLine)
{
    UseStandIn();
    std::string dir = TempDir(), book = dir + "/walk.xlsx";
    ASSERT_TRUE(bookgen::WriteZip(book, bookgen::Workbook(
        "<row r=\"1\"><c r=\"A1\"><v>5</v></c><c r=\"B1\" t=\"s\"><v>0</v></c>"
        "<c r=\"C1\"><f>A1*2</f><v>10</v></c></row><row r=\"2\"/>",
        "<sst><si><t>first</t></si></sst>")));
    auto run = RunSheaf({"--trace", "--format", "csv", book});
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("5,first,=A1*2\n", run.out);
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = run.err.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string line = run.err.substr(at, end - at);
        for (size_t k; (k = line.find(book)) != std::string::npos;)
            line.replace(k, book.size(), "BOOK");
        if (line.rfind("GetImportantData: 0x", 0) == 0)
            line = "GetImportantData: ADDRESS";
        lines.push_back(line);
    }
    std::vector<std::string> expected = {
        "Systemdaten einlesen", "GetImportantData", "GetImportantData: ADDRESS",
        "Enviroment \xC3\xB6" "ffnen", "Dateiname: BOOK", "Verzeichnis T:XLS erstellt.",
        "Kommando: c:unzip \"BOOK\" -d T:XLS 0", "Load-Enviroment erstellt.",
        "Tabellen-Datei \xC3\xB6" "ffnen", "Arbeitsmappe: xl/workbook.xml",
        "Texte: T:XLS/xl/sharedStrings.xml",
        "ReadSharedStrings:Datei T:XLS/xl/sharedStrings.xml ge\xC3\xB6" "ffnet",
        "GetXMLText()", "GetXMLValue()", "id=000 Text=<first>", "",
        "FindXMLSection4: FALSE", "Datei T:XLS/xl/worksheets/sheet1.xml ge\xC3\xB6" "ffnet",
        "Tabulon Seite erstellen", "XLS-Datei verarbeiten",
        "Zeilenwert=1",
        // A1: the value; the buffer last held the shared string
        "CheckofSection  : f FALSE", "GetXMLValue(first)",
        "CheckofSection  : /row FALSE", "GetXMLValue(5)",           // B1: the index
        "CheckofSection  : /row FALSE", "CheckofSection  : f TRUE",  // C1: the formula
        "GetXMLValue()", "GetXMLValue(0)",                          //   and its cached value
        "CheckofSection  : /row TRUE", "CheckofSection  : /sheetData FALSE",
        "Zeilenwert=2", "CheckofSection  : /sheetData TRUE",
        "FreeSharedData(0)",
    };
    EXPECT_EQ(expected, lines) << run.err;
    platform::RemoveTemp(dir);
}

// The formula steps trace what they did, in order: the pieces of a call, each percent with
// its number, a shared formula's use that finds no definition.
TEST(WalkTrace, FormulaStepsSayWhatTheyDid)
{
    UseStandIn();
    std::string dir = TempDir(), book = dir + "/formulas.xlsx";
    ASSERT_TRUE(bookgen::WriteZip(book, bookgen::Workbook(
        "<row r=\"1\"><c r=\"A1\"><v>5</v></c><c r=\"B1\"><f>ROUND(A1*(1+19%),2)</f></c>"
        "<c r=\"C1\"><f>A1%</f></c></row><row r=\"2\"><c r=\"A2\"><f t=\"shared\" si=\"7\"/></c></row>")));
    auto run = RunSheaf({"--trace", "--format", "csv", book});
    EXPECT_EQ(0, run.status);
    size_t at = 0;
    for (const char *line : {"TranslateFormula: <> <=ROUND(A1*(1+19%);2)> <=ROUND(A1*(1+19%);2)>\n",
                             "SeperateFunction: <=ROUND(> 6 0\n",
                             "TranslateFormula: <=ROU(A1*(1+19%);2)> <> <=ROU(A1*(1+19%);2)>\n",
                             "Procent=19% Number=0.19\n",
                             "Procent=A1% Number=(/100)\n", "\nUse Shared Formula\n", "<<<Fehlerfang>>>\n"}) {
        at = run.err.find(line, at);
        ASSERT_NE(std::string::npos, at) << line << "in order in\n" << run.err;
    }
    platform::RemoveTemp(dir);
}

// Where no worksheet is taken, the trace says so, with the name asked for.
TEST(WalkTrace, SaysWhenNoWorksheetIsTaken)
{
    UseStandIn();
    std::string dir = TempDir(), book = dir + "/sheets.xlsx", charts = dir + "/charts.xlsx";
    auto members = bookgen::SheetsBook();
    ASSERT_TRUE(bookgen::WriteZip(book, members));
    for (auto &m : members)
        if (m.name == "xl/workbook.xml")
            m.data = "<workbook><sheets><sheet name=\"Chart 1\" r:id=\"rId5\"/></sheets></workbook>";
    ASSERT_TRUE(bookgen::WriteZip(charts, members));
    struct { std::vector<std::string> args; const char *line; } cases[] = {
        { {"--sheet", "Nope", book}, "\nKein Arbeitsblatt \"Nope\"\n" },
        { {"--sheet", "9", book}, "\nKein Arbeitsblatt \"9\"\n" },
        { {charts}, "\nKein Arbeitsblatt\n" },
        { {"--format", "jsonl", "--all-sheets", charts}, "\nKein Arbeitsblatt\n" },
    };
    for (auto &c : cases) {
        c.args.insert(c.args.begin(), "--trace");
        auto run = RunSheaf(c.args);
        EXPECT_EQ(1, run.status) << c.line;
        EXPECT_NE(std::string::npos, run.err.find(c.line)) << run.err;
    }
    platform::RemoveTemp(dir);
}

// The target's stack is a few tens of KiB and overflows silently: whole imports of the
// heaviest kinds of workbook must run on a thread with 64 KiB.
#if !defined(__SANITIZE_ADDRESS__)
struct StackRun { std::vector<std::string> books; std::vector<Imported> imports; };

TEST(ImportStack, FitsInTheTargetsStack)
{
    UseStandIn();
    const size_t size = 64 * 1024;
    std::string dir = TempDir(), sum = "SUM(A1:A3)" + Repeat("+ROUND(A1*12%,2)", 500);
    std::vector<std::vector<bookgen::Member>> books = {
        bookgen::ExampleBook(),
        TextBook(Repeat("\xC3\xA9&amp;_x0009_", 20000), 0),
        TextBook(Repeat("x", 40000), 1),
        bookgen::Workbook("<row r=\"1\"><c r=\"A1\"><f t=\"shared\" ref=\"A1:A9\" si=\"0\">" + sum +
                          "</f></c></row><row r=\"9\"><c r=\"A9\"><f t=\"shared\" si=\"0\"/></c></row>"),
        bookgen::Workbook("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>", "x"),
    };
    for (auto &m : books.back())     // both parts in UTF-16
        if (m.name == "xl/worksheets/sheet1.xml")
            m.data = Utf16(std::u16string(m.data.begin(), m.data.end()));   // ASCII
        else if (m.name == "xl/sharedStrings.xml")
            m.data = Utf16(u"<sst><si><t>caf\xE9</t></si></sst>");
    StackRun run;
    for (const auto &members : books) {
        run.books.push_back(dir + "/book" + std::to_string(run.books.size()) + ".xlsx");
        ASSERT_TRUE(bookgen::WriteZip(run.books.back(), members));
    }
    // A stack of our own, filled with a mark, shows how deep the imports went.
    std::vector<unsigned char> stack(size, 0xA5);
    pthread_attr_t attr;
    pthread_t thread;
    pthread_attr_init(&attr);
    ASSERT_EQ(0, pthread_attr_setstack(&attr, stack.data(), size));
    auto importAll = [](void *arg) -> void * {
        for (const std::string &book : ((StackRun *)arg)->books)
            ((StackRun *)arg)->imports.push_back(ImportFile(book));
        return nullptr;
    };
    ASSERT_EQ(0, pthread_create(&thread, &attr, importAll, &run));
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);

    size_t untouched = 0;
    while (untouched < size && stack[untouched] == 0xA5)
        untouched++;
    printf("deepest stack of an import: %zu bytes\n", size - untouched);
    ASSERT_EQ(books.size(), run.imports.size());
    for (size_t k = 0; k < books.size(); k++)
        EXPECT_EQ(0, run.imports[k].rc) << run.books[k];
    EXPECT_NE(std::string::npos, run.imports[0].cells.find("D6==B6*C6"));
    EXPECT_EQ("A1=caf\xE9", run.imports[4].cells);
    EXPECT_GT(untouched, size / 4) << "an import needs more than three quarters of the stack";
    platform::RemoveTemp(dir);
}
#endif

}  // namespace
