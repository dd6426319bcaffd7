// utility of the stand-in: bounded strings, ASCII-folding comparisons and UTF-8 decoding.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/internal.h"

namespace platform {

void MustNotOverlap(const char *call, const void *source, const void *dest, size_t size)
{
    const char *s = (const char *)source, *d = (const char *)dest;
    if (size != 0 && s < d + size && d < s + size) {
        fprintf(stderr, "%s: %zu bytes from %p to %p overlap\n", call, size, source, dest);
        abort();
    }
}

static uint32 Strlen(CONST_STRPTR string)
{
    return string == nullptr ? 0 : (uint32)strlen(string);
}

// Copies at most size - 1 characters and always terminates when size > 0; the result is
// the length of src, so a result >= size means the copy was cut. The buffers must not
// overlap: the system promises nothing then, and here it stops.
static int32 Strlcpy(STRPTR dst, CONST_STRPTR src, int32 size)
{
    size_t length = strlen(src);
    if (size > 0) {
        size_t n = length < (size_t)size - 1 ? length : (size_t)size - 1;
        MustNotOverlap("Strlcpy", src, dst, n + 1);
        memcpy(dst, src, n);
        dst[n] = '\0';
    }
    return (int32)length;
}

// Appends within size bytes; the result is the length the whole text would have. A dst
// with no terminator within size is left alone.
static int32 Strlcat(STRPTR dst, CONST_STRPTR src, int32 size)
{
    size_t limit = size > 0 ? (size_t)size : 0;
    size_t used = strnlen(dst, limit), length = strlen(src);
    if (used == limit)
        return (int32)(limit + length);
    size_t room = limit - used - 1, n = length < room ? length : room;
    MustNotOverlap("Strlcat", src, dst + used, n + 1);
    memcpy(dst + used, src, n);
    dst[used + n] = '\0';
    return (int32)(used + length);
}

static int Fold(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

static int32 Stricmp(CONST_STRPTR a, CONST_STRPTR b)
{
    const unsigned char *p = (const unsigned char *)a, *q = (const unsigned char *)b;
    for (;; p++, q++) {
        int d = Fold(*p) - Fold(*q);
        if (d != 0 || *p == '\0')
            return d;
    }
}

static int32 Strnicmp(CONST_STRPTR a, CONST_STRPTR b, int32 length)
{
    const unsigned char *p = (const unsigned char *)a, *q = (const unsigned char *)b;
    for (; length > 0; length--, p++, q++) {
        int d = Fold(*p) - Fold(*q);
        if (d != 0 || *p == '\0')
            return d;
    }
    return 0;
}

static void ClearMem(APTR memory, uint32 size)
{
    if (size != 0)
        memset(memory, 0, size);
}

// Length of the valid UTF-8 sequence at s and its code point in *cp; 0 when the byte at s
// does not start one (stray continuation, overlong form, surrogate, beyond U+10FFFF, cut).
static int DecodeOne(const unsigned char *s, int32 *cp)
{
    unsigned char c = s[0];
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    int n;
    unsigned char lo = 0x80, hi = 0xBF;     // the range of the second byte
    int32 value;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        value = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        value = c & 0x0F;
        if (c == 0xE0)
            lo = 0xA0;
        else if (c == 0xED)
            hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        value = c & 0x07;
        if (c == 0xF0)
            lo = 0x90;
        else if (c == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (s[1] < lo || s[1] > hi)
        return 0;
    value = (value << 6) | (s[1] & 0x3F);
    for (int i = 2; i < n; i++) {
        if ((s[i] & 0xC0) != 0x80)          // the terminator also ends it here
            return 0;
        value = (value << 6) | (s[i] & 0x3F);
    }
    *cp = value;
    return n;
}

// Decodes up to ucs4len code points and returns their count; a 0 follows them when there
// is room. With UTF_INVALID_SUBST_FFFD each byte that belongs to no valid sequence gives
// U+FFFD and decoding goes on with the next byte; without it decoding stops there.
static int32 UTF8toUCS4(CONST_STRPTR utf8, int32 *ucs4, int32 ucs4len, uint32 flags)
{
    if (utf8 == nullptr || ucs4 == nullptr || ucs4len <= 0)
        return 0;
    const unsigned char *s = (const unsigned char *)utf8;
    int32 count = 0;
    while (*s != '\0' && count < ucs4len) {
        int32 cp;
        int n = DecodeOne(s, &cp);
        if (n == 0) {
            if (!(flags & UTF_INVALID_SUBST_FFFD))
                break;
            cp = 0xFFFD;
            n = 1;
        }
        ucs4[count++] = cp;
        s += n;
    }
    if (count < ucs4len)
        ucs4[count] = 0;
    return count;
}

UtilityIFace utility = {
    .Data       = {.Link = {}, .LibBase = nullptr, .RefCount = 1, .Version = 1},
    .Strlen     = Strlen,
    .Strlcpy    = Strlcpy,
    .Strlcat    = Strlcat,
    .Stricmp    = Stricmp,
    .Strnicmp   = Strnicmp,
    .ClearMem   = ClearMem,
    .UTF8toUCS4 = UTF8toUCS4,
};

}  // namespace platform
