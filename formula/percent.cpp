// Percent signs into what the host reads: a number literal becomes its value divided by 100
// ("12%" -> "0.12"), any other operand a division ("A1%" -> "(A1/100)").
#include "formula/formula.h"
#include "module/globals.h"
#include "xml/xml.h"

#define NESTING 256   // open parentheses followed; deeper ones leave their "%" as it is

static BOOL IsDigitChar(unsigned char c)
{
    return c >= '0' && c <= '9';
}

// Characters of names and references, "$" and UTF-8 letters included.
static BOOL IsNameChar(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || IsDigitChar(c) || c == '.' ||
           c == '_' || c == '$' || c == '\\' || c >= 0x80;
}

// The index behind the quoted text that opens at text[i] ("..." or '...', the quote doubled
// inside); the end of the text when it is never closed.
static uint32 SkipQuoted(const char *text, uint32 i)
{
    char q = text[i++];
    while (text[i] != '\0') {
        if (text[i] == q) {
            if (text[i + 1] != q)
                return i + 1;
            i++;
        }
        i++;
    }
    return i;
}

// The index behind the bracket group that opens at text[i], nested groups included; "'"
// escapes the next character of a structured reference.
static uint32 SkipBrackets(const char *text, uint32 i)
{
    uint32 depth = 0;
    while (text[i] != '\0') {
        if (text[i] == '\'' && text[i + 1] != '\0')
            i++;
        else if (text[i] == '[')
            depth++;
        else if (text[i] == ']' && --depth == 0)
            return i + 1;
        i++;
    }
    return i;
}

// The index behind the number that starts at text[i]: digits, a point, digits, an exponent,
// and any name characters stuck to it. *plain: only digits and at most one point.
static uint32 SkipNumber(const char *text, uint32 i, BOOL *plain)
{
    *plain = TRUE;
    while (IsDigitChar(text[i]))
        i++;
    if (text[i] == '.') {
        i++;
        while (IsDigitChar(text[i]))
            i++;
    }
    if (text[i] == 'E' || text[i] == 'e') {
        uint32 k = i + 1;
        if (text[k] == '+' || text[k] == '-')
            k++;
        if (IsDigitChar(text[k])) {
            *plain = FALSE;
            i = k;
            while (IsDigitChar(text[i]))
                i++;
        }
    }
    while (IsNameChar(text[i])) {
        *plain = FALSE;
        i++;
    }
    return i;
}

// The index behind an error value such as #REF!, #DIV/0! or #N/A at text[i].
static uint32 SkipError(const char *text, uint32 i)
{
    i++;
    while (IsNameChar(text[i]) && text[i] != '$')
        i++;
    if (text[i] == '/' && IsNameChar(text[i + 1])) {
        i++;
        while (IsNameChar(text[i]) && text[i] != '$')
            i++;
    }
    if (text[i] == '!' || text[i] == '?')
        i++;
    return i;
}

// The first "%" outside literals that stands behind an operand: its index, or -1 when there
// is none. *opstart is where that operand begins (a function's name, a sheet prefix and
// both ends of a range belong to it); *literal is TRUE for a number of digits and a point.
static int32 FindProzent(const char *data, uint32 *opstart, BOOL *literal)
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

// Output bounded to its buffer; cut marks that something did not fit.
struct TextOut {
    char  *buf;
    uint32 size;
    uint32 len;
    BOOL   cut;
};

static void PutText(TextOut *out, const char *s, uint32 n)
{
    for (uint32 k = 0; k < n; k++) {
        if (out->len + 1 >= out->size) {
            out->cut = TRUE;
            return;
        }
        out->buf[out->len++] = s[k];
    }
}

// Terminates the text; a cut never leaves half a UTF-8 character behind.
static void EndText(TextOut *out)
{
    if (out->cut && out->len > 0) {
        uint32 k = out->len - 1, back = 0;
        while (k > 0 && back < 3 && ((unsigned char)out->buf[k] & 0xC0) == 0x80) {
            k--;
            back++;
        }
        unsigned char lead = (unsigned char)out->buf[k];
        uint32 need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (out->len - k < need)
            out->len = k;
    }
    out->buf[out->len] = '\0';
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

BOOL ConvertProzent(char *data)
{
    char result[XML_BUFSIZE];
    TextOut out = { result, sizeof(result), 0, FALSE };
    uint32 opstart = 0;
    BOOL literal = FALSE;

    if (data == nullptr)
        return FALSE;
    int32 pct = FindProzent(data, &opstart, &literal);
    if (pct < 0)
        return FALSE;
    PutText(&out, data, opstart);
    if (literal) {
        PutProzentValue(&out, data + opstart, (uint32)pct - opstart);
    } else {
        PutText(&out, "(", 1);
        PutText(&out, data + opstart, (uint32)pct - opstart);
        PutText(&out, "/100)", 5);
    }
    PutText(&out, data + pct + 1, IUtility->Strlen(data + pct + 1));
    EndText(&out);
    IUtility->Strlcpy(data, result, XML_BUFSIZE);
    return TRUE;
}
