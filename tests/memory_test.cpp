// The module file's own memory routines, under names of their own here: the tests and the
// C library keep theirs.
#define memcpy  ModuleMemcpy
#define memmove ModuleMemmove
#define memset  ModuleMemset
#define memcmp  ModuleMemcmp
#include "module/memory.cpp"
#undef memcpy
#undef memmove
#undef memset
#undef memcmp

#include <gtest/gtest.h>

#include <cstring>

// Every length up to a few words, at every offset within a word, both ways and overlapping:
// the word loops and the byte loops, each against what the C library makes of it.
TEST(ModuleMemory, MovesCopiesAndSetsAtEveryAlignment)
{
    alignas(16) unsigned char buf[128], old[128], want[128];
    for (size_t k = 0; k < sizeof(old); k++)
        old[k] = (unsigned char)(k * 7 + 1);
    // What the routine returned and left in buf, against want; buf is as old again after.
    auto same = [&](void *got, void *expected) {
        bool ok = got == expected && memcmp(want, buf, sizeof(buf)) == 0;
        memcpy(buf, old, sizeof(old));
        return ok;
    };
    memcpy(buf, old, sizeof(old));
    for (size_t n = 0; n <= 40; n++) {
        for (size_t from = 40; from < 56; from++) {
            for (size_t to = 40; to < 56; to++) {
                memcpy(want, old, sizeof(old));
                memcpy(want + to, old + from, n);
                ASSERT_TRUE(same(ModuleMemmove(buf + to, buf + from, n), buf + to))
                    << "memmove " << n << " from " << from << " to " << to;
                if (to + n <= from || from + n <= to) {
                    ASSERT_TRUE(same(ModuleMemcpy(buf + to, buf + from, n), buf + to))
                        << "memcpy " << n << " from " << from << " to " << to;
                }
            }
            memcpy(want, old, sizeof(old));
            memset(want + from, 0xA5, n);
            ASSERT_TRUE(same(ModuleMemset(buf + from, 0x1A5, n), buf + from))
                << "memset " << n << " at " << from;        // the low byte counts
        }
    }
}

// Bytes compare unsigned, the first difference decides.
TEST(ModuleMemory, ComparesTheFirstDifferenceUnsigned)
{
    unsigned char a[16], b[16];
    for (size_t n = 1; n <= sizeof(a); n++) {
        for (size_t k = 0; k < n; k++) {
            for (size_t j = 0; j < n; j++)
                a[j] = b[j] = (unsigned char)(j + 0x70);
            b[k] = (unsigned char)(b[k] + 0x20);
            EXPECT_LT(ModuleMemcmp(a, b, n), 0) << n << " differ at " << k;
            EXPECT_GT(ModuleMemcmp(b, a, n), 0) << n << " differ at " << k;
            EXPECT_EQ(0, ModuleMemcmp(a, b, k)) << n << " equal up to " << k;
        }
    }
}
