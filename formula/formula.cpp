// Formula text into the host's formula language (ConvertFormula), with the references of a
// shared formula moved to the cell that uses it. Accepts any NUL-terminated UTF-8 text; the
// result never holds more than its buffer.
#include "formula/formula.h"

#include "formula/tokens.h"
#include "sdk/proto.h"
#include "xml/xml.h"

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
static uint32 ReadCellPart(const char *text, uint32 i, CellPart *part)
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
    if (part->col > MAX_COL || part->row > MAX_ROW || (digits > 0 && part->row == 0))
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
        if (col < 1 || col > MAX_COL)
            return FALSE;
        part->col = (uint32)col;
    }
    if (part->row != 0 && !part->rowabs) {
        int64 row = (int64)part->row + drow;
        if (row < 1 || row > MAX_ROW)
            return FALSE;
        part->row = (uint32)row;
    }
    return TRUE;
}

static void PutPart(Output *out, const CellPart *part)
{
    char name[CELLNAME_MAX];
    uint32 n = 0;

    if (part->col != 0) {
        SetRowColumnNumber(name, 0, part->col);
        while (IsLetterChar(name[n]))
            n++;
        if (part->colabs)
            Append(out, "$", 1);
        Append(out, name, n);
    }
    if (part->row != 0) {
        SetRowColumnNumber(name, part->row, 0);
        if (part->rowabs)
            Append(out, "$", 1);
        Append(out, name, IUtility->Strlen(name));
    }
}

// Writes the reference at text[i] (a cell, or a range of cells, columns or rows) moved by
// the deltas, or #REF! when any end leaves the sheet. Returns how much of text it took; 0,
// with nothing written, when there is no reference at i.
static uint32 MoveReference(const char *text, uint32 i, Output *out, int32 drow, int32 dcol)
{
    CellPart a, b = {};
    uint32 len = ReadCellPart(text, i, &a);
    BOOL range = FALSE;

    if (len == 0)
        return 0;
    if (text[i + len] == ':') {
        uint32 blen = ReadCellPart(text, i + len + 1, &b);
        if (blen > 0 && (a.col != 0) == (b.col != 0) && (a.row != 0) == (b.row != 0)) {
            range = TRUE;
            len += 1 + blen;
        }
    }
    if (!range && (a.col == 0 || a.row == 0))
        return 0;   // a lone column is a name, a lone row a number

    CellPart ma = a, mb = b;
    if (!MovePart(&ma, drow, dcol) || (range && !MovePart(&mb, drow, dcol))) {
        Append(out, "#REF!", 5);
    } else if (ma.col == a.col && ma.row == a.row &&
               (!range || (mb.col == b.col && mb.row == b.row))) {
        Append(out, text + i, len);   // unmoved: as written, letter case included
    } else {
        PutPart(out, &ma);
        if (range) {
            Append(out, ":", 1);
            PutPart(out, &mb);
        }
    }
    return len;
}

// A name or number token in place: a sheet prefix with the reference behind it, a function,
// a reference moved, or the token as written. The index behind what it took.
static uint32 MoveName(const char *text, const Token &t, Output *out, int32 drow, int32 dcol)
{
    uint32 w = SkipName(text, t.start), p = PrefixEnd(text, w), n;

    if (p > 0) {
        // Sheet names never move, the cell behind them does.
        Append(out, text + t.start, p - t.start);
        return p + MoveReference(text, p, out, drow, dcol);
    }
    if (text[w] == '(') {
        Append(out, text + t.start, w - t.start);   // a function, even when it reads like L10
        return w;
    }
    if ((n = MoveReference(text, t.start, out, drow, dcol)) > 0)
        return t.start + n;
    Append(out, text + t.start, t.end - t.start);
    return t.end;
}

// The text with "=" in front, "<>" as "!=", ";" between arguments and every relative
// reference moved; string literals, quoted sheet names, brackets and the separators of array
// constants are copied as they are.
static void MoveReferences(const char *text, Output *out, int32 drow, int32 dcol)
{
    uint32 i = 0, braces = 0;
    Token t;

    Append(out, "=", 1);
    for (; (t = ReadToken(text, i)).kind != TOKEN_END && !out->cut; i = t.end) {
        if (t.kind == TOKEN_NAME || t.kind == TOKEN_NUMBER) {
            t.end = MoveName(text, t, out, drow, dcol);
        } else if (t.kind == TOKEN_SHEET && text[t.end] == '!') {
            Append(out, text + t.start, t.end + 1 - t.start);
            t.end += 1 + MoveReference(text, t.end + 1, out, drow, dcol);
        } else if (IsChar(text, t, '<') && text[t.end] == '>') {
            Append(out, "!=", 2);
            t.end++;
        } else if (IsChar(text, t, ',')) {
            // {1,2;3,4}: the host reads the rows and columns of a constant as written.
            Append(out, braces > 0 ? "," : ";", 1);
        } else {
            if (IsChar(text, t, '{'))
                braces++;
            else if (IsChar(text, t, '}') && braces > 0)
                braces--;
            Append(out, text + t.start, t.end - t.start);
        }
    }
}

BOOL ConvertFormula(const char *text, char *data, uint32 size, int32 drow, int32 dcol,
                    const char *cell)
{
    Output out = { data, size, 0, FALSE };

    if (size == 0)
        return FALSE;
    MoveReferences(text, &out, drow, dcol);
    Finish(&out);
    // Codes are never longer than names, and percentages are written in place.
    TranslateFormula(data);
    for (const char *p = data; *p != '\0'; p++) {
        if (*p == '%') {
            if (!ConvertProzent(data, size))
                out.cut = TRUE;
            break;
        }
    }
    // Last, so that the arguments they repeat are converted already.
    if (!ExpandFunctions(data, size, cell))
        out.cut = TRUE;
    return !out.cut;
}
