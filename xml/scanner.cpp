// The stream scanner: tags, attributes and element text picked out of a buffered byte
// stream, with fixed buffers and no XML parser. Element names match after an optional
// "prefix:", since several producers write every element with a namespace prefix.
#include "xml/xml.h"

#include "sdk/proto.h"

static BOOL IsBlank(int32 c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Reads up to and including the closing "<end><end>>" of a comment ("-->") or CDATA
// section ("]]>"). FALSE at the end of the file.
static BOOL SkipToClose(XMLFile *fpr, int32 end)
{
    int32 c, c1 = 0, c2 = 0;

    for (;;) {
        c = NextByte(fpr);
        if (c < 0)
            return FALSE;
        if (c == '>' && c1 == end && c2 == end)
            return TRUE;
        c2 = c1;
        c1 = c;
    }
}

// Skips a comment, CDATA section or declaration whose "<!" was read: reads its opening and
// then up to its closing "-->", "]]>" or ">". FALSE at the end of the file.
static BOOL SkipMarkup(XMLFile *fpr)
{
    int32 c = NextByte(fpr);
    uint32 open;

    if (c != '-' && c != '[') {
        while (c >= 0 && c != '>')
            c = NextByte(fpr);
        return c >= 0 ? TRUE : FALSE;
    }
    open = c == '-' ? 1 : 6;    // one more "-", or "CDATA["
    while (open-- > 0)
        if (NextByte(fpr) < 0)
            return FALSE;
    return SkipToClose(fpr, c == '-' ? '-' : ']');
}

// The element name of a tag text: behind its "/" and its "prefix:", up to a blank, a "/" or
// the end; *len is its length. Several producers write every element with a prefix.
static const char *LocalName(const char *tag, uint32 *len)
{
    const char *local, *p;

    if (*tag == '/')
        tag++;
    local = tag;
    for (p = tag; *p != '\0' && !IsBlank(*p) && *p != '/'; p++)
        if (*p == ':')
            local = p + 1;
    *len = (uint32)(p - local);
    return local;
}

// TRUE when the tag text begins, after an optional "/" and "prefix:", as sname does.
static BOOL MatchTag(const char *text, const char *sname)
{
    uint32 len;
    const char *local;

    if (*sname == '\0')
        return TRUE;
    if ((*sname == '/') != (*text == '/'))
        return FALSE;
    local = LocalName(text, &len);
    if (*sname == '/')
        sname++;
    for (; *sname != '\0'; sname++, local++)
        if (*local != *sname)
            return FALSE;
    return TRUE;
}

// The last byte of a stored tag text that is not a blank; 0 for an empty one.
static int32 LastNonBlank(const char *buffer, uint32 n)
{
    while (n > 0 && buffer[n - 1] == ' ')
        n--;
    return n > 0 ? (uint8)buffer[n - 1] : 0;
}

// A tag whose "<" was just consumed, when it lies whole in the block and fits buffer (size
// bytes): its text stored, the stream moved past its ">", *last its last byte that is not
// a blank. FALSE with nothing consumed otherwise, and for markup behind "<!".
static BOOL ReadTagInBlock(XMLFile *fpr, uint32 size, char *buffer, int32 *last)
{
    const uint8 *p = fpr->next, *q = p;
    const uint8 *stop = fpr->end - p > (int64)size - 1 ? p + size - 1 : fpr->end;
    uint8 quote = 0;
    uint32 n;

    if (p >= stop || *p == '!')
        return FALSE;
    for (; q < stop; q++) {
        uint8 c = *q;
        if (c != '>' && c != '"' && c != '\'') {
            buffer[q - p] = (char)c;
            continue;
        }
        if (c == '>' && quote == 0)
            break;
        if (c != '>')
            quote = quote == 0 ? c : quote == c ? 0 : quote;
        buffer[q - p] = (char)c;
    }
    if (q >= stop)
        return FALSE;
    n = (uint32)(q - p);
    buffer[n] = '\0';
    *last = LastNonBlank(buffer, n);
    fpr->next = (uint8 *)q + 1;
    return TRUE;
}

// Reads one tag whose "<" was just consumed, up to its ">" (one inside quotes does not end
// it), storing at most size - 1 bytes. Returns 1 when it matches sname (flags set), 0 when
// it does not or is a comment, CDATA or declaration, -1 at the end of the file.
static int ReadTag(XMLFile *fpr, const char *sname, uint32 size, char *buffer,
                   BOOL *complete)
{
    uint32 i = 0;
    int32 c, quote = 0, last = 0;

    if (ReadTagInBlock(fpr, size, buffer, &last))
        goto read;
    c = NextByte(fpr);
    if (c < 0)
        return -1;
    if (c == '!')
        return SkipMarkup(fpr) ? 0 : -1;    // comments and CDATA may hold "<" and ">"
    for (;;) {
        if (c == '>' && quote == 0)
            break;
        if (c == '"' || c == '\'') {
            if (quote == 0)
                quote = c;
            else if (quote == c)
                quote = 0;
        }
        if (i < size - 1)           // the rest is read but not stored: the walk stays in step
            buffer[i++] = (char)c;
        if (c != ' ')
            last = c;
        c = NextByte(fpr);
        if (c < 0) {
            buffer[i] = '\0';
            return -1;
        }
    }
    buffer[i] = '\0';
read:
    if (buffer[0] == '?' || !MatchTag(buffer, sname))
        return 0;
    *complete = (last == '/') ? TRUE : FALSE;
    return 1;
}

// Consumes bytes up to and including the next "<"; FALSE when the file ends first.
static BOOL SkipToTag(XMLFile *fpr)
{
    for (;;) {
        const uint8 *lt = FindByte(fpr->next, fpr->end, '<');
        if (lt < fpr->end) {
            fpr->next = (uint8 *)lt + 1;
            return TRUE;
        }
        fpr->next = fpr->end;
        int32 c = RefillXMLStream(fpr);
        if (c < 0)
            return FALSE;
        if (c == '<')
            return TRUE;
    }
}

BOOL FindXMLSection(XMLFile *fpr, const char *sname, uint32 size, char *buffer,
                    BOOL *complete)
{
    int r;

    buffer[0] = '\0';
    for (;;) {
        if (!SkipToTag(fpr)) {
            buffer[0] = '\0';
            IExec->DebugPrintF("FindXMLSection4: FALSE\n");
            return FALSE;
        }
        r = ReadTag(fpr, sname, size, buffer, complete);
        if (r > 0)
            return TRUE;
        if (r < 0)
            return FALSE;
    }
}

BOOL CheckofSection(XMLFile *fpr, const char *sname)
{
    int64 pos = XMLTell(fpr);
    char tag[XML_BUFSIZE];
    BOOL complete = FALSE, found;

    // The first tag that is not a comment or declaration decides: FindXMLSection passes
    // over those itself.
    found = FindXMLSection(fpr, "", sizeof(tag), tag, &complete) && MatchTag(tag, sname);
    XMLSeek(fpr, pos);
    if (found)
        IExec->DebugPrintF("CheckofSection  : %s TRUE\n", sname);
    else
        IExec->DebugPrintF("CheckofSection  : %s FALSE\n", sname);
    return found;
}

// TRUE when name ("c", "/row") is the element name local (len bytes) of a tag text that
// begins with "/" when slash is set.
static BOOL NamesTag(BOOL slash, const char *local, uint32 len, const char *name)
{
    if ((*name == '/') != slash)
        return FALSE;
    if (*name == '/')
        name++;
    for (uint32 k = 0; k < len; k++)
        if (name[k] != local[k])
            return FALSE;
    return name[len] == '\0';
}

BOOL TagIs(const char *tag, const char *name)
{
    uint32 len;
    const char *local = LocalName(tag, &len);

    return NamesTag(*tag == '/', local, len, name);
}

uint32 TagIndex(const char *tag, const char *const names[], uint32 count)
{
    uint32 len, k;
    const char *local = LocalName(tag, &len);

    BOOL slash = *tag == '/';

    // Most names differ in their first letter, and most tags are no name of the list.
    for (k = 0; k < count; k++) {
        const char *name = names[k];
        if ((*name == '/') == slash && name[slash] == local[0] && NamesTag(slash, local, len, name))
            break;
    }
    return k;
}

void TagName(const char *tag, char *name, uint32 size)
{
    uint32 len, n = 0;
    const char *local = LocalName(tag, &len);

    if (*tag == '/' && size > 1)
        name[n++] = '/';
    for (uint32 k = 0; k < len && n < size - 1; k++)
        name[n++] = local[k];
    name[n] = '\0';
}

// Attribute names compare without regard to ASCII case; inline, since every cell asks twice.
static inline BOOL SameName(const char *a, const char *b, uint32 len)
{
    for (uint32 k = 0; k < len; k++) {
        char x = a[k], y = b[k];
        if (x != y && ((x | 0x20) != (y | 0x20) || (uint8)((x | 0x20) - 'a') > 25))
            return FALSE;
    }
    return TRUE;
}

// TRUE when the len bytes at a are the name, as SameName compares.
static BOOL NamedAs(const char *a, uint32 len, const char *name)
{
    for (uint32 k = 0; k < len; k++)
        if (name[k] == '\0' || !SameName(a + k, name + k, 1))
            return FALSE;
    return name[len] == '\0';
}

// The next attribute of a tag text at *p: its name and its value without quotes; *p moves
// behind it. An attribute without a value is passed over. FALSE at the end of the tag.
static BOOL NextAttribute(const char **p, const char **name, uint32 *nlen, const char **value,
                          uint32 *vlen)
{
    const char *q = *p;
    char quote;

    for (;;) {
        while (IsBlank(*q) || *q == '/')
            q++;
        if (*q == '\0' || *q == '>')
            return FALSE;
        *name = q;
        while (*q != '\0' && *q != '=' && !IsBlank(*q) && *q != '>' && *q != '/')
            q++;
        *nlen = (uint32)(q - *name);
        while (IsBlank(*q))
            q++;
        if (*q == '=')
            break;
    }
    for (q++; IsBlank(*q); q++)
        ;
    quote = (*q == '"' || *q == '\'') ? *q++ : 0;
    *value = q;
    if (quote != 0)
        while (*q != '\0' && *q != quote)
            q++;
    else
        while (*q != '\0' && !IsBlank(*q) && *q != '>' && *q != '/')
            q++;
    *vlen = (uint32)(q - *value);
    *p = (quote != 0 && *q == quote) ? q + 1 : q;
    return TRUE;
}

void QuoteValue(const char *value, uint32 vlen, uint32 size, char *buffer)
{
    uint32 n = 0;

    if (vlen > size - 3)
        vlen = size - 3;
    buffer[n++] = '"';
    for (uint32 k = 0; k < vlen; k++)
        buffer[n++] = value[k];
    buffer[n++] = '"';
    buffer[n] = '\0';
}

void GetSectionParameter(const char *spara, const char *dstring, uint32 size, char *buffer)
{
    const char *key, *names[1], *value;
    uint32 klen = 0, vlen;
    char name[XML_BUFSIZE];

    buffer[0] = '\0';
    while (*spara == ' ')
        spara++;
    key = spara;
    while (key[klen] != '\0' && key[klen] != '=')
        klen++;
    if (klen == 0 || klen >= sizeof(name))
        return;
    for (uint32 k = 0; k < klen; k++)
        name[k] = key[k];
    name[klen] = '\0';
    names[0] = name;
    if (size < 3)    // room for both quotes and the terminator
        return;
    FindAttributes(dstring, names, &value, &vlen, 1);
    if (value != nullptr)
        QuoteValue(value, vlen, size, buffer);
}

void FindAttributes(const char *dstring, const char *const names[], const char *values[],
                    uint32 lens[], uint32 count)
{
    const char *p = dstring, *aname, *value;
    uint32 alen, vlen, left = count;

    for (uint32 k = 0; k < count; k++)
        values[k] = nullptr;
    while (*p != '\0' && !IsBlank(*p))    // past the element name
        p++;
    while (left > 0 && NextAttribute(&p, &aname, &alen, &value, &vlen)) {
        for (uint32 k = 0; k < count; k++) {
            if (values[k] != nullptr || !NamedAs(aname, alen, names[k]))
                continue;
            values[k] = value;
            lens[k] = vlen;
            left--;
            break;
        }
    }
}

// The content of a CDATA section whose "<![" was read, up to its "]]>". FALSE at the end,
// with all that was read stored, so a text cut by the end keeps its last character whole.
static BOOL ReadCData(XMLFile *fpr, XMLText *text)
{
    int32 c, c1 = -1, c2 = -1;     // the two bytes before c, not stored yet

    for (int k = 0; k < 6; k++)    // "CDATA["
        if (NextByte(fpr) < 0)
            return FALSE;
    for (;;) {
        c = NextByte(fpr);
        if (c < 0) {
            if (c2 >= 0)
                TextPutLiteral(text, (uint8)(c2 == '\r' ? '\n' : c2));
            if (c1 >= 0)
                TextPutLiteral(text, (uint8)(c1 == '\r' ? '\n' : c1));
            return FALSE;
        }
        if (c == '>' && c1 == ']' && c2 == ']')
            return TRUE;
        if (c == '\n' && c1 == '\r') {
            c1 = '\n';        // CR LF is one LF
            continue;
        }
        if (c2 >= 0)
            TextPutLiteral(text, (uint8)(c2 == '\r' ? '\n' : c2));
        c2 = c1;
        c1 = c;
    }
}

// One byte of element text, line ends as XML reads them: CR LF and a lone CR are one LF.
// *cr tells whether the byte before was a CR.
static void PutTextByte(XMLText *text, uint8 c, BOOL *cr)
{
    if (c == '\n' && *cr) {
        *cr = FALSE;
        return;
    }
    *cr = c == '\r';
    TextPut(text, *cr ? '\n' : c);
}

// TRUE when none of the 8 bytes at p is 0x80 or above, "&", CR or special: plain text
// throughout. A special of 0 stops at a NUL, as the byte loop does.
static inline BOOL PlainWord(const uint8 *p, uint8 special)
{
    const uint64 ones = 0x0101010101010101ull, highs = ones << 7;
    uint64 w;
    __builtin_memcpy(&w, p, 8);
    uint64 amp = w ^ (ones * '&'), cr = w ^ (ones * '\r'), sp = w ^ (ones * special);

    return ((w | ((amp - ones) & ~amp) | ((cr - ones) & ~cr) | ((sp - ones) & ~sp)) & highs) == 0;
}

// The element text [p, end), which holds no "<": runs of plain bytes the text has room for
// go in one copy, found a word at a time, the rest byte by byte.
static void PutTextRun(XMLText *text, const uint8 *p, const uint8 *end, BOOL *cr)
{
    while (p < end) {
        const uint8 *q = p, *stop = end - p > (int64)text->avail ? p + text->avail : end;
        // An LF right behind a CR is the byte loop's to drop.
        while (!*cr && stop - q >= 8 && PlainWord(q, text->special))
            q += 8;
        while (q < stop && *q < 0x80 && *q != '&' && *q != '\r' && *q != text->special
               && !(*q == '\n' && *cr))
            q++;
        if (q > p) {
            uint32 n = (uint32)(q - p);
            char *to = text->buf + text->len;     // the stores could be to text itself
            for (uint32 k = 0; k < n; k++)
                to[k] = (char)p[k];
            text->len += n;
            text->chars += n;
            text->avail -= n;
            text->need = 0;
            *cr = FALSE;
            p = q;
        }
        if (p < end)
            PutTextByte(text, *p++, cr);
    }
}

BOOL GetXMLValue(XMLFile *fpr, XMLText *text)
{
    BOOL ended = FALSE, cr = FALSE;
    int32 c;

    IExec->DebugPrintF("GetXMLValue(%s)\n", text->buf);
    for (;;) {
        const uint8 *lt = FindByte(fpr->next, fpr->end, '<');
        PutTextRun(text, fpr->next, lt, &cr);
        fpr->next = (uint8 *)lt;
        c = NextByte(fpr);
        if (c < 0)
            break;
        if (c != '<') {
            PutTextByte(text, (uint8)c, &cr);    // the first byte of a new block
            continue;
        }
        cr = FALSE;
        c = NextByte(fpr);
        if (c == '!') {
            c = NextByte(fpr);
            if (c == '[' ? !ReadCData(fpr, text) : c < 0) {
                break;
            } else if (c != '[') {
                // A comment inside the text: passed over.
                if (!SkipToClose(fpr, '-'))
                    break;
            }
            continue;
        }
        // Any other tag ends the text: normally the element's own end tag, consumed here.
        while (c >= 0 && c != '>')
            c = NextByte(fpr);
        ended = c >= 0 ? TRUE : FALSE;
        break;
    }
    TextEnd(text);
    return ended;
}
