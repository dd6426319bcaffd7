// The views of a sheet: a grid as a spreadsheet shows it, csv and tsv rectangles from A1,
// and one JSON line per cell. Texts leave the host's 8-bit charset as UTF-8.
#include "tabulon/host.h"

#include <cstring>
#include <iconv.h>

#include "platform/platform.h"

namespace tabulon {

static const ULONG GRID_CAP = 24;    // widest column of the grid, in characters
static const ULONG GRID_GAP = 20;    // longer runs of empty rows shrink to one mark line
static const char  CUT[] = "\xE2\x80\xA6";   // the mark of a cut text and of a gap

// What each 8-bit code turns into on the way out: up to 7 bytes, and whether it forces a
// csv field into quotes.
struct Recode {
    unsigned char len[256];
    char          bytes[256][7];
    bool          special[256];
    bool          asis[256];     // written as the byte itself, and forces no quotes; not NUL
};

enum class Style { Plain, Json, CsvQuoted, Tsv, Grid };

// A code point as UTF-8, by iconv: a code point the charset lacks, or none at all, shows as
// U+FFFD. out has room for 4 bytes.
static int EncodeUtf8(ULONG cp, char *out)
{
    static iconv_t utf8 = iconv_open("UTF-8", "WCHAR_T");
    wchar_t wide = (wchar_t)(cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ? 0xFFFD : cp);
    char *in = (char *)&wide, *to = out;
    size_t inleft = sizeof(wide), outleft = 4;
    if (utf8 == (iconv_t)-1 || iconv(utf8, &in, &inleft, &to, &outleft) == (size_t)-1) {
        out[0] = '?';
        return 1;
    }
    return (int)(to - out);
}

// The JSON escape of a quote, backslash or control character into out (room for 6 bytes);
// its length, 0 when cp needs none.
static int JsonEscape(ULONG cp, char *out)
{
    static const char hex[] = "0123456789abcdef";
    char named = 0;
    switch (cp) {
    case '"':  named = '"'; break;
    case '\\': named = '\\'; break;
    case '\n': named = 'n'; break;
    case '\r': named = 'r'; break;
    case '\t': named = 't'; break;
    case '\b': named = 'b'; break;
    case '\f': named = 'f'; break;
    }
    if (named != 0) {
        out[0] = '\\';
        out[1] = named;
        return 2;
    }
    if (cp == 0 || cp >= 0x20)
        return 0;
    const char u[6] = {'\\', 'u', '0', '0', hex[cp >> 4], hex[cp & 15]};
    memcpy(out, u, sizeof(u));
    return 6;
}

static void BuildRecode(ULONG codeset, Style style, Recode &r)
{
    const ULONG *map = platform::CharsetMap(codeset);
    for (int b = 0; b < 256; b++) {
        ULONG cp = map != nullptr ? map[b] : (ULONG)b;
        char *out = r.bytes[b];
        int n = 0;     // the length of an escape
        r.special[b] = cp == ',' || cp == '"' || cp == '\r' || cp == '\n';
        switch (style) {
        case Style::Json:
            n = JsonEscape(cp, out);
            break;
        case Style::CsvQuoted:
            if (cp == '"') {
                memcpy(out, "\"\"", 2);
                n = 2;
            }
            break;
        case Style::Tsv:
            if (cp == '\t' || cp == '\r' || cp == '\n')
                cp = ' ';
            break;
        case Style::Grid:
            if (cp > 0 && cp < 0x20)
                cp = ' ';
            break;
        case Style::Plain:
            break;
        }
        r.len[b] = (unsigned char)(n > 0 ? n : EncodeUtf8(cp, out));
        r.asis[b] = b != 0 && r.len[b] == 1 && (unsigned char)out[0] == b && !r.special[b];
    }
}

// Output in large chunks: one fwrite per 64 KiB whatever the number of cells.
class Writer {
public:
    explicit Writer(FILE *out) : out_(out) {}
    ~Writer() { Flush(); }
    void Flush()
    {
        if (pos_ > 0)
            fwrite(buf_, 1, pos_, out_);
        pos_ = 0;
    }
    void Room(size_t n)
    {
        if (pos_ + n > sizeof(buf_))
            Flush();
    }
    void Put(const char *s, size_t n)
    {
        if (n > sizeof(buf_)) {
            Flush();
            fwrite(s, 1, n, out_);
            return;
        }
        Room(n);
        memcpy(buf_ + pos_, s, n);
        pos_ += n;
    }
    void Put(const char *s) { Put(s, strlen(s)); }
    void Put(char c)
    {
        Room(1);
        buf_[pos_++] = c;
    }
    void Repeat(char c, size_t n)
    {
        while (n > 0) {
            Room(1);
            size_t k = sizeof(buf_) - pos_ < n ? sizeof(buf_) - pos_ : n;
            memset(buf_ + pos_, c, k);
            pos_ += k;
            n -= k;
        }
    }
    void Number(ULONG n)
    {
        char digits[12];
        int i = sizeof(digits);
        do {
            digits[--i] = (char)('0' + n % 10);
            n /= 10;
        } while (n > 0);
        Put(digits + i, sizeof(digits) - i);
    }
    // The first count bytes of text through the table.
    void Text(const char *text, size_t count, const Recode &r)
    {
        const unsigned char *p = (const unsigned char *)text;
        // Room for the worst case once, when a text is short enough for it.
        bool roomy = count * 7 <= sizeof(buf_);
        if (roomy)
            Room(count * 7);
        for (size_t i = 0; i < count; i++) {
            unsigned char b = p[i];
            if (!roomy)
                Room(7);
            if (r.len[b] == 1)
                buf_[pos_++] = r.bytes[b][0];
            else {
                memcpy(buf_ + pos_, r.bytes[b], r.len[b]);
                pos_ += r.len[b];
            }
        }
    }
private:
    FILE  *out_;
    size_t pos_ = 0;
    char   buf_[1 << 16];
};

// Column letters into name (room for 4 bytes: XFD is the last column a workbook has, but
// a ULONG column needs 7); their count.
static int ColumnLetters(ULONG col, char *name)
{
    char rev[8];
    int n = 0;
    while (col > 0 && n < (int)sizeof(rev)) {
        col--;
        rev[n++] = (char)('A' + col % 26);
        col /= 26;
    }
    for (int i = 0; i < n; i++)
        name[i] = rev[n - 1 - i];
    return n;
}

std::string CellName(ULONG row, ULONG col)
{
    char letters[8];
    int n = ColumnLetters(col, letters);
    return std::string(letters, n) + std::to_string(row);
}

std::string ToUtf8(const char *text, ULONG codeset)
{
    std::string utf8;
    if (text == nullptr)
        return utf8;
    Recode r;
    BuildRecode(codeset, Style::Plain, r);
    for (const unsigned char *p = (const unsigned char *)text; *p != 0; p++)
        utf8.append(r.bytes[*p], r.len[*p]);
    return utf8;
}

// A sheet whose cells the module made in row-major order, each position once, read in
// place: no copy of a million cells to print them.
class InPlace {
public:
    explicit InPlace(const Sheet &sheet) : sheet_(sheet) {}
    size_t size() const { return sheet_.cells.size(); }
    PlacedCell operator[](size_t i) const
    {
        const StoredCell &c = sheet_.cells[i];
        const char *text = sheet_.TextOf(i);
        return PlacedCell{c.row, c.col, text != nullptr ? text : ""};
    }
private:
    const Sheet &sheet_;
};

template <class Cells>
static ULONG LastColumn(const Cells &cells)
{
    ULONG last = 0;
    for (size_t i = 0; i < cells.size(); i++)
        if (cells[i].col > last)
            last = cells[i].col;
    return last;
}

template <class Cells>
static void ShowJsonl(const Cells &cells, ULONG codeset, Writer &w, const char *sheet)
{
    Recode r;
    BuildRecode(codeset, Style::Json, r);
    for (size_t i = 0; i < cells.size(); i++) {
        const PlacedCell c = cells[i];
        char letters[8];
        int n = ColumnLetters(c.col, letters);
        if (sheet != nullptr) {
            w.Put("{\"sheet\":\"", 10);
            w.Text(sheet, strlen(sheet), r);
            w.Put("\",\"ref\":\"", 9);
        } else {
            w.Put("{\"ref\":\"", 8);
        }
        w.Put(letters, n);
        w.Number(c.row);
        w.Put("\",\"row\":", 8);
        w.Number(c.row);
        w.Put(",\"col\":", 7);
        w.Number(c.col);
        w.Put(",\"text\":\"", 9);
        w.Text(c.text, strlen(c.text), r);
        w.Put("\"}\n", 3);
    }
}

// The rectangle from A1 to the last used row and column, streamed a row at a time.
template <class Cells>
static void ShowSeparated(const Cells &cells, bool csv, ULONG codeset, Writer &w)
{
    Recode plain, quoted;
    BuildRecode(codeset, csv ? Style::Plain : Style::Tsv, plain);
    BuildRecode(codeset, Style::CsvQuoted, quoted);
    const char sep = csv ? ',' : '\t';
    ULONG lastRow = cells.size() == 0 ? 0 : cells[cells.size() - 1].row;
    ULONG lastCol = LastColumn(cells);

    size_t i = 0;
    for (ULONG row = 1; row <= lastRow; row++) {
        ULONG seps = 0;
        for (PlacedCell c{}; i < cells.size() && (c = cells[i]).row == row; i++) {
            w.Repeat(sep, c.col - 1 - seps);
            seps = c.col - 1;
            // Most texts go out as they stand: found in one pass, copied in one go. So does
            // the head of the others, which needs no quotes and reads the same in both tables.
            const unsigned char *p = (const unsigned char *)c.text;
            while (plain.asis[*p])
                p++;
            size_t head = (size_t)(p - (const unsigned char *)c.text);
            if (*p == '\0') {
                w.Put(c.text, head);
                continue;
            }
            size_t len = head + strlen((const char *)p);
            bool quote = false;
            if (csv)
                for (size_t k = head; k < len && !quote; k++)
                    quote = plain.special[(unsigned char)c.text[k]];
            if (quote)
                w.Put('"');
            w.Put(c.text, head);
            w.Text(c.text + head, len - head, quote ? quoted : plain);
            if (quote)
                w.Put('"');
        }
        w.Repeat(sep, lastCol - 1 - seps);
        w.Put('\n');
    }
}

static bool LooksNumeric(const char *s)
{
    bool digit = false;
    if (*s == '-' || *s == '+')
        s++;
    while (*s >= '0' && *s <= '9') {
        s++;
        digit = true;
    }
    if (*s == '.')
        for (s++; *s >= '0' && *s <= '9'; s++)
            digit = true;
    if (digit && (*s == 'e' || *s == 'E')) {
        s++;
        if (*s == '-' || *s == '+')
            s++;
        if (!(*s >= '0' && *s <= '9'))
            return false;
        while (*s >= '0' && *s <= '9')
            s++;
    }
    return digit && *s == '\0';
}

static int Digits(ULONG n)
{
    int d = 1;
    while (n >= 10) {
        n /= 10;
        d++;
    }
    return d;
}

// The row number right-aligned in the gutter, or the gap mark.
static void Gutter(Writer &w, int gutter, ULONG row)
{
    if (row == 0) {
        w.Repeat(' ', gutter - 1);
        w.Put(CUT);
        return;
    }
    w.Repeat(' ', gutter - Digits(row));
    w.Number(row);
}

// The grid's columns: the gutter of row numbers, how many columns fit and each one's width
// (widths[1] to widths[shown]).
struct GridLayout {
    int                gutter = 0;
    ULONG              shown = 0, lastCol = 0;
    std::vector<ULONG> widths;
};

// Columns as wide as their texts up to GRID_CAP and as many as fit width. A 8-bit code is
// one character on the screen.
template <class Cells>
static GridLayout LayOut(const Cells &cells, int width)
{
    GridLayout g;
    g.lastCol = LastColumn(cells);
    g.gutter = Digits(cells[cells.size() - 1].row);
    // Every column takes at least three characters, so no more than this can fit.
    ULONG limit = (ULONG)(width / 3) < g.lastCol ? (ULONG)(width / 3) : g.lastCol;
    g.widths.resize(limit + 1);
    for (ULONG col = 1; col <= limit; col++) {
        char letters[8];
        g.widths[col] = (ULONG)ColumnLetters(col, letters);
    }
    for (size_t i = 0; i < cells.size(); i++) {
        const PlacedCell c = cells[i];
        if (c.col > limit)
            continue;
        size_t len = strnlen(c.text, GRID_CAP);
        if (len > g.widths[c.col])
            g.widths[c.col] = (ULONG)len;
    }
    long used = g.gutter;
    while (g.shown < limit && used + 2 + (long)g.widths[g.shown + 1] <= width) {
        g.shown++;
        used += 2 + g.widths[g.shown];
    }
    if (g.shown == 0) {    // a narrow screen still sees the first column, cut to fit
        g.shown = 1;
        g.widths[1] = width - g.gutter - 2 > 1 ? width - g.gutter - 2 : 1;
    }
    return g;
}

// The column letters over the shown columns.
static void GridHeader(const GridLayout &g, Writer &w)
{
    w.Repeat(' ', g.gutter);
    for (ULONG col = 1; col <= g.shown; col++) {
        char letters[8];
        int n = ColumnLetters(col, letters);
        w.Put("  ", 2);
        w.Put(letters, n);
        if (col < g.shown)
            w.Repeat(' ', g.widths[col] - n);
    }
    w.Put('\n');
}

// The row of cells[i] and the cells after it in the same row, without its line end; the
// index past them. Numbers stand at the right edge of their column, long texts are cut.
template <class Cells>
static size_t GridRow(const Cells &cells, size_t i, const GridLayout &g, const Recode &r,
                      Writer &w)
{
    ULONG row = cells[i].row;
    ULONG col = 1;    // the next column to write
    size_t pad = 0;   // blanks owed before the next text: none after the row's last
    Gutter(w, g.gutter, row);
    for (PlacedCell c{}; i < cells.size() && (c = cells[i]).row == row; i++) {
        if (c.col > g.shown)
            continue;
        for (; col < c.col; col++)
            pad += 2 + g.widths[col];
        size_t cw = g.widths[c.col];
        size_t len = strlen(c.text);
        bool cut = len > cw;
        size_t keep = cut ? cw - 1 : len;
        size_t before = !cut && LooksNumeric(c.text) ? cw - len : 0;
        w.Repeat(' ', pad + 2 + before);
        w.Text(c.text, keep, r);
        if (cut)
            w.Put(CUT);
        pad = cw - keep - (cut ? 1 : 0) - before;
        col = c.col + 1;
    }
    return i;
}

// The empty rows between two rows with cells: each numbered, or one gap mark for a long run.
static void GridGap(ULONG prevRow, ULONG row, const GridLayout &g, Writer &w)
{
    if (row - prevRow - 1 > GRID_GAP) {
        Gutter(w, g.gutter, 0);
        w.Put('\n');
        return;
    }
    for (ULONG empty = prevRow + 1; empty < row; empty++) {
        Gutter(w, g.gutter, empty);
        w.Put('\n');
    }
}

// What did not fit: "(7 columns left out: D to J)".
static void GridLeftOut(const GridLayout &g, Writer &w)
{
    if (g.shown >= g.lastCol)
        return;
    ULONG left = g.lastCol - g.shown;
    char letters[8];
    w.Put('(');
    w.Number(left);
    w.Put(left == 1 ? " column left out: " : " columns left out: ");
    w.Put(letters, ColumnLetters(g.shown + 1, letters));
    if (left > 1) {
        w.Put(" to ");
        w.Put(letters, ColumnLetters(g.lastCol, letters));
    }
    w.Put(")\n");
}

// Letters over the columns, numbers at the left, as many columns as fit width.
template <class Cells>
static void ShowGrid(const Cells &cells, ULONG codeset, Writer &w, int width)
{
    if (cells.size() == 0) {
        w.Put("(empty sheet)\n");
        return;
    }
    Recode r;
    BuildRecode(codeset, Style::Grid, r);
    const GridLayout g = LayOut(cells, width < 20 ? 20 : width);
    GridHeader(g, w);
    ULONG prevRow = 0;
    for (size_t i = 0; i < cells.size();) {
        ULONG row = cells[i].row;
        GridGap(prevRow, row, g, w);
        i = GridRow(cells, i, g, r, w);
        w.Put('\n');
        prevRow = row;
    }
    GridLeftOut(g, w);
}

template <class Cells>
static void ShowAs(const Cells &cells, Format format, ULONG codeset, FILE *out, int width,
                   const char *sheet)
{
    Writer w(out);
    switch (format) {
    case Format::Jsonl: ShowJsonl(cells, codeset, w, sheet); break;
    case Format::Csv:   ShowSeparated(cells, true, codeset, w); break;
    case Format::Tsv:   ShowSeparated(cells, false, codeset, w); break;
    case Format::Grid:  ShowGrid(cells, codeset, w, width); break;
    }
}

void Show(const Sheet &sheet, Format format, ULONG codeset, FILE *out, int width,
          const char *name)
{
    if (RowMajor(sheet.cells))
        ShowAs(InPlace(sheet), format, codeset, out, width, name);
    else
        ShowAs(Placed(sheet), format, codeset, out, width, name);
}

}  // namespace tabulon
