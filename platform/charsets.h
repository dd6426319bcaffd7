// The single-byte charsets the stand-in offers as code sets, each by its IANA name and
// MIBenum number (what a locale's loc_CodeSet holds), and their maps as iconv decodes them.
// Needs nothing but the C library: the target build runs it on the build machine too.
#pragma once

#include "sdk/types.h"

namespace platform {

// What a byte the charset leaves undefined maps to: past the last code point, so no
// character of a text ever converts to it.
constexpr ULONG UNMAPPED = 0x110000;

struct Charset {
    const char *name;        // the IANA name, which iconv takes too
    ULONG       codeset;     // its MIBenum
    const char *aliases;     // other names, blank-separated
};

// One byte a character only: the module keeps its texts that way.
inline constexpr Charset charsets[] = {
    {"US-ASCII",      3,    "ascii"},
    {"ISO-8859-1",    4,    "latin1 l1"},
    {"ISO-8859-2",    5,    "latin2 l2"},
    {"ISO-8859-3",    6,    "latin3 l3"},
    {"ISO-8859-4",    7,    "latin4 l4"},
    {"ISO-8859-5",    8,    "cyrillic"},
    {"ISO-8859-6",    9,    "arabic"},
    {"ISO-8859-7",    10,   "greek"},
    {"ISO-8859-8",    11,   "hebrew"},
    {"ISO-8859-9",    12,   "latin5 l5"},
    {"ISO-8859-10",   13,   "latin6 l6"},
    {"ISO-8859-13",   109,  "latin7"},
    {"ISO-8859-14",   110,  "latin8 l8"},
    {"ISO-8859-15",   111,  "latin9"},
    {"ISO-8859-16",   112,  "latin10 l10"},
    {"windows-1250",  2250, "cp1250"},
    {"windows-1251",  2251, "cp1251"},
    {"windows-1252",  2252, "cp1252"},
    {"windows-1253",  2253, "cp1253"},
    {"windows-1254",  2254, "cp1254"},
    {"windows-1255",  2255, "cp1255"},
    {"windows-1256",  2256, "cp1256"},
    {"windows-1257",  2257, "cp1257"},
    {"windows-1258",  2258, "cp1258"},
    {"KOI8-R",        2084, ""},
    {"KOI8-U",        2088, ""},
    {"IBM437",        2011, "cp437"},
    {"IBM850",        2009, "cp850"},
    {"IBM852",        2010, "cp852"},
    {"IBM866",        2086, "cp866"},
    {"macintosh",     2027, "mac"},
    {"TIS-620",       2259, ""},
};

enum class Decoding {
    Unknown,       // iconv has no charset of that name
    MultiByte,     // some byte only begins a character
    SingleByte,    // every byte stands alone
};

// Decodes the bytes 0 to 255 one at a time from the charset iconv knows as name: map gets
// each byte's code point, UNMAPPED where iconv gives none. map is 256 entries.
Decoding DecodeCharset(const char *name, ULONG *map);

}  // namespace platform
