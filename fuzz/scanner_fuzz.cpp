// Feeds arbitrary bytes to the scanner and the text reader as a worksheet or string item.
#include <cstdint>
#include <string_view>

#include "fuzz/setup.h"
#include "xml/xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char tag[XML_BUFSIZE], value[XML_BUFSIZE], text[XML_BUFSIZE];
    BOOL trunc = FALSE, complete = FALSE;
    XMLText xml;

    FuzzSetup();
    XMLFile *fp = OpenXMLStream(platform::MemoryFile(std::string_view((const char *)data, size), 64));
    if (fp == nullptr)
        return 0;
    for (int k = 0; k < 10000 && FindXMLSection(fp, "", sizeof(tag), tag, &trunc, &complete); k++) {
        GetSectionParameter("r=", tag, sizeof(value), value, &trunc);
        uint32 row, col;
        GetRowColumnNumber(value, &row, &col);
        CheckofSection(fp, "v");
        TextBegin(&xml, value, sizeof(value), 300, TRUE);
        if (TagIs(tag, "si"))
            GetXMLText(fp, &xml, "/si");
        else if (!complete)
            GetXMLValue(fp, &xml);
        ConvertText(value, text, sizeof(text), 2);
    }
    CloseXMLStream(fp);
    return 0;
}
