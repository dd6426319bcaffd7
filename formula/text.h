// What every formula pass needs: character classes, skipping the parts of a formula that
// are never rewritten (quoted texts, bracket groups, error values), and output bounded to
// its buffer.
#pragma once

#include "sdk/types.h"

static inline BOOL IsDigitChar(unsigned char c)
{
    return c >= '0' && c <= '9';
}

static inline BOOL IsLetterChar(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Characters of names, sheet names and references, "$" and UTF-8 letters included.
static inline BOOL IsNameChar(unsigned char c)
{
    return IsLetterChar(c) || IsDigitChar(c) || c == '.' || c == '_' || c == '$' || c == '\\' ||
           c >= 0x80;
}

// The index behind the quoted text that opens at text[i] ("..." or '...', the quote doubled
// inside); the end of the text when it is never closed.
uint32 SkipQuoted(const char *text, uint32 i);
// The index behind the bracket group that opens at text[i], nested groups included; "'"
// escapes the next character of a structured reference.
uint32 SkipBrackets(const char *text, uint32 i);
// The index behind the number at text[i]: digits, a point, digits, an exponent and any
// name characters stuck to it, so that the E5 of 1E5 is never taken for a cell. *plain
// (when not NULL): only digits and at most one point.
uint32 SkipNumber(const char *text, uint32 i, BOOL *plain);
// The index behind an error value such as #REF!, #DIV/0! or #N/A at text[i].
uint32 SkipError(const char *text, uint32 i);

// Output bounded to its buffer; cut marks that something did not fit.
struct TextOut {
    char  *buf;
    uint32 size;
    uint32 len;
    BOOL   cut;
};

void PutText(TextOut *out, const char *s, uint32 n);
// Terminates the text; a cut never leaves half a UTF-8 character behind.
void EndText(TextOut *out);
// Replaces buf[from..to) of the text in buf (size bytes) by with[0..n), the rest moving
// behind it; what no longer fits is cut, never inside a UTF-8 character. FALSE on a cut.
BOOL ReplaceRange(char *buf, uint32 size, uint32 from, uint32 to, const char *with, uint32 n);
