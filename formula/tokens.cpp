// The token reader of the formula passes, and their bounded output.
#include "formula/tokens.h"

#include "sdk/proto.h"

// The index behind the quoted text that opens at text[i], the quote doubled inside.
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

// The index behind the bracket group at text[i]; "'" escapes the next character of a
// structured reference.
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

// The index behind the number at text[i]: digits, a point, digits, an exponent and any name
// characters stuck to it, so that the E5 of 1E5 is never taken for a cell.
static uint32 SkipNumber(const char *text, uint32 i, BOOL *plain)
{
    BOOL simple = TRUE;

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
            simple = FALSE;
            i = k;
            while (IsDigitChar(text[i]))
                i++;
        }
    }
    while (IsNameChar(text[i])) {
        simple = FALSE;
        i++;
    }
    *plain = simple;
    return i;
}

// The error values a formula may hold; only these two take a "/" in.
static const char *const errorvalues[] = {
    "#DIV/0!", "#N/A", "#NULL!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#GETTING_DATA",
};

// The index behind an error value such as #REF!, #DIV/0! or #N/A at text[i]; any other "#"
// word is taken up to its "!" or "?".
static uint32 SkipError(const char *text, uint32 i)
{
    for (const char *e : errorvalues) {
        uint32 k = 0;
        while (e[k] != '\0' && (text[i + k] == e[k] ||
                                (IsLetterChar(text[i + k]) && (text[i + k] & 0xDF) == e[k])))
            k++;
        if (e[k] == '\0')
            return i + k;
    }
    i++;
    while (IsNameChar(text[i]) && text[i] != '$')
        i++;
    if (text[i] == '!' || text[i] == '?')
        i++;
    return i;
}

void Append(Output *out, const char *s, uint32 n)
{
    if (out->len + n >= out->size) {
        n = out->len + 1 < out->size ? out->size - 1 - out->len : 0;
        out->cut = TRUE;
    }
    for (uint32 k = 0; k < n; k++)
        out->buf[out->len + k] = s[k];
    out->len += n;
}

static constexpr CharKinds MakeKinds()
{
    CharKinds k{};
    for (int c = 0; c < 256; c++) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            k.kind[c] = KIND_BLANK;
        else if (c == '\0' || c == '"' || c == '\'' || c == '[' || c == '#')
            k.kind[c] = KIND_SPECIAL;
        else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$' ||
                 c == '\\' || c >= 0x80)
            k.kind[c] = KIND_LETTER;
        else if (c >= '0' && c <= '9')
            k.kind[c] = KIND_DIGIT;
        else if (c == '.')
            k.kind[c] = KIND_DOT;
    }
    return k;
}

const CharKinds charkinds = MakeKinds();

Token ReadSpecialToken(const char *text, uint32 i)
{
    unsigned char c = text[i];
    Token t = { TOKEN_OTHER, i, i + 1, FALSE };

    if (c == '\0') {
        t.kind = TOKEN_END;
        t.end = i;
    } else if (c == '"' || c == '\'') {
        t.kind = c == '"' ? TOKEN_STRING : TOKEN_SHEET;
        t.end = SkipQuoted(text, i);
    } else if (c == '[') {
        t.kind = TOKEN_BRACKETS;
        t.end = SkipBrackets(text, i);
    } else if (c == '#') {
        t.kind = TOKEN_ERROR;
        t.end = SkipError(text, i);
    } else if (IsDigitChar(c) || (c == '.' && IsDigitChar(text[i + 1]))) {
        t.kind = TOKEN_NUMBER;
        t.end = SkipNumber(text, i, &t.plain);
    }
    return t;     // a "." before no digit is any other character
}

// The length of buf[0..len) without a UTF-8 character cut off at its end.
static uint32 WholeCharacters(const char *buf, uint32 len)
{
    if (len == 0)
        return 0;
    uint32 k = len - 1, back = 0;
    while (k > 0 && back < 3 && ((unsigned char)buf[k] & 0xC0) == 0x80) {
        k--;
        back++;
    }
    unsigned char lead = (unsigned char)buf[k];
    uint32 need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return len - k < need ? k : len;
}

void Finish(Output *out)
{
    if (out->cut)
        out->len = WholeCharacters(out->buf, out->len);
    out->buf[out->len] = '\0';
}

BOOL ReplaceRange(char *buf, uint32 size, uint32 from, uint32 to, const char *with, uint32 n)
{
    uint32 len = IUtility->Strlen(buf), tail;
    BOOL whole = TRUE;

    tail = len - to;
    if (from + n >= size) {
        n = size - 1 - from;
        tail = 0;
        whole = FALSE;
    } else if (from + n + tail >= size) {
        tail = size - 1 - from - n;
        whole = FALSE;
    }
    // The rest moves first: with may be no longer than what it replaces, or longer.
    if (from + n != to) {
        if (from + n < to)
            for (uint32 k = 0; k < tail; k++)
                buf[from + n + k] = buf[to + k];
        else
            for (uint32 k = tail; k > 0; k--)
                buf[from + n + k - 1] = buf[to + k - 1];
    }
    for (uint32 k = 0; k < n; k++)
        buf[from + k] = with[k];
    len = from + n + tail;
    if (!whole)
        len = WholeCharacters(buf, len);
    buf[len] = '\0';
    return whole;
}
