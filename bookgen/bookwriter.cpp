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
    for (const Member &m : members) {
        archive_entry_clear(entry);
        archive_entry_copy_pathname(entry, m.name.c_str());
        archive_entry_set_mtime(entry, FixedTime, 0);
        archive_entry_set_uid(entry, 0);
        archive_entry_set_gid(entry, 0);
        switch (m.kind) {
        case Member::File:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, 0644);
            archive_entry_set_size(entry, (la_int64_t)m.data.size());
            break;
        case Member::Directory:
            archive_entry_set_filetype(entry, AE_IFDIR);
            archive_entry_set_perm(entry, 0755);
            archive_entry_set_size(entry, 0);
            break;
        case Member::Symlink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_perm(entry, 0777);
            archive_entry_copy_symlink(entry, m.data.c_str());
            archive_entry_set_size(entry, 0);
            break;
        case Member::Hardlink:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, 0644);
            archive_entry_copy_hardlink(entry, m.data.c_str());
            archive_entry_set_size(entry, 0);
            break;
        }
        int r = m.stored ? archive_write_zip_set_compression_store(a)
                         : archive_write_zip_set_compression_deflate(a);
        if (r != ARCHIVE_OK || archive_write_header(a, entry) < ARCHIVE_WARN) {
            Fail(a, m.name, why);
            goto exit;
        }
        if (m.kind == Member::File && !m.data.empty()
            && archive_write_data(a, m.data.data(), m.data.size()) != (la_ssize_t)m.data.size()) {
            Fail(a, m.name, why);
            goto exit;
        }
    }
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
