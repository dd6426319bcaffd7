// The table of contents of a ZIP archive from the fixed fields of its records: the end
// record (and the ZIP64 end record its locator points at), the central directory's entries
// with their ZIP64 extra fields, and each member's local header, whose name, method and
// sizes must agree with the directory. Nothing here unpacks; see zipdir.h.
#include "platform/zipdir.h"

#include <algorithm>
#include <cstring>

namespace platform {

enum : uint32 {
    END_SIZE     = 22,       // the fixed fields of each record
    LOCATOR_SIZE = 20,
    END64_SIZE   = 56,
    ENTRY_SIZE   = 46,
    LOCAL_SIZE   = 30,
    MOST_FIELD   = 65535,    // a name, extra field or comment
    END_SIG      = 0x06054b50,
    LOCATOR_SIG  = 0x07064b50,
    END64_SIG    = 0x06064b50,
    ENTRY_SIG    = 0x02014b50,
    LOCAL_SIG    = 0x04034b50,
    ZIP64_FIELD  = 0x0001,
    SIZES_AFTER  = 0x0008,   // the local sizes are 0; a descriptor behind the data has them
    WIDE         = 0xFFFFFFFF,
};

static uint16 Get16(const uint8 *p) { return (uint16)(p[0] | p[1] << 8); }
static uint32 Get32(const uint8 *p) { return (uint32)Get16(p) | (uint32)Get16(p + 2) << 16; }
static uint64 Get64(const uint8 *p) { return (uint64)Get32(p) | (uint64)Get32(p + 4) << 32; }

// Takes the values whose 32-bit field is all ones from the ZIP64 extra field, which holds
// them in this order: uncompressed size, compressed size, local header offset (offset may be
// NULL). A local header gives both sizes there as soon as one is all ones (both). FALSE
// when a value is not there.
static bool Widen(const uint8 *extra, size_t length, uint64 *size, uint64 *packed,
                  uint64 *offset, bool both)
{
    bool wideSizes = *size == WIDE || *packed == WIDE;
    bool wide[3] = {both ? wideSizes : *size == WIDE, both ? wideSizes : *packed == WIDE,
                    offset != nullptr && *offset == WIDE};
    uint64 *values[3] = {size, packed, offset};
    if (!wide[0] && !wide[1] && !wide[2])
        return true;
    for (size_t at = 0; length - at >= 4;) {
        size_t n = Get16(extra + at + 2);
        if (length - at - 4 < n)
            break;
        if (Get16(extra + at) == ZIP64_FIELD) {
            const uint8 *p = extra + at + 4;
            for (int i = 0; i < 3; i++) {
                if (!wide[i])
                    continue;
                if (n < 8)
                    return false;
                *values[i] = Get64(p);
                p += 8;
                n -= 8;
            }
            return true;
        }
        at += 4 + n;
    }
    return false;
}

// Where the end record starts in tail, the last size bytes of the file: the last one whose
// comment reaches the end of the file, else the last one with some bytes after its comment.
// size when there is none; *cut then says whether one was seen that the file's end cuts.
static size_t FindEnd(const uint8 *tail, size_t size, bool *cut)
{
    size_t after = size;
    *cut = false;
    for (size_t i = size < 4 ? 0 : size - 3; i-- > 0;) {
        if (Get32(tail + i) != END_SIG)
            continue;
        if (size - i < END_SIZE) {
            *cut = true;
            continue;
        }
        size_t left = size - i - END_SIZE, comment = Get16(tail + i + 20);
        if (comment == left)
            return i;
        if (comment > left)
            *cut = true;
        else if (after == size)
            after = i;
    }
    return after;
}

// The end records' values: where the directory is and how many entries it has.
struct EndRecord {
    uint64 at = 0;          // the first end record: the ZIP64 one when there is one
    uint64 end = 0;         // the end of the last one, its comment included
    uint64 disk = 0, dirDisk = 0, onDisk = 0, entries = 0, dirSize = 0, dirAt = 0;
    uint64 record = 0;      // the end record itself, behind any ZIP64 one
};

// With a locator right before the end record, the ZIP64 end record holds the values.
// NULL or why the archive is refused.
static const char *ReadEnd64(ZipReadAt read, void *source, EndRecord *e)
{
    uint8 locator[LOCATOR_SIZE], end64[END64_SIZE];
    if (e->at < LOCATOR_SIZE)
        return nullptr;
    if (!read(source, e->at - LOCATOR_SIZE, locator, sizeof(locator)))
        return "cannot read the archive";
    if (Get32(locator) != LOCATOR_SIG)
        return nullptr;
    uint64 at = Get64(locator + 8), room = e->at - LOCATOR_SIZE;
    if (at > room || room - at < END64_SIZE)
        return "ZIP64 end record outside the file";
    if (!read(source, at, end64, sizeof(end64)))
        return "cannot read the archive";
    if (Get32(end64) != END64_SIG)
        return "no ZIP64 end record where its locator points";
    // The same values as the end record's, wider: disks 4 bytes, counts and places 8.
    *e = EndRecord{at, e->end, Get32(end64 + 16), Get32(end64 + 20), Get64(end64 + 24),
                   Get64(end64 + 32), Get64(end64 + 40), Get64(end64 + 48), e->record};
    return nullptr;
}

// The values of the end record at tail + found, the file's tailAt onwards, with those of a
// ZIP64 end record before it. NULL or why.
static const char *EndAt(ZipReadAt read, void *source, const uint8 *tail, uint64 tailAt,
                         size_t found, EndRecord *e)
{
    const uint8 *end = tail + found;
    uint64 at = tailAt + found;
    *e = EndRecord{at, at + END_SIZE + Get16(end + 20), Get16(end + 4), Get16(end + 6),
                   Get16(end + 8), Get16(end + 10), Get32(end + 12), Get32(end + 16), at};
    return ReadEnd64(read, source, e);
}

// Whether the directory is whole, in this file and right before the end records. NULL or why.
static const char *CheckPlace(ZipReadAt read, void *source, uint64 fileSize, uint32 most,
                              const EndRecord &e)
{
    if (e.disk != 0 || e.dirDisk != 0 || e.onDisk != e.entries)
        return "archive split over several disks";
    if (e.entries > most)
        return "member count limit";
    if (e.dirSize > fileSize || e.dirAt > fileSize - e.dirSize)
        return "central directory outside the file";
    if (e.dirAt + e.dirSize > e.at)
        return "central directory runs into the end record";
    if (e.dirAt + e.dirSize < e.at) {
        // Data put before the archive (a self-extractor's stub) moves every offset; such
        // archives are not taken, nor ones with a gap before the end record.
        uint8 sig[4];
        bool moved = e.dirSize == 0 || (e.dirSize >= 4 && read(source, e.at - e.dirSize, sig, 4)
                                        && Get32(sig) == ENTRY_SIG);
        return moved ? "data before the archive" : "central directory not where the end record says";
    }
    return nullptr;
}

// Whether an end record other than the one at tail + found also leads to a directory in
// its place: another reader would show that one.
static bool ReadsTwoWays(ZipReadAt read, void *source, uint64 fileSize, uint32 most,
                         const uint8 *tail, size_t size, uint64 tailAt, size_t found)
{
    EndRecord other;
    for (size_t i = 0; i + END_SIZE <= size; i++) {
        if (i == found || Get32(tail + i) != END_SIG)
            continue;
        if (EndAt(read, source, tail, tailAt, i, &other) == nullptr &&
            CheckPlace(read, source, fileSize, most, other) == nullptr)
            return true;
    }
    return false;
}

// The end record closes the file, behind a comment of at most 65535 bytes. tail has room
// for END_SIZE + MOST_FIELD bytes. NULL or why.
static const char *ReadEnd(ZipReadAt read, void *source, uint64 fileSize, uint32 most,
                           uint8 *tail, EndRecord *e)
{
    size_t tailSize = (size_t)std::min<uint64>(fileSize, END_SIZE + MOST_FIELD);
    uint64 tailAt = fileSize - tailSize;
    if (!read(source, tailAt, tail, tailSize))
        return "cannot read the archive";
    bool cut;
    size_t found = FindEnd(tail, tailSize, &cut);
    if (found == tailSize)
        return cut ? "end of central directory record cut" : "no end of central directory record";
    const char *why = EndAt(read, source, tail, tailAt, found, e);
    if (why == nullptr)
        why = CheckPlace(read, source, fileSize, most, *e);
    if (why == nullptr && ReadsTwoWays(read, source, fileSize, most, tail, tailSize, tailAt, found))
        why = "a second end record with its own directory";
    return why;
}

// The directory's entries into dir->members, in its order. p has room for an entry with
// its name and extra field. NULL or why.
static const char *ReadEntries(ZipReadAt read, void *source, const EndRecord &e, uint8 *p,
                               ZipDirectory *dir, std::string *member)
{
    uint64 at = e.dirAt, dirEnd = e.dirAt + e.dirSize;
    dir->members.reserve((size_t)e.entries);
    for (uint64 i = 0; i < e.entries; i++) {
        if (dirEnd - at < ENTRY_SIZE)
            return "central directory cut";
        if (!read(source, at, p, ENTRY_SIZE))
            return "cannot read the archive";
        if (Get32(p) != ENTRY_SIG)
            return "central directory damaged";
        size_t nameLength = Get16(p + 28), extraLength = Get16(p + 30);
        uint64 length = ENTRY_SIZE + nameLength + extraLength + Get16(p + 32);
        if (dirEnd - at < length)
            return "central directory cut";
        if (!read(source, at + ENTRY_SIZE, p + ENTRY_SIZE, nameLength + extraLength))
            return "cannot read the archive";
        ZipMember &m = dir->members.emplace_back();
        m.name.assign((const char *)p + ENTRY_SIZE, nameLength);
        m.method = Get16(p + 10);
        m.crc = Get32(p + 16);
        m.packed = Get32(p + 20);
        m.size = Get32(p + 24);
        m.headerAt = Get32(p + 42);
        if (!Widen(p + ENTRY_SIZE + nameLength, extraLength, &m.size, &m.packed, &m.headerAt,
                   false)) {
            *member = m.name;
            return "ZIP64 field missing";
        }
        uint16 startDisk = Get16(p + 34);
        if (startDisk != 0 && startDisk != 0xFFFF)
            return "archive split over several disks";
        at += length;
    }
    return at == dirEnd ? nullptr : "central directory holds more than the end record counts";
}

// Where each member's data starts: behind its local header's 30 bytes, name and extra
// field. NULL or why, with *member at fault.
static const char *LocateData(ZipReadAt read, void *source, uint64 fileSize, uint8 *p,
                              ZipDirectory *dir, std::string *member)
{
    for (ZipMember &m : dir->members) {
        *member = m.name;
        if (m.headerAt > fileSize || fileSize - m.headerAt < LOCAL_SIZE)
            return "member outside the file";
        if (!read(source, m.headerAt, p, LOCAL_SIZE))
            return "cannot read the archive";
        if (Get32(p) != LOCAL_SIG)
            return "no local header where the central directory points";
        m.dataAt = m.headerAt + LOCAL_SIZE + Get16(p + 26) + Get16(p + 28);
        if (m.dataAt > fileSize || m.packed > fileSize - m.dataAt)
            return "member data outside the file";
    }
    return nullptr;
}

// Each member from its local header to the end of its data, the directory and the end
// records: none may begin before the one in front of it has ended. NULL or why.
static const char *CheckOverlaps(const ZipDirectory &dir, const EndRecord &e,
                                 std::string *member)
{
    struct Span { uint64 from, to; const ZipMember *m; const char *overlap; };
    std::vector<Span> spans;
    spans.reserve(dir.members.size() + 2);
    for (const ZipMember &m : dir.members)
        spans.push_back({m.headerAt, m.dataAt + m.packed, &m, "member overlaps another member"});
    spans.push_back({e.dirAt, e.dirAt + e.dirSize, nullptr, "member overlaps the central directory"});
    spans.push_back({e.at, e.end, nullptr, "member overlaps the end record"});
    std::stable_sort(spans.begin(), spans.end(),
                     [](const Span &a, const Span &b) { return a.from < b.from; });
    const Span *reach = nullptr;     // of those so far, the one that ends last
    for (const Span &s : spans) {
        // The directory ends where the end records begin, so one of the two is a member.
        if (reach != nullptr && s.from < reach->to) {
            const Span &inner = s.m != nullptr ? s : *reach, &outer = s.m != nullptr ? *reach : s;
            *member = inner.m->name;
            return outer.overlap;
        }
        if (reach == nullptr || s.to > reach->to)
            reach = &s;
    }
    return nullptr;
}

// The reader takes name, method and sizes from the local header: they must be the
// directory's. With a data descriptor behind the data the local sizes may be 0, but the
// reader still takes any that is not. p has room for a header, name and extra field.
static const char *CheckLocalHeaders(ZipReadAt read, void *source, uint8 *p,
                                     const ZipDirectory &dir, std::string *member)
{
    for (const ZipMember &m : dir.members) {
        *member = m.name;
        size_t length = (size_t)(m.dataAt - m.headerAt);
        if (!read(source, m.headerAt, p, length))
            return "cannot read the archive";
        uint16 flags = Get16(p + 6), method = Get16(p + 8);
        uint64 packed = Get32(p + 18), size = Get32(p + 22);
        size_t nameLength = Get16(p + 26);
        if (nameLength != m.name.size() || memcmp(p + LOCAL_SIZE, m.name.data(), nameLength) != 0)
            return "local name differs from the central directory";
        if (method != m.method)
            return "local method differs from the central directory";
        if (!Widen(p + LOCAL_SIZE + nameLength, length - LOCAL_SIZE - nameLength, &size, &packed,
                   nullptr, true))
            return "ZIP64 field missing";
        bool after = (flags & SIZES_AFTER) != 0;
        if ((size != m.size && !(after && size == 0)) || (packed != m.packed && !(after && packed == 0)))
            return "local sizes differ from the central directory";
    }
    return nullptr;
}

const char *ReadZipDirectory(ZipReadAt read, void *source, uint64 fileSize, uint32 most,
                             ZipDirectory *dir, std::string *member)
{
    dir->members.clear();
    member->clear();
    // Room for the end record with its comment, or an entry or local header with its fields.
    std::vector<uint8> buffer(ENTRY_SIZE + 2 * MOST_FIELD);
    uint8 *p = buffer.data();
    EndRecord e;
    if (const char *why = ReadEnd(read, source, fileSize, most, p, &e))
        return why;
    dir->directoryAt = e.dirAt;
    dir->directorySize = e.dirSize;
    dir->endAt = e.at;
    dir->readerEnd = e.record + END_SIZE;
    const char *why;

    if ((why = ReadEntries(read, source, e, p, dir, member)) != nullptr ||
        (why = LocateData(read, source, fileSize, p, dir, member)) != nullptr ||
        (why = CheckOverlaps(*dir, e, member)) != nullptr ||
        (why = CheckLocalHeaders(read, source, p, *dir, member)) != nullptr)
        return why;
    member->clear();
    std::sort(dir->members.begin(), dir->members.end(),
              [](const ZipMember &a, const ZipMember &b) { return a.headerAt < b.headerAt; });
    return nullptr;
}

}  // namespace platform
