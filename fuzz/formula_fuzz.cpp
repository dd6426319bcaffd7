// Formula conversion, straight and through the reading of shared formulas from cells. The
// output must start with "=", end within its buffer (a heap block of exactly its size),
// stay well-formed UTF-8 when the input was, and turn a plain number with "%" into that
// number divided by 100, exactly.
//
// The input: a header of ten bytes, then the text.
//   byte 0      the code set
//   byte 1      bit 0 the text is XML of cells (else a formula text)
//   bytes 2-3   output buffer, 1 to 65536 bytes
//   bytes 4-6   rows to move by, signed
//   bytes 7-8   columns to move by, signed
//   byte 9      si of the shared formula: 0 to 127, or past 1048576, where the module stops
//               indexing definitions
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "formula/formula.h"
#include "fuzz/setup.h"
#include "module/import.h"

static const size_t HEADER = 10;
// Formulas hold at most FORMULA_MAXCHARS characters; a longer text is cut before reading.
static const size_t MOST_TEXT = 4096;

// The text of a buffer of exactly size bytes, checked to end within it.
static std::string_view Ended(const char *what, const char *buf, uint32_t size)
{
    const char *end = (const char *)memchr(buf, '\0', size);
    if (end == nullptr)
        FuzzViolated(what, "not terminated within its buffer");
    return std::string_view(buf, (size_t)(end - buf));
}

static void CheckStart(const char *what, std::string_view out, uint32_t size)
{
    if (size > 1 && (out.empty() || out[0] != '='))
        FuzzViolated(what, out);
}

// A decimal literal as its significant digits and the power of ten of the last one: "012.50"
// is ("125", -1), "0" is ("", 0).
struct Decimal {
    std::string digits;
    long        exponent = 0;
    bool operator==(const Decimal &other) const = default;
};

static Decimal ReadDecimal(std::string_view lit)
{
    Decimal d;
    size_t point = lit.find('.');
    std::string all(lit.substr(0, point));
    if (point != std::string_view::npos)
        all += lit.substr(point + 1);
    long fraction = point == std::string_view::npos ? 0 : (long)(lit.size() - point - 1);
    size_t first = all.find_first_not_of('0');
    if (first == std::string::npos)
        return d;
    size_t last = all.find_last_not_of('0');
    d.digits = all.substr(first, last - first + 1);
    d.exponent = (long)(all.size() - 1 - last) - fraction;
    return d;
}

// lit (digits, at most one point, at least one digit) with "%": the result is lit divided by
// 100, as a literal with no leading zeros but one "0" below 1 and no trailing zeros behind
// a point; a literal too long to rewrite may stand divided as "(lit/100)".
static void CheckPercent(std::string_view lit, int32 drow, int32 dcol)
{
    char out[512];
    std::string in = std::string(lit) + "%";

    if (!ConvertFormula(in.c_str(), out, sizeof(out), drow, dcol))
        FuzzViolated("a percent did not fit", in);
    std::string_view result(out);
    if (result == "=(" + std::string(lit) + "/100)")
        return;
    if (result.size() < 2 || result[0] != '=')
        FuzzViolated("a percent lost its \"=\"", result);
    std::string_view number = result.substr(1);
    if (number.find_first_not_of("0123456789.") != std::string_view::npos ||
        number.find('.') != number.rfind('.') || number.front() == '.' || number.back() == '.' ||
        (number.size() > 1 && number[0] == '0' && number[1] != '.') ||
        (number.find('.') != std::string_view::npos && number.back() == '0'))
        FuzzViolated("a percent of a number is no plain number", result);
    Decimal expect = ReadDecimal(lit), got = ReadDecimal(number);
    if (!expect.digits.empty())
        expect.exponent -= 2;
    if (!(got == expect))
        FuzzViolated("a percent of a number is not the number divided by 100", in);
}

// A plain number literal of the input's digits and first point, when it has one.
static std::string Literal(std::string_view text)
{
    std::string lit;
    bool point = false, digit = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            lit += c;
            digit = true;
        } else if (c == '.' && !point) {
            lit += c;
            point = true;
        }
    }
    return digit ? lit : "";
}

// The text as XML character data that reads back as the same text.
static std::string Escaped(std::string_view text)
{
    std::string xml;
    for (char c : text) {
        if (c == '&')
            xml += "&amp;";
        else if (c == '<')
            xml += "&lt;";
        else if (c == '>')
            xml += "&gt;";
        else if (c == '\r')
            xml += "&#13;";
        else
            xml += c;
    }
    return xml;
}

// The import of the run at hand: its shared formulas and its formula text.
static std::unique_ptr<ImportState> state = std::make_unique<ImportState>();
static SharedFormulas &formulas = state->formulas;

// Walks the cells of xml as the sheet walk does, converting every formula into out; calls
// seen(row, col, formula) for each. Leaves the shared definitions it read for the caller to
// free.
template <typename Seen>
static void ReadCells(std::string_view xml, char *out, uint32_t size, Seen seen)
{
    char tag[XML_BUFSIZE], value[XML_BUFSIZE];
    BOOL complete = FALSE;
    uint32 row = 1, col = 0, crow, ccol;

    XMLFile *fp = OpenXMLStream(platform::MemoryFile(xml, 256));
    if (fp == nullptr)
        FuzzViolated("no stream over the input");
    for (int k = 0; k < 4096 && FindXMLSection(fp, "", sizeof(tag), tag, &complete); k++) {
        if (TagIs(tag, "c")) {
            GetSectionParameter("r=", tag, sizeof(value), value);
            GetRowColumnNumber(value, &crow, &ccol);
            if (crow == 0 || ccol == 0 || crow > MAX_ROW || ccol > MAX_COL) {
                crow = row;
                ccol = col + 1;
            }
            row = crow;
            col = ccol;
        } else if (TagIs(tag, "f")) {
            if (!GetXMLFormula(state.get(), fp, tag, complete, out, size, row, col))
                FuzzViolated("a formula ran out of memory");
            seen(row, col, Ended("a formula read from a cell", out, size));
        }
    }
    CloseXMLStream(fp);
}

// A shared formula of text defined at one cell and used at another that lies (drow, dcol)
// away: the use reads as the text moved by as much, the definition as the text unmoved.
static void CheckShared(std::string_view text, int32 drow, int32 dcol, uint32 si,
                        char *out, uint32_t size)
{
    auto clamp = [](int32 d, int32 most) { return d > most ? most : d < -most ? -most : d; };
    drow = clamp(drow, (int32)MAX_ROW - 1);
    dcol = clamp(dcol, (int32)MAX_COL - 1);
    uint32 r0 = drow >= 0 ? 1 : 1 - drow, c0 = dcol >= 0 ? 1 : 1 - dcol;
    uint32 r1 = r0 + drow, c1 = c0 + dcol;
    char from[16], to[16];
    SetRowColumnNumber(from, r0, c0);
    SetRowColumnNumber(to, r1, c1);
    std::string number = std::to_string(si);
    std::string xml = std::string("<row><c r=\"") + from + "\"><f t=\"shared\" ref=\"" + from +
                      ":" + to + "\" si=\"" + number + "\">" + Escaped(text) +
                      "</f><v>1</v></c><c r=\"" + to + "\"><f t=\"shared\" si=\"" + number +
                      "\"/><v>1</v></c></row>";

    std::unique_ptr<char[]> expect(new char[size]);
    std::string defined, used;
    int cells = 0;
    ReadCells(xml, out, size, [&](uint32 row, uint32 col, std::string_view formula) {
        if (cells++ == 0 && (row != r0 || col != c0))
            FuzzViolated("the defining cell is not where it was written", xml);
        (cells == 1 ? defined : used) = formula;
    });
    if (cells != 2)
        FuzzViolated("a shared formula was not read from both its cells", xml);
    std::string source(text);
    ConvertFormula(source.c_str(), expect.get(), size, 0, 0);
    ConvertCharset(expect.get(), expect.get(), size);
    if (defined != expect.get())
        FuzzViolated("a shared formula's definition reads otherwise than its text", xml);
    ConvertFormula(source.c_str(), expect.get(), size, (int32)(r1 - r0), (int32)(c1 - c0));
    ConvertCharset(expect.get(), expect.get(), size);
    if (used != expect.get())
        FuzzViolated("a shared formula's use reads otherwise than its text moved", xml);
}

// What GetXMLFormula kept for this import: freed as the driver frees it, and nothing may
// be left.
static void FreeFormulas(const tabulon::Document &doc)
{
    APTR pool = formulas.pool;
    EndSharedFormulas(&formulas);
    IExec->DeletePool(pool);
    FuzzNothingHeld("the formulas were freed");
    if (doc.liveStrings != 0)
        FuzzViolated("a shared formula's text is left");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!FuzzBegin(data, size, HEADER))
        return 0;
    uint8_t options = data[1];
    uint32_t outsize = 1 + ((uint32_t)data[2] << 8 | data[3]);
    int32 drow = (int32)((uint32_t)data[4] << 24 | (uint32_t)data[5] << 16 |
                         (uint32_t)data[6] << 8) >> 8;
    int32 dcol = (int16_t)((uint16_t)data[7] << 8 | data[8]);
    uint32 si = data[9] < 128 ? data[9] : 1048576u + data[9];
    std::string_view body((const char *)data + HEADER, std::min(size - HEADER, MOST_TEXT));
    std::unique_ptr<char[]> out(new char[outsize]);
    // A document makes a large block for its first string: one serves many runs, since
    // every string a run makes is given back before the next.
    static std::unique_ptr<tabulon::Document> docs;
    static unsigned runs;
    if (docs == nullptr || ++runs % 4096 == 0)
        docs = std::make_unique<tabulon::Document>();
    tabulon::Document &doc = *docs;

    tabulon::SetCurrentDocument(&doc);
    // As the driver starts an import, but with small puddles: one of the driver's 2 MiB a
    // run would cost twenty times the conversion.
    APTR pool = IExec->CreatePool(MEMF_PRIVATE, 65536, 2048);
    if (pool == nullptr)
        FuzzViolated("no pool for the shared formulas");
    BeginSharedFormulas(&formulas, pool);
    if (options & 1) {
        ReadCells(body, out.get(), outsize, [&](uint32, uint32, std::string_view formula) {
            if (!formula.empty())
                CheckStart("a formula read from a cell does not start with \"=\"", formula,
                           outsize);
        });
        FreeFormulas(doc);
        return 0;
    }

    // A formula text ends at its first NUL, as the scanner's buffers do.
    std::string text(body.substr(0, body.find('\0')));
    bool utf8 = FuzzUtf8(text);
    ConvertFormula(text.c_str(), out.get(), outsize, drow, dcol);
    std::string_view converted = Ended("a converted formula", out.get(), outsize);
    CheckStart("a converted formula does not start with \"=\"", converted, outsize);
    if (utf8 && !FuzzUtf8(converted))
        FuzzViolated("a formula of well-formed UTF-8 came out malformed", converted);

    std::string lit = Literal(text);
    if (!lit.empty() && lit.size() < 200)
        CheckPercent(lit, drow, dcol);
    if (text.size() > 1 && text.back() == '%' && Literal(text) == text.substr(0, text.size() - 1))
        CheckPercent(std::string_view(text).substr(0, text.size() - 1), drow, dcol);

    if (utf8 && !text.empty())
        CheckShared(text, drow, dcol, si, out.get(), outsize);

    // Codes are never longer than the names they stand for.
    std::string translated = text;
    TranslateFormula(translated.data());
    if (strlen(translated.c_str()) > text.size())
        FuzzViolated("a translated formula grew", translated);
    FreeFormulas(doc);
    return 0;
}
