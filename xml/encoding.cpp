// Members written in UTF-16, as some phone and web producers do: converted once to UTF-8
// beside the original, so the byte scanner never sees two bytes per character.
#include "xml/xml.h"

#include "sdk/proto.h"

// Closes in after a failure; NULL.
static XMLFile *Failed(XMLFile *in)
{
    CloseXMLStream(in);
    return nullptr;
}

// The next 16-bit unit, or -1 at the end.
static int32 NextUnit(XMLFile *in, BOOL bigendian)
{
    int32 a = NextByte(in), b;

    if (a < 0 || (b = NextByte(in)) < 0)
        return -1;
    return bigendian ? (a << 8) | b : (b << 8) | a;
}

// Reads UTF-16 from in and writes UTF-8 to out; FALSE when a read or a write fails.
static BOOL Transcode(XMLFile *in, BPTR out, BOOL bigendian)
{
    char chunk[XML_BUFSIZE];
    uint32 n = 0, cp;
    int32 unit, low;

    while ((unit = NextUnit(in, bigendian)) >= 0) {
        cp = (uint32)unit;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            low = NextUnit(in, bigendian);
            if (low >= 0xDC00 && low <= 0xDFFF)
                cp = 0x10000 + ((cp - 0xD800) << 10) + ((uint32)low - 0xDC00);
            else
                cp = 0xFFFD;    // a lone half: the unit after it is lost with it
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (n + 4 > sizeof(chunk)) {
            if (IDOS->FWrite(out, chunk, n, 1) != 1)
                return FALSE;
            n = 0;
        }
        n += EncodeUTF8(cp, chunk + n);
    }
    if (!EndOfFile(in))
        return FALSE;
    return n == 0 || IDOS->FWrite(out, chunk, n, 1) == 1;
}

// The member as a stream; NULL with *missing when it is not there, without when the system
// fails.
static XMLFile *OpenMember(const char *name, BOOL *missing)
{
    BPTR fh = IDOS->FOpen(name, MODE_OLDFILE, XML_BUFSIZE);
    XMLFile *f;

    *missing = FALSE;
    if (fh == ZERO) {
        // A folder missing on the way, or one where the member should be: not there either.
        int32 why = IDOS->IoErr();
        *missing = why == ERROR_OBJECT_NOT_FOUND || why == ERROR_DIR_NOT_FOUND
                   || why == ERROR_OBJECT_WRONG_TYPE ? TRUE : FALSE;
        return nullptr;
    }
    if ((f = OpenXMLStream(fh)) == nullptr)
        IDOS->FClose(fh);
    return f;
}

XMLFile *OpenXMLFile(const char *name, BOOL *missing)
{
    char copy[XML_PATHSIZE];
    XMLFile *in = OpenMember(name, missing);
    BPTR out;
    int32 a, b;
    BOOL mark, wide, bigendian, ok;

    if (in == nullptr)
        return nullptr;
    a = NextByte(in);
    b = NextByte(in);
    if (b < 0 && !EndOfFile(in))
        return Failed(in);
    mark = (a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF);
    wide = mark || (a == '<' && b == 0) || (a == 0 && b == '<');
    bigendian = a == 0xFE || a == 0;
    // Behind the mark, or back at the start: without one the "<" is kept.
    if (!XMLSeek(in, mark ? 2 : 0))
        return Failed(in);
    if (!wide)
        return in;

    IUtility->Strlcpy(copy, name, sizeof(copy));
    if (IUtility->Strlcat(copy, ".utf8", sizeof(copy)) >= (int32)sizeof(copy))
        return Failed(in);
    IExec->DebugPrintF("UTF-16: %s\n", name);
    out = IDOS->FOpen(copy, MODE_NEWFILE, XML_BUFSIZE);
    if (out == ZERO)
        return Failed(in);
    ok = Transcode(in, out, bigendian);
    IDOS->FClose(out);
    CloseXMLStream(in);
    return ok ? OpenMember(copy, missing) : nullptr;
}
