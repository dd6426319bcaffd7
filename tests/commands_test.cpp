// The stand-in's shell: the command line, `c:unzip` with every archive a workbook might be
// or pretend to be, and `delete`.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
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

    // Writes the members to book and unpacks it into target.
    int32 Unpack(const std::vector<Member> &members)
    {
        std::string why;
        EXPECT_TRUE(bookgen::WriteZip(book, members, &why)) << why;
        return Run("c:unzip \"" + book + "\" -d " + target);
    }
    static int32 Run(const std::string &command)
    {
        return platform::dos.SystemTags(command.c_str(), SYS_Input, 0, SYS_Output, 0,
                                        SYS_Error, 0, TAG_DONE);
    }
    // Everything below dir, as relative paths; directories end in '/'.
    static std::set<std::string> Tree(const std::string &dir, const std::string &prefix = "")
    {
        std::set<std::string> names;
        DIR *d = opendir(dir.c_str());
        if (d == nullptr)
            return names;
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..")
                continue;
            struct stat st;
            lstat((dir + "/" + name).c_str(), &st);
            if (S_ISDIR(st.st_mode)) {
                names.insert(prefix + name + "/");
                for (const auto &n : Tree(dir + "/" + name, prefix + name + "/"))
                    names.insert(n);
            } else {
                names.insert(prefix + name);
            }
        }
        closedir(d);
        return names;
    }
    static std::string Read(const std::string &path)
    {
        std::string data;
        FILE *f = fopen(path.c_str(), "rb");
        if (f == nullptr)
            return "<missing>";
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof(buf), f)) > 0;)
            data.append(buf, n);
        fclose(f);
        return data;
    }
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

// The shell's quoting of a word, as the module writes its unpack command.
std::string Quoted(const std::string &word)
{
    std::string out = "\"";
    for (char c : word) {
        if (c == '"' || c == '*')
            out += '*';
        out += c;
    }
    return out + "\"";
}

// Where the n-th record with this signature starts in an archive's bytes.
size_t Nth(const std::string &zip, const char *signature, int n = 0)
{
    size_t at = zip.find(signature);
    while (n-- > 0 && at != std::string::npos)
        at = zip.find(signature, at + 1);
    return at;
}

// Little-endian fields, as the records hold them.
std::string U16(uint32 v) { return {(char)(v & 0xFF), (char)(v >> 8 & 0xFF)}; }
std::string U32(uint32 v) { return U16(v & 0xFFFF) + U16(v >> 16); }

uint32 Get32(const std::string &zip, size_t at)
{
    return (uint8)zip[at] | (uint8)zip[at + 1] << 8 | (uint8)zip[at + 2] << 16 |
           (uint32)(uint8)zip[at + 3] << 24;
}

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
        {"delete T:XLS all force", {"delete", "T:XLS", "all", "force"}},
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

TEST_F(SystemTags, PathWithQuotesAsterisksAndBlanksRoundTrips)
{
    std::string dir = sandbox + "/My \"best\" *books*  2024";
    ASSERT_EQ(0, mkdir(dir.c_str(), 0700));
    book = dir + "/Q*\"1\".xlsx";
    ASSERT_TRUE(bookgen::WriteZip(book, {{"xl/worksheets/sheet1.xml", "<worksheet/>"}}));
    EXPECT_EQ(0, Run("c:unzip " + Quoted(book) + " -d " + Quoted(target)));
    EXPECT_EQ("<worksheet/>", Read(target + "/xl/worksheets/sheet1.xml"));
}

TEST_F(Unzip, KeepsMemberPathsWithPrivateModes)
{
    EXPECT_EQ(0, Unpack({
                     {"[Content_Types].xml", "<Types/>"},
                     {"xl/", "", Member::Directory},
                     {"xl/worksheets/sheet1.xml", Noise(200000)},
                     {"xl/sharedStrings.xml", "<sst/>", Member::File, true},
                     {"docProps/", "", Member::Directory},
                 }));
    EXPECT_EQ((std::set<std::string>{"[Content_Types].xml", "docProps/", "xl/", "xl/worksheets/",
                                     "xl/worksheets/sheet1.xml", "xl/sharedStrings.xml"}),
              Tree(target));
    EXPECT_EQ(Noise(200000), Read(target + "/xl/worksheets/sheet1.xml"));
    EXPECT_EQ("<sst/>", Read(target + "/xl/sharedStrings.xml"));
    struct stat st;
    ASSERT_EQ(0, stat((target + "/xl/sharedStrings.xml").c_str(), &st));
    EXPECT_EQ(0u, st.st_mode & 077);
    ASSERT_EQ(0, stat((target + "/docProps").c_str(), &st));
    EXPECT_EQ(0u, st.st_mode & 077);
}

TEST_F(Unzip, BackslashesSeparate)
{
    EXPECT_EQ(0, Unpack({{"xl\\worksheets\\sheet1.xml", "<s/>"}, {"a\\.\\b.xml", "<b/>"}}));
    EXPECT_EQ("<s/>", Read(target + "/xl/worksheets/sheet1.xml"));
    EXPECT_EQ("<b/>", Read(target + "/a/b.xml"));
}

TEST_F(Unzip, FirstOfTwoEqualNamesStays)
{
    EXPECT_EQ(0, Unpack({
                     {"xl/a.xml", "first"},
                     {"xl/a.xml", "second"},
                     {"xl\\a.xml", "third"},
                     {"xl/a.xml/b.xml", "under a file"},
                     {"xl/a.xml/", "", Member::Directory},
                 }));
    EXPECT_EQ((std::set<std::string>{"xl/", "xl/a.xml"}), Tree(target));
    EXPECT_EQ("first", Read(target + "/xl/a.xml"));
}

TEST_F(Unzip, RefusesMembersLeavingTheTarget)
{
    std::string abs = "/tmp/sheaf-abs-" + std::to_string(getpid()) + ".txt";
    std::vector<std::vector<Member>> archives = {
        {{"ok.txt", "fine"}, {"../evil.txt", "x"}},
        {{"a/../../evil.txt", "x"}},
        {{"a\\..\\..\\evil.txt", "x"}},
        {{abs, "x"}},
        {{"\\evil.txt", "x"}},
        {{"C:evil.txt", "x"}},
        {{"Work:evil.txt", "x"}},
        {{"..", "", Member::Directory}},
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
    uint32 attrs = (uint32)(S_IFIFO | 0644) << 16;
    memcpy(&zip[cd + 38], &attrs, 4);     // the Unix attributes of the central directory
    FILE *f = fopen(book.c_str(), "wb");
    fwrite(zip.data(), 1, zip.size(), f);
    fclose(f);
    EXPECT_EQ(0, Run("c:unzip \"" + book + "\" -d " + target));
    struct stat st;
    ASSERT_EQ(0, lstat((target + "/fifo").c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(Unzip, FailsOnWhatIsNoArchive)
{
    ASSERT_TRUE(bookgen::WriteZip(book, {{"xl/worksheets/sheet1.xml", Noise(100000)}}));
    std::string zip = Read(book);
    struct { const char *what; std::string bytes; } cases[] = {
        {"text", "<worksheet/>"}, {"empty", ""}, {"half", zip.substr(0, zip.size() / 2)},
        {"damaged", zip.substr(0, 100) + std::string(200, 'x') + zip.substr(300)},
    };
    for (const auto &c : cases) {
        FILE *f = fopen(book.c_str(), "wb");
        fwrite(c.bytes.data(), 1, c.bytes.size(), f);
        fclose(f);
        EXPECT_EQ(10, Run("c:unzip \"" + book + "\" -d " + target)) << c.what;
        platform::RemoveTemp(target);
    }
    EXPECT_EQ(10, Run("c:unzip \"" + sandbox + "/missing.zip\" -d " + target));
    EXPECT_EQ(10, Run("c:unzip \"" + book + "\""));
}

TEST_F(Unzip, TakesItsContentsFromTheCentralDirectoryAlone)
{
    ASSERT_TRUE(bookgen::WriteZip(book, {{"xl/a.xml", Noise(3000), Member::File, true},
                                         {"xl/b.xml", Noise(3000), Member::File, true}}));
    const std::string zip = Read(book);
    size_t local = Nth(zip, "PK\x03\x04"), entry = Nth(zip, "PK\x01\x02", 1);
    size_t end = Nth(zip, "PK\x05\x06");
    std::string renamed = zip;
    renamed[local + 30 + 3] = 'A';
    struct { const char *what; std::string bytes; const char *why, *member; } cases[] = {
        {"end record cut", zip.substr(0, zip.size() - 10), "end of central directory record cut", ""},
        {"end record gone", zip.substr(0, end), "no end of central directory record", ""},
        {"directory past the end", Patched(zip, end + 16, zip.size() + 100),
         "central directory outside the file", ""},
        {"directory cut", Patched(Patched(zip, end + 8, 3, 2), end + 10, 3, 2), "central directory cut", ""},
        {"local name", renamed, "local name differs from the central directory", "xl/a.xml"},
        {"local method", Patched(zip, local + 8, 8, 2), "local method differs from the central directory",
         "xl/a.xml"},
        {"local size", Patched(zip, local + 18, 2999), "local sizes differ from the central directory",
         "xl/a.xml"},
        {"two entries, one place", Patched(zip, entry + 42, 0), "member overlaps another member",
         "xl/b.xml"},
        {"into the directory", Patched(zip, entry + 20, 3100), "member overlaps the central directory",
         "xl/b.xml"},
        {"member past the end", Patched(zip, entry + 42, zip.size() + 10), "member outside the file",
         "xl/b.xml"},
        {"a stub before the archive", "MZ\x90" + std::string(509, '\0') + zip, "data before the archive", ""},
    };
    for (const auto &c : cases) {
        FILE *f = fopen(book.c_str(), "wb");
        fwrite(c.bytes.data(), 1, c.bytes.size(), f);
        fclose(f);
        ASSERT_EQ(0, mkdir(target.c_str(), 0700));      // as the module makes T:XLS
        EXPECT_EQ(10, Run("c:unzip \"" + book + "\" -d " + target)) << c.what;
        EXPECT_STREQ(c.why, platform::LastUnzipRefusal().why) << c.what;
        EXPECT_EQ(c.member, platform::LastUnzipRefusal().member) << c.what;
        EXPECT_TRUE(Tree(target).empty()) << c.what;
        platform::RemoveTemp(target);
    }
}

TEST_F(Unzip, TakesOddButWholeArchives)
{
    std::vector<Member> members = {{"xl/a.xml", "first"}, {"xl/b.xml", Noise(5000), Member::File, true}};
    std::set<std::string> both = {"xl/", "xl/a.xml", "xl/b.xml"};

    // ZIP64 fields and end record, and data descriptors behind deflated data.
    std::string why;
    ASSERT_TRUE(bookgen::WriteZip(book, members, &why, true)) << why;
    ASSERT_NE(std::string::npos, Nth(Read(book), "PK\x06\x06"));
    EXPECT_EQ(0, Run("c:unzip \"" + book + "\" -d " + target));
    EXPECT_EQ(both, Tree(target));
    EXPECT_EQ(nullptr, platform::LastUnzipRefusal().why);
    platform::RemoveTemp(target);

    ASSERT_TRUE(bookgen::WriteZip(book, members));
    const std::string zip = Read(book);
    size_t first = Nth(zip, "PK\x01\x02"), second = Nth(zip, "PK\x01\x02", 1);
    size_t end = Nth(zip, "PK\x05\x06");
    std::string swapped = zip.substr(0, first) + zip.substr(second, end - second) +
                          zip.substr(first, second - first) + zip.substr(end);
    struct { const char *what; std::string bytes; } cases[] = {
        {"a comment", Patched(zip, end + 20, 9, 2) + "a comment"},
        {"bytes after the end record", zip + std::string(100, '\0')},
        {"the directory in another order", swapped},
    };
    for (const auto &c : cases) {
        FILE *f = fopen(book.c_str(), "wb");
        fwrite(c.bytes.data(), 1, c.bytes.size(), f);
        fclose(f);
        EXPECT_EQ(0, Run("c:unzip \"" + book + "\" -d " + target)) << c.what;
        EXPECT_EQ(both, Tree(target)) << c.what;
        EXPECT_EQ("first", Read(target + "/xl/a.xml")) << c.what;
        platform::RemoveTemp(target);
    }
}

// Many members whose local headers all lead to one deflate stream: each header's extra
// field spans the headers after it. Refused from the directory, before a byte is written.
TEST_F(Unzip, RefusesMembersSharingOneStream)
{
    const uint32 size = 4 << 20;
    ASSERT_TRUE(bookgen::WriteZip(book, {{"k", std::string(size, 'k')}}));
    const std::string kernel = Read(book);
    size_t entry = Nth(kernel, "PK\x01\x02");
    uint32 crc = Get32(kernel, entry + 16), packed = Get32(kernel, entry + 20);
    size_t dataAt = 30 + 1 + (uint8)kernel[28] + 256 * (uint8)kernel[29];

    // Deflated, made by Unix; the same CRC and sizes in every header.
    const std::string fields = U16(8) + U32(0) + U32(crc) + U32(packed) + U32(size);
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
    zip += kernel.substr(dataAt, packed);
    zip += dir + "PK\x05\x06" + U16(0) + U16(0) + U16(count) + U16(count) + U32(dir.size()) +
           U32(zip.size()) + U16(0);
    FILE *f = fopen(book.c_str(), "wb");
    fwrite(zip.data(), 1, zip.size(), f);
    fclose(f);
    ASSERT_LT(zip.size(), 20000u);

    ASSERT_EQ(0, mkdir(target.c_str(), 0700));
    EXPECT_EQ(10, Run("c:unzip \"" + book + "\" -d " + target));
    EXPECT_STREQ("member overlaps another member", platform::LastUnzipRefusal().why);
    EXPECT_EQ("xl/m101.xml", platform::LastUnzipRefusal().member);
    EXPECT_TRUE(Tree(target).empty());
}

TEST_F(Unzip, StopsABombEarly)
{
    static std::string bomb;
    if (bomb.empty()) {
        std::string path = testing_support::TempDir() + "/bomb.zip";
        ASSERT_TRUE(bookgen::WriteZip(path, {{"xl/worksheets/sheet1.xml", std::string(40 << 20, '0')}}));
        bomb = Read(path);
    }
    FILE *f = fopen(book.c_str(), "wb");
    fwrite(bomb.data(), 1, bomb.size(), f);
    fclose(f);
    ASSERT_LT(bomb.size(), 100000u);
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
    for (const char *name : {"/a", "/b", "/c"})
        written += Read(target + name).size() * (access((target + name).c_str(), F_OK) == 0);
    EXPECT_LE(written, 150000u);
    platform::RemoveTemp(target);
    EXPECT_EQ(0, Unpack({{"a", Noise(60000)}, {"b", Noise(60000)}}));

    platform::unzipLimits.maxMembers = 5;
    platform::RemoveTemp(target);
    std::vector<Member> five;
    for (int i = 0; i < 5; i++)
        five.push_back({"m" + std::to_string(i), "x"});
    EXPECT_EQ(0, Unpack(five));
    platform::RemoveTemp(target);
    five.push_back({"dir/", "", Member::Directory});
    EXPECT_EQ(10, Unpack(five));
}

TEST_F(Unzip, LimitsComeFromTheEnvironment)
{
    setenv("SHEAF_UNZIP_MAX_BYTES", "64M", 1);
    setenv("SHEAF_UNZIP_MAX_MEMBERS", "200", 1);
    setenv("SHEAF_UNZIP_MAX_RATIO", "zero", 1);
    platform::LoadUnzipLimits();
    EXPECT_EQ(64ull << 20, platform::unzipLimits.maxBytes);
    EXPECT_EQ(200u, platform::unzipLimits.maxMembers);
    EXPECT_EQ(500u, platform::unzipLimits.maxRatio);      // not a number: the default stays
    unsetenv("SHEAF_UNZIP_MAX_BYTES");
    unsetenv("SHEAF_UNZIP_MAX_MEMBERS");
    unsetenv("SHEAF_UNZIP_MAX_RATIO");
    platform::Reset();
    EXPECT_EQ(1ull << 30, platform::unzipLimits.maxBytes);
    EXPECT_EQ(10000u, platform::unzipLimits.maxMembers);
}

TEST_F(DeleteCommand, RemovesTheTreeButNothingALinkPointsAt)
{
    std::string outside = testing_support::TempDir();
    ASSERT_EQ(0, mkdir((outside + "/keep").c_str(), 0700));
    FILE *f = fopen((outside + "/keep/file").c_str(), "w");
    fclose(f);

    ASSERT_EQ(0, Unpack({{"xl/worksheets/sheet1.xml", "s"}, {"xl/_rels/r.xml", "r"}}));
    ASSERT_EQ(0, symlink(outside.c_str(), (target + "/xl/dirlink").c_str()));
    ASSERT_EQ(0, symlink((outside + "/keep/file").c_str(), (target + "/filelink").c_str()));
    ASSERT_EQ(0, chmod((target + "/xl/_rels").c_str(), 0500));   // delete force empties it too

    EXPECT_EQ(0, Run("delete " + Quoted(target) + " all force"));
    EXPECT_FALSE(platform::Exists(target.c_str()));
    EXPECT_EQ((std::set<std::string>{"keep/", "keep/file"}), Tree(outside));
    EXPECT_EQ(5, Run("delete " + Quoted(target) + " all force"));
    platform::RemoveTemp(outside);
}

