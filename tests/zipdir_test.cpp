// The directory reader of unzip on archives made byte by byte: end records behind
// comments, ZIP64 records, directories out of place, local headers that disagree and
// members that share bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/zipdir.h"

namespace {

std::string U16(uint32 v) { return {(char)(v & 0xFF), (char)(v >> 8 & 0xFF)}; }
std::string U32(uint32 v) { return U16(v & 0xFFFF) + U16(v >> 16); }
std::string U64(uint64 v) { return U32((uint32)v) + U32((uint32)(v >> 32)); }

const uint32 WIDE = 0xFFFFFFFF;

// A local header: version, flags, method, time and date, CRC (never checked here), sizes.
std::string Local(const std::string &name, uint32 packed, uint32 size, uint16 method = 0,
                  uint16 flags = 0, const std::string &extra = "")
{
    return "PK\x03\x04" + U16(20) + U16(flags) + U16(method) + U32(0) + U32(0) + U32(packed) +
           U32(size) + U16(name.size()) + U16(extra.size()) + name + extra;
}

// A central directory entry; made by Unix, a file of mode 0644.
std::string Central(const std::string &name, uint32 packed, uint32 size, uint32 offset,
                    uint16 method = 0, uint16 flags = 0, const std::string &extra = "",
                    const std::string &comment = "")
{
    return "PK\x01\x02" + U16(0x031E) + U16(20) + U16(flags) + U16(method) + U32(0) + U32(0) +
           U32(packed) + U32(size) + U16(name.size()) + U16(extra.size()) + U16(comment.size()) +
           U16(0) + U16(0) + U32(0100644u << 16) + U32(offset) + name + extra + comment;
}

std::string End(uint32 count, uint32 dirSize, uint32 dirAt, const std::string &comment = "")
{
    return "PK\x05\x06" + U16(0) + U16(0) + U16(count) + U16(count) + U32(dirSize) +
           U32(dirAt) + U16(comment.size()) + comment;
}

// The body, then a directory of these entries and its end record.
std::string Listing(const std::string &body, const std::vector<std::string> &entries,
                    const std::string &comment = "")
{
    std::string dir;
    for (const std::string &e : entries)
        dir += e;
    return body + dir + End(entries.size(), dir.size(), body.size(), comment);
}

// Stored members one after the other, then their directory in the order given.
std::string Archive(const std::vector<std::pair<std::string, std::string>> &members,
                    const std::vector<int> &order = {}, const std::string &comment = "")
{
    std::string body;
    std::vector<std::string> entries;
    for (const auto &[name, data] : members) {
        entries.push_back(Central(name, data.size(), data.size(), body.size()));
        body += Local(name, data.size(), data.size()) + data;
    }
    std::vector<std::string> ordered = entries;
    for (size_t i = 0; i < order.size(); i++)
        ordered[i] = entries[order[i]];
    return Listing(body, ordered, comment);
}

bool ReadString(void *source, uint64 offset, void *buffer, size_t size)
{
    const std::string *bytes = (const std::string *)source;
    return offset <= bytes->size() && bytes->size() - offset >= size &&
           bytes->copy((char *)buffer, size, offset) == size;
}

// Why the reader refuses the bytes ("" when it takes them), and the member it names.
std::string Refusal(const std::string &bytes, platform::ZipDirectory *dir = nullptr,
                    uint32 most = 10000)
{
    platform::ZipDirectory own;
    std::string member;
    const char *why = platform::ReadZipDirectory(ReadString, (void *)&bytes, bytes.size(), most,
                                                 dir != nullptr ? dir : &own, &member);
    if (why == nullptr)
        return member.empty() ? "" : "taken, but names " + member;
    return member.empty() ? why : std::string(why) + ": " + member;
}

}  // namespace

TEST(ReadZipDirectory, ListsMembersByTheirPlaceInTheFile)
{
    std::string zip = Archive({{"a.txt", "A"}, {"b.txt", "BB"}, {"c.txt", "CCC"}}, {2, 0, 1});
    platform::ZipDirectory dir;
    ASSERT_EQ("", Refusal(zip, &dir));
    ASSERT_EQ(3u, dir.members.size());
    // Each header is 35 bytes before its data; the members hold 1, 2 and 3 bytes.
    uint64 headers[] = {0, 36, 73};
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(std::string(1, 'a' + i) + ".txt", dir.members[i].name);
        EXPECT_EQ(headers[i], dir.members[i].headerAt);
        EXPECT_EQ(headers[i] + 35, dir.members[i].dataAt);
        EXPECT_EQ((uint64)i + 1, dir.members[i].size);
        EXPECT_EQ((uint64)i + 1, dir.members[i].packed);
    }
    EXPECT_EQ(111u, dir.directoryAt);
    EXPECT_EQ(3u * 51, dir.directorySize);
    EXPECT_EQ(264u, dir.endAt);
    EXPECT_EQ("", Refusal(End(0, 0, 0), &dir));    // no members: the end record alone
    EXPECT_TRUE(dir.members.empty());
}

TEST(ReadZipDirectory, FindsTheEndRecordBehindItsComment)
{
    std::string one = Archive({{"a.txt", "A"}}), mark = "PK\x05\x06";
    auto Commented = [](const std::string &comment) { return Archive({{"a.txt", "A"}}, {}, comment); };
    const char *cut = "end of central directory record cut", *none = "no end of central directory record";
    struct { const char *what; std::string bytes; const char *why; } cases[] = {
        {"a comment holding the mark", Commented(mark + std::string(30, 'x')), ""},
        {"a comment ending in the mark", Commented("x" + mark), ""},
        {"the longest comment", Commented(std::string(65535, 'c')), ""},
        {"bytes after the end record", one + "trailing", ""},
        {"comment cut", Commented("made by hand").substr(0, one.size() + 5), cut},
        {"end record cut", one.substr(0, one.size() - 10), cut},
        {"end record gone", one.substr(0, one.size() - 22), none},
        {"end record beyond the longest comment", one + std::string(65536, 'c'), none},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.why, Refusal(c.bytes)) << c.what;
}

TEST(ReadZipDirectory, TakesWideValuesFromZIP64Records)
{
    // A member whose sizes and offset the ZIP64 extra fields hold, behind a ZIP64 end
    // record and its locator; the old end record says only "see there".
    auto Zip64 = [](const std::string &centralExtra, const std::string &localExtra,
                    uint64 locatorPoints) {
        std::string body = Local("a.txt", WIDE, WIDE, 0, 0, localExtra) + "hello";
        std::string dir = Central("a.txt", WIDE, WIDE, WIDE, 0, 0, centralExtra);
        std::string end64 = "PK\x06\x06" + U64(44) + U16(45) + U16(45) + U32(0) + U32(0) +
                            U64(1) + U64(1) + U64(dir.size()) + U64(body.size());
        std::string locator = "PK\x06\x07" + U32(0) +
                              U64(locatorPoints != 0 ? locatorPoints : body.size() + dir.size()) +
                              U32(1);
        std::string end = "PK\x05\x06" + U16(0xFFFF) + U16(0xFFFF) + U16(0xFFFF) + U16(0xFFFF) +
                          U32(WIDE) + U32(WIDE) + U16(0);
        return body + dir + end64 + locator + end;
    };
    std::string sizes = U16(1) + U16(16) + U64(5) + U64(5);
    std::string all = U16(1) + U16(24) + U64(5) + U64(5) + U64(0);
    std::string other = U16(0x5455) + U16(5) + "\x01" + U32(0);   // a time field comes first

    platform::ZipDirectory dir;
    ASSERT_EQ("", Refusal(Zip64(other + all, sizes, 0), &dir));
    ASSERT_EQ(1u, dir.members.size());
    EXPECT_EQ(5u, dir.members[0].size);
    EXPECT_EQ(5u, dir.members[0].packed);
    EXPECT_EQ(55u, dir.members[0].dataAt);
    EXPECT_EQ(60u, dir.directoryAt);

    struct { const char *what; std::string bytes; const char *why; } cases[] = {
        {"no offset in the directory's field", Zip64(sizes, sizes, 0), "ZIP64 field missing: a.txt"},
        {"no field in the directory", Zip64("", sizes, 0), "ZIP64 field missing: a.txt"},
        {"no field in the local header", Zip64(all, "", 0), "ZIP64 field missing: a.txt"},
        {"other local sizes", Zip64(all, U16(1) + U16(16) + U64(5) + U64(4), 0),
         "local sizes differ from the central directory: a.txt"},
        {"locator past its own place", Zip64(all, sizes, 1000), "ZIP64 end record outside the file"},
        {"locator at the member", Zip64(all, sizes, 1), "no ZIP64 end record where its locator points"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.why, Refusal(c.bytes)) << c.what;
}

TEST(ReadZipDirectory, RefusesADirectoryOutOfPlace)
{
    std::string two = Archive({{"a.txt", "A"}, {"b.txt", "BB"}});
    size_t end = two.size() - 22, dir = 73;     // the end record and the directory
    auto Patched = [&](size_t at, std::string v) { return std::string(two).replace(at, v.size(), v); };
    const char *outside = "central directory outside the file", *split = "archive split over several disks";
    struct { const char *what; std::string bytes; const char *why; } cases[] = {
        {"offset past the end", Patched(end + 16, U32(100000)), outside},
        {"size past the end", Patched(end + 12, U32(100000)), outside},
        {"offset at the top", Patched(end + 16, U32(WIDE)), outside},
        {"into the end record", Patched(end + 16, U32(dir + 1)),
         "central directory runs into the end record"},
        {"bytes before the end record", two.substr(0, end) + "gap" + two.substr(end),
         "central directory not where the end record says"},
        {"offset one short", Patched(end + 16, U32(dir - 1)), "data before the archive"},
        {"data before the archive", "#!/bin/sh\nexit 0\n" + two, "data before the archive"},
        {"more members counted", Patched(end + 8, U16(3) + U16(3)), "central directory cut"},
        {"fewer members counted", Patched(end + 8, U16(1) + U16(1)),
         "central directory holds more than the end record counts"},
        {"a damaged entry", Patched(dir, "PK\x03\x04"), "central directory damaged"},
        {"a second disk", Patched(end + 4, U16(1)), split},
        {"members on another disk", Patched(dir + 34, U16(1)), split},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.why, Refusal(c.bytes)) << c.what;
    EXPECT_EQ("member count limit", Refusal(two, nullptr, 1));
    EXPECT_EQ("", Refusal(two, nullptr, 2));
}

TEST(ReadZipDirectory, ComparesLocalHeadersWithTheDirectory)
{
    // The member "a.txt" holding "hello", with this local header.
    auto With = [](const std::string &local, const std::string &entry = Central("a.txt", 5, 5, 0)) {
        return Listing(local + "hello", {entry});
    };
    const char *name = "local name differs from the central directory: a.txt",
               *sizes = "local sizes differ from the central directory: a.txt",
               *dataOutside = "member data outside the file: a.txt";
    struct { const char *what; std::string bytes; const char *why; } cases[] = {
        {"agreeing", With(Local("a.txt", 5, 5)), ""},
        {"another name", With(Local("b.txt", 5, 5)), name},
        {"a longer name", With(Local("a.txt2", 5, 5)), name},
        {"another method", With(Local("a.txt", 5, 5, 8)),
         "local method differs from the central directory: a.txt"},
        {"another size", With(Local("a.txt", 5, 6)), sizes},
        {"sizes after the data", Listing(Local("a.txt", 0, 0, 0, 8) + "hello" + U32(0) + U32(5) + U32(5),
                                         {Central("a.txt", 5, 5, 0, 0, 8)}), ""},
        {"one size after the data", With(Local("a.txt", 0, 5, 0, 8)), ""},
        {"wrong sizes despite the flag", With(Local("a.txt", 3, 3, 0, 8)), sizes},
        {"an extra field only here", With(Local("a.txt", 5, 5, 0, 0, U16(0xCAFE) + U16(2) + "xx")), ""},
        {"the directory where the header belongs", Listing("", {Central("a.txt", 5, 5, 0)}),
         "no local header where the central directory points: a.txt"},
        {"header past the end", With(Local("a.txt", 5, 5), Central("a.txt", 5, 5, 1000)),
         "member outside the file: a.txt"},
        {"data past the end", With(Local("a.txt", 5000, 5000), Central("a.txt", 5000, 5000, 0)),
         dataOutside},
        {"a name past the end",
         Listing(Local("a.txt", 5, 5, 0, 0, std::string(65000, 'x')).substr(0, 100),
                 {Central("a.txt", 5, 5, 0)}), dataOutside},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.why, Refusal(c.bytes)) << c.what;
}

TEST(ReadZipDirectory, RefusesMembersThatShareBytes)
{
    std::string a = Local("a.txt", 5, 5) + "hello";                 // 40 bytes at 0
    std::string b = Local("b.txt", 5, 5) + "world";                 // 40 bytes at 40
    // b.txt's header and data quoted as a's data.
    std::string quoting = Local("a.txt", 40, 40) + Local("b.txt", 5, 5) + "world";
    struct { const char *what; std::string bytes; const char *why; } cases[] = {
        {"side by side", Listing(a + b, {Central("a.txt", 5, 5, 0), Central("b.txt", 5, 5, 40)}), ""},
        {"one place twice", Listing(a, {Central("a.txt", 5, 5, 0), Central("a.txt", 5, 5, 0)}),
         "member overlaps another member: a.txt"},
        {"one inside the other", Listing(quoting, {Central("a.txt", 40, 40, 0), Central("b.txt", 5, 5, 35)}),
         "member overlaps another member: b.txt"},
        {"into the directory", Listing(a, {Central("a.txt", 6, 6, 0)}),
         "member overlaps the central directory: a.txt"},
        {"in an entry's comment", Listing(a, {Central("a.txt", 5, 5, 0, 0, 0, "", Local("b.txt", 0, 0)),
                                              Central("b.txt", 0, 0, 40 + 51)}),
         "member overlaps the central directory: b.txt"},
        {"inside the end record's comment",
         Listing(a, {Central("a.txt", 5, 5, 0), Central("b.txt", 5, 5, 40 + 2 * 51 + 22)}, b),
         "member overlaps the end record: b.txt"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.why, Refusal(c.bytes)) << c.what;
}
