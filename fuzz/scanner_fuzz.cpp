// The scanner and the text reader, walked over the input as the sheet walk and the string
// table walk them, with buffers of the sizes the input asks for: every buffer is a heap
// block of exactly its size, so a byte past it is a fault.
//
// The input: a header of twelve bytes, then the XML.
//   byte 0      the code set
//   byte 1      bit 0 escapes decoded in values, bit 1 each tag peeked at with CheckofSection
//               first, bit 2 sheetData sought first
//   bytes 2-3   tag buffer, 1 to XML_BUFSIZE bytes
//   bytes 4-5   attribute value buffer, 1 to XML_BUFSIZE bytes
//   bytes 6-7   text buffer, 1 to 65536 bytes
//   bytes 8-9   character limit of a text
//   byte 10     element name buffer, 1 to 256 bytes
//   byte 11     buffer of the file's handle, 1 to 256 bytes
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "formula/formula.h"
#include "fuzz/setup.h"

static const size_t HEADER = 12;

static uint32_t Word(const uint8_t *p)
{
    return (uint32_t)p[0] << 8 | p[1];
}

// A buffer of exactly size bytes (at least one) on the heap.
struct Buffer {
    explicit Buffer(uint32_t n) : size(n), bytes(new char[n]) { bytes[0] = '\0'; }
    uint32_t size;
    std::unique_ptr<char[]> bytes;
    char *get() { return bytes.get(); }
};

static void CheckString(const char *what, const char *text, uint32_t size)
{
    if (memchr(text, '\0', size) == nullptr)
        FuzzViolated(what, "no terminator within its buffer");
}

// A text read into buf: within the buffer and the limit, terminated, and well-formed UTF-8
// when the file was.
static void CheckText(const XMLText &text, uint32_t maxchars, bool utf8)
{
    if (text.len >= text.size || text.buf[text.len] != '\0')
        FuzzViolated("a text is not terminated within its buffer");
    if (text.chars > maxchars)
        FuzzViolated("a text holds more characters than its limit");
    if (utf8 && !FuzzUtf8(std::string_view(text.buf, text.len)))
        FuzzViolated("a text of well-formed UTF-8 came out malformed",
                     std::string_view(text.buf, text.len));
}

// TRUE when every "<![" of xml opens a CDATA section. The scanner takes the six bytes behind
// any "<![" for "CDATA[" without looking, so a malformed one may cut a character in two.
static bool CDataWhole(std::string_view xml)
{
    for (size_t at = xml.find("<!["); at != std::string_view::npos; at = xml.find("<![", at + 1))
        if (xml.substr(at + 3, 6) != "CDATA[")
            return false;
    return true;
}

// A value as GetSectionParameter gives it: empty, or in double quotes.
static void CheckValue(const char *value, uint32_t size)
{
    CheckString("an attribute value", value, size);
    size_t len = strlen(value);
    if (len != 0 && (len < 2 || value[0] != '"' || value[len - 1] != '"'))
        FuzzViolated("an attribute value is not quoted", value);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!FuzzBegin(data, size, HEADER))
        return 0;
    uint8_t options = data[1];
    BOOL escapes = (options & 0x01) ? TRUE : FALSE;
    Buffer tag(1 + Word(data + 2) % XML_BUFSIZE), value(1 + Word(data + 4) % XML_BUFSIZE);
    Buffer text(1 + Word(data + 6)), host(1 + Word(data + 6)), name(1 + data[10]);
    uint32_t maxchars = Word(data + 8);
    std::string_view xml((const char *)data + HEADER, size - HEADER);
    bool utf8 = FuzzUtf8(xml) && CDataWhole(xml);
    BOOL complete = FALSE;
    uint32 row, col;
    XMLText xtext;

    XMLFile *fp = OpenXMLStream(platform::MemoryFile(xml, 1 + data[11]));
    if (fp == nullptr)
        FuzzViolated("no stream over the input");
    if ((options & 0x04) && FindXMLSection(fp, "sheetData", tag.size, tag.get(), &complete))
        CheckString("a tag", tag.get(), tag.size);
    for (int k = 0; k < 10000; k++) {
        if (options & 0x02) {
            int64 before = XMLTell(fp);
            CheckofSection(fp, k % 2 ? "c" : "");
            if (XMLTell(fp) != before)
                FuzzViolated("CheckofSection moved the file");
        }
        if (!FindXMLSection(fp, "", tag.size, tag.get(), &complete))
            break;
        CheckString("a tag", tag.get(), tag.size);
        TagName(tag.get(), name.get(), name.size);
        CheckString("an element name", name.get(), name.size);

        if (NameIs(name.get(), "row") || NameIs(name.get(), "c")) {
            GetSectionParameter("r=", tag.get(), value.size, value.get());
            CheckValue(value.get(), value.size);
            GetRowColumnNumber(value.get(), &row, &col);
            if (row > 999999999 || col > 18278)
                FuzzViolated("a cell name read past nine digits or three letters", tag.get());
            GetSectionParameter(" t=", tag.get(), value.size, value.get());
            CheckValue(value.get(), value.size);
            ConvertCharset(value.get(), host.get(), host.size);
            CheckString("an attribute value in the host's charset", host.get(), host.size);
        } else if ((NameIs(name.get(), "v") || NameIs(name.get(), "f")) && !complete) {
            TextBegin(&xtext, text.get(), text.size, maxchars, escapes);
            GetXMLValue(fp, &xtext);
            CheckText(xtext, maxchars, utf8);
        } else if ((TagIs(tag.get(), "si") || TagIs(tag.get(), "is")) && !complete) {
            TextBegin(&xtext, text.get(), text.size, maxchars, TRUE);
            GetXMLText(fp, &xtext, TagIs(tag.get(), "si") ? "/si" : "/is");
            CheckText(xtext, maxchars, utf8);
        } else {
            continue;
        }
        ConvertCharset(text.get(), host.get(), host.size);
        CheckString("a text in the host's charset", host.get(), host.size);
    }
    CloseXMLStream(fp);
    FuzzNothingHeld("the scan");
    return 0;
}
