// c:unzip of the stand-in, the one command that needs libarchive (and libdeflate).
//
// unzip trusts nothing in the archive: its table of contents is the central directory,
// checked whole before anything is written; members leaving the target directory, links
// and devices fail the command, files are made below a directory handle without following
// any link, and the limits count the bytes really read and written.
#include <archive.h>
#include <archive_entry.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <libdeflate.h>
#include <locale.h>
#include <memory>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "platform/internal.h"
#include "platform/zipdir.h"

namespace platform {

// The archive as libarchive reads it, counting the packed bytes really read. The reader
// sees the file end behind the end record the directory reader took: a comment is not
// its to search, and it searches only the last few KiB.
struct Packed {
    int    fd;
    uint64 read = 0;
    uint64 pos = 0, size = 0;    // the reader's place and the end it sees
    char   block[16384];
};

static la_ssize_t ReadPacked(archive *, void *data, const void **buffer)
{
    Packed *src = (Packed *)data;
    ssize_t n;
    if (Fails("unzip: read"))
        return ARCHIVE_FATAL;
    size_t want = (size_t)std::min<uint64>(sizeof(src->block), src->size - std::min(src->pos, src->size));
    do
        n = want == 0 ? 0 : pread(src->fd, src->block, want, (off_t)src->pos);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return ARCHIVE_FATAL;
    src->read += (uint64)n;
    src->pos += (uint64)n;
    *buffer = src->block;
    return n;
}

static la_int64_t SkipPacked(archive *, void *data, la_int64_t request)
{
    Packed *src = (Packed *)data;
    if (Fails("unzip: seek") || request < 0)
        return 0;
    uint64 room = src->size - std::min(src->pos, src->size);
    uint64 step = std::min<uint64>((uint64)request, room);
    src->pos += step;
    return (la_int64_t)step;
}

static la_int64_t SeekPacked(archive *, void *data, la_int64_t offset, int whence)
{
    Packed *src = (Packed *)data;
    if (Fails("unzip: seek"))
        return ARCHIVE_FATAL;
    int64 from = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? (int64)src->pos : (int64)src->size;
    if (offset < -from)
        return ARCHIVE_FATAL;
    src->pos = (uint64)(from + offset);
    return (la_int64_t)src->pos;
}

// The archive's bytes at offset; the reading position stays where it is.
static bool ReadAt(int fd, uint64 offset, void *buffer, size_t size)
{
    char *to = (char *)buffer;
    while (size > 0) {
        ssize_t n = pread(fd, to, size, (off_t)offset);
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

// The archive's bytes for the directory reader.
static bool ReadPackedAt(void *data, uint64 offset, void *buffer, size_t size)
{
    return !Fails("unzip: read") && ReadAt(((Packed *)data)->fd, offset, buffer, size);
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

static bool WriteOut(int fd, const char *data, size_t size)
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

// A streamed member's blocks written on the second core while this one inflates the next:
// two slots, one filled here while the other is written there. The faults are drawn here,
// block by block as one core would; a write that fails is told at the next hand-over.
class BlockWriter {
public:
    explicit BlockWriter(int fd) : fd_(fd)
    {
        try {
            worker_ = std::thread([this] { Run(); });
        } catch (const std::system_error &) {
            // no thread to be had: Put writes here then
        }
    }
    ~BlockWriter()
    {
        if (worker_.joinable()) {
            {
                std::lock_guard<std::mutex> hold(lock_);
                closing_ = true;
            }
            changed_.notify_all();
            worker_.join();
        }
    }
    // The block is written, or will be; false when this or an earlier write failed.
    bool Put(const char *data, size_t n)
    {
        if (!worker_.joinable())
            return WriteOut(fd_, data, n);
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [this] { return !full_[next_] || failed_; });
        if (failed_)
            return false;
        std::string &slot = slots_[next_];
        hold.unlock();
        slot.assign(data, n);
        hold.lock();
        full_[next_] = true;
        next_ ^= 1;
        hold.unlock();
        changed_.notify_all();
        return true;
    }
    // Waits for every block; false when one failed.
    bool Finish()
    {
        if (!worker_.joinable())
            return true;
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [this] { return (!full_[0] && !full_[1]) || failed_; });
        return !failed_;
    }

private:
    void Run()
    {
        std::unique_lock<std::mutex> hold(lock_);
        for (int k = 0;; k ^= 1) {
            changed_.wait(hold, [&] { return full_[k] || closing_; });
            if (!full_[k])
                return;
            hold.unlock();
            bool ok = failed_ || WriteOut(fd_, slots_[k].data(), slots_[k].size());
            hold.lock();
            failed_ = failed_ || !ok;
            full_[k] = false;
            changed_.notify_all();
        }
    }

    int                     fd_;
    std::thread             worker_;
    std::mutex              lock_;
    std::condition_variable changed_;
    std::string             slots_[2];
    bool                    full_[2] = {false, false};
    int                     next_ = 0;
    bool                    failed_ = false, closing_ = false;
};

// Unpacks the current member's data into fd, within the limits. total counts the
// bytes of the whole run; packedFrom is the packed count when the member began.
static const char *CopyMember(archive *a, int fd, const Packed &src, uint64 packedFrom,
                              uint64 *total)
{
    uint64 unpacked = 0;
    BlockWriter out(fd);
    for (;;) {
        const void *chunk;
        size_t n;
        la_int64_t at;
        // The reader's own buffer, not a copy of it; a ZIP member has no holes.
        int r = archive_read_data_block(a, &chunk, &n, &at);
        if (r == ARCHIVE_EOF)
            return out.Finish() ? nullptr : "write failed";
        if (r != ARCHIVE_OK || at != (la_int64_t)unpacked)
            return "damaged data";
        unpacked += (uint64)n;
        if (*total + (uint64)n > unzipLimits.maxBytes)
            return "unpacked size limit";
        // One block of read-ahead may have been counted for the member before.
        uint64 packed = src.read - packedFrom + sizeof(src.block);
        if (unzipLimits.maxRatio != 0 && unpacked > unzipLimits.ratioFrom
            && unpacked / unzipLimits.maxRatio > packed)
            return "inflation ratio limit";
        if (Fails("unzip: write") || !out.Put((const char *)chunk, n))
            return "write failed";
        *total += (uint64)n;
    }
}

// Why a member of this kind is refused, or NULL: only files and directories are unpacked.
static const char *RefusedKind(archive_entry *entry)
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
    return nullptr;
}

// Members of at most this many bytes, packed and unpacked together, are inflated in one
// piece, in fewer instructions than a stream; the command's peak then stays below the
// import's. Larger ones stream.
static const uint64 WHOLE_MOST = 56ull << 20;

// Memory for a whole member; a large one in huge pages: fresh small pages cost a fault
// each, which on a virtual machine outweighs what the inflation saves, and given back they
// serve the host's cells next. A small one takes no huge page, which would all be cleared.
// The allocator's would keep the pages of one freed on the second thread for that thread.
struct Whole {
    char  *bytes = nullptr;
    size_t mapped = 0;
    explicit Whole(uint64 size)
    {
        if (size < HUGE_PAGE) {
            bytes = (char *)malloc((size_t)size + 1);
            return;
        }
        bytes = (char *)TakeHugePages((size_t)size + 1);
        mapped = bytes != nullptr ? (size_t)size + 1 : 0;
    }
    ~Whole()
    {
        if (mapped != 0)
            GiveHugePages(bytes, mapped);
        else
            free(bytes);
    }
    Whole(const Whole &) = delete;
    Whole &operator=(const Whole &) = delete;
};

// Whether the member is inflated in one piece: stored or deflated, within the budget and
// within every limit by its declared sizes. One that would break a limit streams, so the
// limits still count the bytes really unpacked.
static bool InflatesWhole(const ZipMember &m, uint64 total)
{
    if ((m.method != 0 && m.method != 8) || m.size > WHOLE_MOST || m.packed > WHOLE_MOST - m.size)
        return false;
    if (total + m.size > unzipLimits.maxBytes)
        return false;
    return unzipLimits.maxRatio == 0 || m.size <= unzipLimits.ratioFrom
           || m.size / unzipLimits.maxRatio <= m.packed;
}

// The faults a whole member may meet, drawn before it is inflated, in the order one core
// would draw them: the second core draws none, so every run counts the same calls.
struct Draws {
    bool read, write;
};

static Draws DrawFaults()
{
    Draws draws;
    draws.read  = Fails("unzip: read");
    draws.write = !draws.read && Fails("unzip: write");
    return draws;
}

// The packed data of m in archive unpacked into out (m.size bytes): exactly that many, and
// its CRC the directory's. NULL or why.
static const char *InflateInto(const ZipMember &m, int archive, bool readFails, char *out)
{
    if (m.method == 0) {
        if (readFails || m.packed != m.size || !ReadAt(archive, m.dataAt, out, (size_t)m.size))
            return "damaged data";
    } else {
        Whole in(m.packed);
        libdeflate_decompressor *d = libdeflate_alloc_decompressor();
        bool ok = in.bytes && d && !readFails && ReadAt(archive, m.dataAt, in.bytes, (size_t)m.packed)
                  && libdeflate_deflate_decompress(d, in.bytes, (size_t)m.packed, out,
                                                   (size_t)m.size, nullptr) == LIBDEFLATE_SUCCESS;
        if (d != nullptr)
            libdeflate_free_decompressor(d);
        if (!ok)
            return in.bytes && d ? "damaged data" : "out of memory";
    }
    return libdeflate_crc32(0, out, (size_t)m.size) == m.crc ? nullptr : "damaged data";
}

// The member inflated in one piece into out and written to fd, which is closed. NULL or
// why. It touches nothing but its arguments, so it may run on the second core.
static const char *InflateWhole(int fd, const ZipMember &m, int archive, Draws draws,
                                const Whole &out)
{
    const char *why = out.bytes == nullptr ? "out of memory"
                                           : InflateInto(m, archive, draws.read, out.bytes);
    if (why == nullptr && (draws.write || !WriteOut(fd, out.bytes, (size_t)m.size)))
        why = "write failed";
    if (close(fd) != 0 && why == nullptr)
        why = "write failed";
    return why;
}

// A large whole member inflated on the second core while the reader goes on with the next
// ones: one at a time, and its buffers and those of a member inflated meanwhile on this
// core stay within WHOLE_MOST together.
struct Background {
    std::thread            worker;
    uint64                 held = 0;     // its packed and unpacked bytes
    const char            *why = nullptr;
    std::string            member;       // its name as the reader gives it
    std::unique_ptr<Whole> out;          // what it inflates into; this core's until the start
    uint64                 size = 0;     // its unpacked bytes
    std::atomic<bool>      done{false};
    ~Background()
    {
        if (worker.joinable())
            worker.join();
    }
};

// While the second core inflates, this one makes the pages of its buffer from the end on,
// a huge page at a time, until the inflation is done (a page made already costs a look):
// the system's clearing of fresh pages is dear here, and otherwise all of it lies on the
// second core's way.
static void MakePagesAhead(Background *bg)
{
    if (bg->out == nullptr || bg->out->mapped == 0)
        return;
    for (uint64 end = bg->size; end > 0 && !bg->done.load(std::memory_order_relaxed);) {
        uint64 from = end > HUGE_PAGE ? (end - 1) / HUGE_PAGE * HUGE_PAGE : 0;
        if (madvise(bg->out->bytes + from, (size_t)(end - from), MADV_POPULATE_WRITE) != 0)
            return;
        end = from;
    }
}

// Members from this size on are worth a thread.
static const uint64 BACKGROUND_FROM = 1u << 20;

// One run of the command: the reader, the archive, the target, the bytes unpacked so far
// (a whole member counts when it starts: it writes its size or the command fails).
struct Run {
    archive      *a;
    const Packed &src;
    int           root;
    uint64        total = 0;
    Background    bg;
};

// Waits for the second core's member; true when it succeeded.
static bool Wait(Background *bg)
{
    if (bg->worker.joinable()) {
        MakePagesAhead(bg);
        bg->worker.join();
    }
    bg->out.reset();
    bg->held = 0;
    return bg->why == nullptr;
}

// The whole member m into fd: on the second core when it is large and that core is free,
// else here, after the second core's member if both would not fit WHOLE_MOST together.
// NULL or why; a failure of the second core's member is told by Finish.
static const char *InflateAside(Run *run, int fd, const ZipMember &m, const char *shown)
{
    Background *bg = &run->bg;
    Draws draws = DrawFaults();
    int archive = run->src.fd;
    if (!bg->worker.joinable() && m.size >= BACKGROUND_FROM) {
        bg->held = m.packed + m.size;
        bg->member = shown;
        bg->size = m.size;
        bg->done = false;
        try {
            bg->out = std::make_unique<Whole>(m.size);
            bg->worker = std::thread([bg, fd, m, archive, draws] {
                bg->why = InflateWhole(fd, m, archive, draws, *bg->out);
                bg->done = true;
            });
            return nullptr;
        } catch (const std::exception &) {
            bg->held = 0;       // no thread or no memory to be had: here then
            bg->out.reset();
        }
    }
    if (bg->held + m.packed + m.size > WHOLE_MOST && !Wait(bg)) {
        close(fd);
        return bg->why;
    }
    Whole out(m.size);
    return InflateWhole(fd, m, archive, draws, out);
}

// why, or the failure of the second core's member once it is done: that member came first.
static const char *Finish(Background *bg, const char *why, std::string *culprit)
{
    if (!Wait(bg)) {
        why = bg->why;
        *culprit = bg->member;
    }
    return why;
}

// The member's data into a new file name in dir; a name taken already skips it. NULL or why
// the whole command fails.
static const char *WriteMember(Run *run, int dir, const char *name, const ZipMember &m,
                               uint64 packedFrom, const char *shown)
{
    int fd = Fails("unzip: create a file")
                 ? (errno = ENOSPC, -1)
                 : openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno == EEXIST ? nullptr : "cannot create file";
    if (InflatesWhole(m, run->total)) {
        run->total += m.size;
        return InflateAside(run, fd, m, shown);
    }
    const char *why = CopyMember(run->a, fd, run->src, packedFrom, &run->total);
    if (close(fd) != 0 && why == nullptr)
        why = "write failed";
    return why;
}

// One member: its directories made, its file written; a name taken already or a parent
// that is a file skips it. NULL or why the whole command fails.
static const char *UnpackMember(Run *run, archive_entry *entry, const ZipMember &m,
                                uint64 packedFrom, const char *shown)
{
    if (const char *why = RefusedKind(entry))
        return why;
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

    bool isDir = archive_entry_filetype(entry) == AE_IFDIR;
    int dir = MakeDirs(run->root, parts, isDir ? parts.size() : parts.size() - 1);
    if (dir < 0)
        return errno == ENOTDIR || errno == ELOOP || errno == EEXIST ? nullptr : "directory";
    const char *why =
        isDir ? nullptr : WriteMember(run, dir, parts.back().c_str(), m, packedFrom, shown);
    close(dir);
    return why;
}

// The words of unzip "<archive>" -d <dir>; false when they are not that.
static bool UnzipWords(const std::vector<std::string> &words, const char **archivePath,
                       const char **target)
{
    *archivePath = *target = nullptr;
    for (size_t i = 1; i < words.size(); i++) {
        if (words[i] == "-d" && i + 1 < words.size())
            *target = words[++i].c_str();
        else if (*archivePath == nullptr)
            *archivePath = words[i].c_str();
        else
            return false;
    }
    return *archivePath != nullptr && *target != nullptr;
}

// Opens the archive, notes which file it is and reads its table of contents. NULL or why.
static const char *OpenArchive(const char *archivePath, Packed *src, ZipDirectory *contents,
                               std::string *culprit)
{
    struct stat st;
    src->fd = Fails("unzip: open the archive")
                  ? -1
                  : open(HostPath(archivePath).c_str(), O_RDONLY | O_CLOEXEC);
    if (src->fd < 0 || Fails("unzip: examine the archive") || fstat(src->fd, &st) != 0 ||
        !S_ISREG(st.st_mode))
        return "cannot open the archive";
    lastRefusal.device = (uint64)st.st_dev;
    lastRefusal.inode  = (uint64)st.st_ino;
    return ReadZipDirectory(ReadPackedAt, src, (uint64)st.st_size, unzipLimits.maxMembers,
                            contents, culprit);
}

// Makes the target directory if need be and opens it as *root. NULL or why.
static const char *OpenTarget(const char *target, int *root)
{
    std::string dir = HostPath(target);
    if (Fails("unzip: make a directory") || (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST))
        return "cannot make the target";
    *root = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return *root < 0 ? "cannot open the target" : nullptr;
}

// The reader over src, or NULL. Only the reader that follows the central directory: the
// streaming one would take the local headers as they come.
static archive *OpenReader(Packed *src)
{
    archive *a = archive_read_new();
    archive_read_support_format_zip_seekable(a);
    archive_read_set_read_callback(a, ReadPacked);
    archive_read_set_skip_callback(a, SkipPacked);
    archive_read_set_seek_callback(a, SeekPacked);
    archive_read_set_callback_data(a, src);
    if (archive_read_open1(a) == ARCHIVE_OK)
        return a;
    archive_read_free(a);
    return nullptr;
}

// Unpacks what the reader meets, in the directory's order by place in the file, each
// member checked against the directory. NULL or why.
static const char *ReadMembers(Run *run, const ZipDirectory &contents, std::string *culprit)
{
    const std::vector<ZipMember> &members = contents.members;
    size_t index = 0;
    for (archive_entry *entry;; index++) {
        uint64 packedFrom = run->src.read;
        int r = archive_read_next_header(run->a, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            return "damaged archive";
        if (index >= members.size() || !SameMember(entry, members[index])) {
            *culprit = index < members.size() ? members[index].name : "";
            return "reader and central directory disagree";
        }
        const char *shown = archive_entry_pathname(entry);
        shown = shown != nullptr ? shown : "?";
        if (const char *why = UnpackMember(run, entry, members[index], packedFrom, shown)) {
            *culprit = shown;
            return why;
        }
    }
    return index == members.size() ? nullptr : "reader and central directory disagree";
}

// Every member of the archive below root. NULL or why.
static const char *UnpackAll(Packed *src, int root, const ZipDirectory &contents,
                             std::string *culprit)
{
    // Member names are read as UTF-8 whatever the program's locale is; a name that is not
    // valid there is skipped.
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0), caller = (locale_t)0;
    if (utf8 != (locale_t)0)
        caller = uselocale(utf8);
    const char *why = "reader refuses the archive";
    if (archive *a = OpenReader(src)) {
        Run run{a, *src, root, 0, {}};
        why = Finish(&run.bg, ReadMembers(&run, contents, culprit), culprit);
        archive_read_free(a);
    }
    if (utf8 != (locale_t)0) {
        uselocale(caller);
        freelocale(utf8);
    }
    return why;
}

// unzip "<archive>" -d <dir>: 0 when every member was unpacked or skipped, 10 otherwise.
// What was written before a failure stays; the caller removes the directory.
int32 Unzip(const std::vector<std::string> &words)
{
    const char *archivePath, *target;
    if (!UnzipWords(words, &archivePath, &target))
        return RETURN_ERROR;

    int root = -1;
    std::string culprit;     // the member refused
    ZipDirectory contents;
    Packed *src = new Packed;
    lastRefusal = UnzipRefusal{};
    const char *why = OpenArchive(archivePath, src, &contents, &culprit);
    if (why == nullptr)
        why = OpenTarget(target, &root);
    // With nothing to unpack the reader is not asked: it takes no such archive.
    src->size = contents.readerEnd;
    if (why == nullptr && !contents.members.empty())
        why = UnpackAll(src, root, contents, &culprit);

    if (why != nullptr)
        Trace("unzip: %s: %s\n", culprit.empty() ? archivePath : culprit.c_str(), why);
    lastRefusal.why = why;
    lastRefusal.member = culprit;
    if (root >= 0)
        close(root);
    if (src->fd >= 0)
        close(src->fd);
    delete src;
    return why == nullptr ? RETURN_OK : RETURN_ERROR;
}

}  // namespace platform
