// Text decoding: element text taken byte by byte, XML references and the escapes of control
// characters decoded, UTF-8 brought into the system's 8-bit charset. Reads no stream.
#include "xml/xml.h"

#include "sdk/proto.h"

Charset charset;

static void BuildCharsetTable(void)
{
    charset.highcount = 0;
    for (uint32 k = 0; k < 256; k++)
        charset.lowmap[k] = 0;
    // Ascending codes: for a code point held by several entries the highest code wins.
    for (uint32 code = 0; code < 256; code++) {
        uint32 cp = charset.ucsmap[code];
        if (cp < 256) {
            charset.lowmap[cp] = (uint16)(code + 1);
            continue;
        }
        uint32 k = 0;
        while (k < charset.highcount && charset.highcp[k] < cp)
            k++;
        if (k < charset.highcount && charset.highcp[k] == cp) {
            charset.highcode[k] = (uint8)code;
            continue;
        }
        for (uint32 j = charset.highcount; j > k; j--) {
            charset.highcp[j] = charset.highcp[j - 1];
            charset.highcode[j] = charset.highcode[j - 1];
        }
        charset.highcp[k] = cp;
        charset.highcode[k] = (uint8)code;
        charset.highcount++;
    }
    charset.asciisame = TRUE;
    for (uint32 k = 1; k < 128; k++)
        if (charset.lowmap[k] != k + 1)
            charset.asciisame = FALSE;
}

void SetCharsetMap(const ULONG *map)
{
    IExec->CopyMem(map, charset.ucsmap, sizeof(charset.ucsmap));
    BuildCharsetTable();
}

// A byte of 1 to 127: an ASCII character, whatever the signedness of char.
static inline BOOL IsAscii(char c)
{
    return (uint8)((uint8)c - 1) < 0x7F;
}

// The 8-bit code of a code point, or "?".
static char CodeOf(uint32 cp)
{
    uint32 lo = 0, hi = charset.highcount;

    if (cp < 256)
        return charset.lowmap[cp] != 0 ? (char)(charset.lowmap[cp] - 1) : '?';
    while (lo < hi) {
        uint32 mid = (lo + hi) / 2;
        if (charset.highcp[mid] == cp)
            return (char)charset.highcode[mid];
        if (charset.highcp[mid] < cp)
            lo = mid + 1;
        else
            hi = mid;
    }
    return '?';
}

static inline BOOL IsContinuation(char c)
{
    return ((uint8)c & 0xC0) == 0x80;
}

// UTF8toUCS4 decodes a NUL-terminated text, so a long one goes through in small chunks, each
// ending where no character is split: before a byte that starts one, or before the fourth of
// four continuation bytes in a row, which belongs to no character.
void ConvertCharset(const char *utf8, char *istr, uint32 size)
{
    char chunk[256];
    int32 ucs[256];
    uint32 in = 0, out = 0;

    if (size == 0)
        return;
    if (charset.asciisame)
        while (out < size - 1 && IsAscii(utf8[out]))
            istr[out] = utf8[out], out++;
    in = out;
    while (utf8[in] != '\0' && out < size - 1) {
        uint32 n = 0, k;
        while (n < sizeof(chunk) - 1 && utf8[in + n] != '\0')
            n++;
        if (utf8[in + n] != '\0') {
            for (k = n; k + 3 > n && IsContinuation(utf8[in + k]); k--)
                ;
            if (!IsContinuation(utf8[in + k]))
                n = k;
        }
        IExec->CopyMem(utf8 + in, chunk, n);
        chunk[n] = '\0';
        int32 count = IUtility->UTF8toUCS4(chunk, ucs, (int32)(sizeof(ucs) / sizeof(ucs[0])),
                                           UTF_INVALID_SUBST_FFFD);
        for (int32 j = 0; j < count && out < size - 1; j++)
            istr[out++] = CodeOf((uint32)ucs[j]);
        in += n;
    }
    istr[out] = '\0';
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

// Longest reference: "&#x" and seven digits, or "&#" and eight, and ";".
#define REFERENCE_MAX 11

// A reference at text ("&...", at most REFERENCE_MAX characters, so no value overflows): its
// code point and length, or 0 when it is none.
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
        for (p++; HexValue(*p) >= 0; p++, digits++)
            value = value * 16 + (uint32)HexValue(*p);
    } else {
        for (; *p >= '0' && *p <= '9'; p++, digits++)
            value = value * 10 + (uint32)(*p - '0');
    }
    if (digits == 0 || *p != ';' || value == 0 || value > 0x10FFFF ||
        (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *cp = value;
    return (uint32)(p + 1 - text);
}

// An escape "_xHHHH_" at text, whose "_x" and four digits were checked as they came: its
// code point, length 7, or 0 when it is none.
static uint32 Escape(const char *text, uint32 *cp)
{
    uint32 value = 0;

    for (int k = 2; k < 6; k++)
        value = value * 16 + (uint32)HexValue(text[k]);
    if (text[6] != '_' || value == 0 || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *cp = value;
    return 7;
}

// Keeps byte c of the UTF-8 text, counting characters: a character that would pass the
// limit or the buffer is dropped whole, with all that follows.
static void Store(XMLText *text, uint8 c)
{
    if ((c & 0xC0) == 0x80 && text->need > 0) {
        text->need--;
        if (text->cut)
            return;
        if (text->len + 1 >= text->size) {
            text->len = text->lead;          // not half a character
            text->chars--;
            text->cut = TRUE;
            text->maxchars = text->chars;
            return;
        }
        text->buf[text->len++] = (char)c;
        return;
    }
    text->need = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 0;
    if (text->cut || text->chars >= text->maxchars || text->len + 1 >= text->size) {
        text->cut = TRUE;
        text->maxchars = text->chars;    // the fast path of TextPut stops too
        return;
    }
    text->lead = text->len;
    text->buf[text->len++] = (char)c;
    text->chars++;
}

uint32 EncodeUTF8(uint32 cp, char *out)
{
    if (cp < 0x80) {
        out[0] = (char)cp;
        return 1;
    }
    if (cp < 0x800) {
        out[0] = (char)(0xC0 | (cp >> 6));
        out[1] = (char)(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = (char)(0xE0 | (cp >> 12));
        out[1] = (char)(0x80 | ((cp >> 6) & 0x3F));
        out[2] = (char)(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = (char)(0xF0 | (cp >> 18));
    out[1] = (char)(0x80 | ((cp >> 12) & 0x3F));
    out[2] = (char)(0x80 | ((cp >> 6) & 0x3F));
    out[3] = (char)(0x80 | (cp & 0x3F));
    return 4;
}

static void StoreCode(XMLText *text, uint32 cp)
{
    char bytes[4];
    uint32 n = EncodeUTF8(cp, bytes);

    for (uint32 k = 0; k < n; k++)
        Store(text, (uint8)bytes[k]);
}

// The pending bytes are no reference: the first stays as written, the others are read again,
// since one of them may start a reference.
static void Unpend(XMLText *text)
{
    char again[sizeof(text->pend)];
    uint32 n = text->npend;

    IExec->CopyMem(text->pend, again, n);
    text->npend = 0;
    Store(text, (uint8)again[0]);
    for (uint32 k = 1; k < n; k++)
        TextPutSlow(text, (uint8)again[k]);
}

// How many plain bytes the fast path of TextPut may keep from here: none while a reference
// is pending or the text is cut.
static void Settle(XMLText *text)
{
    uint32 chars = text->maxchars - text->chars, bytes = text->size - 1 - text->len;

    text->avail = text->npend > 0 || text->cut ? 0 : chars < bytes ? chars : bytes;
}

static void PutSlow(XMLText *text, uint8 c);

void TextPutSlow(XMLText *text, uint8 c)
{
    PutSlow(text, c);
    Settle(text);
}

static void PutSlow(XMLText *text, uint8 c)
{
    uint32 cp = 0, n;

    if (text->npend == 0) {
        if (c == '&' || (c == '_' && text->escapes)) {
            text->pend[0] = (char)c;
            text->npend = 1;
        } else {
            Store(text, c);
        }
        return;
    }
    n = text->npend;
    text->pend[text->npend++] = (char)c;
    text->pend[text->npend] = '\0';
    if (text->pend[0] == '&') {
        // Only letters, digits and "#" can lead on to the ";" that ends a reference.
        if (c == ';') {
            if (Reference(text->pend, &cp) == text->npend) {
                text->npend = 0;
                StoreCode(text, cp);
                return;
            }
            Unpend(text);
        } else if (text->npend >= REFERENCE_MAX ||
                   !((c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') ||
                     c == '#')) {
            Unpend(text);
        }
        return;
    }
    // "_xHHHH_", checked as it comes; with a capital X it is text.
    if ((n == 1 && c != 'x') || (n >= 2 && n <= 5 && HexValue((char)c) < 0)) {
        Unpend(text);
    } else if (n == 6) {
        if (Escape(text->pend, &cp) == 7) {
            text->npend = 0;
            StoreCode(text, cp);
        } else {
            Unpend(text);
        }
    }
}

void TextPutLiteral(XMLText *text, uint8 c)
{
    while (text->npend > 0)
        Unpend(text);
    Store(text, c);
    Settle(text);
}

void TextBegin(XMLText *text, char *buf, uint32 size, uint32 maxchars, BOOL escapes)
{
    text->buf = buf;
    text->size = size;
    text->len = 0;
    text->chars = 0;
    text->maxchars = maxchars;
    text->need = 0;
    text->lead = 0;
    text->special = escapes ? '_' : 0;
    text->escapes = escapes;
    text->cut = FALSE;
    text->npend = 0;
    buf[0] = '\0';
    // Settle's answer for a text just begun, from the arguments: read back from the record
    // just written, its fields waited for those writes to reach memory.
    text->avail = maxchars < size - 1 ? maxchars : size - 1;
}

void TextBeginOver(XMLText *text, char *buf, uint32 size, uint32 maxchars)
{
    char first = buf[0];

    TextBegin(text, buf, size, maxchars, TRUE);
    buf[0] = first;     // TextBegin emptied it
}

void TextEnd(XMLText *text)
{
    while (text->npend > 0)
        Unpend(text);
    text->buf[text->len] = '\0';
    Settle(text);
}
