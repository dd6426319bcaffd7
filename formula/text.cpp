// Shared pieces of the formula passes.
#include "formula/text.h"

#include "sdk/proto.h"

uint32 SkipQuoted(const char *text, uint32 i)
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

uint32 SkipBrackets(const char *text, uint32 i)
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

uint32 SkipNumber(const char *text, uint32 i, BOOL *plain)
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
    if (plain != nullptr)
        *plain = simple;
    return i;
}

uint32 SkipError(const char *text, uint32 i)
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

void PutText(TextOut *out, const char *s, uint32 n)
{
    for (uint32 k = 0; k < n; k++) {
        if (out->len + 1 >= out->size) {
            out->cut = TRUE;
            return;
        }
        out->buf[out->len++] = s[k];
    }
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

void EndText(TextOut *out)
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
