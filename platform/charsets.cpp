// Charset maps from the C library's iconv, a byte at a time into UTF-32.
#include "platform/charsets.h"

#include <cerrno>
#include <iconv.h>

namespace platform {

// The code point of byte on its own, UNMAPPED when it gives none or more than one. 0, or the
// error: EINVAL when the byte only begins a character.
static int DecodeByte(iconv_t cd, uint8 byte, ULONG *cp)
{
    char in = (char)byte, out[16];
    char *from = &in, *to = out;
    size_t left = 1, room = sizeof(out);

    *cp = UNMAPPED;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);     // nothing left from the byte before
    if (iconv(cd, &from, &left, &to, &room) == (size_t)-1)
        return errno;
    // Converters that combine marks hold a letter back until they see what follows.
    if (iconv(cd, nullptr, nullptr, &to, &room) == (size_t)-1)
        return errno;
    if (to - out == 4) {
        const uint8 *u = (const uint8 *)out;
        *cp = (ULONG)u[0] << 24 | (ULONG)u[1] << 16 | (ULONG)u[2] << 8 | u[3];
    }
    return 0;
}

Decoding DecodeCharset(const char *name, ULONG *map)
{
    iconv_t cd = iconv_open("UTF-32BE", name);
    if (cd == (iconv_t)-1)
        return Decoding::Unknown;
    Decoding result = Decoding::SingleByte;
    for (int byte = 0; byte < 256; byte++)
        if (DecodeByte(cd, (uint8)byte, &map[byte]) == EINVAL)
            result = Decoding::MultiByte;
    iconv_close(cd);
    return result;
}

}  // namespace platform
