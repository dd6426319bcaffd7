// The stand-in's shell: the command line, `c:unzip` on whole and hostile archives, `delete`.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <csignal>
#include <set>
#include <string>
#include <sys/resource.h>
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
    static int32 Run(const std::string &command)
    {
        return platform::dos.SystemTags(command.c_str(), SYS_Input, 0, SYS_Output, 0,
                                        SYS_Error, 0, TAG_DONE);
    }
    int32 UnzipBook() { return Run("c:unzip \"" + book + "\" -d " + target); }
    // Into a target made afresh.
    int32 Unpack(const std::vector<Member> &members, bool zip64 = false)
    {
        platform::RemoveTemp(target);
        std::string why;
        EXPECT_TRUE(bookgen::WriteZip(book, members, &why, zip64)) << why;
        return UnzipBook();
    }
    int32 UnpackBytes(const std::string &bytes)
    {
        std::ofstream(book, std::ios::binary) << bytes;
        return UnzipBook();
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
    // The last unzip's refusal as "why: member", or "why" when it names no member.
    static std::string Refusal()
    {
        const platform::UnzipRefusal &r = platform::LastUnzipRefusal();
        return std::string(r.why != nullptr ? r.why : "none") + (r.member.empty() ? "" : ": " + r.member);
    }
    // Unzip of bytes into an empty target, as the module makes T:XLS: the refusal, or the
    // code it gave instead, with " (wrote)" when it left anything unless mayWrite.
    std::string RefusalOf(const std::string &bytes, bool mayWrite = false)
    {
        EXPECT_EQ(0, mkdir(target.c_str(), 0700));
        int32 rc = UnpackBytes(bytes);
        std::string why = rc == 10 ? Refusal() : "code " + std::to_string(rc);
        bool wrote = !mayWrite && !Tree(target).empty();
        platform::RemoveTemp(target);
        return wrote ? why + " (wrote)" : why;
    }
};

// Text that deflate cannot shrink much: a pseudo-random hex stream.
std::string Noise(size_t size)
{
    std::string text;
    for (uint32 x = 12345; text.size() < size;)
        text += "0123456789abcdef"[((x = x * 1103515245u + 12345u) >> 16) & 15];
    return text;
}

std::string U16(uint32 v) { return {(char)(v & 0xFF), (char)(v >> 8 & 0xFF)}; }
std::string U32(uint32 v) { return U16(v & 0xFFFF) + U16(v >> 16); }

// The zip with bytes at field in the k-th member's local header and at field + 2 in its
// central entry (CRC 14, unpacked size 22).
std::string Patched(std::string zip, size_t k, size_t field, const std::string &bytes)
{
    size_t entry = zip.find("PK\x01\x02");
    for (; k > 0; k--)
        entry = zip.find("PK\x01\x02", entry + 4);
    uint32 local = (uint8)zip[entry + 42] | (uint8)zip[entry + 43] << 8
                   | (uint8)zip[entry + 44] << 16 | (uint32)(uint8)zip[entry + 45] << 24;
    return zip.replace(entry + field + 2, 4, bytes).replace(local + field, 4, bytes);
}

}  // namespace

using SystemTags = Shell;
using Unzip = Shell;
using DeleteCommand = Shell;

TEST(SplitCommandLine, ReadsWordsAsTheShellDoes)
{
    struct { const char *line; bool ok; std::vector<std::string> words; } cases[] = {
        {"  c:unzip\t\"/a b/c.xlsx\"  -d T:XLS ", true, {"c:unzip", "/a b/c.xlsx", "-d", "T:XLS"}},
        {"\"say *\"hi*\"\"", true, {"say \"hi\""}}, {"\"\" x", true, {"", "x"}}, {"", true, {}},
        {"\"a**b\" \"*n*N*e\"", true, {"a*b", "\n\n\x1b"}},
        {"a*b \"x*y\"", true, {"a*b", "x*y"}},     // outside quotes and before others: itself
        {"c:unzip \"open", false, {}}, {"c:unzip \"ends in *\"", false, {}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> words;
        EXPECT_EQ(c.ok, platform::SplitCommandLine(c.line, &words)) << c.line;
        EXPECT_EQ(c.ok ? c.words : words, words) << c.line;     // refused: words are no matter
    }
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
    EXPECT_EQ(20, UnzipBook());
    EXPECT_FALSE(platform::Exists(target.c_str()));
    platform::faults.commandFails = nullptr;
    EXPECT_EQ(0, Run("C:UnZip \"" + book + "\" -d " + target));
    EXPECT_EQ("A", Read(target + "/a.txt"));
}

// ZIP64 fields and end record, and data descriptors behind deflated data; equal names and
// names under a file keep the first member, and backslashes separate. The reader gives a
// member a file type only when it is a directory or a link: one whose attributes say fifo
// must still arrive as a plain file.
TEST_F(Unzip, KeepsMemberPathsWithPrivateModes)
{
    ASSERT_TRUE(bookgen::WriteZip(book, {{"fifo", "", Member::File, true},
        {"xl/", "", Member::Directory}, {"xl/worksheets/sheet1.xml", Noise(200000)},
        {"xl/a.xml", "first", Member::File, true}, {"xl/a.xml", "second"}, {"xl\\a.xml", "third"},
        {"xl/a.xml/b.xml", "under a file"}, {"xl/a.xml/", "", Member::Directory},
        {"w\\.\\b.xml", "<b/>"}, {"docProps/", "", Member::Directory}}, nullptr, true));
    std::string zip = Read(book);
    ASSERT_NE(std::string::npos, zip.find("PK\x06\x06"));
    zip.replace(zip.find("PK\x01\x02") + 38, 4, U32((S_IFIFO | 0644) << 16));
    EXPECT_EQ(0, UnpackBytes(zip));
    EXPECT_EQ((std::set<std::string>{"docProps/", "fifo", "xl/", "xl/worksheets/", "w/",
                                     "xl/worksheets/sheet1.xml", "xl/a.xml", "w/b.xml"}),
              Tree(target));
    EXPECT_EQ(Noise(200000), Read(target + "/xl/worksheets/sheet1.xml"));
    EXPECT_EQ("first", Read(target + "/xl/a.xml"));
    for (const char *name : {"/xl/a.xml", "/docProps", "/fifo"}) {
        struct stat st;
        ASSERT_EQ(0, lstat((target + name).c_str(), &st)) << name;
        EXPECT_EQ(0u, st.st_mode & 077) << name;
        EXPECT_EQ(name[1] == 'd' ? S_IFDIR : S_IFREG, st.st_mode & S_IFMT) << name;
    }
}

TEST_F(Unzip, RefusesMembersLeavingTheTarget)
{
    std::string abs = "/tmp/sheaf-abs-" + std::to_string(getpid()) + ".txt";
    struct { std::vector<Member> members; std::string why; } cases[] = {
        {{{"ok.txt", "fine"}, {"a\\..\\..\\evil.txt", "x"}}, "parent directory: a/../../evil.txt"},
        {{{abs, "x"}}, "absolute path: " + abs},
        {{{"C:evil.txt", "x"}}, "drive or volume: C:evil.txt"},
        {{{"link", sandbox, Member::Symlink}, {"link/evil.txt", "x"}}, "symbolic link: link"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(10, Unpack(c.members)) << c.why;
        EXPECT_EQ(c.why, Refusal());
        for (const auto &name : Tree(sandbox))
            EXPECT_EQ(0u, name.rfind("out/", 0)) << c.why << ": " << name;
        EXPECT_NE(0, access(abs.c_str(), F_OK));
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(target + "/link")));
    }
}

// Each refusal of the directory reader has its own test; here it must reach the caller
// with the member it names, and nothing may be written, also for an archive that reads two
// ways (an end record in the comment with a directory of its own).
TEST_F(Unzip, RefusesWhatIsNoWholeArchiveBeforeWriting)
{
    ASSERT_TRUE(bookgen::WriteZip(book, {{"k", std::string(4 << 20, 'k')}}));
    const std::string kernel = Read(book);
    // A bomb: many members whose local headers, each with the kernel's method, time, CRC and
    // sizes, lead to its one deflate stream; each header's extra field spans those after it.
    size_t entry = kernel.find("PK\x01\x02");
    size_t dataAt = 30 + 1 + (uint8)kernel[28] + 256 * (uint8)kernel[29];
    const std::string fields = kernel.substr(entry + 10, 18);
    const size_t count = 20, header = 30 + 11, streamAt = count * (header + 4) - 4;
    std::string bomb, dir;
    for (size_t at = 0; at < streamAt; at += header + 4) {
        std::string name = "xl/m" + std::to_string(100 + at / (header + 4)) + ".xml";
        size_t extra = streamAt - at - header;
        bomb += "PK\x03\x04" + U16(20) + U16(0) + fields + U16(name.size()) + U16(extra) + name +
                (extra > 0 ? U16(0xCAFE) + U16(extra - 4) : "");
        dir += "PK\x01\x02" + U16(0x031E) + U16(20) + U16(0) + fields + U16(name.size()) + U16(0) +
               U16(0) + U16(0) + U16(0) + U32(0100644u << 16) + U32(at) + name;
    }
    bomb += kernel.substr(dataAt, entry - dataAt);
    bomb += dir + "PK\x05\x06" + U16(0) + U16(0) + U16(count) + U16(count) + U32(dir.size()) +
            U32(bomb.size()) + U16(0);

    ASSERT_TRUE(bookgen::WriteTwoWayZip(book, {{"xl/a.xml", "<a/>"}, {"xl/b.xml", "<b/>"}},
                                        {{"xl/a.xml", "<other/>"}}));
    std::pair<std::string, std::string> cases[] = {
        {"<worksheet/>", "no end of central directory record"},
        {std::string(kernel).replace(8, 2, U16(0)), "local method differs from the central directory: k"},
        {bomb, "member overlaps another member: xl/m101.xml"},
        {Read(book), "a second end record with its own directory"},
    };
    for (const auto &[bytes, why] : cases)
        EXPECT_EQ(why, RefusalOf(bytes));
    EXPECT_EQ(10, UnpackBytes(kernel.substr(0, 100) + std::string(200, 'x') + kernel.substr(300)));
    EXPECT_EQ(10, Run("c:unzip \"" + sandbox + "/missing.zip\" -d " + target));
    EXPECT_EQ(10, Run("c:unzip \"" + book + "\""));
}

// The reader looks for the end record in the last few KiB only, the format allows a comment
// of 65,535 bytes.
TEST_F(Unzip, TakesTheLongestComment)
{
    for (size_t size : {16000u, 20000u, 65535u}) {
        platform::RemoveTemp(target);
        ASSERT_TRUE(bookgen::WriteZip(book, {{"xl/a.xml", "<a/>"}, {"xl/b.xml", "<b/>"}}));
        ASSERT_TRUE(bookgen::AppendComment(book, std::string(size, 'c')));
        EXPECT_EQ(0, UnzipBook()) << size;
        EXPECT_EQ("<b/>", Read(target + "/xl/b.xml")) << size;
    }
}

TEST_F(Unzip, StopsABombEarly)
{
    ASSERT_TRUE(bookgen::WriteZip(book, {{"xl/worksheets/sheet1.xml", std::string(40 << 20, '0')}}));
    platform::unzipLimits.ratioFrom = 1 << 20;
    platform::unzipLimits.maxRatio  = 100;
    EXPECT_EQ(10, UnzipBook());
    EXPECT_LT(std::filesystem::file_size(target + "/xl/worksheets/sheet1.xml"), 8u << 20);
    EXPECT_EQ(0, Unpack({{"a.txt", Noise(3 << 20)}}));   // below the ratio
}

// A streamed member's blocks are written on the second core while the next ones inflate:
// what comes out, an injected write failure and a real one in mid-stream are as on one core.
TEST_F(Unzip, WritesAStreamedMemberWhileItInflates)
{
    const std::string zeros(40 << 20, '0');
    ASSERT_TRUE(bookgen::WriteZip(book, {{"big.xml", zeros}}));
    platform::unzipLimits.ratioFrom = 1 << 20;
    platform::unzipLimits.maxRatio  = 1000;     // below what it declares: streamed, not whole
    uint64 before = platform::FallibleCalls();
    EXPECT_EQ(0, UnzipBook());
    uint64 calls = platform::FallibleCalls() - before;
    EXPECT_TRUE(zeros == Read(target + "/big.xml"));

    platform::RemoveTemp(target);
    platform::faults.failAt = calls / 2;
    EXPECT_EQ(10, UnzipBook());
    EXPECT_EQ(std::string("unzip: write"), platform::FailedCall());
    EXPECT_EQ("write failed: big.xml", Refusal());
    platform::ForgetFailure();

    // A file size limit: the system refuses a write in mid-stream, or the very last one.
    rlimit old;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
    for (rlim_t most : {(rlim_t)8 << 20, ((rlim_t)40 << 20) - 1}) {
        platform::RemoveTemp(target);
        rlimit small = {most, old.rlim_max};
        auto signal = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
        int32 rc = UnzipBook();
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, signal);
        EXPECT_EQ(10, rc) << most;
        EXPECT_EQ("write failed: big.xml", Refusal()) << most;
    }
}

// The data must come out as the directory says: as many bytes and the same CRC, stored or
// deflated, small (on this core) or large (on the second); a member that does not is refused.
TEST_F(Unzip, RefusesDataThatIsNotWhatTheDirectorySays)
{
    for (int kind = 0; kind < 4; kind++) {
        const uint32 size = kind < 2 ? 5000 : 3u << 19;
        const bool stored = kind & 1;
        ASSERT_TRUE(bookgen::WriteZip(book, {{"a.xml", Noise(size), Member::File, stored}}));
        const std::string zip = Read(book);
        // another CRC, one byte less unpacked, one byte more
        for (auto [field, value] : {std::pair{14u, 0x12345678u}, {22u, size - 1}, {22u, size + 1}})
            EXPECT_EQ("damaged data: a.xml", RefusalOf(Patched(zip, 0, field, U32(value)), true))
                << kind << " " << field << " " << value;
        EXPECT_EQ(0, UnpackBytes(zip)) << kind;
        EXPECT_TRUE(Noise(size) == Read(target + "/a.xml")) << kind;
        platform::RemoveTemp(target);
    }
}

// Two large members inflate side by side; what comes out, which member a failure names and
// which calls may fail are as when they inflate one after the other.
TEST_F(Unzip, TellsTheFirstFailureOfMembersInflatedSideBySide)
{
    ASSERT_TRUE(bookgen::WriteZip(book, {{"a.xml", Noise(3 << 20)}, {"b.xml", Noise(2 << 20)}}));
    const std::string zip = Read(book), crc = U32(0x12345678);
    EXPECT_EQ("damaged data: a.xml", RefusalOf(Patched(zip, 0, 14, crc), true));
    EXPECT_EQ("damaged data: b.xml", RefusalOf(Patched(zip, 1, 14, crc), true));
    EXPECT_EQ("damaged data: a.xml",
              RefusalOf(Patched(Patched(zip, 0, 14, crc), 1, 14, crc), true));
    uint64 before = platform::FallibleCalls();
    EXPECT_EQ(0, UnpackBytes(zip));
    uint64 calls = platform::FallibleCalls() - before;
    EXPECT_TRUE(Noise(3 << 20) == Read(target + "/a.xml"));
    EXPECT_TRUE(Noise(2 << 20) == Read(target + "/b.xml"));
    // Each call failed in turn, twice over: the same outcome both times, and a failed
    // write of either member named as on one core.
    std::vector<std::string> outcomes[2];
    for (auto &outcome : outcomes)
        for (uint64 n = 1; n <= calls; n++) {
            platform::RemoveTemp(target);
            platform::faults.failAt = n;
            int32 rc = UnpackBytes(zip);
            std::string what = platform::FailedCall() != nullptr ? platform::FailedCall() : "";
            platform::ForgetFailure();
            outcome.push_back(std::to_string(rc) + " " + what + " " + (rc == 10 ? Refusal() : ""));
        }
    EXPECT_EQ(outcomes[0], outcomes[1]);
    std::set<std::string> writes;
    for (const auto &o : outcomes[0])
        if (o.find("unzip: write") != std::string::npos)
            writes.insert(o);
    EXPECT_EQ((std::set<std::string>{"10 unzip: write write failed: a.xml",
                                     "10 unzip: write write failed: b.xml"}), writes);
}

TEST_F(Unzip, CountsBytesAndMembersReallyUnpacked)
{
    platform::unzipLimits.maxBytes = 150000;
    std::vector<Member> members = {{"a", Noise(60000)}, {"b", Noise(60000)}, {"c", Noise(60000)}};
    EXPECT_EQ(10, Unpack(members));
    uint64 written = 0;
    for (const auto &name : Tree(target))
        written += Read(target + "/" + name).size();
    EXPECT_LE(written, 150000u);
    members.pop_back();
    EXPECT_EQ(0, Unpack(members));
    platform::unzipLimits.maxMembers = 5;     // directories count as members
    members.insert(members.end(), {{"m0", "x"}, {"m1", "x"}, {"dir/", "", Member::Directory}});
    EXPECT_EQ(0, Unpack(members));
    members.push_back({"m2", "x"});
    EXPECT_EQ(10, Unpack(members));
}

// The README's settings: a size with its unit; a value that is no number keeps the default.
TEST_F(Unzip, LimitsComeFromTheEnvironment)
{
    setenv("SHEAF_UNZIP_MAX_BYTES", "64M", 1);
    setenv("SHEAF_UNZIP_MAX_RATIO", "zero", 1);
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
    std::ofstream(outside + "/keep/file").put('k');
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
