// Text decoding: the text of a string item read from the stream, XML references and the
// escapes of control characters decoded, UTF-8 brought into the system's 8-bit charset.
#include "xml/xml.h"

#include "module/globals.h"

// Reverse of ucsmap, built once per import: code points below 256 by table, the others by
// binary search over at most 256 sorted pairs.
static int16  lowmap[256];
static BOOL   asciisame;     // ASCII maps to itself: plain texts need no decoding
static uint32 highcp[256];
static uint8  highcode[256];
static uint32 highcount;

void BuildCharsetTable(void)
{
    highcount = 0;
    for (uint32 k = 0; k < 256; k++)
        lowmap[k] = -1;
    // Ascending codes: for a code point held by several entries the highest code wins.
    for (uint32 code = 0; code < 256; code++) {
        uint32 cp = ucsmap[code];
        if (cp < 256) {
            lowmap[cp] = (int16)code;
            continue;
        }
        uint32 k = 0;
        while (k < highcount && highcp[k] < cp)
            k++;
        if (k < highcount && highcp[k] == cp) {
            highcode[k] = (uint8)code;
            continue;
        }
        for (uint32 j = highcount; j > k; j--) {
            highcp[j] = highcp[j - 1];
            highcode[j] = highcode[j - 1];
        }
        highcp[k] = cp;
        highcode[k] = (uint8)code;
        highcount++;
    }
    asciisame = TRUE;
    for (uint32 k = 1; k < 128; k++)
        if (lowmap[k] != (int16)k)
            asciisame = FALSE;
}

// A byte of 1 to 127: an ASCII character, whatever the signedness of char.
static inline BOOL IsAscii(char c)
{
    return (uint8)((uint8)c - 1) < 0x7F;
}

// The 8-bit code of a code point, or "?".
static char CodeOf(int32 cp)
{
    uint32 lo = 0, hi = highcount;

    if (cp >= 0 && cp < 256)
        return lowmap[cp] >= 0 ? (char)lowmap[cp] : '?';
    while (lo < hi) {
        uint32 mid = (lo + hi) / 2;
        if (highcp[mid] == (uint32)cp)
            return (char)highcode[mid];
        if (highcp[mid] < (uint32)cp)
            lo = mid + 1;
        else
            hi = mid;
    }
    return '?';
}

void ConvertCharset(const char *utf8, char *istr, uint32 size)
{
    int32 ucs[XML_BUFSIZE * 3];
    int32 n;
    uint32 k;

    if (size == 0)
        return;
    if (asciisame) {
        uint32 k = 0;
        while (k < size - 1 && IsAscii(utf8[k]))
            k++;
        if (utf8[k] == '\0') {
            IExec->CopyMem(utf8, istr, k + 1);
            return;
        }
    }
    n = IUtility->UTF8toUCS4(utf8, ucs, (int32)(sizeof(ucs) / sizeof(ucs[0])),
                             UTF_INVALID_SUBST_FFFD);
    for (k = 0; n > 0 && k < (uint32)n && k < size - 1; k++)
        istr[k] = CodeOf(ucs[k]);
    istr[k] = '\0';
}

static int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Writes cp as UTF-8 at out[*n] if it fits before the terminator.
static BOOL PutUTF8(char *out, uint32 size, uint32 *n, uint32 cp)
{
    char b[4];
    uint32 len;

    if (cp < 0x80) {
        b[0] = (char)cp;
        len = 1;
    } else if (cp < 0x800) {
        b[0] = (char)(0xC0 | (cp >> 6));
        b[1] = (char)(0x80 | (cp & 0x3F));
        len = 2;
    } else if (cp < 0x10000) {
        b[0] = (char)(0xE0 | (cp >> 12));
        b[1] = (char)(0x80 | ((cp >> 6) & 0x3F));
        b[2] = (char)(0x80 | (cp & 0x3F));
        len = 3;
    } else {
        b[0] = (char)(0xF0 | (cp >> 18));
        b[1] = (char)(0x80 | ((cp >> 12) & 0x3F));
        b[2] = (char)(0x80 | ((cp >> 6) & 0x3F));
        b[3] = (char)(0x80 | (cp & 0x3F));
        len = 4;
    }
    if (*n + len >= size)
        return FALSE;
    for (uint32 k = 0; k < len; k++)
        out[(*n)++] = b[k];
    return TRUE;
}

// A reference at text ("&..."): its code point and length, or 0 when it is none.
static uint32 Reference(const char *text, uint32 *cp)
{
    static const struct { const char *name; char c; } named[] = {
        { "&apos;", '\'' }, { "&quot;", '"' }, { "&lt;", '<' }, { "&gt;", '>' }, { "&amp;", '&' },
    };
    uint32 len, value = 0, digits = 0;
    const char *p;

    for (const auto &e : named) {
        len = IUtility->Strlen(e.name);
        if (IUtility->Strnicmp(text, e.name, (int32)len) == 0) {
            *cp = (uint8)e.c;
            return len;
        }
    }
    if (text[1] != '#')
        return 0;
    p = text + 2;
    if (*p == 'x' || *p == 'X') {
        for (p++; HexValue(*p) >= 0 && digits < 7; p++, digits++)
            value = value * 16 + (uint32)HexValue(*p);
    } else {
        for (; *p >= '0' && *p <= '9' && digits < 8; p++, digits++)
            value = value * 10 + (uint32)(*p - '0');
    }
    if (digits == 0 || *p != ';' || value == 0 || value > 0x10FFFF ||
        (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *cp = value;
    return (uint32)(p + 1 - text);
}

// An escape "_xHHHH_" at text: its code point, length 7, or 0 when it is none.
static uint32 Escape(const char *text, uint32 *cp)
{
    uint32 value = 0;

    if (text[1] != 'x' && text[1] != 'X')
        return 0;
    for (int k = 2; k < 6; k++) {
        int h = HexValue(text[k]);
        if (h < 0)
            return 0;
        value = value * 16 + (uint32)h;
    }
    if (text[6] != '_' || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *cp = value;
    return 7;
}

void DecodeReferences(const char *xstr, char *out, uint32 size, BOOL escapes)
{
    uint32 n = 0, len, cp;
    const char *p = xstr;

    if (size == 0)
        return;
    while (*p != '\0') {
        len = 0;
        if (*p == '&')
            len = Reference(p, &cp);
        else if (*p == '_' && escapes)
            len = Escape(p, &cp);
        if (len > 0) {
            if (!PutUTF8(out, size, &n, cp))
                break;
            p += len;
            continue;
        }
        if (n + 1 >= size)
            break;
        out[n++] = *p++;
    }
    out[n] = '\0';
}

void ConvertText(char *xstr, char *istr, uint32 size, int32 d)
{
    char work[XML_BUFSIZE * 4];

    if (d != 2)
        return;
    if (asciisame) {
        // Numbers and plain words: nothing to decode, copied as they stand.
        uint32 k = 0;
        while (k < size - 1 && IsAscii(xstr[k]) && xstr[k] != '&' && xstr[k] != '_')
            k++;
        if (xstr[k] == '\0') {
            IExec->CopyMem(xstr, istr, k + 1);
            return;
        }
    }
    DecodeReferences(xstr, work, sizeof(work), TRUE);
    ConvertCharset(work, istr, size);
}

BOOL GetXMLText(BPTR fpr, char *data, uint32 size, const char *endname)
{
    char tag[XML_BUFSIZE];
    BOOL trunc = FALSE, complete = FALSE, phonetic = FALSE;
    uint32 n = 0;

    IExec->DebugPrintF("GetXMLText(%s)\n", data);
    data[0] = '\0';
    while (FindXMLSection(fpr, "", sizeof(tag), tag, &trunc, &complete)) {
        if (TagIs(tag, endname))
            return TRUE;
        if (TagIs(tag, "rPh")) {
            phonetic = !complete;       // a reading aid, not part of the text
        } else if (TagIs(tag, "/rPh")) {
            phonetic = FALSE;
        } else if (TagIs(tag, "t") && !complete && !phonetic) {
            // Each run's text goes behind the one before; a full buffer only reads on.
            if (!GetXMLValue(fpr, data + n, size - n, &trunc))
                return FALSE;
            n += IUtility->Strlen(data + n);
        }
    }
    return FALSE;
}
