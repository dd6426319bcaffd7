// The shell of the stand-in: the command line split as the system shell does, and the two
// commands the module runs, `c:unzip "<archive>" -d <dir>` (unzip.cpp) and
// `delete <path> all force`. Both work in process; no shell and no program of this machine
// is ever started.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/internal.h"

namespace platform {

UnzipLimits unzipLimits;
UnzipRefusal lastRefusal;

const UnzipRefusal &LastUnzipRefusal()
{
    return lastRefusal;
}

void ForgetUnzipRefusal()
{
    lastRefusal = UnzipRefusal{};
}

void LoadUnzipLimits()
{
    uint64 members = unzipLimits.maxMembers, ratio = unzipLimits.maxRatio;
    ReadSize("SHEAF_UNZIP_MAX_BYTES", &unzipLimits.maxBytes, UINT64_MAX);
    ReadSize("SHEAF_UNZIP_MAX_MEMBERS", &members, UINT32_MAX);
    ReadSize("SHEAF_UNZIP_MAX_RATIO", &ratio, UINT32_MAX);
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

int OpenDirBelow(int dirfd, const char *name)
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
        if (Fails("delete: examine"))
            err = EIO;
        else if (lstat(host.c_str(), &st) != 0)
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
