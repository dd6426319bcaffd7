// Feeds arbitrary formula texts to the conversion, shifted and not.
#include <cstdint>
#include <cstring>

#include "formula/formula.h"
#include "fuzz/setup.h"
#include "xml/xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char in[XML_BUFSIZE], out[XML_BUFSIZE], small[16];

    FuzzSetup();
    if (size >= sizeof(in))
        size = sizeof(in) - 1;
    memcpy(in, data, size);
    in[size] = '\0';
    ConvertFormula(in, out, sizeof(out), 0, 0);
    ConvertFormula(in, out, sizeof(out), 7, -3);
    ConvertFormula(in, small, sizeof(small), 1048575, 16383);
    TranslateFormula(in, 2);
    while (ConvertProzent(in, sizeof(in), nullptr))
        ;
    return 0;
}
