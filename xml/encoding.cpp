// Members written in UTF-16, as some phone and web producers do: converted once to UTF-8
// beside the original, so the byte scanner never sees two bytes per character.
#include "xml/xml.h"

#include "sdk/proto.h"

// Closes in after a failure; ZERO.
static BPTR CloseXMLFile(BPTR in)
{
    IDOS->FClose(in);
    return ZERO;
}

// The next 16-bit unit, or -1 at the end.
static int32 NextUnit(BPTR fp, BOOL bigendian)
{
    int32 a = IDOS->FGetC(fp), b;

    if (a < 0 || (b = IDOS->FGetC(fp)) < 0)
        return -1;
    return bigendian ? (a << 8) | b : (b << 8) | a;
}

// Reads UTF-16 from in and writes UTF-8 to out; FALSE when a write fails.
static BOOL Transcode(BPTR in, BPTR out, BOOL bigendian)
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
    if (!EndOfFile())
        return FALSE;
    return n == 0 || IDOS->FWrite(out, chunk, n, 1) == 1;
}

BOOL EndOfFile(void)
{
    return IDOS->IoErr() == 0 ? TRUE : FALSE;
}

BPTR OpenXMLFile(const char *name, BOOL *missing)
{
    char copy[XML_PATHSIZE];
    BPTR in = IDOS->FOpen(name, MODE_OLDFILE, XML_READSIZE), out;
    int32 a, b;
    BOOL bigendian, ok;

    *missing = FALSE;
    if (in == ZERO) {
        *missing = IDOS->IoErr() == ERROR_OBJECT_NOT_FOUND ? TRUE : FALSE;
        return ZERO;
    }
    a = IDOS->FGetC(in);
    b = IDOS->FGetC(in);
    if ((a == 0xFF && b == 0xFE) || (a == '<' && b == 0))
        bigendian = FALSE;
    else if ((a == 0xFE && b == 0xFF) || (a == 0 && b == '<'))
        bigendian = TRUE;
    else if (b >= 0 || EndOfFile())
        return IDOS->ChangeFilePosition(in, 0, OFFSET_BEGINNING) ? in : CloseXMLFile(in);
    else
        return CloseXMLFile(in);
    if ((a == '<' || b == '<') && !IDOS->ChangeFilePosition(in, 0, OFFSET_BEGINNING))
        return CloseXMLFile(in);     // no mark: the "<" is kept

    IUtility->Strlcpy(copy, name, sizeof(copy));
    if (IUtility->Strlcat(copy, ".utf8", sizeof(copy)) >= sizeof(copy))
        return CloseXMLFile(in);
    IExec->DebugPrintF("UTF-16: %s\n", name);
    out = IDOS->FOpen(copy, MODE_NEWFILE, XML_READSIZE);
    if (out == ZERO)
        return CloseXMLFile(in);
    ok = Transcode(in, out, bigendian);
    IDOS->FClose(out);
    IDOS->FClose(in);
    return ok ? IDOS->FOpen(copy, MODE_OLDFILE, XML_READSIZE) : ZERO;
}
