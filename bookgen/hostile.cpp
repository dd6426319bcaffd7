// The largest of the hostile workbooks, made here so that the tests can stay small and the
// benchmark runs these: lookups at scale and a member in UTF-16 that grows as UTF-8.
#include "bookgen/books.h"

#include <cstdio>

namespace bookgen {

static const char *kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::vector<Member> SharedFormulaBook(long definitions, long uses, unsigned long firstSi)
{
    std::string sheet;
    char buf[256];
    sheet.reserve((size_t)(definitions + uses) * 64);
    // Definitions, each of its own si, in the first row and on in rows without numbers; then
    // the uses of the first, which a walk from the latest definition meets last.
    sheet += "<row r=\"1\">";
    for (long k = 0; k < definitions && k < 16384; k++) {
        snprintf(buf, sizeof(buf), "<c><f t=\"shared\" ref=\"A1:A2\" si=\"%lu\">%ld+1</f></c>",
                 firstSi + (unsigned long)k, k);
        sheet += buf;
    }
    sheet += "</row>";
    for (long k = 16384; k < definitions; k++) {
        snprintf(buf, sizeof(buf), "<row><c><f t=\"shared\" ref=\"A1:A2\" si=\"%lu\">%ld+1</f></c></row>",
                 firstSi + (unsigned long)k, k);
        sheet += buf;
    }
    for (long k = 0; k < uses; k++) {
        snprintf(buf, sizeof(buf), "<row r=\"%ld\"><c r=\"B%ld\"><f t=\"shared\" si=\"%lu\"/></c></row>",
                 k + 2, k + 2, firstSi);
        sheet += buf;
    }
    return Workbook(sheet);
}

std::vector<Member> UnknownSheetsBook(long sheets)
{
    std::vector<Member> book = Workbook("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>");
    std::string list = "<sheets>", rels;
    for (long k = 0; k < sheets; k++) {
        list += "<sheet name=\"S" + std::to_string(k) + "\" sheetId=\"" + std::to_string(k + 2) +
                "\" r:id=\"rIdNone" + std::to_string(k) + "\"/>";
        rels += "<Relationship Id=\"rIdChart" + std::to_string(k) + "\" Type=\"" + kRel +
                "/chartsheet\" Target=\"chartsheets/sheet" + std::to_string(k) + ".xml\"/>";
    }
    list += "<sheet name=\"Last\" sheetId=\"1\" r:id=\"rId1\"/></sheets>";
    for (Member &m : book) {
        if (m.name == "xl/workbook.xml")
            m.data.replace(m.data.find("<sheets>"), m.data.find("</sheets>") + 9 - m.data.find("<sheets>"),
                           list);
        if (m.name == "xl/_rels/workbook.xml.rels")
            m.data.insert(m.data.find("<Relationship "), rels);
    }
    return book;
}

std::vector<Member> WideBook(long spaces)
{
    std::string text = "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row>", wide;
    wide.reserve((size_t)(spaces + 64) * 2);
    wide += "\xFF\xFE";
    for (char c : text)
        wide += {c, '\0'};
    for (long k = 0; k < spaces; k++)
        wide.append("\x00\x30", 2);
    for (char c : std::string("</sheetData></worksheet>"))
        wide += {c, '\0'};
    std::vector<Member> book = Workbook("<worksheet/>");
    for (Member &m : book)
        if (m.name == "xl/worksheets/sheet1.xml")
            m.data = wide;
    return book;
}

}  // namespace bookgen
