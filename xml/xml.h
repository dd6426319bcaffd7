// The stream scanner, text decoding and the shared-string table. Every text buffer holds
// XML_BUFSIZE bytes; truncation and empty-element tags are reported through two flags.
#pragma once

#include "sdk/dos.h"
#include "sdk/exec.h"

#define XML_BUFSIZE 1024

// --- scanner.cpp

// Skips to the next tag whose name (after an optional "prefix:") begins with sname, consumes
// it and leaves its text, without "<" and ">", in buffer (size bytes). An empty sname takes
// the next tag whatever it is. complete: the tag ends in "/". FALSE at the end of the file.
BOOL FindXMLSection(BPTR fpr, const char *sname, uint32 size, char *buffer, BOOL *trunc,
                    BOOL *complete);
// TRUE when the next tag begins as FindXMLSection would match it; the position is kept.
BOOL CheckofSection(BPTR fpr, const char *sname);
// The value of an attribute of a tag text, with double quotes around it ("" when missing).
// spara is the name with "=", as "r=" or " t="; the name must start an attribute.
void GetSectionParameter(const char *spara, const char *dstring, uint32 size, char *buffer,
                         BOOL *trunc);
// The character data of the element whose start tag was just consumed, up to and including
// its end tag; CDATA is kept with "&" and "<" written as references. data holds size bytes.
BOOL GetXMLValue(BPTR fpr, char *data, uint32 size, BOOL *trunc);
// Replaces every occurrence of rstr, ignoring case, within a XML_BUFSIZE buffer.
void ReplaceString(char *sstr, const char *rstr, const char *nstr);
// Reads a cell name ("B3", with or without quotes; quotes are removed in place).
void GetRowColumnNumber(char *cellname, uint32 *row, uint32 *col);
// TRUE when a tag text names the element name ("c", "/row"), with or without a prefix.
BOOL TagIs(const char *tag, const char *name);
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
// or "<" as a 16-bit unit) is first written out again as UTF-8 beside it, and that copy is
// opened: the scanner reads bytes. ZERO when it cannot be opened or converted.
BPTR OpenXMLFile(const char *name);

// --- decode.cpp

// Text of a shared-string item or inline string whose start tag was just consumed: every
// t outside phonetic runs, up to the item's end tag. data holds size bytes, raw.
BOOL GetXMLText(BPTR fpr, char *data, uint32 size, const char *endname);
// XML references and UTF-8 in xstr into the 8-bit text istr (size bytes); d must be 2.
// A character the charset lacks becomes "?"; so does each byte that is not UTF-8.
void ConvertText(char *xstr, char *istr, uint32 size, int32 d);
// Decodes the references of xstr (the five named ones, numeric ones and the _xHHHH_
// escapes of control characters) into UTF-8, in one pass; a malformed one stays as written.
void DecodeReferences(const char *xstr, char *out, uint32 size, BOOL escapes);
// UTF-8 into the 8-bit charset of ucsmap.
void ConvertCharset(const char *utf8, char *istr, uint32 size);
// Builds the reverse charset table from ucsmap; once per import.
void BuildCharsetTable(void);

// --- sharedstrings.cpp

BOOL  ReadSharedStrings(void);
char *GetSharedStrings(uint32 num, List *list, Node **datanode);
void  FreeSharedData(List *list, uint8 type);
