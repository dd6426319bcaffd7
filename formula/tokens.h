// The pieces of a formula's text as every pass reads them: one token reader, so that the
// passes agree on what is a string literal, a quoted sheet, a bracket group, an error
// value, a number or a name; and output bounded to its buffer.
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

enum TokenKind {
    TOKEN_END,        // the end of the text
    TOKEN_STRING,     // "text", the quote doubled inside; to the end when never closed
    TOKEN_SHEET,      // 'quoted sheet name', the same way
    TOKEN_BRACKETS,   // [a structured reference or a workbook], nested groups included
    TOKEN_ERROR,      // #REF!, #DIV/0!, #N/A
    TOKEN_NUMBER,     // 12, 1.5, .5, 1E+5, with any name characters stuck to it
    TOKEN_NAME,       // a run of name characters: a function, reference, sheet or constant
    TOKEN_BLANK,      // one blank, tab or line end
    TOKEN_OTHER,      // any other one character: operators, parentheses, braces, separators
};

struct Token {
    TokenKind kind;
    uint32    start, end;    // text[start..end)
    BOOL      plain;         // a NUMBER of digits and at most one point, nothing else
};

// The token that starts at text[i].
Token ReadToken(const char *text, uint32 i);
// TRUE when the token is the one character c.
static inline BOOL IsChar(const char *text, const Token &t, char c)
{
    return t.kind == TOKEN_OTHER && text[t.start] == c;
}

// Output bounded to its buffer; cut marks that something did not fit.
struct Output {
    char  *buf;
    uint32 size;
    uint32 len;
    BOOL   cut;
};

void Append(Output *out, const char *s, uint32 n);
// Terminates the text; a cut never leaves half a UTF-8 character behind.
void Finish(Output *out);
// Replaces buf[from..to) of the text in buf (size bytes) by with[0..n), the rest moving
// behind it; what no longer fits is cut, never inside a UTF-8 character. FALSE on a cut.
BOOL ReplaceRange(char *buf, uint32 size, uint32 from, uint32 to, const char *with, uint32 n);
