// ZIP archives from texts. The same members always give the same bytes: every entry has
// one fixed time, owner and permission set.
#include "bookgen/bookwriter.h"

#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

namespace bookgen {

static const time_t FixedTime = 1719144000;     // 23.06.2024, 12:00 UTC

static bool Fail(archive *a, const std::string &what, std::string *why)
{
    if (why != nullptr) {
        const char *message = a != nullptr ? archive_error_string(a) : nullptr;
        *why = what + ": " + (message != nullptr ? message : strerror(errno));
    }
    return false;
}

// The entry's fields for m: its kind, size and permissions, one fixed time and owner.
static void Describe(archive_entry *entry, const Member &m)
{
    static const struct { Member::Kind kind; mode_t type, perm; } kinds[] = {
        {Member::File, AE_IFREG, 0644},   {Member::Directory, AE_IFDIR, 0755},
        {Member::Symlink, AE_IFLNK, 0777}, {Member::Hardlink, AE_IFREG, 0644},
    };
    archive_entry_clear(entry);
    archive_entry_copy_pathname(entry, m.name.c_str());
    archive_entry_set_mtime(entry, FixedTime, 0);
    archive_entry_set_uid(entry, 0);
    archive_entry_set_gid(entry, 0);
    for (const auto &k : kinds)
        if (k.kind == m.kind) {
            archive_entry_set_filetype(entry, k.type);
            archive_entry_set_perm(entry, k.perm);
        }
    archive_entry_set_size(entry, m.kind == Member::File ? (la_int64_t)m.data.size() : 0);
    if (m.kind == Member::Symlink)
        archive_entry_copy_symlink(entry, m.data.c_str());
    if (m.kind == Member::Hardlink)
        archive_entry_copy_hardlink(entry, m.data.c_str());
}

// One member, header and data; false with why on failure.
static bool WriteMember(archive *a, archive_entry *entry, const Member &m, std::string *why)
{
    Describe(entry, m);
    int r = m.stored ? archive_write_zip_set_compression_store(a)
                     : archive_write_zip_set_compression_deflate(a);
    if (r != ARCHIVE_OK || archive_write_header(a, entry) < ARCHIVE_WARN)
        return Fail(a, m.name, why);
    if (m.kind == Member::File && !m.data.empty()
        && archive_write_data(a, m.data.data(), m.data.size()) != (la_ssize_t)m.data.size())
        return Fail(a, m.name, why);
    return true;
}

bool WriteZip(const std::string &path, const std::vector<Member> &members, std::string *why,
              bool zip64)
{
    bool ok = false;
    archive *a = archive_write_new();
    archive_entry *entry = archive_entry_new();
    if (a == nullptr || entry == nullptr) {
        Fail(nullptr, path, why);
        goto exit;
    }
    if (archive_write_set_format_zip(a) != ARCHIVE_OK
        || (zip64 && archive_write_set_format_option(a, "zip", "zip64", "1") != ARCHIVE_OK)
        || archive_write_open_filename(a, path.c_str()) != ARCHIVE_OK) {
        Fail(a, path, why);
        goto exit;
    }
    for (const Member &m : members)
        if (!WriteMember(a, entry, m, why))
            goto exit;
    if (archive_write_close(a) != ARCHIVE_OK) {
        Fail(a, path, why);
        goto exit;
    }
    ok = true;

exit:
    if (entry != nullptr)
        archive_entry_free(entry);
    if (a != nullptr)
        archive_write_free(a);
    return ok;
}

static std::string U16(uint32_t v) { return {(char)(v & 0xFF), (char)(v >> 8 & 0xFF)}; }
static std::string U32(uint32_t v) { return U16(v & 0xFFFF) + U16(v >> 16); }
static uint32_t Get16(const std::string &s, size_t at)
{
    return (uint32_t)(uint8_t)s[at] | (uint32_t)(uint8_t)s[at + 1] << 8;
}
static uint32_t Get32(const std::string &s, size_t at) { return Get16(s, at) | Get16(s, at + 2) << 16; }

static bool ReadAll(const std::string &path, std::string *bytes, std::string *why)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    *bytes = all.str();
    if (in.fail() || bytes->size() < 22 || Get32(*bytes, bytes->size() - 22) != 0x06054b50) {
        if (why != nullptr)
            *why = path + ": no archive without a comment";
        return false;
    }
    return true;
}

static bool WriteAll(const std::string &path, const std::string &bytes, std::string *why)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out && why != nullptr)
        *why = path + ": " + strerror(errno);
    return (bool)out;
}

// An end record of count entries in a directory of size bytes at offset.
static std::string EndRecord(size_t count, size_t size, size_t offset, size_t comment)
{
    return "PK\x05\x06" + U16(0) + U16(0) + U16((uint32_t)count) + U16((uint32_t)count) +
           U32((uint32_t)size) + U32((uint32_t)offset) + U16((uint32_t)comment);
}

bool AppendComment(const std::string &path, const std::string &comment, std::string *why)
{
    std::string bytes;
    if (!ReadAll(path, &bytes, why))
        return false;
    bytes.replace(bytes.size() - 2, 2, U16((uint32_t)comment.size()));
    return WriteAll(path, bytes + comment, why);
}

bool WriteTwoWayZip(const std::string &path, const std::vector<Member> &first,
                    const std::vector<Member> &second, std::string *why)
{
    std::vector<Member> all = first;
    all.insert(all.end(), second.begin(), second.end());
    std::string bytes;
    if (!WriteZip(path, all, why) || !ReadAll(path, &bytes, why))
        return false;
    size_t end = bytes.size() - 22, dirAt = Get32(bytes, end + 16), at = dirAt;
    // The directory's entries in the order written: those of first, then those of second.
    std::string dirs[2];
    for (size_t k = 0; k < all.size(); k++) {
        size_t length = 46 + Get16(bytes, at + 28) + Get16(bytes, at + 30) + Get16(bytes, at + 32);
        dirs[k < first.size() ? 0 : 1] += bytes.substr(at, length);
        at += length;
    }
    std::string body = bytes.substr(0, dirAt);
    size_t secondAt = body.size() + dirs[0].size() + 22;
    std::string tail = dirs[1] + EndRecord(second.size(), dirs[1].size(), secondAt, 0);
    return WriteAll(path, body + dirs[0] + EndRecord(first.size(), dirs[0].size(), body.size(),
                                                     tail.size()) + tail, why);
}

}  // namespace bookgen
