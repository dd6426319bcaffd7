// Formula text into the host's formula language (ConvertFormula), with the references of a
// shared formula moved to the cell that uses it. Accepts any NUL-terminated UTF-8 text; the
// result never holds more than XML_BUFSIZE - 1 bytes.
#include "formula/formula.h"

#include "formula/text.h"
#include "sdk/proto.h"
#include "xml/xml.h"

#define MAXCOL 16384      // XFD
#define MAXROW 1048576

// The index behind the run of name characters at text[i].
static uint32 SkipName(const char *text, uint32 i)
{
    while (IsNameChar(text[i]))
        i++;
    return i;
}

// The end of a sheet prefix whose first name ends at text[w]: "Sheet2!" or "Sheet1:Sheet3!",
// the "!" included; 0 when that name is no sheet.
static uint32 PrefixEnd(const char *text, uint32 w)
{
    if (text[w] == '!')
        return w + 1;
    if (text[w] == ':') {
        uint32 w2 = SkipName(text, w + 1);
        if (w2 > w + 1 && text[w2] == '!')
            return w2 + 1;
    }
    return 0;
}

// One end of a reference: a cell, a whole column (row 0) or a whole row (col 0).
struct CellPart {
    uint32 col, row;
    BOOL   colabs, rowabs;
};

// Reads [$]letters[$]digits, [$]letters or [$]digits at text[i] within the sheet (up to
// XFD1048576). Returns its length; 0 when there is none, or when the run goes on as a name
// or stands before "(", "[" or "!" (a function such as L10, a table, a sheet).
static uint32 GetTablePosition(const char *text, uint32 i, CellPart *part)
{
    uint32 k = i, letters = 0, digits = 0;
    BOOL dollar = FALSE;

    part->col = part->row = 0;
    part->colabs = part->rowabs = FALSE;
    if (text[k] == '$') {
        dollar = TRUE;
        k++;
    }
    while (IsLetterChar(text[k])) {
        if (++letters > 3)
            return 0;
        part->col = part->col * 26 + (uint32)((text[k] | 0x20) - 'a' + 1);
        k++;
    }
    if (letters > 0) {
        part->colabs = dollar;
        dollar = FALSE;
        if (text[k] == '$') {
            dollar = TRUE;
            k++;
        }
    }
    while (IsDigitChar(text[k])) {
        if (++digits > 7)
            return 0;
        part->row = part->row * 10 + (uint32)(text[k] - '0');
        k++;
    }
    if (digits > 0)
        part->rowabs = dollar;
    else if (dollar)
        return 0;   // "A$" or "$" alone
    if (letters == 0 && digits == 0)
        return 0;
    if (part->col > MAXCOL || part->row > MAXROW || (digits > 0 && part->row == 0))
        return 0;
    unsigned char next = text[k];
    if (IsNameChar(next) || next == '(' || next == '[' || next == '!')
        return 0;
    return k - i;
}

// Moves a part by the deltas where it has no "$". FALSE when it leaves the sheet.
static BOOL MovePart(CellPart *part, int32 drow, int32 dcol)
{
    if (part->col != 0 && !part->colabs) {
        int64 col = (int64)part->col + dcol;
        if (col < 1 || col > MAXCOL)
            return FALSE;
        part->col = (uint32)col;
    }
    if (part->row != 0 && !part->rowabs) {
        int64 row = (int64)part->row + drow;
        if (row < 1 || row > MAXROW)
            return FALSE;
        part->row = (uint32)row;
    }
    return TRUE;
}

static void PutPart(TextOut *out, const CellPart *part)
{
    char name[16];
    uint32 n = 0;

    if (part->col != 0) {
        SetRowColumnNumber(name, 0, part->col);
        while (IsLetterChar(name[n]))
            n++;
        if (part->colabs)
            PutText(out, "$", 1);
        PutText(out, name, n);
    }
    if (part->row != 0) {
        SetRowColumnNumber(name, part->row, 0);
        if (part->rowabs)
            PutText(out, "$", 1);
        PutText(out, name, IUtility->Strlen(name));
    }
}

// Writes the reference at text[i] (a cell, or a range of cells, columns or rows) moved by
// the deltas, or #REF! when any end leaves the sheet. Returns how much of text it took; 0,
// with nothing written, when there is no reference at i.
static uint32 MoveReference(const char *text, uint32 i, TextOut *out, int32 drow, int32 dcol)
{
    CellPart a, b = {};
    uint32 len = GetTablePosition(text, i, &a);
    BOOL range = FALSE;

    if (len == 0)
        return 0;
    if (text[i + len] == ':') {
        uint32 blen = GetTablePosition(text, i + len + 1, &b);
        if (blen > 0 && (a.col != 0) == (b.col != 0) && (a.row != 0) == (b.row != 0)) {
            range = TRUE;
            len += 1 + blen;
        }
    }
    if (!range && (a.col == 0 || a.row == 0))
        return 0;   // a lone column is a name, a lone row a number

    CellPart ma = a, mb = b;
    if (!MovePart(&ma, drow, dcol) || (range && !MovePart(&mb, drow, dcol))) {
        PutText(out, "#REF!", 5);
    } else if (ma.col == a.col && ma.row == a.row &&
               (!range || (mb.col == b.col && mb.row == b.row))) {
        PutText(out, text + i, len);   // unmoved: as written, letter case included
    } else {
        PutPart(out, &ma);
        if (range) {
            PutText(out, ":", 1);
            PutPart(out, &mb);
        }
    }
    return len;
}

// The text with "=" in front, "<>" as "!=", ";" between arguments and every relative
// reference moved; string literals, quoted sheet names, brackets and the separators of array
// constants are copied as they are.
static void MoveReferences(const char *text, TextOut *out, int32 drow, int32 dcol)
{
    uint32 i = 0, braces = 0;

    PutText(out, "=", 1);
    while (text[i] != '\0' && !out->cut) {
        unsigned char c = text[i];
        uint32 s = i, n;

        if (c == '"' || c == '[') {
            i = c == '"' ? SkipQuoted(text, i) : SkipBrackets(text, i);
            PutText(out, text + s, i - s);
        } else if (c == '\'') {
            i = SkipQuoted(text, i);
            BOOL sheet = text[i] == '!';
            if (sheet)
                i++;
            PutText(out, text + s, i - s);
            if (sheet)
                i += MoveReference(text, i, out, drow, dcol);
        } else if (c == '#') {
            i = SkipError(text, i);
            PutText(out, text + s, i - s);
        } else if (c == '<' && text[i + 1] == '>') {
            PutText(out, "!=", 2);
            i += 2;
        } else if (c == ',') {
            PutText(out, braces > 0 ? "," : ";", 1);
            i++;
        } else if (c == '{' || c == '}') {
            // {1,2;3,4}: the host reads the rows and columns of a constant as written.
            if (c == '{')
                braces++;
            else if (braces > 0)
                braces--;
            PutText(out, text + s, 1);
            i++;
        } else if (IsNameChar(c) && c != '.') {
            uint32 w = SkipName(text, i), p = PrefixEnd(text, w);
            if (p > 0) {
                // Sheet names never move, the cell behind them does.
                PutText(out, text + s, p - s);
                i = p + MoveReference(text, p, out, drow, dcol);
            } else if (text[w] == '(') {
                PutText(out, text + s, w - s);   // a function, even when it reads like L10
                i = w;
            } else if ((n = MoveReference(text, i, out, drow, dcol)) > 0) {
                i += n;
            } else {
                i = IsDigitChar(c) ? SkipNumber(text, i, nullptr) : w;
                PutText(out, text + s, i - s);
            }
        } else {
            PutText(out, text + s, 1);
            i++;
        }
    }
}

BOOL ConvertFormula(const char *text, char *data, uint32 size, int32 drow, int32 dcol)
{
    TextOut out = { data, size, 0, FALSE };
    BOOL cut = FALSE, percent = FALSE;

    if (data == nullptr || size == 0)
        return FALSE;
    MoveReferences(text != nullptr ? text : "", &out, drow, dcol);
    EndText(&out);
    // Codes are never longer than names, and percentages are written in place.
    TranslateFormula(data, TRANSLATE_CODES);
    for (const char *p = data; *p != '\0' && !percent; p++)
        percent = *p == '%';
    // Each call takes one "%" away; the bound only guards against a loop.
    for (uint32 guard = 0; percent && guard < size && ConvertProzent(data, size, &cut); guard++)
        ;
    return !out.cut && !cut;
}
