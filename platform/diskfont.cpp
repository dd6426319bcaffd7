// diskfont of the stand-in: the 256-entry Unicode maps of the 8-bit code sets it knows,
// and their names.
#include <array>
#include <cstring>
#include <initializer_list>
#include <strings.h>
#include <utility>

#include "platform/internal.h"

namespace platform {

using CharsetTable = std::array<ULONG, 256>;

// Latin-1 with the listed bytes mapped elsewhere.
static constexpr CharsetTable Patched(std::initializer_list<std::pair<int, ULONG>> changes)
{
    CharsetTable table{};
    for (int i = 0; i < 256; i++)
        table[i] = (ULONG)i;
    for (const auto &[byte, codepoint] : changes)
        table[byte] = codepoint;
    return table;
}

static constexpr CharsetTable latin1 = Patched({});

static constexpr CharsetTable latin9 = Patched({
    {0xA4, 0x20AC}, {0xA6, 0x0160}, {0xA8, 0x0161}, {0xB4, 0x017D},
    {0xB8, 0x017E}, {0xBC, 0x0152}, {0xBD, 0x0153}, {0xBE, 0x0178},
});

static constexpr CharsetTable latin2 = Patched({
    {0xA1, 0x0104}, {0xA2, 0x02D8}, {0xA3, 0x0141}, {0xA5, 0x013D}, {0xA6, 0x015A},
    {0xA9, 0x0160}, {0xAA, 0x015E}, {0xAB, 0x0164}, {0xAC, 0x0179}, {0xAE, 0x017D},
    {0xAF, 0x017B}, {0xB1, 0x0105}, {0xB2, 0x02DB}, {0xB3, 0x0142}, {0xB5, 0x013E},
    {0xB6, 0x015B}, {0xB7, 0x02C7}, {0xB9, 0x0161}, {0xBA, 0x015F}, {0xBB, 0x0165},
    {0xBC, 0x017A}, {0xBD, 0x02DD}, {0xBE, 0x017E}, {0xBF, 0x017C},
    {0xC0, 0x0154}, {0xC3, 0x0102}, {0xC5, 0x0139}, {0xC6, 0x0106}, {0xC8, 0x010C},
    {0xCA, 0x0118}, {0xCC, 0x011A}, {0xCF, 0x010E}, {0xD0, 0x0110}, {0xD1, 0x0143},
    {0xD2, 0x0147}, {0xD5, 0x0150}, {0xD8, 0x0158}, {0xD9, 0x016E}, {0xDB, 0x0170},
    {0xDE, 0x0162},
    {0xE0, 0x0155}, {0xE3, 0x0103}, {0xE5, 0x013A}, {0xE6, 0x0107}, {0xE8, 0x010D},
    {0xEA, 0x0119}, {0xEC, 0x011B}, {0xEF, 0x010F}, {0xF0, 0x0111}, {0xF1, 0x0144},
    {0xF2, 0x0148}, {0xF5, 0x0151}, {0xF8, 0x0159}, {0xF9, 0x016F}, {0xFB, 0x0171},
    {0xFE, 0x0163}, {0xFF, 0x02D9},
});

// The five codes Windows leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) keep their C1
// control code points, as Windows itself converts them.
static constexpr CharsetTable cp1252 = Patched({
    {0x80, 0x20AC}, {0x82, 0x201A}, {0x83, 0x0192}, {0x84, 0x201E}, {0x85, 0x2026},
    {0x86, 0x2020}, {0x87, 0x2021}, {0x88, 0x02C6}, {0x89, 0x2030}, {0x8A, 0x0160},
    {0x8B, 0x2039}, {0x8C, 0x0152}, {0x8E, 0x017D},
    {0x91, 0x2018}, {0x92, 0x2019}, {0x93, 0x201C}, {0x94, 0x201D}, {0x95, 0x2022},
    {0x96, 0x2013}, {0x97, 0x2014}, {0x98, 0x02DC}, {0x99, 0x2122}, {0x9A, 0x0161},
    {0x9B, 0x203A}, {0x9C, 0x0153}, {0x9E, 0x017E}, {0x9F, 0x0178},
});

static const struct {
    const char         *name, *alias;
    ULONG               codeset;
    const CharsetTable *table;
} codeSets[] = {
    {"ISO-8859-1", "latin1", CODESET_ISO_8859_1, &latin1},
    {"ISO-8859-15", "latin9", CODESET_ISO_8859_15, &latin9},
    {"ISO-8859-2", "latin2", CODESET_ISO_8859_2, &latin2},
    {"windows-1252", "cp1252", CODESET_WINDOWS_1252, &cp1252},
};

const ULONG *CharsetMap(ULONG codeset)
{
    for (const auto &c : codeSets)
        if (c.codeset == codeset)
            return c.table->data();
    return nullptr;
}

ULONG CodeSetByName(const char *name)
{
    if (name == nullptr)
        return 0;
    for (const auto &c : codeSets)
        if (strcasecmp(name, c.name) == 0 || strcasecmp(name, c.alias) == 0)
            return c.codeset;
    return 0;
}

// Only the map table of a code set number; 0 for anything else.
static uintptr_t ObtainCharsetInfo(ULONG knownTag, ULONG knownValue, ULONG wantedTag)
{
    if (faults.noCharsetMap || knownTag != DFCS_NUMBER || wantedTag != DFCS_MAPTABLE ||
        Fails("ObtainCharsetInfo"))
        return 0;
    return (uintptr_t)CharsetMap(knownValue);
}

DiskfontIFace diskfont = {
    .Data              = {.Link = {}, .LibBase = nullptr, .RefCount = 0, .Version = 1},
    .ObtainCharsetInfo = ObtainCharsetInfo,
};

}  // namespace platform
