// c:unzip of the stand-in, the one command that needs libarchive.
//
// unzip trusts nothing in the archive: its table of contents is the central directory,
// checked whole before anything is written; members leaving the target directory, links
// and devices fail the command, files are made below a directory handle without following
// any link, and the limits count the bytes really read and written.
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/internal.h"
#include "platform/zipdir.h"

namespace platform {

// The archive as libarchive reads it, counting the packed bytes really read.
struct Packed {
    int    fd;
    uint64 read = 0;
    char   block[16384];
};

static la_ssize_t ReadPacked(archive *, void *data, const void **buffer)
{
    Packed *src = (Packed *)data;
    ssize_t n;
    if (Fails("unzip: read"))
        return ARCHIVE_FATAL;
    do
        n = read(src->fd, src->block, sizeof(src->block));
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return ARCHIVE_FATAL;
    src->read += (uint64)n;
    *buffer = src->block;
    return n;
}

static la_int64_t SkipPacked(archive *, void *data, la_int64_t request)
{
    Packed *src = (Packed *)data;
    if (Fails("unzip: seek") || lseek(src->fd, request, SEEK_CUR) < 0)
        return 0;
    return request;
}

static la_int64_t SeekPacked(archive *, void *data, la_int64_t offset, int whence)
{
    Packed *src = (Packed *)data;
    if (Fails("unzip: seek"))
        return ARCHIVE_FATAL;
    off_t at = lseek(src->fd, offset, whence);
    return at < 0 ? ARCHIVE_FATAL : at;
}

// The archive's bytes for the directory reader; the reading position stays where it is.
static bool ReadPackedAt(void *data, uint64 offset, void *buffer, size_t size)
{
    Packed *src = (Packed *)data;
    char *to = (char *)buffer;
    if (Fails("unzip: read"))
        return false;
    while (size > 0) {
        ssize_t n = pread(src->fd, to, size, (off_t)offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        to += n;
        offset += (uint64)n;
        size -= (size_t)n;
    }
    return true;
}

// Whether the reader's entry is the directory's member: the same name, but for the slash
// the reader gives a directory and the slashes it may make of backslashes. A name the
// reader cannot give is not compared.
static bool SameMember(archive_entry *entry, const ZipMember &member)
{
    const char *name = archive_entry_pathname(entry);
    if (name == nullptr)
        return true;
    size_t n = strlen(name);
    if (n == member.name.size() + 1 && name[n - 1] == '/')
        n--;
    if (n != member.name.size())
        return false;
    for (size_t i = 0; i < n; i++) {
        char c = member.name[i];
        if (name[i] != c && !(c == '\\' && name[i] == '/'))
            return false;
    }
    return true;
}

// Splits a member name into its parts below the target directory. NULL when the member
// may be unpacked, else why it is refused. Backslashes separate like slashes; "." and
// empty parts drop out.
static const char *MemberParts(const char *name, std::vector<std::string> *parts)
{
    parts->clear();
    if (name[0] == '/')
        return "absolute path";
    if (name[0] == '\\')
        return "leading backslash";
    for (const char *p = name; *p != '\0' && *p != '/' && *p != '\\'; p++)
        if (*p == ':')
            return "drive or volume";
    const char *p = name;
    while (*p != '\0') {
        const char *q = p;
        while (*q != '\0' && *q != '/' && *q != '\\')
            q++;
        std::string part(p, q);
        if (part == "..")
            return "parent directory";
        if (!part.empty() && part != ".")
            parts->push_back(std::move(part));
        p = *q != '\0' ? q + 1 : q;
    }
    return nullptr;
}

// Opens (making what is missing) the directory of the first count parts below root.
// -1 with errno set; ENOTDIR or ELOOP when a part is a file or a link.
static int MakeDirs(int root, const std::vector<std::string> &parts, size_t count)
{
    int cur = fcntl(root, F_DUPFD_CLOEXEC, 0);
    for (size_t i = 0; i < count && cur >= 0; i++) {
        const char *part = parts[i].c_str();
        int next = OpenDirBelow(cur, part);
        if (next < 0 && errno == ENOENT) {
            if (Fails("unzip: make a directory"))
                errno = ENOSPC;
            else if (mkdirat(cur, part, 0700) == 0 || errno == EEXIST)
                next = OpenDirBelow(cur, part);
        }
        int err = errno;
        close(cur);
        cur = next;
        errno = err;
    }
    return cur;
}

static bool WriteAll(int fd, const char *data, size_t size)
{
    if (Fails("unzip: write")) {
        errno = ENOSPC;     // a full disk
        return false;
    }
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= (size_t)n;
    }
    return true;
}

// Unpacks the current member's data into fd, within the limits. total counts the
// bytes of the whole run; packedFrom is the packed count when the member began.
static const char *CopyMember(archive *a, int fd, const Packed &src, uint64 packedFrom,
                              uint64 *total)
{
    static char chunk[65536];
    uint64 unpacked = 0;
    for (;;) {
        la_ssize_t n = archive_read_data(a, chunk, sizeof(chunk));
        if (n == 0)
            return nullptr;
        if (n < 0)
            return "damaged data";
        unpacked += (uint64)n;
        if (*total + (uint64)n > unzipLimits.maxBytes)
            return "unpacked size limit";
        // One block of read-ahead may have been counted for the member before.
        uint64 packed = src.read - packedFrom + sizeof(src.block);
        if (unzipLimits.maxRatio != 0 && unpacked > unzipLimits.ratioFrom
            && unpacked / unzipLimits.maxRatio > packed)
            return "inflation ratio limit";
        if (fd >= 0 && !WriteAll(fd, chunk, (size_t)n))
            return "write failed";
        *total += (uint64)n;
    }
}

// One member: its directories made, its file written; a name taken already or a parent
// that is a file skips it. NULL or why the whole command fails.
static const char *UnpackMember(archive *a, archive_entry *entry, int root, const Packed &src,
                                uint64 packedFrom, uint64 *total)
{
    if (archive_entry_is_encrypted(entry))
        return "encrypted";
    if (archive_entry_hardlink(entry) != nullptr)
        return "hard link";
    mode_t type = archive_entry_filetype(entry);
    if (type == AE_IFLNK)
        return "symbolic link";
    if (type != AE_IFREG && type != AE_IFDIR)
        return "device or special file";
    const char *name = archive_entry_pathname(entry);
    if (name == nullptr)
        name = archive_entry_pathname_utf8(entry);
    if (name == nullptr)
        return nullptr;     // a name no conversion gives: skip the member
    std::vector<std::string> parts;
    if (const char *why = MemberParts(name, &parts))
        return why;
    if (parts.empty())
        return nullptr;

    size_t dirs = type == AE_IFDIR ? parts.size() : parts.size() - 1;
    int dir = MakeDirs(root, parts, dirs);
    if (dir < 0)
        return errno == ENOTDIR || errno == ELOOP || errno == EEXIST ? nullptr : "directory";
    if (type == AE_IFDIR) {
        close(dir);
        return nullptr;
    }
    int fd = Fails("unzip: create a file")
                 ? (errno = ENOSPC, -1)
                 : openat(dir, parts.back().c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    int err = errno;
    close(dir);
    if (fd < 0)
        return err == EEXIST ? nullptr : "cannot create file";
    const char *why = CopyMember(a, fd, src, packedFrom, total);
    if (close(fd) != 0 && why == nullptr)
        why = "write failed";
    return why;
}

// unzip "<archive>" -d <dir>: 0 when every member was unpacked or skipped, 10 otherwise.
// What was written before a failure stays; the caller removes the directory.
int32 Unzip(const std::vector<std::string> &words)
{
    const char *archivePath = nullptr, *target = nullptr;
    for (size_t i = 1; i < words.size(); i++) {
        if (words[i] == "-d" && i + 1 < words.size())
            target = words[++i].c_str();
        else if (archivePath == nullptr)
            archivePath = words[i].c_str();
        else
            return RETURN_ERROR;
    }
    if (archivePath == nullptr || target == nullptr)
        return RETURN_ERROR;

    int32 rc = RETURN_ERROR;
    const char *why = nullptr;
    archive *a = nullptr;
    archive_entry *entry;
    int root = -1;
    size_t index = 0;
    uint64 total = 0;
    locale_t utf8 = (locale_t)0, caller = (locale_t)0;
    std::string dir = HostPath(target), culprit;     // culprit: the member refused
    ZipDirectory contents;
    Packed *src = new Packed;
    struct stat st;

    lastRefusal = UnzipRefusal{};
    src->fd = Fails("unzip: open the archive") ? -1
                                               : open(HostPath(archivePath).c_str(), O_RDONLY | O_CLOEXEC);
    if (src->fd < 0 || Fails("unzip: examine the archive") || fstat(src->fd, &st) != 0 ||
        !S_ISREG(st.st_mode)) {
        why = "cannot open the archive";
        goto exit;
    }
    lastRefusal.device = (uint64)st.st_dev;
    lastRefusal.inode  = (uint64)st.st_ino;
    why = ReadZipDirectory(ReadPackedAt, src, (uint64)st.st_size, unzipLimits.maxMembers,
                           &contents, &culprit);
    if (why != nullptr)
        goto exit;
    if (Fails("unzip: make a directory") || (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)) {
        why = "cannot make the target";
        goto exit;
    }
    root = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        why = "cannot open the target";
        goto exit;
    }
    if (contents.members.empty()) {      // nothing to unpack, and the reader takes no such archive
        rc = RETURN_OK;
        goto exit;
    }
    // Member names are read as UTF-8 whatever the program's locale is; a name that is not
    // valid there is skipped.
    utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    if (utf8 != (locale_t)0)
        caller = uselocale(utf8);
    a = archive_read_new();
    // Only the reader that follows the central directory: the streaming one would take the
    // local headers as they come.
    archive_read_support_format_zip_seekable(a);
    archive_read_set_read_callback(a, ReadPacked);
    archive_read_set_skip_callback(a, SkipPacked);
    archive_read_set_seek_callback(a, SeekPacked);
    archive_read_set_callback_data(a, src);
    if (archive_read_open1(a) != ARCHIVE_OK) {
        why = "reader refuses the archive";
        goto exit;
    }
    // The reader meets the members in the directory's order, by their place in the file.
    for (;; index++) {
        uint64 packedFrom = src->read;
        int r = archive_read_next_header(a, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN) {
            why = "damaged archive";
            goto exit;
        }
        if (index >= contents.members.size() || !SameMember(entry, contents.members[index])) {
            why = "reader and central directory disagree";
            culprit = index < contents.members.size() ? contents.members[index].name : "";
            goto exit;
        }
        if ((why = UnpackMember(a, entry, root, *src, packedFrom, &total)) != nullptr) {
            const char *name = archive_entry_pathname(entry);
            culprit = name != nullptr ? name : "?";
            goto exit;
        }
    }
    if (index != contents.members.size()) {
        why = "reader and central directory disagree";
        goto exit;
    }
    rc = RETURN_OK;

exit:
    if (why != nullptr)
        Trace("unzip: %s: %s\n", culprit.empty() ? archivePath : culprit.c_str(), why);
    lastRefusal.why = why;
    lastRefusal.member = culprit;
    if (a != nullptr)
        archive_read_free(a);
    if (utf8 != (locale_t)0) {
        uselocale(caller);
        freelocale(utf8);
    }
    if (root >= 0)
        close(root);
    if (src->fd >= 0)
        close(src->fd);
    delete src;
    return rc;
}

}  // namespace platform
