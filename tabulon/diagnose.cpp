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

std::string Diagnose(const std::string &book)
{
    std::string why = PreCheck(book);
    if (!why.empty())
        return why;

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

    // The unpack names its own refusal; its rules live there alone.
    const platform::UnzipRefusal &unzip = platform::LastUnzipRefusal();
    struct stat st;
    bool recorded = stat(book.c_str(), &st) == 0 && unzip.inode != 0 &&
                    (uint64)st.st_dev == unzip.device && (uint64)st.st_ino == unzip.inode;
    if (recorded && unzip.why != nullptr) {
        if (unzip.member.empty())
            return std::string("unzip failed: ") + unzip.why;
        return "unzip failed on " + OneLine(unzip.member) + ": " + unzip.why;
    }

    // Read as the unpack reads it: by the central directory. The reader takes no archive
    // without members, which the unpack did.
    struct archive *a = archive_read_new();
    archive_read_support_format_zip_seekable(a);
    if (archive_read_open_filename(a, book.c_str(), 1 << 16) != ARCHIVE_OK) {
        archive_read_free(a);
        return recorded ? "no first worksheet" : "damaged ZIP archive";
    }
    std::string firstSheet;      // the worksheet member the check follows
    bool workbook = false, sheetWhole = false, sheet1 = false, listsSheet = false;
    std::string workbookText;    // the start of the workbook part, to see if it lists a sheet
    std::vector<char> buffer(1 << 16);
    struct archive_entry *entry;
    int rc;
    while ((rc = archive_read_next_header(a, &entry)) == ARCHIVE_OK) {
        const char *raw = archive_entry_pathname(entry);
        std::string name = raw != nullptr ? raw : "";
        for (char &c : name)
            if (c == '\\')
                c = '/';
        bool isWorkbook = EndsWith(name, "workbook.xml");
        if (isWorkbook)
            workbook = true;
        // The first worksheet in archive order, unless sheet1.xml comes later.
        bool follow = false;
        if (name.find("worksheets/") != std::string::npos && EndsWith(name, ".xml") &&
            name.find("_rels") == std::string::npos) {
            bool isSheet1 = EndsWith(name, "worksheets/sheet1.xml");
            if (firstSheet.empty() || (isSheet1 && !sheet1)) {
                firstSheet = name;
                sheet1 = isSheet1;
                follow = true;
            }
        }
        if (!isWorkbook && !follow)
            continue;
        SheetDataEnd end;
        la_ssize_t n;
        while ((n = archive_read_data(a, buffer.data(), buffer.size())) > 0) {
            if (follow)
                end.Feed(buffer.data(), (size_t)n);
            if (isWorkbook && workbookText.size() < (1u << 20))
                workbookText.append(buffer.data(), (size_t)n);
            if ((!follow || end.Closed()) && (!isWorkbook || workbookText.size() >= (1u << 20)))
                break;      // the rest tells nothing more
        }
        if (n < 0) {
            why = "damaged ZIP archive";
            break;
        }
        if (follow)
            sheetWhole = end.Closed();
    }
    if (why.empty() && rc != ARCHIVE_EOF)
        why = "damaged ZIP archive";
    archive_read_free(a);

    if (!why.empty())
        return why;
    for (const char *tag : {"<sheet ", "<sheet/", ":sheet "})
        listsSheet = listsSheet || workbookText.find(tag) != std::string::npos;
    if (!workbook || firstSheet.empty())
        return "no first worksheet";
    if (!listsSheet)
        return "the workbook lists no worksheet";
    if (!sheetWhole)
        return "worksheet cut off";
    return "import failed";
}

}  // namespace tabulon
