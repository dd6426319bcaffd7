// Whole imports: a workbook written from the input with the project's ZIP writer and loaded
// through the module's load, on the stand-in and the host's services. After every run
// nothing may be held and no workspace left; a failing call must fail the import or change
// nothing of it.
//
// The input: three bytes of options, then the members' texts split at SEPARATOR:
//   byte 0  bit 0 a ZIP64 archive, bit 2 the worksheet in UTF-16, bit 3 the shared strings
//           in UTF-16, bit 4 UTF-16 big-endian, bit 5 no byte order mark, bit 6 members
//           deflated (else stored), bit 7 a call fails
//   byte 1  which call fails, counted from 1 (with bit 7)
//   byte 2  the code set
//   texts   worksheet, shared strings, then optionally xl/_rels/workbook.xml.rels,
//           xl/workbook.xml and _rels/.rels in place of the usual ones. A worksheet or table
//           that is no whole document is wrapped into one, as bookgen::Workbook does.
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "bookgen/bookwriter.h"
#include "fuzz/setup.h"
#include "module/import.h"

static const std::string_view SEPARATOR = "\n----\n";

// Small members keep a run short; the scanner's own target covers long texts.
static const size_t MostInput = 32768;

// T: in memory when the machine has a tmpfs at /dev/shm: unpacking is most of a run.
static std::string workspace, book;

static void RemoveWorkspace()
{
    platform::RemoveTemp(workspace);
}

static void Workspace()
{
    if (!workspace.empty())
        return;
    char dir[] = "/dev/shm/sheaf-fuzz-XXXXXX";
    if (access("/dev/shm", W_OK) == 0 && mkdtemp(dir) != nullptr)
        workspace = dir;
    else
        workspace = platform::MakePrivateTemp();
    if (workspace.empty())
        FuzzViolated("no private directory for T:");
    atexit(RemoveWorkspace);
    platform::SetAssign("T", workspace);
    book = workspace + "/book.xlsx";
}

// The length of the UTF-8 sequence at text[i] and its code point; surrogates are let
// through, so that a lone half can be written. 1 with the byte's own value for a byte that
// starts no sequence.
static size_t Sequence(std::string_view text, size_t i, uint32_t *cp)
{
    uint8_t c = (uint8_t)text[i];
    size_t need = (c >= 0xC2 && c <= 0xDF) ? 1 : (c >= 0xE0 && c <= 0xEF) ? 2 :
                  (c >= 0xF0 && c <= 0xF4) ? 3 : 0;
    uint32_t value = need == 1 ? c & 0x1F : need == 2 ? c & 0x0F : c & 0x07;

    *cp = c;
    if (need == 0 || text.size() - i <= need)
        return 1;
    for (size_t k = 1; k <= need; k++) {
        uint8_t d = (uint8_t)text[i + k];
        if ((d & 0xC0) != 0x80)
            return 1;
        value = (value << 6) | (d & 0x3F);
    }
    if (value > 0x10FFFF)
        return 1;
    *cp = value;
    return need + 1;
}

// The text as UTF-16, a pair for each character past U+FFFF.
static std::string Wide(std::string_view text, bool bigendian, bool mark)
{
    std::string wide;
    auto unit = [&](uint32_t u) {
        char hi = (char)(u >> 8), lo = (char)(u & 0xFF);
        wide += bigendian ? hi : lo;
        wide += bigendian ? lo : hi;
    };
    if (mark)
        unit(0xFEFF);
    for (size_t i = 0; i < text.size();) {
        uint32_t cp;
        i += Sequence(text, i, &cp);
        if (cp >= 0x10000) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return wide;
}

// The workbook of the input's members and options.
static std::vector<bookgen::Member> Members(uint8_t options, std::string_view rest)
{
    std::vector<std::string> texts;
    for (;;) {
        size_t at = rest.find(SEPARATOR);
        if (at == std::string_view::npos || texts.size() == 4) {
            texts.emplace_back(rest);
            break;
        }
        texts.emplace_back(rest.substr(0, at));
        rest.remove_prefix(at + SEPARATOR.size());
    }
    texts.resize(5);

    std::vector<bookgen::Member> members = bookgen::Workbook(texts[0], texts[1]);
    const char *replaced[] = { "xl/_rels/workbook.xml.rels", "xl/workbook.xml", "_rels/.rels" };
    bool bigendian = options & 0x10, mark = !(options & 0x20);
    for (bookgen::Member &m : members) {
        for (int k = 0; k < 3; k++)
            if (m.name == replaced[k] && !texts[2 + k].empty())
                m.data = texts[2 + k];
        if ((m.name == "xl/worksheets/sheet1.xml" && (options & 0x04)) ||
            (m.name == "xl/sharedStrings.xml" && (options & 0x08)))
            m.data = Wide(m.data, bigendian, mark);
        m.stored = !(options & 0x40);
    }
    return members;
}

struct Outcome {
    LONG        rc = -1;
    std::string cells;      // "A1=5|B2=x" in the host's charset
};

// One import of the written book with the input's code set and, when failAt is not 0,
// that call failing; checks what it leaves.
static Outcome Import(uint8_t codeset, uint64 failAt)
{
    Outcome outcome;
    tabulon::Document doc;

    platform::Reset();
    FuzzCodeSet(codeset);
    tabulon::SetCurrentDocument(&doc);
    BPTR file = platform::dos.FOpen(book.c_str(), MODE_OLDFILE, 1024);
    if (file == ZERO)
        FuzzViolated("the written workbook cannot be opened");
    platform::faults.failAt = failAt;
    outcome.rc = load(file, (Mappe *)&doc);
    platform::faults.failAt = 0;
    platform::dos.FClose(file);

    if (outcome.rc != 0 && outcome.rc != 20)
        FuzzViolated("load answered neither 0 nor 20");
    if (platform::Exists("T:XLS"))
        FuzzViolated("T:XLS is left after the import");
    FuzzNothingHeld("the import");
    long texts = 0;
    for (const tabulon::Sheet &sheet : doc.sheets) {
        texts += sheet.page.pg_Node.ln_Name != nullptr;   // the sheet's name
        for (size_t k = 0; k < sheet.cells.size(); k++)
            texts += sheet.TextOf(k) != nullptr;
    }
    if (texts != doc.liveStrings)
        FuzzViolated("a string of the module is left beside the cells' texts");
    if (!doc.sheets.empty()) {
        for (const tabulon::PlacedCell &c : tabulon::Placed(doc.sheets.back())) {
            if (!outcome.cells.empty())
                outcome.cells += "|";
            outcome.cells += tabulon::CellName(c.row, c.col) + "=" + c.text;
        }
    }
    return outcome;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    FuzzSetup();
    Workspace();
    uint8_t options = data[0], codeset = data[2];
    uint64 failAt = (options & 0x80) ? (uint64)data[1] + 1 : 0;
    std::string_view rest((const char *)data + 3, std::min(size, MostInput) - 3);

    std::string why;
    if (!bookgen::WriteZip(book, Members(options, rest), &why, options & 0x01))
        FuzzViolated("the workbook cannot be written", why);
    Outcome clean = Import(codeset, 0);
    if (failAt != 0) {
        Outcome faulty = Import(codeset, failAt);
        if (faulty.rc == 0 && (clean.rc != 0 || faulty.cells != clean.cells))
            FuzzViolated("a failing call changed the imported cells",
                         platform::FailedCall() != nullptr ? platform::FailedCall() : "");
    }
    platform::Reset();
    return 0;
}
