// diskfont of the stand-in: the 256-entry Unicode maps of the code sets charsets.h lists,
// each decoded once when first asked for, and the names that pick them.
#include <cctype>
#include <cstring>
#include <iterator>

#include "platform/charsets.h"
#include "platform/internal.h"

#ifdef SHEAF_BUILT_CHARMAPS
// The target's C library carries no converters: there the maps come ready-made from the
// build machine's iconv (mkcharmaps), as builtMaps and builtKnown in charsets' order.
#include "charmaps.inc"
#endif

namespace platform {

static const size_t COUNT = std::size(charsets);

// The map of charsets[i], or NULL when iconv cannot decode it.
static const ULONG *MapOf(size_t i)
{
#ifdef SHEAF_BUILT_CHARMAPS
    return builtKnown[i] ? builtMaps[i] : nullptr;
#else
    static ULONG maps[COUNT][256];
    static bool  tried[COUNT], decoded[COUNT];
    if (!tried[i]) {
        tried[i] = true;
        decoded[i] = DecodeCharset(charsets[i].name, maps[i]) == Decoding::SingleByte;
    }
    return decoded[i] ? maps[i] : nullptr;
#endif
}

const ULONG *CharsetMap(ULONG codeset)
{
    for (size_t i = 0; i < COUNT; i++)
        if (charsets[i].codeset == codeset)
            return MapOf(i);
    return nullptr;
}

const char *CodeSetName(ULONG codeset)
{
    for (const Charset &c : charsets)
        if (c.codeset == codeset)
            return c.name;
    return nullptr;
}

std::vector<std::string> CodeSetNames()
{
    std::vector<std::string> names;
    for (const Charset &c : charsets)
        names.push_back(c.name);
    return names;
}

// Whether name is word (of length n), ignoring case and the '-', '_' and blanks people
// add or leave out: "iso8859-15" and "ISO_8859-15" are ISO-8859-15.
static bool SameName(const char *name, const char *word, size_t n)
{
    const char *end = word + n;
    for (;; name++, word++) {
        while (*name == '-' || *name == '_' || *name == ' ')
            name++;
        while (word < end && (*word == '-' || *word == '_'))
            word++;
        if (*name == '\0' || word == end)
            return *name == '\0' && word == end;
        if (tolower((uint8)*name) != tolower((uint8)*word))
            return false;
    }
}

// Whether name is the IANA name of c or one of its aliases.
static bool Names(const Charset &c, const char *name)
{
    if (SameName(name, c.name, strlen(c.name)))
        return true;
    for (const char *p = c.aliases; *p != '\0';) {
        size_t n = strcspn(p, " ");
        if (n > 0 && SameName(name, p, n))
            return true;
        p += n + (p[n] == ' ');
    }
    return false;
}

// Another name iconv knows for one of the charsets: the same map is the same charset.
static ULONG CodeSetByMap(const char *name, const char **why)
{
    ULONG map[256];
    switch (DecodeCharset(name, map)) {
    case Decoding::Unknown:
        return 0;
    case Decoding::MultiByte:
        *why = "is not single-byte";
        return 0;
    case Decoding::SingleByte:
        break;
    }
    for (size_t i = 0; i < COUNT; i++) {
        const ULONG *known = MapOf(i);
        if (known != nullptr && memcmp(known, map, sizeof(map)) == 0)
            return charsets[i].codeset;
    }
    *why = "has no code set number here";
    return 0;
}

ULONG CodeSetByName(const char *name, const char **why)
{
    const char *unused;
    if (why == nullptr)
        why = &unused;
    *why = "is unknown";
    if (name == nullptr || *name == '\0')
        return 0;
    for (size_t i = 0; i < COUNT; i++) {
        if (!Names(charsets[i], name))
            continue;
        if (MapOf(i) != nullptr)
            return charsets[i].codeset;
        *why = "is not known to this system's iconv";
        return 0;
    }
    return CodeSetByMap(name, why);
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
