// The system stand-in: lists, memory, libraries, buffered files, numbers, paths, strings,
// UTF-8, code sets and locales, each with its faults and counters.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/standin.h"

namespace {

struct StandIn : ::testing::Test {
    void SetUp() override { testing_support::UseStandIn(); }
};

std::string WriteFile(const std::string &path, const std::string &data)
{
    FILE *f = fopen(path.c_str(), "wb");
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
    return path;
}

std::string Pattern(size_t size)
{
    std::string data(size, '\0');
    for (size_t i = 0; i < size; i++)
        data[i] = (char)(i * 7 % 251);
    return data;
}

}  // namespace

using ExecList = StandIn;
using AllocVecTags = StandIn;
using DebugPrintF = StandIn;
using FOpen = StandIn;
using FGetC = StandIn;
using ChangeFilePosition = StandIn;
using StrToLong = StandIn;
using HostPath = StandIn;
using UTF8toUCS4 = StandIn;
using Strlcpy = StandIn;
using Strnicmp = StandIn;
using ObtainCharsetInfo = StandIn;

TEST_F(ExecList, AddTailAndRemoveKeepTheWalkInOrder)
{
    List list;
    Node nodes[3] = {};
    platform::exec.NewList(&list);
    EXPECT_EQ(nullptr, list.lh_Head->ln_Succ);      // empty: the head is the tail node
    for (Node &n : nodes)
        platform::exec.AddTail(&list, &n);
    platform::exec.Remove(&nodes[1]);

    std::vector<Node *> walked;
    for (Node *n = list.lh_Head; n->ln_Succ != nullptr; n = n->ln_Succ)
        walked.push_back(n);
    EXPECT_EQ((std::vector<Node *>{&nodes[0], &nodes[2]}), walked);
    EXPECT_EQ(&nodes[2], list.lh_TailPred);

    platform::exec.Remove(&nodes[0]);
    platform::exec.Remove(&nodes[2]);
    EXPECT_EQ(nullptr, list.lh_Head->ln_Succ);
    EXPECT_EQ((Node *)&list.lh_Head, list.lh_TailPred);
}

TEST_F(AllocVecTags, ClearsOnlyWhenAsked)
{
    // The system's own tag values: a list built here must mean the same there.
    EXPECT_EQ(0x80000001u, AVT_Type);
    EXPECT_EQ(0x80000006u, AVT_ClearWithValue);
    auto *zero = (UBYTE *)platform::exec.AllocVecTags(64, AVT_Type, MEMF_PRIVATE,
                                                      AVT_ClearWithValue, 0, TAG_DONE);
    auto *fill = (UBYTE *)platform::exec.AllocVecTags(64, AVT_ClearWithValue, 0x5A, TAG_DONE);
    auto *junk = (UBYTE *)platform::exec.AllocVecTags(64, AVT_Type, MEMF_SHARED, TAG_DONE);
    ASSERT_TRUE(zero && fill && junk);
    EXPECT_EQ(3, platform::HeldMemory());
    int zeros = 0;
    for (int i = 0; i < 64; i++) {
        EXPECT_EQ(0, zero[i]);
        EXPECT_EQ(0x5A, fill[i]);
        zeros += junk[i] == 0;
    }
    EXPECT_EQ(0, zeros);       // nobody may rely on memory they did not clear
    platform::exec.FreeVec(zero);
    platform::exec.FreeVec(fill);
    platform::exec.FreeVec(junk);
    platform::exec.FreeVec(nullptr);
    EXPECT_EQ(0, platform::HeldMemory());
}

TEST_F(DebugPrintF, FormatsNothingWhileTracingIsOff)
{
    bool was = platform::tracing;
    platform::tracing = false;
    testing::internal::CaptureStderr();
    // Formatted, this pointer would crash: switched off, the call must not look at it.
    platform::exec.DebugPrintF("%s\n", (const char *)16);
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    platform::tracing = true;
    testing::internal::CaptureStderr();
    platform::exec.DebugPrintF("Zeilenwert=%ld\n", 42L);
    EXPECT_EQ("Zeilenwert=42\n", testing::internal::GetCapturedStderr());
    platform::tracing = was;
}

TEST_F(FOpen, OpensFilesOfTheMachineAndOfAssigns)
{
    std::string dir = testing_support::TempDir();
    WriteFile(dir + "/a.xml", "<a/>");
    std::string inT = dir.substr(platform::AssignDir("T").size() + 1);   // "test.XXXXXX"
    struct { std::string name; bool opens; } cases[] = {
        {dir + "/a.xml", true},       {"T:" + inT + "/a.xml", true}, {"t:" + inT + "/a.xml", true},
        {dir + "/missing.xml", false}, {dir, false},  // a directory is no file
    };
    for (const auto &c : cases) {
        BPTR fh = platform::dos.FOpen(c.name.c_str(), MODE_OLDFILE, 1024);
        EXPECT_EQ(c.opens, fh != ZERO) << c.name;
        if (fh != ZERO) {
            EXPECT_EQ('<', platform::dos.FGetC(fh));
            platform::dos.FClose(fh);
        }
    }
    platform::faults.openFails = "a.xml";
    EXPECT_EQ(ZERO, platform::dos.FOpen((dir + "/a.xml").c_str(), MODE_OLDFILE, 1024));
    EXPECT_EQ(0, platform::OpenFiles());
}

TEST_F(FGetC, ReadsOneWindowPerSystemCall)
{
    std::string data = Pattern(100 * 1024);
    std::string path = WriteFile(testing_support::TempDir() + "/big.xml", data);
    BPTR fh = platform::dos.FOpen(path.c_str(), MODE_OLDFILE, 1024);
    ASSERT_NE(ZERO, fh);
    uint64 before = platform::FileSystemCalls();
    std::string read;
    for (int32 c; (c = platform::dos.FGetC(fh)) != -1;)
        read += (char)c;
    uint64 calls = platform::FileSystemCalls() - before;
    EXPECT_EQ(data, read);
    EXPECT_GE(calls, 100u);
    EXPECT_LE(calls, 101u);        // 100 windows and the one that finds the end
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(-1, platform::dos.FGetC(fh));
    EXPECT_EQ(calls, platform::FileSystemCalls() - before);
    platform::dos.FClose(fh);
    EXPECT_EQ(0, platform::OpenFiles());
}

TEST_F(ChangeFilePosition, PeekInsideTheWindowCostsNoSystemCall)
{
    std::string data = Pattern(8192);
    std::string path = WriteFile(testing_support::TempDir() + "/s.xml", data);
    BPTR fh = platform::dos.FOpen(path.c_str(), MODE_OLDFILE, 1024);
    for (int i = 0; i < 10; i++)
        platform::dos.FGetC(fh);
    int64 told = platform::dos.GetFilePosition(fh);
    EXPECT_EQ(10, told);
    uint64 before = platform::FileSystemCalls();
    for (int i = 0; i < 500; i++)
        platform::dos.FGetC(fh);
    EXPECT_NE(0, platform::dos.ChangeFilePosition(fh, told, OFFSET_BEGINNING));
    EXPECT_EQ((UBYTE)data[10], platform::dos.FGetC(fh));
    EXPECT_NE(0, platform::dos.ChangeFilePosition(fh, -1, OFFSET_CURRENT));
    EXPECT_EQ((UBYTE)data[10], platform::dos.FGetC(fh));
    EXPECT_EQ(before, platform::FileSystemCalls());

    // Back past the window: the bytes must be the same, at the price of one read.
    for (int i = 0; i < 3000; i++)
        platform::dos.FGetC(fh);
    before = platform::FileSystemCalls();
    EXPECT_NE(0, platform::dos.ChangeFilePosition(fh, told, OFFSET_BEGINNING));
    for (int i = 10; i < 20; i++)
        EXPECT_EQ((UBYTE)data[i], platform::dos.FGetC(fh)) << i;
    EXPECT_EQ(before + 1, platform::FileSystemCalls());
    EXPECT_EQ(20, platform::dos.GetFilePosition(fh));

    EXPECT_EQ(0, platform::dos.ChangeFilePosition(fh, -1, OFFSET_BEGINNING));
    EXPECT_NE(0, platform::dos.ChangeFilePosition(fh, -1, OFFSET_END));
    EXPECT_EQ((UBYTE)data[8191], platform::dos.FGetC(fh));
    EXPECT_EQ(-1, platform::dos.FGetC(fh));
    platform::dos.FClose(fh);
}

TEST_F(StrToLong, FollowsTheSystemConvention)
{
    struct { const char *text; int32 used, value; } cases[] = {
        {"123", 3, 123},         {"  42x", 4, 42},     {"\t-7", 3, -7},     {"+5", 2, 5},
        {"007", 3, 7},           {"12.5", 2, 12},      {"1E3", 1, 1},
        {"2147483647", 10, INT32_MAX},   {"99999999999", 11, INT32_MAX},
        {"-2147483648", 11, INT32_MIN},  {"-99999999999", 12, INT32_MIN},
        {"abc", -1, 0}, {"", -1, 0}, {"-", -1, 0}, {" - 5", -1, 0}, {"\"12\"", -1, 0},
        {"\n5", -1, 0},
    };
    for (const auto &c : cases) {
        int32 value = 99;
        EXPECT_EQ(c.used, platform::dos.StrToLong(c.text, &value)) << c.text;
        EXPECT_EQ(c.value, value) << c.text;
    }
}

TEST_F(HostPath, MapsOnlyKnownAssigns)
{
    std::string t = platform::AssignDir("T");
    struct { const char *path; std::string host; } cases[] = {
        {"T:XLS/xl/a.xml", t + "/XLS/xl/a.xml"}, {"t:XLS", t + "/XLS"}, {"T:", t},
        {"/home/u/a:b.xlsx", "/home/u/a:b.xlsx"}, {"Work:book.xlsx", "Work:book.xlsx"},
        {"book.xlsx", "book.xlsx"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.host, platform::HostPath(c.path)) << c.path;
    EXPECT_TRUE(platform::Exists("T:"));
    EXPECT_FALSE(platform::Exists("T:no-such-thing"));
}

TEST_F(UTF8toUCS4, DecodesAndReplacesEveryBadByte)
{
    const int32 F = 0xFFFD;
    struct { const char *utf8; std::vector<int32> subst, stop; } cases[] = {
        {"Az", {'A', 'z'}, {'A', 'z'}},
        {"\xC3\xA4", {0xE4}, {0xE4}},
        {"\xE2\x82\xAC", {0x20AC}, {0x20AC}},
        {"\xF0\x9F\x98\x80", {0x1F600}, {0x1F600}},
        {"\xF4\x8F\xBF\xBF", {0x10FFFF}, {0x10FFFF}},
        {"a\x80z", {'a', F, 'z'}, {'a'}},                       // stray continuation
        {"\xC0\xAF", {F, F}, {}},                               // overlong '/'
        {"\xE0\x80\xAF", {F, F, F}, {}},                        // overlong, three bytes
        {"\xF0\x80\x80\xAF", {F, F, F, F}, {}},                 // overlong, four bytes
        {"\xED\xA0\x80x", {F, F, F, 'x'}, {}},                  // surrogate
        {"\xF4\x90\x80\x80", {F, F, F, F}, {}},                 // beyond U+10FFFF
        {"\xE2\x82z", {F, F, 'z'}, {}},                         // cut short
        {"x\xE2\x82", {'x', F, F}, {'x'}},                      // cut by the end
        {"\xFF\xFE", {F, F}, {}},
    };
    for (const auto &c : cases) {
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

// The module reads a result of size or more as "cut" and relies on the terminator.
TEST_F(Strlcpy, SaysWhenItCut)
{
    char buf[8];
    EXPECT_EQ(10u, platform::utility.Strlcpy(buf, "0123456789", sizeof(buf)));
    EXPECT_STREQ("0123456", buf);
    EXPECT_EQ(7u, platform::utility.Strlcpy(buf, "abcdefg", sizeof(buf)));   // just fits
    EXPECT_STREQ("abcdefg", buf);
    platform::utility.Strlcpy(buf, "abc", sizeof(buf));
    EXPECT_EQ(7u, platform::utility.Strlcat(buf, "defg", sizeof(buf)));
    EXPECT_EQ(9u, platform::utility.Strlcat(buf, "hi", sizeof(buf)));
    EXPECT_STREQ("abcdefg", buf);
}

// Tag and function names compare without case, but only ASCII folds: a byte of the 8-bit
// charset is never taken for another.
TEST_F(Strnicmp, FoldsASCIIOnly)
{
    struct { const char *a, *b; int32 length; bool same; } cases[] = {
        {"_XLFN.SUM", "_xlfn.", 6, true}, {"Sheet1", "SHEET2", 5, true},
        {"Sheet1", "SHEET2", 6, false},   {"ab", "abc", 3, false},
        {"\xC4", "\xE4", 1, false},       {"[", "{", 1, false},     // 'A'-'a' apart, no letters
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.same, platform::utility.Strnicmp(c.a, c.b, c.length) == 0) << c.a;
        EXPECT_EQ(c.same && strlen(c.a) == strlen(c.b) && strlen(c.a) == (size_t)c.length,
                  platform::utility.Stricmp(c.a, c.b) == 0) << c.a;
    }
}

TEST_F(ObtainCharsetInfo, GivesTheMapOfKnownCodeSets)
{
    const ULONG NONE = platform::UNMAPPED;
    struct { ULONG codeset; UBYTE byte; ULONG codepoint; } cases[] = {
        {CODESET_ISO_8859_1, 0xA4, 0x00A4},   {CODESET_ISO_8859_1, 0xE4, 0x00E4},
        {CODESET_ISO_8859_15, 0xA4, 0x20AC},  {CODESET_ISO_8859_15, 0xBE, 0x0178},
        {CODESET_ISO_8859_2, 0xB1, 0x0105},   {CODESET_ISO_8859_2, 0xFF, 0x02D9},
        {CODESET_WINDOWS_1252, 0x80, 0x20AC}, {CODESET_WINDOWS_1252, 0x9F, 0x0178},
        {CODESET_WINDOWS_1252, 0x81, NONE},   {CODESET_WINDOWS_1252, 0x41, 0x0041},
        {2084, 0xC1, 0x0430},                 {2088, 0xA4, 0x0454},    // KOI8-R, KOI8-U
        {8, 0xB0, 0x0410},                    {2251, 0xC0, 0x0410},    // ISO-8859-5, windows-1251
        {10, 0xE1, 0x03B1},                   {11, 0xE0, 0x05D0},      // ISO-8859-7, -8
        {9, 0xA1, NONE},                      {112, 0xA4, 0x20AC},     // ISO-8859-6, -16
        {3, 0x41, 0x0041},                    {3, 0x80, NONE},         // US-ASCII
        {2011, 0x80, 0x00C7},                 {2086, 0x80, 0x0410},    // IBM437, IBM866
        {2027, 0x80, 0x00C4},                 {2259, 0xA1, 0x0E01},    // macintosh, TIS-620
        {2258, 0xD2, 0x0309},                 {2258, 0x41, 0x0041},    // windows-1258
    };
    for (const auto &c : cases) {
        auto *map = (const ULONG *)platform::diskfont.ObtainCharsetInfo(DFCS_NUMBER, c.codeset,
                                                                         DFCS_MAPTABLE);
        ASSERT_NE(nullptr, map) << c.codeset;
        EXPECT_EQ(c.codepoint, map[c.byte]) << c.codeset << " " << (int)c.byte;
        EXPECT_EQ(0u, map[0]) << c.codeset;
    }
    for (ULONG codeset : std::initializer_list<ULONG>{CODESET_UTF_8, 0, 1, 17, 3252})
        EXPECT_EQ(0u, platform::diskfont.ObtainCharsetInfo(DFCS_NUMBER, codeset, DFCS_MAPTABLE))
            << codeset;
    platform::faults.noCharsetMap = TRUE;
    EXPECT_EQ(0u, platform::diskfont.ObtainCharsetInfo(DFCS_NUMBER, 4, DFCS_MAPTABLE));
}

TEST_F(ObtainCharsetInfo, EveryCodeSetHasAMapAndItsNames)
{
    for (const std::string &name : platform::CodeSetNames()) {
        ULONG codeset = platform::CodeSetByName(name.c_str());
        EXPECT_NE(0u, codeset) << name;
        EXPECT_NE(nullptr, platform::CharsetMap(codeset)) << name;
        EXPECT_EQ(name, platform::CodeSetName(codeset));
    }
    EXPECT_EQ(nullptr, platform::CodeSetName(CODESET_UTF_8));
}

TEST_F(ObtainCharsetInfo, NamesOfCodeSets)
{
    struct { const char *name; ULONG codeset; } cases[] = {
        {"ISO-8859-1", 4}, {"latin1", 4}, {"iso-8859-15", 111}, {"LATIN9", 111},
        {"ISO_8859-15", 111}, {"iso885915", 111},
        {"ISO-8859-2", 5}, {"latin2", 5}, {"Windows-1252", 2252}, {"cp1252", 2252},
        {"KOI8-R", 2084}, {"koi8r", 2084}, {"KOI8-U", 2088}, {"greek", 10},
        {"windows-1251", 2251}, {"IBM866", 2086}, {"cp866", 2086}, {"US-ASCII", 3},
        {"utf-8", 0}, {"latin", 0}, {"ISO-8859-", 0}, {"", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.codeset, platform::CodeSetByName(c.name)) << c.name;
    EXPECT_EQ(0u, platform::CodeSetByName(nullptr));
}
