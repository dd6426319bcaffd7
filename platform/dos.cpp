// dos of the stand-in: buffered file handles over files and strings, numbers, paths,
// directories and the shell's entry.
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/internal.h"

namespace platform {

// Positions are int64 for the module; pread and lseek must carry them on 32-bit hosts too.
static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64");

int    openFiles;
int    heldLocks;
uint64 fileSystemCalls;

static int32 ioErr;     // what IoErr answers

// A call that succeeded: the system promises nothing about IoErr then, so with
// SHEAF_STALE_IOERR it holds that code, the worst it may hold. The end of a file is no
// failure and no success: a read that finds it leaves IoErr as it was.
static inline void Succeeded()
{
    if (faults.staleIoErr != 0)
        ioErr = faults.staleIoErr;
}

// Whether the folder a path names its last part in is there.
static bool ParentExists(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return true;
    struct stat st;
    return stat(slash == 0 ? "/" : path.substr(0, slash).c_str(), &st) == 0;
}

// The system's code for an errno of a call on path: a folder missing on the way is not
// the object missing, and a file taken for a folder is the wrong type.
static int32 ErrorCode(int err, const std::string &path = std::string())
{
    switch (err) {
    case ENOENT:  return ParentExists(path) ? ERROR_OBJECT_NOT_FOUND : ERROR_DIR_NOT_FOUND;
    case ENOTDIR: return ERROR_OBJECT_WRONG_TYPE;
    case EEXIST:  return ERROR_OBJECT_EXISTS;
    case ENOMEM:  return ERROR_NO_FREE_STORE;
    case ENOSPC:
    case EDQUOT:  return ERROR_DISK_FULL;
    default:      return ERROR_SEEK_ERROR;
    }
}

// A handle reads through a window of exactly bufsize bytes: buf holds the bytes from file
// offset `start`, next and end bound what is left of them. A memory file reads its text
// the same way, so a scanner test over a string sees the buffering a file would give.
struct FileHandle {
    UBYTE      *next;          // first here: the fast path of FGetC touches only these two
    UBYTE      *end;
    UBYTE      *buf;
    int32       bufsize;
    int64       start;         // file offset of buf[0]
    int         fd;            // -1 for a memory file
    bool        eof;           // the last fill found nothing; cleared by a seek
    int32       error;         // why it found nothing: 0 at the end of the file
    std::string path;          // absolute, for DevNameFromFH; empty for a memory file
    std::string text;          // a memory file's content
};

static FileHandle *Handle(BPTR file)
{
    return (FileHandle *)file;
}

// Reads up to size bytes into to from where the window ends, with one read of the system;
// the window is left empty there. The count; 0 at the end or on an error (ioErr tells).
static int64 ReadAt(FileHandle *fh, UBYTE *to, size_t size)
{
    fh->start += fh->end - fh->buf;
    fh->next = fh->end = fh->buf;
    if (fh->eof) {
        if (fh->error != 0)
            ioErr = fh->error;
        return 0;
    }
    if (Fails("reading a file")) {
        fh->eof = true;             // as a disk that stops answering in mid-file
        fh->error = ioErr = ERROR_SEEK_ERROR;
        return 0;
    }
    fileSystemCalls++;
    ssize_t n;
    if (fh->fd < 0) {
        int64 left = (int64)fh->text.size() - fh->start;
        n = left <= 0 ? 0 : left < (int64)size ? left : (ssize_t)size;
        if (n > 0)
            memcpy(to, fh->text.data() + fh->start, (size_t)n);
    } else {
        do
            n = pread(fh->fd, to, size, (off_t)fh->start);
        while (n < 0 && errno == EINTR);
    }
    if (n <= 0) {
        fh->eof = true;
        fh->error = n < 0 ? ErrorCode(errno) : 0;
        if (fh->error != 0)
            ioErr = fh->error;
        return 0;
    }
    Succeeded();
    return n;
}

// Fills the window from where it ends; the byte count, 0 at the end or on an error.
static int32 Fill(FileHandle *fh)
{
    int64 n = ReadAt(fh, fh->buf, (size_t)fh->bufsize);
    fh->end = fh->buf + n;
    return (int32)n;
}

static FileHandle *NewHandle(int fd, int32 bufsize)
{
    if (bufsize <= 0)
        bufsize = 2048;
    auto *fh = new FileHandle{};
    fh->buf = (UBYTE *)malloc((size_t)bufsize);
    fh->next = fh->end = fh->buf;
    fh->bufsize = bufsize;
    fh->fd = fd;
    openFiles++;
    return fh;
}

static BPTR FOpen(CONST_STRPTR name, int32 mode, int32 bufsize)
{
    if (name == nullptr)
        return ZERO;
    if (faults.openFails != nullptr) {
        size_t n = strlen(name), m = strlen(faults.openFails);
        if (n >= m && strcmp(name + n - m, faults.openFails) == 0) {
            ioErr = ERROR_NO_FREE_STORE;
            return ZERO;
        }
    }
    if (Fails("FOpen")) {
        ioErr = ERROR_NO_FREE_STORE;
        return ZERO;
    }
    int flags = O_CLOEXEC;
    if (mode == MODE_OLDFILE)
        flags |= O_RDONLY;
    else if (mode == MODE_NEWFILE)
        flags |= O_RDWR | O_CREAT | O_TRUNC;
    else if (mode == MODE_READWRITE)
        flags |= O_RDWR | O_CREAT;
    else
        return ZERO;
    std::string path = strcasecmp(name, "NIL:") == 0 ? "/dev/null" : HostPath(name);
    int fd = open(path.c_str(), flags, 0666);
    if (fd < 0) {
        ioErr = errno == EISDIR ? ERROR_OBJECT_WRONG_TYPE : ErrorCode(errno, path);
        return ZERO;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        ioErr = ERROR_OBJECT_WRONG_TYPE;
        return ZERO;
    }
    FileHandle *fh = NewHandle(fd, bufsize);
    char full[PATH_MAX];
    fh->path = realpath(path.c_str(), full) != nullptr ? full : path;
    Succeeded();
    return (BPTR)fh;
}

BPTR MemoryFile(std::string_view text, int32 bufsize)
{
    FileHandle *fh = NewHandle(-1, bufsize);
    fh->text.assign(text.data(), text.size());
    return (BPTR)fh;
}

static int32 FClose(BPTR file)
{
    FileHandle *fh = Handle(file);
    if (fh == nullptr)
        return FALSE;
    if (fh->fd >= 0)
        close(fh->fd);
    free(fh->buf);
    delete fh;
    openFiles--;
    Succeeded();
    return TRUE;
}

// Writes at the current position, past the read window, which it empties.
static uint32 FWrite(BPTR file, CONST_APTR block, uint32 blocklen, uint32 number)
{
    FileHandle *fh = Handle(file);
    if (fh == nullptr || fh->fd < 0 || blocklen == 0)
        return 0;
    int64 pos = fh->start + (fh->next - fh->buf);
    const char *data = (const char *)block;
    uint32 done = 0;
    if (Fails("FWrite")) {
        ioErr = ERROR_DISK_FULL;
        return 0;
    }
    for (; done < number; done++) {
        size_t left = blocklen;
        while (left > 0) {
            fileSystemCalls++;
            ssize_t n = pwrite(fh->fd, data, left, (off_t)pos);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ioErr = n < 0 ? ErrorCode(errno) : ERROR_DISK_FULL;
                goto out;
            }
            Succeeded();
            data += n;
            pos += n;
            left -= (size_t)n;
        }
    }
out:
    fh->start = pos;
    fh->next = fh->end = fh->buf;
    fh->eof = false;
    fh->error = 0;
    return done;
}

// What the window holds first; a large rest goes straight from the file into block, not
// through the window.
static uint32 FRead(BPTR file, APTR block, uint32 blocklen, uint32 number)
{
    FileHandle *fh = Handle(file);
    UBYTE *to = (UBYTE *)block;
    uint64 want = (uint64)blocklen * number, got = 0;

    if (fh == nullptr || blocklen == 0)
        return 0;
    while (got < want) {
        size_t have = (size_t)(fh->end - fh->next), n;
        if (have > 0) {
            n = want - got < have ? (size_t)(want - got) : have;
            memcpy(to + got, fh->next, n);
            fh->next += n;
            got += n;
        } else if (want - got >= (uint64)fh->bufsize) {
            int64 direct = ReadAt(fh, to + got, (size_t)(want - got));
            if (direct <= 0)
                break;
            fh->start += direct;
            got += (uint64)direct;
            if ((uint64)direct < want - got + (uint64)direct)
                break;      // a short read: the end is near, the next call finds it
        } else if (Fill(fh) == 0) {
            break;
        }
    }
    // The system clears the whole block on entry; what the read filled is all one sees of
    // that, so only the rest is cleared here.
    if (got < want)
        memset(to + got, 0, (size_t)(want - got));
    return (uint32)(got / blocklen);
}

static int32 __attribute__((noinline)) FGetCSlow(FileHandle *fh)
{
    if (fh == nullptr || Fill(fh) == 0)
        return -1;
    return *fh->next++;
}

// The common case is one compare and one load; the window refills out of line.
static int32 FGetC(BPTR file)
{
    FileHandle *fh = Handle(file);
    if (__builtin_expect(fh != nullptr && fh->next < fh->end, 1))
        return *fh->next++;
    return FGetCSlow(fh);
}

static int64 GetFilePosition(BPTR file)
{
    FileHandle *fh = Handle(file);
    if (fh == nullptr || Fails("GetFilePosition")) {
        ioErr = ERROR_SEEK_ERROR;
        return -1;
    }
    Succeeded();
    return fh->start + (fh->next - fh->buf);
}

// The file's size; -1 when the system cannot tell.
static int64 FileSize(FileHandle *fh)
{
    if (fh->fd < 0)
        return (int64)fh->text.size();
    struct stat st;
    fileSystemCalls++;
    return fstat(fh->fd, &st) == 0 ? (int64)st.st_size : -1;
}

// A position inside the current window only moves the read pointer; any other empties
// the window, and the next read fetches from there. Before the start or past the end of
// the file it fails with a seek error, as the system does.
static int32 ChangeFilePosition(BPTR file, int64 position, int32 mode)
{
    FileHandle *fh = Handle(file);
    if (fh == nullptr || Fails("ChangeFilePosition")) {
        ioErr = ERROR_SEEK_ERROR;
        return FALSE;
    }
    int64 size = FileSize(fh), target;
    if (mode == OFFSET_BEGINNING)
        target = position;
    else if (mode == OFFSET_CURRENT)
        target = fh->start + (fh->next - fh->buf) + position;
    else if (mode == OFFSET_END)
        target = size + position;
    else
        target = -1;
    if (size < 0 || target < 0 || target > size) {
        ioErr = ERROR_SEEK_ERROR;
        return FALSE;
    }
    Succeeded();
    if (target >= fh->start && target <= fh->start + (fh->end - fh->buf)) {
        fh->next = fh->buf + (target - fh->start);
        return TRUE;
    }
    fh->start = target;
    fh->next = fh->end = fh->buf;
    fh->eof = false;
    fh->error = 0;
    return TRUE;
}

// The system's convention: blanks and tabs, an optional sign, decimal digits. The result
// is the number of characters used, or -1 with the value set to 0 when there is no digit
// or the number does not fit in 32 bits. IoErr is left alone.
static int32 StrToLong(CONST_STRPTR string, int32 *value)
{
    if (value != nullptr)
        *value = 0;
    if (string == nullptr)
        return -1;
    const char *p = string;
    while (*p == ' ' || *p == '\t')
        p++;
    bool negative = false;
    if (*p == '-' || *p == '+')
        negative = *p++ == '-';
    if (*p < '0' || *p > '9')
        return -1;
    int64 n = 0, most = negative ? -(int64)INT32_MIN : INT32_MAX;
    for (; *p >= '0' && *p <= '9'; p++) {
        n = n * 10 + (*p - '0');
        if (n > most)
            return -1;
    }
    if (value != nullptr)
        *value = (int32)(negative ? -n : n);
    return (int32)(p - string);
}

// The absolute path of the open file; 0 for a memory file or when it does not fit
// (the buffer then holds an empty string).
static int32 DevNameFromFH(BPTR file, STRPTR buffer, int32 length, int32)
{
    FileHandle *fh = Handle(file);
    if (buffer != nullptr && length > 0)
        buffer[0] = '\0';
    if (fh == nullptr || buffer == nullptr || faults.pathFails || fh->path.empty()
        || (int64)fh->path.size() + 1 > length || Fails("DevNameFromFH")) {
        ioErr = ERROR_LINE_TOO_LONG;
        return FALSE;
    }
    memcpy(buffer, fh->path.c_str(), fh->path.size() + 1);
    Succeeded();
    return TRUE;
}

struct DirLock {
    std::string path;
};

static BPTR CreateDir(CONST_STRPTR name)
{
    if (name == nullptr || faults.createDirFails || Fails("CreateDir")) {
        ioErr = ERROR_NO_FREE_STORE;
        return ZERO;
    }
    std::string path = HostPath(name);
    if (mkdir(path.c_str(), 0700) != 0) {
        ioErr = ErrorCode(errno, path);
        return ZERO;
    }
    Succeeded();
    heldLocks++;
    return (BPTR) new DirLock{path};
}

static void UnLock(BPTR lock)
{
    if (lock == ZERO)
        return;
    delete (DirLock *)lock;
    heldLocks--;
}

// Runs the command line to its end and returns its code, as the system's shell does:
// RETURN_ERROR when the line cannot be read (an unterminated quote) or names no command it
// knows, RETURN_OK for an empty line. -1 only when there is no line to start a shell for.
// The stream tags change nothing, the commands write nothing but traces; but an input
// stream of ZERO is refused below dos.library 53.65, which only from there opens NIL:
// for it.
static int32 SystemTags(CONST_STRPTR command, uint32 tag1, ...)
{
    bool zeroInput = false;
    va_list ap;
    va_start(ap, tag1);
    for (uint32 tag = tag1; tag != TAG_DONE; tag = va_arg(ap, uint32))
        if (va_arg(ap, uint32) == 0 && tag == SYS_Input)
            zeroInput = true;
    va_end(ap);

    if (command == nullptr || (zeroInput && !LibraryAtLeast("dos.library", 53, 65))) {
        ioErr = ERROR_REQUIRED_ARG_MISSING;
        return -1;
    }
    Succeeded();
    if (faults.commandFails != nullptr
        && strncasecmp(command, faults.commandFails, strlen(faults.commandFails)) == 0)
        return faults.commandRc;
    if (Fails("SystemTags"))
        return -1;      // no shell could be started
    std::vector<std::string> words;
    if (!SplitCommandLine(command, &words)) {
        Trace("%s: unterminated quote\n", command);
        return RETURN_ERROR;
    }
    if (words.empty())
        return RETURN_OK;
    return RunCommand(words);
}

static int32 IoErr(void)
{
    return ioErr;
}

static int32 SetIoErr(int32 code)
{
    int32 old = ioErr;
    ioErr = code;
    return old;
}

void SetDosError(int32 code)
{
    ioErr = code;
}

DOSIFace dos = {
    .Data               = {.Link = {}, .LibBase = nullptr, .RefCount = 1, .Version = 1},
    .FOpen              = FOpen,
    .FClose             = FClose,
    .FGetC              = FGetC,
    .GetFilePosition    = GetFilePosition,
    .ChangeFilePosition = ChangeFilePosition,
    .StrToLong          = StrToLong,
    .DevNameFromFH      = DevNameFromFH,
    .CreateDir          = CreateDir,
    .UnLock             = UnLock,
    .SystemTags         = SystemTags,
    .FWrite             = FWrite,
    .IoErr              = IoErr,
    .FRead              = FRead,
    .SetIoErr           = SetIoErr,
    .AllocDosObjectTags = AllocDosObjectTags,
    .FreeDosObject      = FreeDosObject,
    .ReadArgs           = ReadArgs,
    .FreeArgs           = FreeArgs,
};

int OpenFiles()
{
    return openFiles;
}

int HeldLocks()
{
    return heldLocks;
}

uint64 FileSystemCalls()
{
    return fileSystemCalls;
}

}  // namespace platform
