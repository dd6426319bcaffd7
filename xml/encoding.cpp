// Members written in UTF-16, as some phone and web producers do: turned into UTF-8 block by
// block as the stream reads them, so the byte scanner never sees two bytes per character
// and nothing is written beside the member.
#include "xml/xml.h"

#include "sdk/proto.h"

// Closes in after a failure; NULL.
static XMLFile *Failed(XMLFile *in)
{
    CloseXMLStream(in);
    return nullptr;
}

static uint32 Unit(const uint8 *p, BOOL bigendian)
{
    return bigendian ? (uint32)(p[0] << 8 | p[1]) : (uint32)(p[1] << 8 | p[0]);
}

// Turns the units of raw (n bytes) into UTF-8 in out, which has room for 3 bytes a unit;
// the bytes written. *used: the bytes of raw taken. A lone half of a pair becomes U+FFFD and
// the unit after it is read on its own; a high half at the end waits for the next read
// unless last says none comes, and so does an odd byte (dropped at the end).
static uint32 DecodeUnits(const uint8 *raw, uint32 n, BOOL bigendian, BOOL last, uint8 *out,
                          uint32 *used)
{
    uint32 i = 0, len = 0, cp, low;

    while (n - i >= 2) {
        cp = Unit(raw + i, bigendian);
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (n - i < 4 && !last)
                break;
            low = n - i >= 4 ? Unit(raw + i + 2, bigendian) : 0;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            } else {
                cp = 0xFFFD;
            }
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        i += 2;
        len += EncodeUTF8(cp, (char *)out + len);
    }
    *used = i;
    return len;
}

int32 RefillWideStream(XMLFile *f)
{
    uint32 n, used, len = 0;
    BOOL last = FALSE;

    // Every block starts at a unit of its own, with nothing carried over from the one
    // before: a place is where its units start in the file and how far into the block.
    f->start = (f->rawnext - f->held) << WIDE_SHIFT;
    f->next = f->end = f->block;
    while (len == 0 && !last) {
        IDOS->SetIoErr(0);      // IoErr is only sure to be 0 when set so
        n = IDOS->FRead(f->fh, f->raw + f->held, 1, sizeof(f->raw) - f->held);
        if (n == 0) {
            f->failed = IDOS->IoErr() != 0 ? TRUE : FALSE;
            if (f->failed)
                return -1;
            last = TRUE;
        }
        f->rawnext += n;
        f->held += n;
        len = DecodeUnits(f->raw, f->held, f->bigendian, last, f->block, &used);
        f->held -= used;
        if (f->held > 0 && used > 0)
            IExec->CopyMem(f->raw + used, f->raw, f->held);
    }
    if (len == 0)
        return -1;
    f->end = f->block + len;
    return *f->next++;
}

BOOL SeekWideStream(XMLFile *f, int64 pos)
{
    int64 raw = pos >> WIDE_SHIFT, offset = pos & ((1 << WIDE_SHIFT) - 1);

    if (!IDOS->ChangeFilePosition(f->fh, raw, OFFSET_BEGINNING)) {
        f->failed = TRUE;
        return FALSE;
    }
    f->rawnext = raw;
    f->held = 0;
    f->failed = FALSE;
    // The block made again from the same units holds the same bytes.
    if (RefillWideStream(f) < 0 && offset > 0)
        return FALSE;
    if (offset > f->end - f->block) {
        f->failed = TRUE;
        return FALSE;
    }
    f->next = f->block + offset;
    return TRUE;
}

// The stream reads UTF-16 from the file position at on.
static BOOL BeginWide(XMLFile *f, int64 at, BOOL bigendian)
{
    if (!IDOS->ChangeFilePosition(f->fh, at, OFFSET_BEGINNING))
        return FALSE;
    f->wide = TRUE;
    f->bigendian = bigendian;
    f->held = 0;
    f->rawnext = at;
    f->start = at << WIDE_SHIFT;
    f->next = f->end = f->block;
    f->failed = FALSE;
    return TRUE;
}

XMLFile *OpenXMLFile(const char *name, BOOL *missing)
{
    BPTR fh = IDOS->FOpen(name, MODE_OLDFILE, XML_BUFSIZE);
    XMLFile *in;
    int32 a, b;
    BOOL mark, wide, bigendian;

    *missing = FALSE;
    if (fh == ZERO) {
        // A folder missing on the way, or one where the member should be: not there either.
        int32 why = IDOS->IoErr();
        *missing = why == ERROR_OBJECT_NOT_FOUND || why == ERROR_DIR_NOT_FOUND
                   || why == ERROR_OBJECT_WRONG_TYPE ? TRUE : FALSE;
        return nullptr;
    }
    if ((in = OpenXMLStream(fh)) == nullptr) {
        IDOS->FClose(fh);
        return nullptr;
    }
    a = NextByte(in);
    b = NextByte(in);
    if (b < 0 && ReadFailed(in))
        return Failed(in);
    mark = (a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF);
    wide = mark || (a == '<' && b == 0) || (a == 0 && b == '<');
    bigendian = a == 0xFE || a == 0;
    if (!wide)
        return XMLSeek(in, 0) ? in : Failed(in);
    IExec->DebugPrintF("UTF-16: %s\n", name);
    // Behind the mark, or at the start: without one the "<" is kept.
    return BeginWide(in, mark ? 2 : 0, bigendian) ? in : Failed(in);
}
