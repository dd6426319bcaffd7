// The directory reader of unzip on archives made byte by byte.
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
                    uint16 flags = 0, const std::string &extra = "")
{
    return "PK\x01\x02" + U16(0x031E) + U16(20) + U16(flags) + U16(0) + U32(0) + U32(0) +
           U32(packed) + U32(size) + U16(name.size()) + U16(extra.size()) + U16(0) + U16(0) +
           U16(0) + U32(0100644u << 16) + U32(offset) + name + extra;
}

// The body, then a directory of these entries and its end record.
std::string Listing(const std::string &body, const std::vector<std::string> &entries,
                    const std::string &comment = "")
{
    std::string dir;
    for (const std::string &e : entries)
        dir += e;
    return body + dir + "PK\x05\x06" + U16(0) + U16(0) + U16(entries.size()) +
           U16(entries.size()) + U32(dir.size()) + U32(body.size()) + U16(comment.size()) + comment;
}

// One member "a.txt" of 5 bytes whose sizes and offset ZIP64 extra fields hold, behind a
// ZIP64 end record and its locator; the old end record says only "see there".
std::string Zip64(const std::string &centralExtra, const std::string &localExtra,
                  uint64 locatorPoints = 0)
{
    std::string body = Local("a.txt", WIDE, WIDE, 0, 0, localExtra) + "hello";
    std::string dir = Central("a.txt", WIDE, WIDE, WIDE, 0, centralExtra);
    std::string end64 = "PK\x06\x06" + U64(44) + U16(45) + U16(45) + U32(0) + U32(0) + U64(1) +
                        U64(1) + U64(dir.size()) + U64(body.size());
    uint64 end64At = locatorPoints != 0 ? locatorPoints : body.size() + dir.size();
    return body + dir + end64 + "PK\x06\x07" + U32(0) + U64(end64At) + U32(1) + "PK\x05\x06" +
           U16(0xFFFF) + U16(0xFFFF) + U16(0xFFFF) + U16(0xFFFF) + U32(WIDE) + U32(WIDE) + U16(0);
}
const std::string SIZES = U16(1) + U16(16) + U64(5) + U64(5);           // ZIP64 sizes
const std::string ALL = U16(1) + U16(24) + U64(5) + U64(5) + U64(0);    // and offset

// Why the reader refuses the bytes ("" when it takes them), and the member it names.
std::string Refusal(const std::string &bytes, platform::ZipDirectory *dir = nullptr,
                    uint32 most = 10000)
{
    auto read = [](void *source, uint64 at, void *to, size_t size) {
        const std::string &s = *(const std::string *)source;
        return at <= s.size() && s.size() - at >= size && s.copy((char *)to, size, at) == size;
    };
    platform::ZipDirectory own;
    std::string member;
    const char *why = platform::ReadZipDirectory(read, (void *)&bytes, bytes.size(), most,
                                                 dir != nullptr ? dir : &own, &member);
    if (why == nullptr)
        return member.empty() ? "" : "taken, but names " + member;
    return member.empty() ? why : std::string(why) + ": " + member;
}

}  // namespace

TEST(ReadZipDirectory, ListsMembersByTheirPlaceInTheFile)
{
    std::string body = Local("a.txt", 1, 1) + "A" + Local("b.txt", 2, 2) + "BB" + Local("c.txt", 3, 3) + "CCC";
    std::string zip = Listing(body, {Central("c.txt", 3, 3, 73), Central("a.txt", 1, 1, 0),
                                     Central("b.txt", 2, 2, 36)});
    auto Place = [](const auto &m) { return std::vector<uint64>{m.headerAt, m.dataAt, m.size, m.packed}; };
    platform::ZipDirectory dir;
    ASSERT_EQ("", Refusal(zip, &dir));
    ASSERT_EQ(3u, dir.members.size());
    uint64 headers[] = {0, 36, 73};     // each 35 bytes before data of 1, 2 and 3 bytes
    for (uint64 i = 0; i < 3; i++) {
        EXPECT_EQ(std::string(1, 'a' + i) + ".txt", dir.members[i].name);
        EXPECT_EQ((std::vector<uint64>{headers[i], headers[i] + 35, i + 1, i + 1}), Place(dir.members[i]));
    }
    EXPECT_EQ((std::vector<uint64>{111, 3 * 51, 264}),
              (std::vector<uint64>{dir.directoryAt, dir.directorySize, dir.endAt}));
    EXPECT_EQ("", Refusal(Listing("", {}), &dir));    // no members: the end record alone
    EXPECT_TRUE(dir.members.empty());

    // A time field before the ZIP64 one.
    ASSERT_EQ("", Refusal(Zip64(U16(0x5455) + U16(5) + "\x01" + U32(0) + ALL, SIZES), &dir));
    ASSERT_EQ(1u, dir.members.size());
    EXPECT_EQ((std::vector<uint64>{0, 55, 5, 5}), Place(dir.members[0]));
    EXPECT_EQ(60u, dir.directoryAt);
}

TEST(ReadZipDirectory, RefusesEachFlaw)
{
    std::string a = Local("a.txt", 5, 5) + "hello", b = Local("b.txt", 5, 5) + "world";  // 40 bytes each
    auto One = [&](const std::string &comment) { return Listing(a, {Central("a.txt", 5, 5, 0)}, comment); };
    std::string one = One(""), two = Listing(a + b, {Central("a.txt", 5, 5, 0),
                                                      Central("b.txt", 5, 5, 40)});
    size_t end = two.size() - 22, dir = 80;     // the end record and the directory
    // The member "a.txt" holding "hello", with this local header and central entry.
    auto Hello = [](const std::string &local, const std::string &entry = Central("a.txt", 5, 5, 0)) {
        return Listing(local + "hello", {entry});
    };
    auto Patched = [&](size_t at, std::string v) { return std::string(two).replace(at, v.size(), v); };
    auto End = [](uint32 dirAt) {      // for a directory of one entry, in a comment
        return "PK\x05\x06" + U16(0) + U16(0) + U16(1) + U16(1) + U32(51) + U32(dirAt) + U16(0);
    };
    struct { const char *what; std::string bytes, why; } cases[] = {
        {"a comment holding the mark", One("PK\x05\x06" + std::string(30, 'x')), ""},
        {"the longest comment", One(std::string(65535, 'c')), ""},
        {"bytes after the end record", one + "trailing", ""},
        {"end record cut", one.substr(0, one.size() - 10), "end of central directory record cut"},
        {"end record gone", one.substr(0, one.size() - 22), "no end of central directory record"},
        {"beyond the longest comment", one + std::string(65536, 'c'), "no end of central directory record"},
        {"no offset in the directory's ZIP64 field", Zip64(SIZES, SIZES), "ZIP64 field missing: a.txt"},
        {"no ZIP64 field in the local header", Zip64(ALL, ""), "ZIP64 field missing: a.txt"},
        {"locator past its own place", Zip64(ALL, SIZES, 1000), "ZIP64 end record outside the file"},
        {"locator at the member", Zip64(ALL, SIZES, 1), "no ZIP64 end record where its locator points"},
        {"size past the end", Patched(end + 12, U32(100000)), "central directory outside the file"},
        {"into the end record", Patched(end + 16, U32(dir + 1)),
         "central directory runs into the end record"},
        {"a gap before the end record", two.substr(0, end) + "gap" + two.substr(end),
         "central directory not where the end record says"},
        {"a stub before the archive", "#!/bin/sh\nexit 0\n" + two, "data before the archive"},
        {"more members counted", Patched(end + 8, U16(3) + U16(3)), "central directory cut"},
        {"fewer members counted", Patched(end + 8, U16(1) + U16(1)),
         "central directory holds more than the end record counts"},
        {"a damaged entry", Patched(dir, "PK\x03\x04"), "central directory damaged"},
        {"members on another disk", Patched(dir + 34, U16(1)), "archive split over several disks"},
        {"a longer local name", Hello(Local("a.txt2", 5, 5)),
         "local name differs from the central directory: a.txt"},
        {"another local method", Hello(Local("a.txt", 5, 5, 8)),
         "local method differs from the central directory: a.txt"},
        {"wrong sizes despite the flag", Hello(Local("a.txt", 3, 3, 0, 8)),
         "local sizes differ from the central directory: a.txt"},
        {"sizes after the data", Listing(Local("a.txt", 0, 0, 0, 8) + "hello" + U32(0) + U32(5) + U32(5),
                                         {Central("a.txt", 5, 5, 0, 8)}), ""},
        {"the directory where the header belongs", Listing("", {Central("a.txt", 5, 5, 0)}),
         "no local header where the central directory points: a.txt"},
        {"header past the end", Hello(Local("a.txt", 5, 5), Central("a.txt", 5, 5, 1000)),
         "member outside the file: a.txt"},
        {"data past the end", Hello(Local("a.txt", 5000, 5000), Central("a.txt", 5000, 5000, 0)),
         "member data outside the file: a.txt"},
        {"b.txt's header and data quoted as a's data",
         Listing(Local("a.txt", 40, 40) + b, {Central("a.txt", 40, 40, 0), Central("b.txt", 5, 5, 35)}),
         "member overlaps another member: b.txt"},
        {"into the directory", Listing(a, {Central("a.txt", 6, 6, 0)}),
         "member overlaps the central directory: a.txt"},
        {"inside the end record's comment",
         Listing(a, {Central("a.txt", 5, 5, 0), Central("b.txt", 5, 5, 40 + 2 * 51 + 22)}, b),
         "member overlaps the end record: b.txt"},
        // An end record in the comment: one leading to a directory of its own, listing other
        // members, makes the archive read two ways; one whose directory is not before it
        // leads nowhere.
        {"a second directory", Listing(a + b, {Central("a.txt", 5, 5, 0)},
                                       Central("b.txt", 5, 5, 40) + End(80 + 51 + 22)),
         "a second end record with its own directory"},
        {"an end record leading nowhere", One(End(0)),
         "central directory not where the end record says"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.why, Refusal(c.bytes)) << c.what;
    EXPECT_EQ("member count limit", Refusal(two, nullptr, 1));
    EXPECT_EQ("", Refusal(two, nullptr, 2));
}
