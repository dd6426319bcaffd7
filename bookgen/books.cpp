// The workbooks the project makes itself: the parts around a worksheet, the example of
// `make run`, and the large books of the benchmark.
#include "bookgen/books.h"

#include <cstdio>

namespace bookgen {

static const char *kXmlDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
static const char *kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
static const char *kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

static bool StartsWith(const std::string &s, const char *prefix)
{
    return s.rfind(prefix, 0) == 0;
}

std::vector<Member> Workbook(const std::string &sheetXml, const std::string &sharedStringsXml,
                             const std::vector<Member> &extra)
{
    std::vector<Member> m;
    bool sst = !sharedStringsXml.empty();

    m.push_back({"[Content_Types].xml",
                 std::string(kXmlDecl) +
                     "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                     "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                     "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                     "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
                     "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>" +
                     (sst ? "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>"
                          : "") +
                     "</Types>"});
    m.push_back({"_rels/.rels",
                 std::string(kXmlDecl) +
                     "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                     "<Relationship Id=\"rId1\" Type=\"" + kRel + "/officeDocument\" Target=\"xl/workbook.xml\"/>"
                     "</Relationships>"});
    m.push_back({"xl/workbook.xml",
                 std::string(kXmlDecl) + "<workbook xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel + "\">"
                     "<sheets><sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"});
    std::string rels = std::string(kXmlDecl) +
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"" + kRel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/>";
    if (sst)
        rels += "<Relationship Id=\"rId2\" Type=\"" + std::string(kRel) +
                "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
    rels += "</Relationships>";
    m.push_back({"xl/_rels/workbook.xml.rels", rels});

    if (StartsWith(sheetXml, "<?xml") || StartsWith(sheetXml, "<worksheet"))
        m.push_back({"xl/worksheets/sheet1.xml", sheetXml});
    else
        m.push_back({"xl/worksheets/sheet1.xml", std::string(kXmlDecl) + "<worksheet xmlns=\"" +
                                                     kMain + "\"><sheetData>" + sheetXml +
                                                     "</sheetData></worksheet>"});
    if (sst) {
        if (StartsWith(sharedStringsXml, "<?xml") || StartsWith(sharedStringsXml, "<sst"))
            m.push_back({"xl/sharedStrings.xml", sharedStringsXml});
        else
            m.push_back({"xl/sharedStrings.xml", std::string(kXmlDecl) + "<sst xmlns=\"" + kMain +
                                                     "\">" + sharedStringsXml + "</sst>"});
    }
    for (const Member &e : extra)
        m.push_back(e);
    return m;
}

std::vector<Member> ExampleBook()
{
    // Prices of a small shop: numbers, texts, plain formulas and a shared block in D2:D6.
    const char *items[] = {"Äpfel", "Birnen &amp; Quitten", "Käse", "Brot", "Café"};
    const char *prices[] = {"2.49", "3.2", "7.95", "3.5", "4.2"};
    const char *counts[] = {"4", "2", "1", "3", "2"};
    std::string sst = "<si><t>Item</t></si><si><t>Price</t></si><si><t>Count</t></si>"
                      "<si><t>Total</t></si><si><t>With tax</t></si><si><t>Status</t></si>";
    for (const char *item : items)
        sst += std::string("<si><t>") + item + "</t></si>";
    sst += "<si><r><rPr><b/></rPr><t>Sum</t></r><r><t xml:space=\"preserve\"> of all</t></r></si>";

    std::string sheet = "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
                        "<c r=\"C1\" t=\"s\"><v>2</v></c><c r=\"D1\" t=\"s\"><v>3</v></c>"
                        "<c r=\"E1\" t=\"s\"><v>4</v></c><c r=\"F1\" t=\"s\"><v>5</v></c></row>";
    for (int k = 0; k < 5; k++) {
        std::string r = std::to_string(k + 2);
        sheet += "<row r=\"" + r + "\">";
        sheet += "<c r=\"A" + r + "\" t=\"s\"><v>" + std::to_string(6 + k) + "</v></c>";
        sheet += "<c r=\"B" + r + "\"><v>" + prices[k] + "</v></c>";
        sheet += "<c r=\"C" + r + "\"><v>" + counts[k] + "</v></c>";
        if (k == 0)
            sheet += "<c r=\"D2\"><f t=\"shared\" ref=\"D2:D6\" si=\"0\">B2*C2</f><v>9.96</v></c>";
        else
            sheet += "<c r=\"D" + r + "\"><f t=\"shared\" si=\"0\"/><v>0</v></c>";
        sheet += "<c r=\"E" + r + "\"><f>ROUND(D" + r + "*(1+19%),2)</f><v>0</v></c>";
        sheet += "<c r=\"F" + r + "\" t=\"str\"><f>IF(C" + r + "&lt;&gt;0,\"in stock\",\"sold out\")</f>"
                 "<v>in stock</v></c>";
        sheet += "</row>";
    }
    sheet += "<row r=\"8\"><c r=\"A8\" t=\"s\"><v>11</v></c><c r=\"C8\"><f>SUM(C2:C6)</f><v>12</v></c>"
             "<c r=\"D8\"><f>SUM(D2:D6)</f><v>0</v></c><c r=\"E8\"><f>AVERAGE(E2:E6)</f><v>0</v></c></row>";
    return Workbook(sheet, sst);
}

// The parts of a workbook of several sheets: sheets as (name as written, relationship id,
// state attribute), relationships as (id, type, target).
struct SheetPart { const char *name, *rid, *state; };
struct RelPart { const char *rid, *type, *target; };

static std::string WorkbookXml(const std::vector<SheetPart> &sheets)
{
    std::string xml = std::string(kXmlDecl) + "<workbook xmlns=\"" + kMain + "\" xmlns:r=\"" +
                      kRel + "\"><sheets>";
    int id = 1;
    for (const SheetPart &s : sheets)
        xml += std::string("<sheet name=\"") + s.name + "\" sheetId=\"" + std::to_string(id++) +
               "\"" + s.state + " r:id=\"" + s.rid + "\"/>";
    return xml + "</sheets></workbook>";
}

static std::string RelsXml(const std::vector<RelPart> &rels)
{
    std::string xml = std::string(kXmlDecl) +
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (const RelPart &r : rels)
        xml += std::string("<Relationship Id=\"") + r.rid + "\" Type=\"" + kRel + "/" + r.type +
               "\" Target=\"" + r.target + "\"/>";
    return xml + "</Relationships>";
}

static std::string SheetXml(const std::string &rows)
{
    return std::string(kXmlDecl) + "<worksheet xmlns=\"" + kMain + "\"><sheetData>" + rows +
           "</sheetData></worksheet>";
}

std::vector<Member> SheetsBook()
{
    std::vector<Member> m = Workbook("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>",
                                     "<si><t>Übersicht</t></si><si><t>Q1 2024</t></si>"
                                     "<si><t>zwei</t></si><si><t>Data &amp; more</t></si>");
    for (Member &e : m) {
        if (e.name == "xl/workbook.xml")
            e.data = WorkbookXml({{"Übersicht", "rId3", ""}, {"Chart 1", "rId5", ""},
                                  {"Q1 2024", "rId1", " state=\"hidden\""},
                                  {"2", "rId2", " state=\"veryHidden\""},
                                  {"Data &amp; more", "rId4", ""}});
        else if (e.name == "xl/_rels/workbook.xml.rels")
            e.data = RelsXml({{"rId1", "worksheet", "worksheets/sheet1.xml"},
                              {"rId6", "sharedStrings", "sharedStrings.xml"},
                              {"rId2", "worksheet", "worksheets/sheet2.xml"},
                              {"rId5", "chartsheet", "chartsheets/sheet1.xml"},
                              {"rId4", "worksheet", "/xl/worksheets/sheet4.xml"},
                              {"rId3", "worksheet", "worksheets/sheet3.xml"}});
        else if (e.name == "xl/worksheets/sheet1.xml")
            e.data = SheetXml("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>1</v></c><c r=\"B1\"><v>3</v></c>"
                              "<c r=\"C1\"><f t=\"shared\" ref=\"C1:C2\" si=\"0\">B1*2</f><v>6</v></c></row>"
                              "<row r=\"2\"><c r=\"B2\"><v>4</v></c><c r=\"C2\"><f t=\"shared\" si=\"0\"/>"
                              "<v>8</v></c></row>");
    }
    m.push_back({"xl/worksheets/sheet2.xml",
                 SheetXml("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>2</v></c></row>")});
    m.push_back({"xl/worksheets/sheet3.xml",
                 SheetXml("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>"
                          "<row r=\"2\"><c r=\"B2\"><v>10</v></c><c r=\"C2\" t=\"inlineStr\">"
                          "<is><t>zehn</t></is></c></row>")});
    m.push_back({"xl/worksheets/sheet4.xml",
                 SheetXml("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>3</v></c><c r=\"B1\"><v>5</v></c>"
                          "<c r=\"C1\"><f t=\"shared\" ref=\"C1:C2\" si=\"0\">B1+100</f><v>105</v></c>"
                          "</row><row r=\"2\"><c r=\"B2\"><v>6</v></c><c r=\"C2\">"
                          "<f t=\"shared\" si=\"0\"/><v>106</v></c></row>")});
    m.push_back({"xl/chartsheets/sheet1.xml",
                 std::string(kXmlDecl) + "<chartsheet xmlns=\"" + kMain + "\"><sheetPr/></chartsheet>"});
    return m;
}

// One row of the mixed book: five numbers, three texts (F repeats, G is unique on even rows,
// H on every row: half of all texts are unique), a shared formula and a plain one.
static void MixedRow(std::string &s, long r, long rows)
{
    char buf[512];
    std::string row = std::to_string(r);
    s += "<row r=\"" + row + "\">";
    for (int k = 0; k < 5; k++) {
        snprintf(buf, sizeof(buf), "<c r=\"%c%ld\"><v>%ld.%d</v></c>", 'A' + k, r, r * (k + 3), k);
        s += buf;
    }
    snprintf(buf, sizeof(buf),
             "<c r=\"F%ld\" t=\"s\"><v>%ld</v></c><c r=\"G%ld\" t=\"s\"><v>%ld</v></c>"
             "<c r=\"H%ld\" t=\"s\"><v>%ld</v></c>",
             r, r % 100, r, r % 2 == 0 ? 107 + rows + r / 2 - 1 : 100 + r % 7, r, 107 + r - 1);
    s += buf;
    if (r == 1)
        snprintf(buf, sizeof(buf), "<c r=\"I1\"><f t=\"shared\" ref=\"I1:I%ld\" si=\"0\">SUM(A1:E1)</f><v>0</v></c>",
                 rows);
    else
        snprintf(buf, sizeof(buf), "<c r=\"I%ld\"><f t=\"shared\" si=\"0\"/><v>0</v></c>", r);
    s += buf;
    snprintf(buf, sizeof(buf), "<c r=\"J%ld\"><f>IF(A%ld&gt;B%ld,A%ld*2,ROUND(B%ld/3,2))</f><v>1</v></c>",
             r, r, r, r, r);
    s += buf;
    s += "</row>";
}

std::vector<Member> MixedBook(long rows)
{
    std::string sheet, sst;
    sheet.reserve((size_t)rows * 420);
    for (long r = 1; r <= rows; r++)
        MixedRow(sheet, r, rows);
    for (int k = 0; k < 100; k++)
        sst += "<si><t>Category " + std::to_string(k) + "</t></si>";
    for (int k = 0; k < 7; k++)
        sst += "<si><t>Region " + std::to_string(k) + "</t></si>";
    for (long r = 1; r <= rows; r++)
        sst += "<si><t>Order " + std::to_string(r * 7919 % 1000003) + " for customer " +
               std::to_string(r) + "</t></si>";
    for (long r = 2; r <= rows; r += 2)
        sst += "<si><t>Note " + std::to_string(r) + "</t></si>";
    return Workbook(sheet, sst);
}

std::vector<Member> StringsBook(long texts)
{
    std::string sheet, sst;
    char buf[128];
    long rows = (texts + 4) / 5;
    sheet.reserve((size_t)texts * 40);
    sst.reserve((size_t)texts * 48);
    for (long r = 1, n = 0; r <= rows; r++) {
        sheet += "<row r=\"" + std::to_string(r) + "\">";
        for (int k = 0; k < 5 && n < texts; k++, n++) {
            snprintf(buf, sizeof(buf), "<c r=\"%c%ld\" t=\"s\"><v>%ld</v></c>", 'A' + k, r, n);
            sheet += buf;
        }
        sheet += "</row>";
    }
    for (long n = 0; n < texts; n++)
        sst += "<si><t>Text number " + std::to_string(n) + " with Umlaut \xC3\xBC</t></si>";
    return Workbook(sheet, sst);
}

}  // namespace bookgen
