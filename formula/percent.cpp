// Percent signs into what the host reads: a number literal becomes its value divided by 100
// ("12%" -> "0.12"), any other operand a division ("A1%" -> "(A1/100)").
#include "formula/formula.h"

#include "formula/text.h"
#include "sdk/proto.h"
#include "xml/xml.h"

#define NESTING 256   // open parentheses followed; deeper ones leave their "%" as it is

// The first "%" outside literals that stands behind an operand: its index, or -1 when there
// is none. The operand is data[*opstart..*opend) (a function's name, a sheet prefix and
// both ends of a range belong to it; blanks between it and the "%" do not); *literal is TRUE
// for a number of digits and a point.
static int32 FindProzent(const char *data, uint32 *opstart, uint32 *opend, BOOL *literal)
{
    uint16 open[NESTING];
    uint32 depth = 0, lost = 0, i = 0;
    int32 operand = -1;       // start of the operand that the last token ended
    uint32 operandEnd = 0;    // where it ended; a token right there continues it
    int32 join = -1;          // start of the operand in front of a ":" or "!"
    BOOL plain = FALSE;

    while (data[i] != '\0') {
        unsigned char c = data[i];
        uint32 s = i;
        BOOL number = FALSE;

        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            i++;
            continue;
        }
        if (c == '%') {
            if (operand >= 0) {
                *opstart = (uint32)operand;
                *opend = operandEnd;
                *literal = plain;
                return (int32)i;
            }
            i++;
            join = -1;
            continue;
        }
        if (c == '"' || c == '\'') {
            i = SkipQuoted(data, i);
        } else if (c == '[') {
            i = SkipBrackets(data, i);
        } else if (c == '#') {
            i = SkipError(data, i);
        } else if (IsDigitChar(c) || (c == '.' && IsDigitChar(data[i + 1]))) {
            i = SkipNumber(data, i, &number);
        } else if (IsNameChar(c)) {
            while (IsNameChar(data[i]))
                i++;
        } else if (c == '(' || c == '{') {
            // A name right in front belongs to the call.
            uint32 from = (operand >= 0 && operandEnd == s) ? (uint32)operand : s;
            if (depth < NESTING)
                open[depth++] = (uint16)from;
            else
                lost++;
            operand = join = -1;
            i++;
            continue;
        } else if (c == ')' || c == '}') {
            i++;
            join = -1;
            if (lost > 0) {
                lost--;
                operand = -1;
            } else if (depth > 0) {
                operand = open[--depth];
                operandEnd = i;
                plain = FALSE;
            } else {
                operand = -1;
            }
            continue;
        } else if ((c == ':' || c == '!') && operand >= 0 && operandEnd == s) {
            join = operand;
            operand = -1;
            i++;
            continue;
        } else {
            operand = join = -1;
            i++;
            continue;
        }

        // An operand token from s to i.
        if (join >= 0 && s > 0 && (data[s - 1] == ':' || data[s - 1] == '!')) {
            operand = join;
            plain = FALSE;
        } else if (operand >= 0 && operandEnd == s) {
            plain = FALSE;   // Table1[Col], [1]Sheet1: one operand
        } else {
            operand = (int32)s;
            plain = number;
        }
        join = -1;
        operandEnd = i;
    }
    return -1;
}

// Writes the literal lit[0..n) (digits, at most one point) divided by 100, exactly: no
// leading zeros but one "0" below 1, no trailing zeros behind the point, no point for a
// whole number. The digits are read where they stand, so a literal of any length fits.
static void PutProzentValue(TextOut *out, const char *lit, uint32 n)
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
        PutText(out, whole, keep);
    else
        PutText(out, "0", 1);
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
    PutText(out, ".", 1);
    for (k = 0; k < last; k++)
        PutText(out, k < 2 ? &moved[k] : &frac[k - 2], 1);
}

// A literal longer than this is divided like any other operand: the same value.
#define LITERAL_MAX 128

BOOL ConvertProzent(char *data, uint32 size, BOOL *cut)
{
    char value[LITERAL_MAX + 8], procent[16];
    TextOut out = { value, sizeof(value), 0, FALSE };
    uint32 opstart = 0, opend = 0, k;
    BOOL literal = FALSE, whole;
    int32 pct;

    if (data == nullptr || size == 0)
        return FALSE;
    pct = FindProzent(data, &opstart, &opend, &literal);
    if (pct < 0)
        return FALSE;
    for (k = 0; k < sizeof(procent) - 1 && opstart + k <= (uint32)pct; k++)
        procent[k] = data[opstart + k];
    procent[k] = '\0';
    if (literal && opend - opstart <= LITERAL_MAX) {
        PutProzentValue(&out, data + opstart, opend - opstart);
        EndText(&out);
        IExec->DebugPrintF("Procent=%s Number=%s\n", procent, value);
        whole = ReplaceRange(data, size, opstart, (uint32)pct + 1, value, out.len);
    } else {
        IExec->DebugPrintF("Procent=%s Number=%s\n", procent, "(/100)");
        whole = ReplaceRange(data, size, opend, (uint32)pct + 1, "/100)", 5);
        whole = ReplaceRange(data, size, opstart, opstart, "(", 1) && whole;
    }
    if (!whole && cut != nullptr)
        *cut = TRUE;
    return TRUE;
}
