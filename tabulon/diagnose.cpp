// Why a workbook did not import, in a few words for the one-line error. The module only
// answers 0 or 20, so the host looks further: at the file itself (readable, a ZIP at all),
// at why the unzip command refused it, as the command recorded, and at the workbook part
// and the first worksheet inside.
#include "tabulon/host.h"

#include <archive.h>
#include <archive_entry.h>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <map>
#include <set>
#include <unistd.h>

#include "platform/platform.h"

namespace tabulon {

std::string PreCheck(const std::string &book)
{
    struct stat st;
    if (stat(book.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? "no such file" : "not readable";
    if (S_ISDIR(st.st_mode))
        return "not readable: a directory";
    if (!S_ISREG(st.st_mode))
        return "not readable: not a regular file";
    int fd = open(book.c_str(), O_RDONLY);
    if (fd < 0)
        return "not readable";
    close(fd);
    return "";
}

static bool EndsWith(const std::string &s, const char *tail)
{
    size_t n = strlen(tail);
    return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, tail) == 0;
}

// Follows a worksheet's bytes: has it closed, or emptied, its sheetData?
class SheetDataEnd {
public:
    void Feed(const char *data, size_t size)
    {
        if (closed_)
            return;
        // A name cut at the chunk's edge is found again with the tail of the last chunk.
        window_.append(data, size);
        size_t at = 0;
        while ((at = window_.find("sheetData", at)) != std::string::npos) {
            size_t back = at;    // over a namespace prefix
            while (back > 0 && at - back < 16 && (isalnum((unsigned char)window_[back - 1]) ||
                                                  window_[back - 1] == ':'))
                back--;
            if (back >= 2 && window_[back - 1] == '/' && window_[back - 2] == '<')
                closed_ = true;                            // </sheetData> or </x:sheetData>
            size_t gt = window_.find('>', at);
            if (gt != std::string::npos && gt > 0 && window_[gt - 1] == '/')
                closed_ = true;                            // <sheetData/>
            if (closed_)
                return;
            at += 9;
        }
        if (window_.size() > 64)
            window_.erase(0, window_.size() - 64);
    }
    bool Closed() const { return closed_; }
private:
    std::string window_;
    bool closed_ = false;
};

// A member name for the one-line message: control characters become '?'.
static std::string OneLine(const std::string &name)
{
    std::string line = name;
    for (char &c : line)
        if ((unsigned char)c < 0x20 || c == 0x7F)
            c = '?';
    return line;
}

// What the first bytes say: empty when the file may be a ZIP workbook.
static std::string ByMagic(const std::string &book)
{
    unsigned char magic[4] = {0, 0, 0, 0};
    int fd = open(book.c_str(), O_RDONLY);
    if (fd < 0)
        return "not readable";
    ssize_t got = read(fd, magic, sizeof(magic));
    close(fd);
    if (got < 0)
        return "not readable";
    if (got == 4 && magic[0] == 0xD0 && magic[1] == 0xCF && magic[2] == 0x11 && magic[3] == 0xE0)
        return "encrypted or old binary workbook, not a ZIP workbook";
    if (got < 4 || magic[0] != 'P' || magic[1] != 'K')
        return "not a ZIP workbook";
    return "";
}

// Why the unpack refused this very file, or empty; *recorded tells whether it ran on it.
// The unpack names its own refusal: its rules live there alone.
static std::string UnpackRefusal(const std::string &book, bool *recorded)
{
    const platform::UnzipRefusal &unzip = platform::LastUnzipRefusal();
    struct stat st;
    *recorded = stat(book.c_str(), &st) == 0 && unzip.inode != 0 &&
                (uint64)st.st_dev == unzip.device && (uint64)st.st_ino == unzip.inode;
    if (!*recorded || unzip.why == nullptr)
        return "";
    if (unzip.member.empty())
        return std::string("unzip failed: ") + unzip.why;
    return "unzip failed on " + OneLine(unzip.member) + ": " + unzip.why;
}

// What a walk through the archive found.
struct ArchiveFacts {
    std::string firstSheet;      // the worksheet member followed
    bool        sheet1 = false;  // it is worksheets/sheet1.xml
    bool        sheetWhole = false, workbook = false;
    std::string workbookText;    // the start of the workbook part, to see if it lists a sheet
    std::string workbookName;
    std::map<std::string, std::string> rels;     // relationship parts, their first MiB
    std::set<std::string> files, dirs;           // every member, directories without a '/'
};

// Whether the member name is the worksheet to follow: the first in archive order, unless
// sheet1.xml comes later.
static bool FollowSheet(const std::string &name, ArchiveFacts &f)
{
    if (name.find("worksheets/") == std::string::npos || !EndsWith(name, ".xml") ||
        name.find("_rels") != std::string::npos)
        return false;
    bool isSheet1 = EndsWith(name, "worksheets/sheet1.xml");
    if (!f.firstSheet.empty() && (!isSheet1 || f.sheet1))
        return false;
    f.firstSheet = name;
    f.sheet1 = isSheet1;
    return true;
}

// Reads the current member as far as it tells something: the sheet to its end of
// sheetData, the workbook part's first MiB, a relationship part's into *rels. False when
// the data is damaged.
static bool ReadMember(archive *a, bool isWorkbook, bool follow, ArchiveFacts &f,
                       std::string *rels)
{
    static char buffer[1 << 16];
    SheetDataEnd end;
    la_ssize_t n;
    while ((n = archive_read_data(a, buffer, sizeof(buffer))) > 0) {
        if (rels != nullptr && rels->size() < (1u << 20)) {
            rels->append(buffer, (size_t)n);
            continue;
        }
        if (follow)
            end.Feed(buffer, (size_t)n);
        if (isWorkbook && f.workbookText.size() < (1u << 20))
            f.workbookText.append(buffer, (size_t)n);
        if ((!follow || end.Closed()) && (!isWorkbook || f.workbookText.size() >= (1u << 20)))
            break;      // the rest tells nothing more
    }
    if (follow)
        f.sheetWhole = end.Closed();
    return n >= 0;
}

// Walks the archive as the unpack reads it: by the central directory. Empty, or why the
// walk broke off.
static std::string WalkArchive(archive *a, ArchiveFacts &f)
{
    struct archive_entry *entry;
    int rc;
    while ((rc = archive_read_next_header(a, &entry)) == ARCHIVE_OK) {
        const char *raw = archive_entry_pathname(entry);
        std::string name = raw != nullptr ? raw : "";
        for (char &c : name)
            if (c == '\\')
                c = '/';
        bool isWorkbook = EndsWith(name, "workbook.xml");
        f.workbook = f.workbook || isWorkbook;
        if (isWorkbook)
            f.workbookName = name;
        if (!name.empty() && name.back() == '/')
            f.dirs.insert(name.substr(0, name.size() - 1));
        else
            f.files.insert(name);
        std::string *rels = EndsWith(name, ".rels") ? &f.rels[name] : nullptr;
        bool follow = FollowSheet(name, f);
        if ((isWorkbook || follow || rels != nullptr) && !ReadMember(a, isWorkbook, follow, f, rels))
            return "damaged ZIP archive";
    }
    return rc == ARCHIVE_EOF ? "" : "damaged ZIP archive";
}

// A relationship target joined to the folder of its source and resolved: a member name,
// or empty when it leaves the package.
static std::string ResolveTarget(const std::string &folder, const std::string &target)
{
    std::string path = !target.empty() && target[0] == '/' ? target : folder + target;
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= path.size()) {
        size_t next = path.find_first_of("/\\", at);
        std::string part = path.substr(at, next == std::string::npos ? std::string::npos : next - at);
        at = next == std::string::npos ? path.size() + 1 : next + 1;
        if (part == "..") {
            if (parts.empty())
                return "";
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
    }
    std::string name;
    for (const std::string &part : parts)
        name += (name.empty() ? "" : "/") + part;
    return name;
}

// The value of attribute key="..." in tag, or empty.
static std::string Attribute(const std::string &tag, const char *key)
{
    size_t at = tag.find(key);
    if (at == std::string::npos || (at > 0 && !isspace((unsigned char)tag[at - 1])))
        return "";
    size_t from = at + strlen(key), to = tag.find('"', from);
    return to == std::string::npos ? "" : tag.substr(from, to - from);
}

// The targets of the worksheet relationships in a relationship part, in its order.
static std::vector<std::string> WorksheetTargets(const std::string &rels)
{
    std::vector<std::string> targets;
    for (size_t at = 0; (at = rels.find("<Relationship ", at)) != std::string::npos; at++) {
        std::string tag = rels.substr(at, rels.find('>', at) - at);
        if (EndsWith(Attribute(tag, "Type=\""), "/worksheet"))
            targets.push_back(Attribute(tag, "Target=\""));
    }
    return targets;
}

// What is wrong with the worksheets the workbook's relationships name, or empty.
static std::string TargetVerdict(const ArchiveFacts &f)
{
    size_t slash = f.workbookName.rfind('/');
    std::string folder = slash == std::string::npos ? "" : f.workbookName.substr(0, slash + 1);
    auto rels = f.rels.find(folder + "_rels/" + f.workbookName.substr(folder.size()) + ".rels");
    std::vector<std::string> targets;
    if (rels != f.rels.end())
        targets = WorksheetTargets(rels->second);
    if (targets.empty())
        targets.push_back("/xl/worksheets/sheet1.xml");     // the usual name
    for (const std::string &target : targets) {
        std::string name = ResolveTarget(folder, target);
        if (name.empty())
            continue;
        if (f.dirs.count(name) != 0)
            return "worksheet " + OneLine(name) + " is a directory";
        if (f.files.count(name) == 0)
            return "worksheet " + OneLine(name) + " is not in the archive";
        return "";
    }
    return "every worksheet the workbook names lies outside the package";
}

// What is wrong with a workbook whose archive is whole.
static std::string Verdict(const ArchiveFacts &f)
{
    bool listsSheet = false;
    for (const char *tag : {"<sheet ", "<sheet/", ":sheet "})
        listsSheet = listsSheet || f.workbookText.find(tag) != std::string::npos;
    if (!f.workbook || f.firstSheet.empty())
        return "no first worksheet";
    if (!listsSheet)
        return "the workbook lists no worksheet";
    std::string targets = TargetVerdict(f);
    if (!targets.empty())
        return targets;
    if (!f.sheetWhole)
        return "worksheet cut off";
    return "import failed";
}

std::string Diagnose(const std::string &book)
{
    bool recorded = false;
    std::string why = PreCheck(book);
    if (why.empty())
        why = ByMagic(book);
    if (why.empty())
        why = UnpackRefusal(book, &recorded);
    if (!why.empty())
        return why;

    // The reader takes no archive without members, which the unpack did.
    struct archive *a = archive_read_new();
    archive_read_support_format_zip_seekable(a);
    if (archive_read_open_filename(a, book.c_str(), 1 << 16) != ARCHIVE_OK) {
        archive_read_free(a);
        return recorded ? "no first worksheet" : "damaged ZIP archive";
    }
    ArchiveFacts facts;
    why = WalkArchive(a, facts);
    archive_read_free(a);
    return why.empty() ? Verdict(facts) : why;
}

}  // namespace tabulon
