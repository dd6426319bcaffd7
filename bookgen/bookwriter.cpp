// ZIP archives from texts. The same members always give the same bytes: every entry has
// one fixed time, owner and permission set.
#include "bookgen/bookwriter.h"

#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstring>

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

}  // namespace bookgen
