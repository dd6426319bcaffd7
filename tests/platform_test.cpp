// The system stand-in: memory, buffered files, numbers, paths, strings, UTF-8 and code
// sets, each with its faults and counters.
#include <climits>
#include <cstring>
#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <tuple>

#include "tests/support/standin.h"

namespace {

struct StandIn : ::testing::Test {
    void SetUp() override { testing_support::UseStandIn(); }
};

}  // namespace

TEST_F(StandIn, AllocVecTagsClearsOnlyWhenAsked)
{
    // The system's own tag values: a list built here must mean the same there.
    EXPECT_EQ(0x80000001u, AVT_Type);
    EXPECT_EQ(0x80000006u, AVT_ClearWithValue);
    auto *zero = (UBYTE *)platform::exec.AllocVecTags(64, AVT_Type, MEMF_PRIVATE, AVT_ClearWithValue, 0, TAG_DONE);
    auto *fill = (UBYTE *)platform::exec.AllocVecTags(64, AVT_ClearWithValue, 0x5A, TAG_DONE);
    auto *junk = (UBYTE *)platform::exec.AllocVecTags(64, AVT_Type, MEMF_SHARED, TAG_DONE);
    ASSERT_TRUE(zero && fill && junk);
    EXPECT_EQ(3, platform::HeldMemory());
    EXPECT_EQ(std::string(64, '\0'), std::string((const char *)zero, 64));
    EXPECT_EQ(std::string(64, 0x5A), std::string((const char *)fill, 64));
    EXPECT_EQ(std::string::npos, std::string((const char *)junk, 64).find('\0'));  // junk: relying on zeros fails
    EXPECT_EQ(nullptr, platform::exec.AllocVecTags(0, TAG_DONE));    // nothing is no block
    for (UBYTE *p : {zero, fill, junk, (UBYTE *)nullptr})
        platform::exec.FreeVec(p);
    EXPECT_EQ(0, platform::HeldMemory());
}

TEST_F(StandIn, FOpenOpensFilesOfTheMachineAndOfAssignsAndSeeks)
{
    auto &dos = platform::dos;
    std::string dir = testing_support::TempDir(), a = dir + "/a.xml", s = dir + "/s.xml";
    std::ofstream(a, std::ios::binary) << "<a/>";
    std::string inT = dir.substr(platform::AssignDir("T").size() + 1);   // "test.XXXXXX"
    // The system's codes: a folder missing on the way is not the file missing, a folder
    // is the wrong type of object, a file on the way as well.
    struct { std::string name; int32 ioerr; } cases[] = {
        {a, 0}, {"T:" + inT + "/a.xml", 0}, {"t:" + inT + "/a.xml", 0},
        {dir + "/missing.xml", ERROR_OBJECT_NOT_FOUND}, {dir + "/none/a.xml", ERROR_DIR_NOT_FOUND},
        {dir, ERROR_OBJECT_WRONG_TYPE}, {a + "/a.xml", ERROR_OBJECT_WRONG_TYPE},
    };
    for (const auto &c : cases) {
        dos.SetIoErr(0);
        BPTR fh = dos.FOpen(c.name.c_str(), MODE_OLDFILE, 1024);
        EXPECT_EQ(c.ioerr == 0, fh != ZERO) << c.name;
        EXPECT_EQ(c.ioerr, dos.IoErr()) << c.name;
        if (fh != ZERO) {
            EXPECT_EQ('<', dos.FGetC(fh));
            dos.FClose(fh);
        }
    }
    platform::faults.openFails = "a.xml";
    EXPECT_EQ(ZERO, dos.FOpen(a.c_str(), MODE_OLDFILE, 1024));
    EXPECT_EQ(0, platform::OpenFiles());
    // A seek back past the buffered window reads again, once.
    std::string data(8192, '\0');
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (char)(i * 7 % 251);
    std::ofstream(s, std::ios::binary) << data;
    BPTR fh = dos.FOpen(s.c_str(), MODE_OLDFILE, 1024);
    ASSERT_NE(ZERO, fh);
    for (int i = 0; i < 3000; i++)
        dos.FGetC(fh);
    uint64 before = platform::FileSystemCalls();
    EXPECT_NE(0, dos.ChangeFilePosition(fh, 10, OFFSET_BEGINNING));
    for (int i = 10; i < 20; i++)
        EXPECT_EQ((UBYTE)data[i], dos.FGetC(fh)) << i;
    EXPECT_EQ(before + 2, platform::FileSystemCalls());     // the file's size, then the read
    EXPECT_NE(0, dos.ChangeFilePosition(fh, -1, OFFSET_CURRENT));
    EXPECT_EQ((UBYTE)data[19], dos.FGetC(fh));
    EXPECT_EQ(20, dos.GetFilePosition(fh));
    // Before the start and past the end fail with a seek error and move nothing; the end
    // itself is a place.
    for (auto [position, mode] : {std::pair{-1, OFFSET_BEGINNING}, {8193, OFFSET_BEGINNING},
                                  {1, OFFSET_END}, {8174, OFFSET_CURRENT}, {-21, OFFSET_CURRENT}}) {
        dos.SetIoErr(0);
        EXPECT_EQ(0, dos.ChangeFilePosition(fh, position, mode)) << position << " " << mode;
        EXPECT_EQ(ERROR_SEEK_ERROR, dos.IoErr()) << position << " " << mode;
        EXPECT_EQ(20, dos.GetFilePosition(fh));
    }
    EXPECT_NE(0, dos.ChangeFilePosition(fh, 8192, OFFSET_BEGINNING));
    EXPECT_EQ(-1, dos.FGetC(fh));
    EXPECT_NE(0, dos.ChangeFilePosition(fh, -1, OFFSET_END));
    EXPECT_EQ((UBYTE)data.back(), dos.FGetC(fh));
    EXPECT_EQ(-1, dos.FGetC(fh));
    dos.FClose(fh);
}

TEST_F(StandIn, StrToLongStrnicmpAndUTF8toUCS4)
{
    struct { const char *text; int32 used, value; } cases[] = {
        {"123", 3, 123}, {"  42x", 4, 42}, {"\t-7", 3, -7}, {"+5", 2, 5}, {"007", 3, 7}, {"12.5", 2, 12},
        {"1E3", 1, 1}, {"2147483647", 10, INT32_MAX}, {"-2147483648", 11, INT32_MIN},
        // an overflow is no number, as no digit is
        {"2147483648", -1, 0}, {"-2147483649", -1, 0}, {"99999999999", -1, 0}, {"abc", -1, 0}, {"", -1, 0},
        {"-", -1, 0}, {" - 5", -1, 0}, {"\"12\"", -1, 0}, {"\n5", -1, 0},
    };
    for (const auto &c : cases) {
        int32 value = 99;
        EXPECT_EQ(c.used, platform::dos.StrToLong(c.text, &value)) << c.text;
        EXPECT_EQ(c.value, value) << c.text;
    }
    // Tag and function names compare without case, but only ASCII folds: a byte of the 8-bit
    // charset is never taken for another.
    struct { const char *a, *b; int32 length; bool same; } names[] = {
        {"_XLFN.SUM", "_xlfn.", 6, true}, {"Sheet1", "SHEET2", 5, true}, {"Sheet1", "SHEET2", 6, false},
        {"ab", "abc", 3, false}, {"\xC4", "\xE4", 1, false}, {"[", "{", 1, false},   // 'A'-'a' apart, no letters
    };
    for (const auto &c : names) {
        EXPECT_EQ(c.same, platform::utility.Strnicmp(c.a, c.b, c.length) == 0) << c.a;
        EXPECT_EQ(c.same && strlen(c.a) == strlen(c.b) && strlen(c.a) == (size_t)c.length,
                  platform::utility.Stricmp(c.a, c.b) == 0) << c.a;
    }
    const int32 F = 0xFFFD;
    struct { const char *utf8; std::vector<int32> subst, stop; } utf8[] = {
        {"\xC3\xA4z", {0xE4, 'z'}, {0xE4, 'z'}}, {"\xF4\x8F\xBF\xBF", {0x10FFFF}, {0x10FFFF}},
        {"a\x80z", {'a', F, 'z'}, {'a'}}, {"\xFF\xFE", {F, F}, {}},      // stray continuation, never valid
        {"\xC0\xAF", {F, F}, {}}, {"\xF0\x80\x80\xAF", {F, F, F, F}, {}},      // overlong
        {"\xED\xA0\x80x", {F, F, F, 'x'}, {}}, {"\xF4\x90\x80\x80", {F, F, F, F}, {}},   // surrogate, past U+10FFFF
        {"\xE2\x82z", {F, F, 'z'}, {}}, {"x\xE2\x82", {'x', F, F}, {'x'}},    // cut short, by the end
    };
    for (const auto &c : utf8) {
        int32 out[16];
        int32 n = platform::utility.UTF8toUCS4(c.utf8, out, 16, UTF_INVALID_SUBST_FFFD);
        EXPECT_EQ(c.subst, std::vector<int32>(out, out + n)) << c.utf8;
        n = platform::utility.UTF8toUCS4(c.utf8, out, 16, 0);
        EXPECT_EQ(c.stop, std::vector<int32>(out, out + n)) << c.utf8;
    }
    int32 small[2];
    EXPECT_EQ(2, platform::utility.UTF8toUCS4("abc", small, 2, UTF_INVALID_SUBST_FFFD));
    EXPECT_EQ('b', small[1]);
}

// Latin-1 and windows-1252 are read back through the decoder in decode_test.
TEST_F(StandIn, ObtainCharsetInfoGivesTheMapOfKnownCodeSetsByNumberAndName)
{
    const ULONG NONE = platform::UNMAPPED;
    struct { ULONG codeset; UBYTE byte; ULONG codepoint; } cases[] = {
        {CODESET_ISO_8859_15, 0xBE, 0x0178}, {CODESET_ISO_8859_15, 0xA4, 0x20AC},
        {2251, 0xC0, 0x0410}, {10, 0xE1, 0x03B1}, {9, 0xA1, NONE},   // windows-1251, ISO-8859-7, -6
        {112, 0xA4, 0x20AC}, {3, 0x80, NONE}, {2011, 0x80, 0x00C7},  // ISO-8859-16, US-ASCII, IBM437
        {2027, 0x80, 0x00C4}, {2258, 0xD2, 0x0309},                  // macintosh, windows-1258
    };
    for (const auto &c : cases) {
        auto *map = (const ULONG *)platform::diskfont.ObtainCharsetInfo(DFCS_NUMBER, c.codeset, DFCS_MAPTABLE);
        ASSERT_NE(nullptr, map) << c.codeset;
        EXPECT_EQ(c.codepoint, map[c.byte]) << c.codeset << " " << (int)c.byte;
        EXPECT_EQ(0u, map[0]) << c.codeset;
    }
    for (ULONG codeset : std::initializer_list<ULONG>{CODESET_UTF_8, 0, 1, 17, 3252})
        EXPECT_EQ(0u, platform::diskfont.ObtainCharsetInfo(DFCS_NUMBER, codeset, DFCS_MAPTABLE)) << codeset;
    struct { const char *name; ULONG codeset; } names[] = {
        {"latin1", 4}, {"LATIN9", 111}, {"ISO_8859-15", 111}, {"iso885915", 111}, {"cp1252", 2252},
        {"koi8r", 2084}, {"greek", 10}, {"cp866", 2086}, {"utf-8", 0}, {"latin", 0}, {"ISO-8859-", 0}, {"", 0},
    };
    for (const auto &c : names)
        EXPECT_EQ(c.codeset, platform::CodeSetByName(c.name)) << c.name;
    EXPECT_EQ(0u, platform::CodeSetByName(nullptr));
    // Every name the stand-in knows has a map, and is the name of its code set.
    for (const std::string &name : platform::CodeSetNames()) {
        ULONG codeset = platform::CodeSetByName(name.c_str());
        EXPECT_NE(nullptr, platform::CharsetMap(codeset)) << name;
        EXPECT_EQ(name, platform::CodeSetName(codeset));
    }
    EXPECT_EQ(nullptr, platform::CodeSetName(CODESET_UTF_8));
    platform::faults.noCharsetMap = TRUE;
    EXPECT_EQ(0u, platform::diskfont.ObtainCharsetInfo(DFCS_NUMBER, 4, DFCS_MAPTABLE));
}

// IoErr holds a code only where a call failed or the caller set one: a call that succeeds
// leaves it as it was, or as SHEAF_STALE_IOERR says, and a read at the end of the file
// leaves it as it was.
TEST_F(StandIn, IoErrIsKnownOnlyWhereItWasSet)
{
    auto &dos = platform::dos;
    std::string dir = testing_support::TempDir(), a = dir + "/a.xml";
    std::ofstream(a, std::ios::binary) << "<a/>";
    for (int32 stale : {0, ERROR_OBJECT_NOT_FOUND}) {
        platform::faults.staleIoErr = stale;
        int32 left = stale != 0 ? stale : 4711;
        EXPECT_EQ(ZERO, dos.FOpen((dir + "/none").c_str(), MODE_OLDFILE, 1024));
        EXPECT_EQ(ERROR_OBJECT_NOT_FOUND, dos.IoErr()) << "a failure sets its code";
        EXPECT_EQ(ERROR_OBJECT_NOT_FOUND, dos.SetIoErr(4711));
        BPTR fh = dos.FOpen(a.c_str(), MODE_OLDFILE, 1024);
        ASSERT_NE(ZERO, fh);
        EXPECT_EQ(left, dos.IoErr()) << stale;
        char block[16];
        memset(block, 'x', sizeof(block));
        auto read = [&](int32 set) { dos.SetIoErr(set); return dos.FRead(fh, block, 1, 16); };
        EXPECT_EQ(4u, read(4711));
        EXPECT_EQ(std::string("<a/>") + std::string(12, '\0'), std::string(block, sizeof(block)))
            << "the block is cleared on entry";
        EXPECT_EQ(0u, read(4711));
        EXPECT_EQ(4711, dos.IoErr()) << "the end of the file is no error: " << stale;
        EXPECT_EQ(0u, read(0));
        EXPECT_EQ(0, dos.IoErr()) << "SetIoErr(0) before the read makes 0 sure: " << stale;
        dos.SetIoErr(4711);
        int32 value;
        EXPECT_EQ(2, dos.StrToLong("12", &value));
        EXPECT_EQ(4711, dos.IoErr()) << "StrToLong leaves IoErr alone";
        dos.FClose(fh);
    }
}

// Trace lines as the system formats them: each argument is a 32-bit item, and a numeric
// conversion without its l reads 16 bits of it, so the rest of the line reads out of step.
TEST_F(StandIn, DebugPrintFFormatsByTheSystemsRules)
{
    std::string out;
    bool tracing = platform::tracing;
    platform::tracing = true;
    platform::traceCapture = &out;
#define SHOWN(...) (out.clear(), platform::exec.DebugPrintF(__VA_ARGS__), out)
    EXPECT_EQ("id=007 Text=<abc>\n", SHOWN("id=%03ld Text=<%s>\n", 7L, "abc"));
    EXPECT_EQ("0x0000BEEF ff 4000000000", SHOWN("0x%08lX %lx %lu", 0xBEEFUL, 255UL, 4000000000UL));
    EXPECT_EQ("-3|   42|7   |-0012", SHOWN("%ld|%5ld|%-4ld|%05ld", -3L, 42L, 7L, -12L));
    EXPECT_EQ("<x> <ab> <     r> %", SHOWN("<%s> <%.2s> <%6s> %%", "x", "abc", "r"));
    // without the l: the item's upper half, then the rest out of step
    EXPECT_EQ("id=000 Text=<(not a string: out of step)>\n",
              SHOWN("id=%03d Text=<%s>\n", 7, "abc"));
    EXPECT_EQ("5 6", SHOWN("%d %d", 0x00050006, 9));
    EXPECT_EQ("0x00000000", SHOWN("0x%08X", 0xBEEFu));
#undef SHOWN
    platform::traceCapture = nullptr;
    platform::tracing = tracing;
}

// What the system leaves undefined stops the stand-in: overlapping copies, a pooled block
// given back with another size or to another pool.
TEST_F(StandIn, UndefinedMemoryUsesStop)
{
    char text[32] = "overlapping";
    EXPECT_DEATH(platform::exec.CopyMem(text, text + 4, 8), "CopyMem");
    EXPECT_DEATH(platform::utility.Strlcpy(text + 2, text, sizeof(text) - 2), "Strlcpy");
    platform::exec.CopyMem(text, text + 8, 8);      // side by side is fine
    EXPECT_EQ(std::string("overlappoverlapp"), std::string(text, 16));
    APTR pool = platform::exec.CreatePool(MEMF_PRIVATE, 4096, 256);
    ASSERT_NE(nullptr, pool);
    auto *one = (char *)platform::exec.AllocPooled(pool, 4);
    auto *two = (char *)platform::exec.AllocPooled(pool, 4);
    ASSERT_TRUE(one && two);
    // Aligned for a pointer and no more: 4 bytes on the target, as the system gives.
    EXPECT_EQ(0u, (uintptr_t)one % sizeof(void *));
    EXPECT_EQ((ptrdiff_t)sizeof(void *), two - one);
    EXPECT_DEATH(platform::exec.FreePooled(pool, two, 8), "FreePooled");
    EXPECT_DEATH(platform::exec.FreePooled(pool, text, 4), "FreePooled");
    platform::exec.FreePooled(pool, two, 4);
    platform::exec.DeletePool(pool);
}

// Commands run with no streams of their own: dos opens NIL: for a ZERO input only from
// 53.65; the stand-in refuses it below, and NIL: itself reads nothing and takes anything.
TEST_F(StandIn, SystemTagsWantsNilForAZeroInput)
{
    auto &dos = platform::dos;
    for (auto [version, revision, rc] : {std::tuple{53, 64, -1}, {53, 65, 0}, {54, 0, 0}}) {
        platform::SetLibraryVersion("dos.library", version, revision);
        EXPECT_EQ(rc, dos.SystemTags("", SYS_Input, (ULONG)0, SYS_Output, (ULONG)0, TAG_DONE))
            << version << "." << revision;
    }
    BPTR nil = dos.FOpen("NIL:", MODE_NEWFILE, 1024);
    ASSERT_NE(ZERO, nil);
    char block[4];
    EXPECT_EQ(1u, dos.FWrite(nil, "abc", 3, 1));
    EXPECT_EQ(0u, dos.FRead(nil, block, 1, sizeof(block)));
    dos.FClose(nil);
}

// Huge pages given back serve the next taker as they were left, cut to size and merged
// again with their neighbours; past the bound they go back to the machine.
TEST_F(StandIn, HugePagesGivenBackServeTheNextTaker)
{
    const size_t page = platform::HUGE_PAGE;
    auto *a = (char *)platform::TakeHugePages(3 * page - 5);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(0u, (uintptr_t)a % page);
    a[0] = 'x', a[page] = 'y', a[3 * page - 1] = 'z';
    platform::GiveHugePages(a, 3 * page - 5);
    if (platform::KeptHugePages() == 0)
        GTEST_SKIP() << "every region is the allocator's in this build";
    EXPECT_EQ(3 * page, platform::KeptHugePages());

    auto *b = (char *)platform::TakeHugePages(page), *c = (char *)platform::TakeHugePages(2 * page);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a + page, c);
    EXPECT_EQ("xyz", (std::string{a[0], a[page], a[3 * page - 1]}));    // not cleared
    EXPECT_EQ(0u, platform::KeptHugePages());
    platform::GiveHugePages(c, 2 * page);
    platform::GiveHugePages(b, page);
    EXPECT_EQ(a, platform::TakeHugePages(3 * page));    // whole again
    platform::GiveHugePages(a, 3 * page);

    // Bigger than the bound together: the second goes back, its pages untouched as both.
    auto *big = platform::TakeHugePages(100u << 20), *other = platform::TakeHugePages(100u << 20);
    ASSERT_TRUE(big && other);
    platform::GiveHugePages(big, 100u << 20);
    platform::GiveHugePages(other, 100u << 20);
    EXPECT_EQ((100u << 20) + 3 * page, platform::KeptHugePages());
    platform::ReleaseHugePages();
    EXPECT_EQ(0u, platform::KeptHugePages());
}
