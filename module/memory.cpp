// The memory routines the compiler calls by itself, for copies and clears of arrays and
// structures: the host hands a module no C library, so the module file brings its own.
// Built freestanding, so that these loops do not turn back into calls of themselves.
#include <cstddef>
#include <cstdint>

typedef uintptr_t Word;

extern "C" {

void *memcpy(void *dest, const void *src, size_t n);
void *memmove(void *dest, const void *src, size_t n);
void *memset(void *dest, int c, size_t n);
int   memcmp(const void *a, const void *b, size_t n);

static bool Aligned(const void *a, const void *b)
{
    return (((uintptr_t)a | (uintptr_t)b) & (sizeof(Word) - 1)) == 0;
}

// Word by word where both are aligned: forward, so also right for dest before src.
void *memcpy(void *dest, const void *src, size_t n)
{
    unsigned char *d = (unsigned char *)dest;
    const unsigned char *s = (const unsigned char *)src;

    if (Aligned(d, s))
        for (; n >= sizeof(Word); n -= sizeof(Word), d += sizeof(Word), s += sizeof(Word))
            *(Word *)d = *(const Word *)s;
    while (n-- > 0)
        *d++ = *s++;
    return dest;
}

// Overlapping blocks: backward when dest lies behind src.
void *memmove(void *dest, const void *src, size_t n)
{
    unsigned char *d = (unsigned char *)dest;
    const unsigned char *s = (const unsigned char *)src;

    if (d <= s || d >= s + n)
        return memcpy(dest, src, n);
    d += n;
    s += n;
    if (Aligned(d, s))
        for (; n >= sizeof(Word); n -= sizeof(Word)) {
            d -= sizeof(Word);
            s -= sizeof(Word);
            *(Word *)d = *(const Word *)s;
        }
    while (n-- > 0)
        *--d = *--s;
    return dest;
}

void *memset(void *dest, int c, size_t n)
{
    unsigned char *d = (unsigned char *)dest;
    Word fill = (unsigned char)c * (~(Word)0 / 0xFF);

    for (; n > 0 && ((uintptr_t)d & (sizeof(Word) - 1)) != 0; n--)
        *d++ = (unsigned char)c;
    for (; n >= sizeof(Word); n -= sizeof(Word), d += sizeof(Word))
        *(Word *)d = fill;
    while (n-- > 0)
        *d++ = (unsigned char)c;
    return dest;
}

int memcmp(const void *a, const void *b, size_t n)
{
    const unsigned char *p = (const unsigned char *)a, *q = (const unsigned char *)b;

    for (; n > 0; n--, p++, q++)
        if (*p != *q)
            return *p < *q ? -1 : 1;
    return 0;
}

}  // extern "C"
