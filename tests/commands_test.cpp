// The stand-in's shell: the command line, `c:unzip` with every archive a workbook might be
// or pretend to be, and `delete`.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "bookgen/bookwriter.h"
#include "tests/support/testing.h"

namespace {

using bookgen::Member;

struct Shell : ::testing::Test {
    std::string sandbox, target, book;

    void SetUp() override
    {
        testing_support::UseStandIn();
        sandbox = testing_support::TempDir();
        target  = sandbox + "/out";
        book    = testing_support::TempDir() + "/book.zip";
    }
    void TearDown() override
    {
        platform::RemoveTemp(sandbox);
        platform::RemoveTemp(book.substr(0, book.rfind('/')));
    }
    int32 Unpack(const std::vector<Member> &members, bool zip64 = false)
    {
        std::string why;
        EXPECT_TRUE(bookgen::WriteZip(book, members, &why, zip64)) << why;
        return Run("c:unzip \"" + book + "\" -d " + target);
    }
    int32 UnpackBytes(const std::string &bytes)
    {
        std::ofstream(book, std::ios::binary) << bytes;
        return Run("c:unzip \"" + book + "\" -d " + target);
    }
    static int32 Run(const std::string &command)
    {
        return platform::dos.SystemTags(command.c_str(), SYS_Input, 0, SYS_Output, 0,
                                        SYS_Error, 0, TAG_DONE);
    }
    // Everything below dir, as relative paths; directories end in '/'. Links are not followed.
    static std::set<std::string> Tree(const std::string &dir)
    {
        std::set<std::string> names;
        std::error_code ec;
        for (const auto &e : std::filesystem::recursive_directory_iterator(dir, ec))
            names.insert(e.path().lexically_relative(dir).string() +
                         (std::filesystem::is_directory(e.symlink_status()) ? "/" : ""));
        return names;
    }
    static std::string Read(const std::string &path) { return testing_support::ReadFile(path); }
};

// Text that deflate cannot shrink much: a pseudo-random hex stream.
std::string Noise(size_t size)
{
    std::string text(size, '0');
    uint32 x = 12345;
    for (char &c : text) {
        x = x * 1103515245u + 12345u;
        c = "0123456789abcdef"[(x >> 16) & 15];
    }
    return text;
}

std::string U16(uint32 v) { return {(char)(v & 0xFF), (char)(v >> 8 & 0xFF)}; }
std::string U32(uint32 v) { return U16(v & 0xFFFF) + U16(v >> 16); }

std::string Patched(std::string zip, size_t at, uint32 value, size_t width = 4)
{
    return zip.replace(at, width, width == 2 ? U16(value) : U32(value));
}

}  // namespace

using SplitCommandLine = Shell;
using SystemTags = Shell;
using Unzip = Shell;
using DeleteCommand = Shell;

TEST_F(SplitCommandLine, ReadsWordsAsTheShellDoes)
{
    struct { const char *line; std::vector<std::string> words; } cases[] = {
        {"  c:unzip\t\"/a b/c.xlsx\"  -d T:XLS ", {"c:unzip", "/a b/c.xlsx", "-d", "T:XLS"}},
        {"\"say *\"hi*\"\"", {"say \"hi\""}},
        {"\"a**b\" \"*n*N*e\"", {"a*b", "\n\n\x1b"}},
        {"a*b \"x*y\"", {"a*b", "x*y"}},          // outside quotes and before others: itself
        {"\"\" x", {"", "x"}},
        {"", {}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> words;
        EXPECT_TRUE(platform::SplitCommandLine(c.line, &words)) << c.line;
        EXPECT_EQ(c.words, words) << c.line;
    }
    std::vector<std::string> words;
    EXPECT_FALSE(platform::SplitCommandLine("c:unzip \"open", &words));
    EXPECT_FALSE(platform::SplitCommandLine("c:unzip \"ends in *\"", &words));
}

TEST_F(SystemTags, RunsKnownCommandsOnly)
{
    // The shell ran and found nothing to run: the system answers RETURN_ERROR, never -1.
    EXPECT_EQ(RETURN_ERROR, Run("c:format DF0: name x"));
    EXPECT_EQ(RETURN_ERROR, Run("c:unzip \"unterminated"));
    EXPECT_EQ(RETURN_OK, Run(""));
    EXPECT_EQ(-1, platform::dos.SystemTags(nullptr, TAG_DONE));

    ASSERT_TRUE(bookgen::WriteZip(book, {{"a.txt", "A"}}));
    platform::faults.commandFails = "c:unzip";
    platform::faults.commandRc = 20;
    EXPECT_EQ(20, Run("c:unzip \"" + book + "\" -d " + target));
    EXPECT_FALSE(platform::Exists(target.c_str()));
    platform::faults.commandFails = nullptr;
    EXPECT_EQ(0, Run("C:UnZip \"" + book + "\" -d " + target));
    EXPECT_EQ("A", Read(target + "/a.txt"));
}

// ZIP64 fields and end record, and data descriptors behind deflated data; equal names and
// names under a file keep the first member, and backslashes separate.
TEST_F(Unzip, KeepsMemberPathsWithPrivateModes)
{
    EXPECT_EQ(0, Unpack({{"xl/", "", Member::Directory}, {"xl/worksheets/sheet1.xml", Noise(200000)},
                         {"xl/a.xml", "first", Member::File, true}, {"xl/a.xml", "second"},
                         {"xl\\a.xml", "third"}, {"xl/a.xml/b.xml", "under a file"},
                         {"xl/a.xml/", "", Member::Directory}, {"w\\.\\b.xml", "<b/>"},
                         {"docProps/", "", Member::Directory}}, true));
    ASSERT_NE(std::string::npos, Read(book).find("PK\x06\x06"));
    EXPECT_EQ((std::set<std::string>{"docProps/", "xl/", "xl/worksheets/", "xl/worksheets/sheet1.xml",
                                     "xl/a.xml", "w/", "w/b.xml"}),
              Tree(target));
    EXPECT_EQ(Noise(200000), Read(target + "/xl/worksheets/sheet1.xml"));
    EXPECT_EQ("first", Read(target + "/xl/a.xml"));
    for (const char *name : {"/xl/a.xml", "/docProps"}) {
        struct stat st;
        ASSERT_EQ(0, stat((target + name).c_str(), &st)) << name;
        EXPECT_EQ(0u, st.st_mode & 077) << name;
    }
}

TEST_F(Unzip, RefusesMembersLeavingTheTarget)
{
    std::string abs = "/tmp/sheaf-abs-" + std::to_string(getpid()) + ".txt";
    std::vector<std::vector<Member>> archives = {
        {{"ok.txt", "fine"}, {"../evil.txt", "x"}}, {{"a/../../evil.txt", "x"}},
        {{"a\\..\\..\\evil.txt", "x"}},  {{abs, "x"}},  {{"\\evil.txt", "x"}},
        {{"C:evil.txt", "x"}},  {{"Work:evil.txt", "x"}},  {{"..", "", Member::Directory}},
        {{"link", sandbox, Member::Symlink}, {"link/evil.txt", "x"}},
        {{"link", "/etc/passwd", Member::Symlink}},
    };
    for (const auto &members : archives) {
        EXPECT_NE(0, Unpack(members)) << members[0].name;
        for (const auto &name : Tree(sandbox))
            EXPECT_EQ(0u, name.rfind("out/", 0)) << members[0].name << ": " << name;
        EXPECT_NE(0, access(abs.c_str(), F_OK));
        struct stat st;
        EXPECT_NE(0, lstat((target + "/link").c_str(), &st)) << "a link was made";
        platform::RemoveTemp(target);
    }
}

// The reader gives a member a file type only when it is a directory or a link; a member
// whose attributes say fifo must still arrive as a plain file, never as a fifo.
TEST_F(Unzip, FifoMemberArrivesAsAPlainFile)
{
    ASSERT_TRUE(bookgen::WriteZip(book, {{"fifo", "", Member::File, true}}));
    std::string zip = Read(book);
    size_t cd = zip.find("PK\x01\x02");
    ASSERT_NE(std::string::npos, cd);
    EXPECT_EQ(0, UnpackBytes(Patched(zip, cd + 38, (uint32)(S_IFIFO | 0644) << 16)));
    struct stat st;
    ASSERT_EQ(0, lstat((target + "/fifo").c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

// Each refusal of the directory reader has its own test; here it must reach the caller
// with the member it names, and nothing may be written.
TEST_F(Unzip, RefusesWhatIsNoWholeArchiveBeforeWriting)
{
    ASSERT_TRUE(bookgen::WriteZip(book, {{"xl/a.xml", Noise(3000), Member::File, true},
                                         {"xl/b.xml", Noise(3000), Member::File, true}}));
    const std::string zip = Read(book);
    size_t local = zip.find("PK\x03\x04"), entry = zip.rfind("PK\x01\x02");
    struct { const char *what; std::string bytes; const char *why, *member; } cases[] = {
        {"text", "<worksheet/>", "no end of central directory record", ""},
        {"local method", Patched(zip, local + 8, 8, 2), "local method differs from the central directory",
         "xl/a.xml"},
        {"two entries, one place", Patched(zip, entry + 42, 0), "member overlaps another member",
         "xl/b.xml"},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(0, mkdir(target.c_str(), 0700));      // as the module makes T:XLS
        EXPECT_EQ(10, UnpackBytes(c.bytes)) << c.what;
        EXPECT_STREQ(c.why, platform::LastUnzipRefusal().why) << c.what;
        EXPECT_EQ(c.member, platform::LastUnzipRefusal().member) << c.what;
        EXPECT_TRUE(Tree(target).empty()) << c.what;
        platform::RemoveTemp(target);
    }
    EXPECT_EQ(10, UnpackBytes(zip.substr(0, 100) + std::string(200, 'x') + zip.substr(300)));
    EXPECT_EQ(10, Run("c:unzip \"" + sandbox + "/missing.zip\" -d " + target));
    EXPECT_EQ(10, Run("c:unzip \"" + book + "\""));
}

// Many members whose local headers all lead to one deflate stream: each header's extra
// field spans the headers after it. Refused from the directory, before a byte is written.
TEST_F(Unzip, RefusesMembersSharingOneStream)
{
    const uint32 size = 4 << 20;
    ASSERT_TRUE(bookgen::WriteZip(book, {{"k", std::string(size, 'k')}}));
    const std::string kernel = Read(book);
    // The central entry's method, time, CRC and sizes go into every header made here.
    size_t entry = kernel.find("PK\x01\x02"), dataAt = 30 + 1 + (uint8)kernel[28] + 256 * (uint8)kernel[29];
    const std::string fields = kernel.substr(entry + 10, 18);

    const int count = 20;
    const size_t header = 30 + 11, step = header + 4, streamAt = (count - 1) * step + header;
    std::string zip, dir;
    for (int i = 0; i < count; i++) {
        std::string name = "xl/m" + std::to_string(100 + i) + ".xml";
        size_t at = i * step, extra = streamAt - at - header;
        zip += "PK\x03\x04" + U16(20) + U16(0) + fields + U16(name.size()) + U16(extra) + name;
        if (extra > 0)
            zip += U16(0xCAFE) + U16(extra - 4);
        dir += "PK\x01\x02" + U16(0x031E) + U16(20) + U16(0) + fields + U16(name.size()) + U16(0) +
               U16(0) + U16(0) + U16(0) + U32(0100644u << 16) + U32(at) + name;
    }
    ASSERT_EQ(streamAt, zip.size());
    zip += kernel.substr(dataAt, entry - dataAt);
    zip += dir + "PK\x05\x06" + U16(0) + U16(0) + U16(count) + U16(count) + U32(dir.size()) +
           U32(zip.size()) + U16(0);
    ASSERT_LT(zip.size(), 20000u);

    ASSERT_EQ(0, mkdir(target.c_str(), 0700));
    EXPECT_EQ(10, UnpackBytes(zip));
    EXPECT_STREQ("member overlaps another member", platform::LastUnzipRefusal().why);
    EXPECT_EQ("xl/m101.xml", platform::LastUnzipRefusal().member);
    EXPECT_TRUE(Tree(target).empty());
}

TEST_F(Unzip, StopsABombEarly)
{
    ASSERT_TRUE(bookgen::WriteZip(book, {{"xl/worksheets/sheet1.xml", std::string(40 << 20, '0')}}));
    platform::unzipLimits.ratioFrom = 1 << 20;
    platform::unzipLimits.maxRatio  = 100;
    EXPECT_EQ(10, Run("c:unzip \"" + book + "\" -d " + target));
    struct stat st;
    ASSERT_EQ(0, stat((target + "/xl/worksheets/sheet1.xml").c_str(), &st));
    EXPECT_LT(st.st_size, 8 << 20);

    // Below the ratio, a large member passes.
    platform::RemoveTemp(target);
    EXPECT_EQ(0, Unpack({{"a.txt", Noise(3 << 20)}}));
}

TEST_F(Unzip, CountsBytesAndMembersReallyUnpacked)
{
    platform::unzipLimits.maxBytes = 150000;
    EXPECT_EQ(10, Unpack({{"a", Noise(60000)}, {"b", Noise(60000)}, {"c", Noise(60000)}}));
    uint64 written = 0;
    for (const auto &name : Tree(target))
        written += Read(target + "/" + name).size();
    EXPECT_LE(written, 150000u);
    platform::RemoveTemp(target);
    EXPECT_EQ(0, Unpack({{"a", Noise(60000)}, {"b", Noise(60000)}}));

    platform::unzipLimits.maxMembers = 5;
    std::vector<Member> five;
    for (int i = 0; i < 5; i++)
        five.push_back({"m" + std::to_string(i), "x"});
    platform::RemoveTemp(target);
    EXPECT_EQ(0, Unpack(five));
    five.push_back({"dir/", "", Member::Directory});
    platform::RemoveTemp(target);
    EXPECT_EQ(10, Unpack(five));
}

TEST_F(Unzip, LimitsComeFromTheEnvironment)
{
    setenv("SHEAF_UNZIP_MAX_BYTES", "64M", 1);
    setenv("SHEAF_UNZIP_MAX_RATIO", "zero", 1);      // not a number: the default stays
    platform::LoadUnzipLimits();
    unsetenv("SHEAF_UNZIP_MAX_BYTES");
    unsetenv("SHEAF_UNZIP_MAX_RATIO");
    EXPECT_EQ(64ull << 20, platform::unzipLimits.maxBytes);
    EXPECT_EQ(500u, platform::unzipLimits.maxRatio);
}

TEST_F(DeleteCommand, RemovesTheTreeButNothingALinkPointsAt)
{
    std::string outside = testing_support::TempDir();
    ASSERT_EQ(0, mkdir((outside + "/keep").c_str(), 0700));
    fclose(fopen((outside + "/keep/file").c_str(), "w"));

    ASSERT_EQ(0, Unpack({{"xl/worksheets/sheet1.xml", "s"}, {"xl/_rels/r.xml", "r"}}));
    ASSERT_EQ(0, symlink(outside.c_str(), (target + "/xl/dirlink").c_str()));
    ASSERT_EQ(0, symlink((outside + "/keep/file").c_str(), (target + "/filelink").c_str()));
    ASSERT_EQ(0, chmod((target + "/xl/_rels").c_str(), 0500));   // delete force empties it too

    EXPECT_EQ(0, Run("delete \"" + target + "\" all force"));
    EXPECT_FALSE(platform::Exists(target.c_str()));
    EXPECT_EQ((std::set<std::string>{"keep/", "keep/file"}), Tree(outside));
    EXPECT_EQ(5, Run("delete \"" + target + "\" all force"));
    platform::RemoveTemp(outside);
}
