// Percent signs into what the host reads: a number literal becomes its value divided by 100
// ("12%" -> "0.12"), any other operand a division ("A1%" -> "(A1/100)").
#include "formula/formula.h"

#include "formula/tokens.h"
#include "sdk/proto.h"

#define NESTING 256       // open parentheses followed; deeper ones leave their "%" as it is
#define LITERAL_MAX 128   // a longer literal is divided like any other operand: the same value

// What the tokens so far leave for a "%" to take.
struct Operands {
    uint16 open[NESTING];   // where the operand of each open parenthesis begins
    uint32 depth, lost;     // parentheses followed, and those past NESTING
    int32  start;           // the operand the last token ended, -1 for none ...
    uint32 end;             //   ... and its end: a token right there continues it
    int32  join;            // an operand before ":" or "!", which the next token continues
    BOOL   literal;         // the operand is a plain number
};

// A parenthesis or brace opens at t: a name right in front belongs to the call.
static void OpenGroup(Operands *o, const Token &t)
{
    uint32 from = (o->start >= 0 && o->end == t.start) ? (uint32)o->start : t.start;

    if (o->depth < NESTING)
        o->open[o->depth++] = (uint16)from;
    else
        o->lost++;
    o->start = o->join = -1;
}

// The group closes at t: it is one operand from where it opened.
static void CloseGroup(Operands *o, const Token &t)
{
    o->join = -1;
    if (o->lost > 0) {
        o->lost--;
        o->start = -1;
    } else if (o->depth > 0) {
        o->start = o->open[--o->depth];
        o->end = t.end;
        o->literal = FALSE;
    } else {
        o->start = -1;
    }
}

// An operand token: a new operand, or more of the one before (a range, a sheet, a table).
// A join comes from a ":" or "!" token, so t is never the first.
static void TakeOperand(Operands *o, const char *data, const Token &t)
{
    if (o->join >= 0 && (data[t.start - 1] == ':' || data[t.start - 1] == '!')) {
        o->start = o->join;
        o->literal = FALSE;
    } else if (o->start >= 0 && o->end == t.start) {
        o->literal = FALSE;   // Table1[Col], [1]Sheet1: one operand
    } else {
        o->start = (int32)t.start;
        o->literal = t.kind == TOKEN_NUMBER && t.plain;
    }
    o->join = -1;
    o->end = t.end;
}

// Follows data from *at to the next "%" that stands behind an operand: its index, or -1.
// The operand is data[o->start..o->end); blanks between it and the "%" are not part of it.
static int32 NextProzent(const char *data, uint32 *at, Operands *o)
{
    for (Token t; (t = ReadToken(data, *at)).kind != TOKEN_END; *at = t.end) {
        if (t.kind == TOKEN_BLANK)
            continue;
        if (t.kind != TOKEN_OTHER) {
            TakeOperand(o, data, t);
        } else if (IsChar(data, t, '%')) {
            if (o->start >= 0)
                return (int32)t.start;
            o->join = -1;
        } else if (IsChar(data, t, '(') || IsChar(data, t, '{')) {
            OpenGroup(o, t);
        } else if (IsChar(data, t, ')') || IsChar(data, t, '}')) {
            CloseGroup(o, t);
        } else if ((IsChar(data, t, ':') || IsChar(data, t, '!')) && o->start >= 0 &&
                   o->end == t.start) {
            o->join = o->start;
            o->start = -1;
        } else {
            o->start = o->join = -1;
        }
    }
    return -1;
}

// Writes the literal lit[0..n) (digits, at most one point) divided by 100, exactly: no
// leading zeros but one "0" below 1, no trailing zeros behind the point, no point for a
// whole number. The digits are read where they stand, so a literal of any length fits.
static void PutProzentValue(Output *out, const char *lit, uint32 n)
{
    uint32 ilen = 0, k;
    while (ilen < n && lit[ilen] != '.')
        ilen++;
    const char *frac = lit + ilen + (ilen < n ? 1 : 0);
    uint32 flen = n - ilen - (ilen < n ? 1 : 0);

    uint32 lead = 0;   // leading zeros of the whole part
    while (lead < ilen && lit[lead] == '0')
        lead++;
    const char *whole = lit + lead;
    uint32 wlen = ilen - lead;

    // The point moves two digits to the left: the last two of the whole part, padded with
    // zeros in front, go behind it, ahead of the old fraction.
    uint32 keep = wlen > 2 ? wlen - 2 : 0;
    if (keep > 0)
        Append(out, whole, keep);
    else
        Append(out, "0", 1);
    char moved[2];
    for (k = 0; k < 2; k++) {
        int32 idx = (int32)wlen - 2 + (int32)k;   // below 0: a padding zero
        moved[k] = idx >= 0 ? whole[idx] : '0';
    }
    uint32 last = 0;   // digits behind the point up to the last that is not 0
    for (k = 0; k < 2 + flen; k++)
        if ((k < 2 ? moved[k] : frac[k - 2]) != '0')
            last = k + 1;
    if (last == 0)
        return;
    Append(out, ".", 1);
    for (k = 0; k < last; k++)
        Append(out, k < 2 ? &moved[k] : &frac[k - 2], 1);
}

// Rewrites the "%" at pct and its operand; the operand's new end. *cut when the longer text
// had to be cut to fit size.
static uint32 RewriteProzent(char *data, uint32 size, uint32 pct, Operands *o, BOOL *cut)
{
    char value[LITERAL_MAX + 8], procent[16];
    Output out = { value, sizeof(value), 0, FALSE };
    uint32 start = (uint32)o->start, k;
    BOOL whole;

    for (k = 0; k < sizeof(procent) - 1 && start + k <= pct; k++)
        procent[k] = data[start + k];
    procent[k] = '\0';
    if (o->literal && o->end - start <= LITERAL_MAX) {
        PutProzentValue(&out, data + start, o->end - start);
        Finish(&out);
        IExec->DebugPrintF("Procent=%s Number=%s\n", procent, value);
        whole = ReplaceRange(data, size, start, pct + 1, value, out.len);
        o->end = start + out.len;
    } else {
        IExec->DebugPrintF("Procent=%s Number=%s\n", procent, "(/100)");
        whole = ReplaceRange(data, size, o->end, pct + 1, "/100)", 5);
        whole = ReplaceRange(data, size, start, start, "(", 1) && whole;
        o->end += 6;
        o->literal = FALSE;
    }
    if (!whole)
        *cut = TRUE;
    return o->end;
}

BOOL ConvertProzent(char *data, uint32 size)
{
    Operands o;
    uint32 at = 0;
    BOOL cut = FALSE;
    int32 pct;

    if (size == 0)
        return FALSE;
    o.depth = o.lost = o.end = 0;
    o.start = o.join = -1;
    o.literal = FALSE;
    // The text before a rewritten operand stays as it was, and what follows reads on from its
    // new end as from an operand just taken: one pass takes every "%".
    while (!cut && (pct = NextProzent(data, &at, &o)) >= 0)
        at = RewriteProzent(data, size, (uint32)pct, &o, &cut);
    return !cut;
}
