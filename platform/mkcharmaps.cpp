// mkcharmaps OUT: the maps of charsets.h as C++ source, decoded by this machine's iconv,
// for a build whose own C library has no converters.
#include <cstdio>
#include <iterator>

#include "platform/charsets.h"

int main(int argc, char **argv)
{
    using namespace platform;
    FILE *out = argc == 2 ? fopen(argv[1], "w") : nullptr;
    if (out == nullptr) {
        fprintf(stderr, "usage: mkcharmaps OUT\n");
        return 2;
    }
    fprintf(out, "// Made by mkcharmaps with the build machine's iconv.\n");
    fprintf(out, "static const bool builtKnown[%zu] = {", std::size(charsets));
    static ULONG maps[std::size(charsets)][256];
    for (size_t i = 0; i < std::size(charsets); i++)
        fprintf(out, "%s", DecodeCharset(charsets[i].name, maps[i]) == Decoding::SingleByte
                               ? "true, " : "false, ");
    fprintf(out, "};\nstatic const ULONG builtMaps[%zu][256] = {\n", std::size(charsets));
    for (size_t i = 0; i < std::size(charsets); i++) {
        fprintf(out, "    {   // %s", charsets[i].name);
        for (int b = 0; b < 256; b++)
            fprintf(out, "%s0x%05X,", b % 8 == 0 ? "\n        " : " ", (unsigned)maps[i][b]);
        fprintf(out, "\n    },\n");
    }
    fprintf(out, "};\n");
    return fclose(out) == 0 ? 0 : 1;
}
