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

namespace {

// Every length up to a few words, at every offset within a word, both ways and overlapping:
// the word loops and the byte loops, each against bytes moved one by one here.
TEST(ModuleMemory, MovesCopiesAndSetsAtEveryAlignment)
{
    alignas(16) unsigned char buf[128], old[128], want[128];
    for (size_t k = 0; k < sizeof(old); k++)
        old[k] = (unsigned char)(k * 7 + 1);
    for (size_t n = 0; n <= 40; n++) {
        for (size_t from = 40; from < 56; from++) {
            for (size_t to = 40; to < 56; to++) {
                memcpy(want, old, sizeof(old));
                for (size_t k = 0; k < n; k++)
                    want[to + k] = old[from + k];
                memcpy(buf, old, sizeof(old));
                ASSERT_EQ(buf + to, ModuleMemmove(buf + to, buf + from, n));
                ASSERT_EQ(0, memcmp(want, buf, sizeof(buf))) << "memmove " << n << " from " << from << " to " << to;
                if (to + n <= from || from + n <= to) {
                    memcpy(buf, old, sizeof(old));
                    ASSERT_EQ(buf + to, ModuleMemcpy(buf + to, buf + from, n));
                    ASSERT_EQ(0, memcmp(want, buf, sizeof(buf))) << "memcpy " << n << " from " << from << " to " << to;
                }
            }
            memcpy(want, old, sizeof(old));
            for (size_t k = 0; k < n; k++)
                want[from + k] = 0xA5;
            memcpy(buf, old, sizeof(old));
            ASSERT_EQ(buf + from, ModuleMemset(buf + from, 0x1A5, n));   // the low byte counts
            ASSERT_EQ(0, memcmp(want, buf, sizeof(buf))) << "memset " << n << " at " << from;
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

}  // namespace
