// The stream scanner, text decoding and the shared-string table. Every text buffer holds
// XML_BUFSIZE bytes; a text that does not fit is cut, and an empty-element tag is reported.
#pragma once

#include "sdk/dos.h"
#include "sdk/exec.h"

#define XML_PATHSIZE 512      // a member's path in the workspace
// The buffer of a member's handle: a large one makes a read of the system rare, and most
// peeks stay inside it.
#define XML_READSIZE 65536

#define XML_BUFSIZE 1024      // tags, names and attribute values

// The sheet's grid: its last row and column (XFD), and the room a cell name takes.
#define MAX_ROW      1048576u
#define MAX_COL      16384u
#define CELLNAME_MAX 16

// What a cell holds, as the spreadsheet programs keep it: texts of up to 32,767 characters,
// formulas of up to 8,192 as written. A converted formula may be longer than its source (a
// reference moved to the sheet's far corner, a percent turned into a division).
#define TEXT_MAXCHARS    32767
#define TEXT_BUFSIZE     (TEXT_MAXCHARS * 4 + 1)       // as UTF-8
#define FORMULA_MAXCHARS 8192
#define FORMULA_BUFSIZE  (FORMULA_MAXCHARS * 4 + 1)    // as UTF-8
#define CELL_BUFSIZE     (FORMULA_MAXCHARS * 8)        // a cell's text for the host

// The text buffers of one import, made once by the driver.
struct TextBuffers {
    char utf8[TEXT_BUFSIZE];     // a decoded text
    char host[CELL_BUFSIZE];     // a cell's text in the host's charset
};

// Element text decoded on its way into a buffer: references (and for cell texts the
// _xHHHH_ escapes) become UTF-8, at most maxchars characters are kept, each one whole; the
// rest is read and dropped, and cut tells.
struct XMLText {
    char  *buf;
    uint32 size;          // bytes of buf, the NUL included
    uint32 len;           // bytes kept
    uint32 chars;         // characters kept
    uint32 maxchars;
    uint32 need;          // continuation bytes the last character still has
    uint32 lead;          // where the last character starts
    uint32 avail;         // plain bytes TextPut may still keep without a look at the rest
    uint8  special;       // "_" when escapes are decoded, else 0
    BOOL   escapes;
    BOOL   cut;
    uint32 npend;         // a reference or escape not yet complete
    char   pend[12];
};

// --- stream.cpp

// A member open for scanning: its handle read in blocks into a buffer of the stream's own,
// so that taking a byte costs a call of the system only when a block is spent. A member in
// UTF-16 is turned into UTF-8 as each block is read (encoding.cpp).
#define XML_BLOCKSIZE 65536
#define XML_RAWSIZE   (XML_BLOCKSIZE / 2)   // UTF-16 read at once: at most 3 bytes a unit
struct XMLFile {
    uint8 *next, *end;     // what is left of the block: all that the fast path touches
    BPTR   fh;
    int64  start;          // the place of block[0]: its file position, or for UTF-16 that of
                           // its first unit shifted left by WIDE_SHIFT
    BOOL   failed;         // a read failed: the end met is no end of the file
    BOOL   wide;           // UTF-16, bigendian or not
    BOOL   bigendian;
    uint32 held;           // UTF-16 bytes read but not yet turned into the block
    int64  rawnext;        // the file position behind them
    uint8  block[XML_BLOCKSIZE];
    uint8  raw[XML_RAWSIZE];
};
// A place in a UTF-16 member: where the block's units start in the file, shifted by this,
// plus the offset in the block, which never reaches 1 << WIDE_SHIFT.
#define WIDE_SHIFT 17

// A stream over an open handle, which the stream closes; NULL when memory ran out.
XMLFile *OpenXMLStream(BPTR fh);
void     CloseXMLStream(XMLFile *f);
// The first byte of the next block, or -1 at the end of the file or on an error.
int32    RefillXMLStream(XMLFile *f);
// The next byte as 0 to 255, or -1 at the end.
static inline int32 NextByte(XMLFile *f)
{
    return f->next < f->end ? *f->next++ : RefillXMLStream(f);
}
// TRUE when the stream's next bytes, in its block, are text (a whole tag such as "</c>"),
// which is then consumed; FALSE with nothing consumed otherwise.
static inline BOOL TakeLiteral(XMLFile *f, const char *text)
{
    uint32 k = 0;

    for (; text[k] != '\0'; k++)
        if (f->end - f->next <= (int64)k || f->next[k] != (uint8)text[k])
            return FALSE;
    f->next += k;
    return TRUE;
}
// The first byte b in [p, end), or end: a word at a time, whatever the byte order.
static inline const uint8 *FindByte(const uint8 *p, const uint8 *end, uint8 b)
{
    const uint64 ones = 0x0101010101010101ull, pattern = ones * b;

    if (p < end && *p == b)    // in markup the byte looked for is mostly the next one
        return p;
    while (end - p >= 8) {
        uint64 w;
        __builtin_memcpy(&w, p, 8);
        w ^= pattern;
        if (((w - ones) & ~w & (ones << 7)) != 0)
            break;
        p += 8;
    }
    while (p < end && *p != b)
        p++;
    return p;
}
// Where the next byte comes from, and back to a place already read (never further on):
// inside the block without a call of the system. FALSE when the system cannot seek.
int64    XMLTell(const XMLFile *f);
BOOL     XMLSeek(XMLFile *f, int64 pos);
// TRUE when a read of the system failed: a -1 then met no end of the file.
BOOL     ReadFailed(const XMLFile *f);

// --- scanner.cpp

// Skips to the next tag whose name (after an optional "prefix:") begins with sname, consumes
// it and leaves its text, without "<" and ">", in buffer (size bytes). An empty sname takes
// the next tag whatever it is; a longer text than size - 1 is cut, the rest read past.
// complete: the tag ends in "/". FALSE at the end of the file.
BOOL FindXMLSection(XMLFile *fpr, const char *sname, uint32 size, char *buffer, BOOL *complete);
// TRUE when the next tag begins as FindXMLSection would match it; the position is kept.
BOOL CheckofSection(XMLFile *fpr, const char *sname);
// The value of an attribute of a tag text, with double quotes around it ("" when missing).
// spara is the name with "=", as "r=" or " t="; the name must start an attribute.
void GetSectionParameter(const char *spara, const char *dstring, uint32 size, char *buffer);
// An attribute's value of vlen bytes, quoted as GetSectionParameter gives it, into buffer
// (size bytes, at least 3); cut to fit.
void QuoteValue(const char *value, uint32 vlen, uint32 size, char *buffer);
// The same attributes where they stand in the tag text: values[k] and lens[k] for names[k],
// without quotes, NULL where it is missing. The first of a name counts.
void FindAttributes(const char *dstring, const char *const names[], const char *values[],
                    uint32 lens[], uint32 count);
// The character data of the element whose start tag was just consumed, up to and including
// its end tag, appended to text (CDATA as it stands). FALSE when the file ends first.
BOOL GetXMLValue(XMLFile *fpr, XMLText *text);
// TRUE when a tag text names the element name ("c", "/row"), with or without a prefix.
BOOL TagIs(const char *tag, const char *name);
// The first of names (count of them) that a tag text names, as TagIs compares; count when
// it names none of them.
uint32 TagIndex(const char *tag, const char *const names[], uint32 count);
// The element name of a tag text without its prefix, "/" kept: "/x:c" -> "/c". A name
// longer than size - 1 is cut.
void TagName(const char *tag, char *name, uint32 size);
// TRUE when two names are the same, byte for byte.
static inline BOOL NameIs(const char *a, const char *b)
{
    while (*a != '\0' && *a == *b) {
        a++;
        b++;
    }
    return *a == *b;
}

// --- encoding.cpp

// Opens a member of the workspace for scanning. A file written in UTF-16 (a byte order mark,
// or "<" as a 16-bit unit) is read as UTF-8 all the same: each block is converted as it is
// read, nothing is written. NULL when it cannot be opened; *missing then tells whether the
// file is not there at all, as against a failing system.
XMLFile *OpenXMLFile(const char *name, BOOL *missing);
// The stream's next block of UTF-16 as UTF-8: its first byte, or -1 at the end or on an error.
int32 RefillWideStream(XMLFile *f);
// Back to a place of a UTF-16 stream before its block. FALSE when the system cannot seek.
BOOL SeekWideStream(XMLFile *f, int64 pos);

// --- decode.cpp
// Starts a text in buf (size bytes, at least one): empty, at most maxchars characters.
void TextBegin(XMLText *text, char *buf, uint32 size, uint32 maxchars, BOOL escapes);
// As TextBegin with escapes, but buf keeps the text it held, for the traces that show it,
// until the first byte is put; only TextEnd makes it the new text.
void TextBeginOver(XMLText *text, char *buf, uint32 size, uint32 maxchars);
// Adds a byte of element text: references (the five named ones, numeric ones, and with
// escapes the _xHHHH_ of control characters) are decoded; a malformed one stays as written.
void TextPutSlow(XMLText *text, uint8 c);
static inline void TextPut(XMLText *text, uint8 c)
{
    if (c < 0x80 && c != '&' && c != text->special && text->avail > 0) {
        text->buf[text->len++] = (char)c;
        text->chars++;
        text->need = 0;
        text->avail--;
        return;
    }
    TextPutSlow(text, c);
}
// Adds a byte that is no markup (CDATA): never decoded.
void TextPutLiteral(XMLText *text, uint8 c);
// Ends what was added so far: a pending reference stays as written; the text is terminated.
void TextEnd(XMLText *text);

// UTF-8 into the 8-bit charset of ucsmap, at most size - 1 characters; istr may be utf8
// itself, since no character grows.
void ConvertCharset(const char *utf8, char *istr, uint32 size);
// Writes cp as UTF-8 into out (room for 4); the number of bytes.
uint32 EncodeUTF8(uint32 cp, char *out);

// The system's charset, kept from one import to the next: the code point of each 8-bit
// code, and the way back (code points below 256 by table, the others by binary search over
// at most 256 sorted pairs). Until a map is set every character is unknown.
struct Charset {
    ULONG  ucsmap[256];
    uint16 lowmap[256];      // the code plus one; 0: none
    BOOL   asciisame;        // ASCII maps to itself: plain texts need no decoding
    uint32 highcp[256];
    uint8  highcode[256];
    uint32 highcount;
};
extern Charset charset;
// Takes the system's map into ucsmap and builds the reverse table with it.
void SetCharsetMap(const ULONG *map);

// --- index.cpp

// Pointers by number, grown as needed; slots never set are NULL. Start it zeroed.
struct PointerIndex {
    APTR  *slots;
    uint32 room;
};
// Sets slot k, growing the index to hold it; FALSE when memory ran out.
BOOL IndexSet(PointerIndex *index, uint32 k, APTR p);
// Slot k; NULL beyond the index.
APTR IndexGet(const PointerIndex *index, uint32 k);
void IndexFree(PointerIndex *index);

// --- sharedstrings.cpp

// The shared strings of one import, in file order: found by their number through an index
// of their own, so stringlist itself stays empty. The texts lie in blocks of pool.
struct SharedStrings {
    List         stringlist;
    APTR         pool;                  // the import's: the texts go back with it
    PointerIndex index;                 // the text of entry k at slot k
    uint32       count;
    char        *textnext, *textend;    // room left in the current block
};
// The pools of an import grow by this.
#define SHARED_PUDDLE (2u << 20)
// The kinds of table an import keeps, as the traces number them.
enum { SHARED_STRINGS, SHARED_FORMULAS };

// Text of a shared-string item or inline string whose start tag was just consumed: every
// t outside phonetic runs, up to the item's end tag, appended to text.
BOOL GetXMLText(XMLFile *fpr, XMLText *text, const char *endname);
// Starts an empty table whose texts go into pool, in a record not yet used.
void BeginSharedStrings(SharedStrings *ss, APTR pool);
// Reads the shared-string file at path into the table: TRUE when it was read, or is not
// there at all (text cells then stay empty); FALSE when memory ran out or it cannot be read.
BOOL  ReadSharedStrings(const char *path, SharedStrings *ss, TextBuffers *buffers);
// Entry num of the table; NULL past its end.
char *GetSharedStrings(uint32 num, const SharedStrings *ss);
// Empties the table; its texts go back with the pool.
void  FreeSharedData(SharedStrings *ss);
