// Members open for scanning: each handle read in large blocks into a buffer of the stream's
// own, so that taking a byte costs no call and a peek inside the block no call either.
#include "xml/xml.h"

#include "sdk/proto.h"

XMLFile *OpenXMLStream(BPTR fh)
{
    XMLFile *f = (XMLFile *)IExec->AllocVecTags(sizeof(XMLFile),
                                                AVT_Type, MEMF_PRIVATE,
                                                TAG_DONE);
    if (f == nullptr)
        return nullptr;
    f->next = f->end = f->block;
    f->fh = fh;
    f->start = 0;
    f->failed = FALSE;
    f->wide = f->bigendian = FALSE;
    f->held = 0;
    f->rawnext = 0;
    return f;
}

void CloseXMLStream(XMLFile *f)
{
    if (f == nullptr)
        return;
    IDOS->FClose(f->fh);
    IExec->FreeVec(f);
}

int32 RefillXMLStream(XMLFile *f)
{
    uint32 n;

    if (f->wide)
        return RefillWideStream(f);
    f->start += f->end - f->block;
    f->next = f->end = f->block;
    // A read that succeeds may leave any code behind, the end of the file included.
    IDOS->SetIoErr(0);
    n = IDOS->FRead(f->fh, f->block, 1, sizeof(f->block));
    if (n == 0) {
        f->failed = IDOS->IoErr() != 0 ? TRUE : FALSE;
        return -1;
    }
    f->end = f->block + n;
    return *f->next++;
}

int64 XMLTell(const XMLFile *f)
{
    return f->start + (f->next - f->block);
}

BOOL XMLSeek(XMLFile *f, int64 pos)
{
    // A place already read is in the block unless it lies before it.
    if (pos >= f->start) {
        f->next = f->block + (pos - f->start);
        return TRUE;
    }
    if (f->wide)
        return SeekWideStream(f, pos);
    if (!IDOS->ChangeFilePosition(f->fh, pos, OFFSET_BEGINNING)) {
        f->failed = TRUE;
        return FALSE;
    }
    f->start = pos;
    f->next = f->end = f->block;
    f->failed = FALSE;
    return TRUE;
}

BOOL ReadFailed(const XMLFile *f)
{
    return f->failed;
}
