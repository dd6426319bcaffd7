// The shell of the stand-in: the command line split as the system shell does, and the two
// commands the module runs, `c:unzip "<archive>" -d <dir>` and `delete <path> all force`.
// Both work in process; no shell and no program of this machine is ever started.
//
// unzip trusts nothing in the archive: members leaving the target directory, links and
// devices fail the command, files are made below a directory handle without following any
// link, and the limits count the bytes really read and written.
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/internal.h"

namespace platform {

UnzipLimits unzipLimits;

// Reads NAME as a positive number with an optional K, M or G (powers of 1024); anything
// else leaves *value alone.
static void ReadLimit(const char *name, uint64 *value, uint64 most)
{
    const char *text = getenv(name);
    if (text == nullptr || *text < '0' || *text > '9')
        return;
    char *end;
    errno = 0;
    unsigned long long n = strtoull(text, &end, 10);
    int shift = 0;
    if (*end == 'K' || *end == 'k')
        shift = 10;
    else if (*end == 'M' || *end == 'm')
        shift = 20;
    else if (*end == 'G' || *end == 'g')
        shift = 30;
    if (shift != 0)
        end++;
    if (errno != 0 || *end != '\0' || n == 0 || n > (most >> shift))
        return;
    *value = (uint64)n << shift;
}

void LoadUnzipLimits()
{
    uint64 members = unzipLimits.maxMembers, ratio = unzipLimits.maxRatio;
    ReadLimit("SHEAF_UNZIP_MAX_BYTES", &unzipLimits.maxBytes, UINT64_MAX);
    ReadLimit("SHEAF_UNZIP_MAX_MEMBERS", &members, UINT32_MAX);
    ReadLimit("SHEAF_UNZIP_MAX_RATIO", &ratio, UINT32_MAX);
    unzipLimits.maxMembers = (uint32)members;
    unzipLimits.maxRatio   = (uint32)ratio;
}

static const bool limitsRead = (LoadUnzipLimits(), true);

BOOL SplitCommandLine(const char *line, std::vector<std::string> *words)
{
    words->clear();
    const char *p = line;
    for (;;) {
        while (*p == ' ' || *p == '\t' || *p == '\n')
            p++;
        if (*p == '\0')
            return TRUE;
        std::string word;
        if (*p == '"') {
            for (p++; *p != '"'; p++) {
                if (*p == '\0')
                    return FALSE;
                if (*p == '*') {
                    char c = p[1];
                    if (c == '"' || c == '*') {
                        word += c;
                        p++;
                        continue;
                    }
                    if (c == 'n' || c == 'N' || c == 'e' || c == 'E') {
                        word += (c == 'n' || c == 'N') ? '\n' : '\x1b';
                        p++;
                        continue;
                    }
                }
                word += *p;
            }
            p++;
        } else {
            while (*p != '\0' && *p != ' ' && *p != '\t' && *p != '\n')
                word += *p++;
        }
        words->push_back(std::move(word));
    }
}

// ---- Tree removal --------------------------------------------------------------------

static int OpenDirBelow(int dirfd, const char *name)
{
    return openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Unlinks everything in dir that is not a directory and names the first directory found
// in *sub (empty when none is left). 0, or the errno of what could not be removed.
static int SweepFiles(int dir, std::string *sub)
{
    sub->clear();
    int copy = fcntl(dir, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return errno;
    DIR *listing = fdopendir(copy);
    if (listing == nullptr) {
        int err = errno;
        close(copy);
        return err;
    }
    int err = 0;
    while (dirent *entry = readdir(listing)) {
        const char *name = entry->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
            continue;
        bool isDir = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st;
            isDir = fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        if (isDir) {
            if (sub->empty())
                *sub = name;
        } else if (unlinkat(dir, name, 0) != 0 && errno != ENOENT) {
            err = errno;
            break;
        }
    }
    closedir(listing);
    return err;
}

// Empties the directory top (closed here). The walk holds one descriptor at a time and
// climbs back through "..", so a deep tree cannot run out of descriptors.
static int EmptyTree(int top)
{
    std::vector<std::string> names;     // the way from top down to cur
    int cur = top, err = 0;
    for (;;) {
        std::string sub;
        if ((err = SweepFiles(cur, &sub)) != 0)
            break;
        if (!sub.empty()) {
            int child = OpenDirBelow(cur, sub.c_str());
            if (child < 0 && errno == EACCES && fchmodat(cur, sub.c_str(), 0700, 0) == 0)
                child = OpenDirBelow(cur, sub.c_str());
            if (child < 0) {
                err = errno;
                break;
            }
            struct stat st;
            if (fstat(child, &st) == 0 && (st.st_mode & 0700) != 0700)
                fchmod(child, 0700);    // a directory we cannot write into cannot be emptied
            close(cur);
            cur = child;
            names.push_back(std::move(sub));
            continue;
        }
        if (names.empty())
            break;
        int parent = OpenDirBelow(cur, "..");
        if (parent < 0) {
            err = errno;
            break;
        }
        close(cur);
        cur = parent;
        if (unlinkat(cur, names.back().c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
            err = errno;
            break;
        }
        names.pop_back();
    }
    close(cur);
    return err;
}

int RemoveTree(const std::string &hostPath)
{
    struct stat st;
    if (lstat(hostPath.c_str(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return unlink(hostPath.c_str()) == 0 ? 0 : errno;
    int dir = open(hostPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        return errno;
    int err = EmptyTree(dir);
    if (err == 0 && rmdir(hostPath.c_str()) != 0)
        err = errno;
    return err;
}

// delete PATH... [ALL] [FORCE] [QUIET]: 0 when every path was there and is gone, 5 when
// one was missing, 10 when something stayed. Without ALL a directory must be empty.
static int32 Delete(const std::vector<std::string> &words)
{
    bool all = false;
    std::vector<std::string> paths;
    for (size_t i = 1; i < words.size(); i++) {
        const char *w = words[i].c_str();
        if (strcasecmp(w, "all") == 0)
            all = true;
        else if (strcasecmp(w, "force") != 0 && strcasecmp(w, "quiet") != 0)
            paths.push_back(words[i]);
    }
    if (paths.empty())
        return RETURN_ERROR;
    int32 rc = RETURN_OK;
    for (const std::string &path : paths) {
        std::string host = HostPath(path.c_str());
        struct stat st;
        int err;
        if (lstat(host.c_str(), &st) != 0)
            err = errno;
        else if (S_ISDIR(st.st_mode) && !all)
            err = rmdir(host.c_str()) == 0 ? 0 : errno;
        else
            err = RemoveTree(host);
        if (err == ENOENT) {
            Trace("delete: %s is not there\n", path.c_str());
            rc = rc > RETURN_WARN ? rc : RETURN_WARN;
        } else if (err != 0) {
            Trace("delete: %s: %s\n", path.c_str(), strerror(err));
            rc = RETURN_ERROR;
        }
    }
    return rc;
}

// ---- unzip ---------------------------------------------------------------------------

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
    if (lseek(src->fd, request, SEEK_CUR) < 0)
        return 0;
    return request;
}

static la_int64_t SeekPacked(archive *, void *data, la_int64_t offset, int whence)
{
    Packed *src = (Packed *)data;
    off_t at = lseek(src->fd, offset, whence);
    return at < 0 ? ARCHIVE_FATAL : at;
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
        if (next < 0 && errno == ENOENT && (mkdirat(cur, part, 0700) == 0 || errno == EEXIST))
            next = OpenDirBelow(cur, part);
        int err = errno;
        close(cur);
        cur = next;
        errno = err;
    }
    return cur;
}

static bool WriteAll(int fd, const char *data, size_t size)
{
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
    int fd = openat(dir, parts.back().c_str(),
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
static int32 Unzip(const std::vector<std::string> &words)
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
    uint32 members = 0;
    uint64 total = 0;
    locale_t utf8 = (locale_t)0, caller = (locale_t)0;
    std::string dir = HostPath(target), culprit;     // culprit: the member refused
    Packed *src = new Packed;
    struct stat st;

    src->fd = open(HostPath(archivePath).c_str(), O_RDONLY | O_CLOEXEC);
    if (src->fd < 0 || fstat(src->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "cannot open the archive";
        goto exit;
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        why = "cannot make the target";
        goto exit;
    }
    root = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        why = "cannot open the target";
        goto exit;
    }
    // Member names are read as UTF-8 whatever the program's locale is; a name that is not
    // valid there is skipped.
    utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    if (utf8 != (locale_t)0)
        caller = uselocale(utf8);
    a = archive_read_new();
    archive_read_support_format_zip(a);
    archive_read_set_read_callback(a, ReadPacked);
    archive_read_set_skip_callback(a, SkipPacked);
    archive_read_set_seek_callback(a, SeekPacked);
    archive_read_set_callback_data(a, src);
    if (archive_read_open1(a) != ARCHIVE_OK) {
        why = "not a ZIP archive";
        goto exit;
    }
    for (;;) {
        uint64 packedFrom = src->read;
        int r = archive_read_next_header(a, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN) {
            why = "damaged archive";
            goto exit;
        }
        if (++members > unzipLimits.maxMembers) {
            why = "member count limit";
            goto exit;
        }
        if ((why = UnpackMember(a, entry, root, *src, packedFrom, &total)) != nullptr) {
            const char *name = archive_entry_pathname(entry);
            culprit = name != nullptr ? name : "?";
            goto exit;
        }
    }
    rc = RETURN_OK;

exit:
    if (why != nullptr)
        Trace("unzip: %s: %s\n", culprit.empty() ? archivePath : culprit.c_str(), why);
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

int32 RunCommand(const std::vector<std::string> &words)
{
    const char *name = words[0].c_str();
    if (strncasecmp(name, "c:", 2) == 0)
        name += 2;
    if (strcasecmp(name, "unzip") == 0)
        return Unzip(words);
    if (strcasecmp(name, "delete") == 0)
        return Delete(words);
    Trace("%s: unknown command\n", words[0].c_str());
    return RETURN_ERROR;
}

}  // namespace platform
