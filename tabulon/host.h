// The headless host: a document of pages and cells, the 17 services, the loader that opens
// a module file as the real host does, and the views of a page.
#pragma once

#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/services.h"
#include "platform/platform.h"

namespace tabulon {

// Memory of the host in chunks of whole huge pages: a million records cost a few page faults
// where a heap block each would cost one for every few cells; pages c:unzip gave back cost
// none.
void  *TakeChunk(size_t size);
void   GiveChunk(void *chunk, size_t size);
inline constexpr size_t CHUNK_SIZE = platform::HUGE_PAGE;

// A cell as the host keeps it: its place and its text (NULL: none).
struct StoredCell {
    ULONG       row, col;
    const char *text;
};

// How the module made a cell look, kept only for the cells it changed.
struct CellLook {
    FontInfo *font;
    ULONG     apen, bpen, reservedpen;
};

// A page's cells in the order the module made them, in chunks that never move.
class CellStore {
public:
    // Known here, so that finding a cell is a shift and a mask, not a division.
    static constexpr size_t PER_CHUNK = CHUNK_SIZE / sizeof(StoredCell);
    CellStore() = default;
    CellStore(CellStore &&other) noexcept;
    CellStore &operator=(CellStore &&other) noexcept;
    ~CellStore();
    size_t size() const { return count_; }
    bool   empty() const { return count_ == 0; }
    const StoredCell &operator[](size_t i) const { return chunks_[i / PER_CHUNK][i % PER_CHUNK]; }
    StoredCell &operator[](size_t i) { return chunks_[i / PER_CHUNK][i % PER_CHUNK]; }
    StoredCell *Add(ULONG row, ULONG col);    // a new last cell; NULL when no memory is left
private:
    std::vector<StoredCell *> chunks_;
    size_t count_ = 0;
};

// One page. NewCell lends the module one Cell record and takes its text and look into the
// store when the module asks for the next cell, or when the cells are read: a cell costs
// its place and its text, not a whole record.
struct Sheet {
    Page page{};
    Cell lent{};
    bool lending = false;
    CellStore cells;                    // read them through Cells()
    std::map<size_t, CellLook> looks;   // by index, for the cells whose look changed
    void Settle();                      // takes the lent record in
    // The text of cell i, the lent record's too; NULL when it has none.
    const char *TextOf(size_t i) const
    {
        return lending && i + 1 == cells.size() ? lent.c_Text : cells[i].text;
    }
    Cell At(size_t i) const;            // the record of cell i as the module left it
};

// Host strings: bump allocation in big chunks, so a cell's text costs its bytes and a NUL;
// strings given back are kept by size and handed out again.
class StringArena {
public:
    StringArena() = default;
    StringArena(StringArena &&other) noexcept;    // the chunks, and the texts, stay put
    StringArena &operator=(StringArena &&other) noexcept;
    ~StringArena();
    char  *Copy(const char *text, size_t length);     // NUL-terminated copy of length bytes
    void   Release(char *text, size_t length);         // length: as given to Copy
    size_t HeldBytes() const { return held_; }         // chunks taken, in bytes
private:
    static const size_t REUSED = 256;                  // freed strings of 8 to 256 bytes
    std::vector<std::pair<void *, size_t>> chunks_;
    char  *next_ = nullptr, *end_ = nullptr;
    size_t held_ = 0;
    char  *freed_[REUSED + 1] = {};                    // by size; each holds the next one
};

// The document (Mappe) with its pages and the strings the services handed out.
struct Document {
    Document() = default;
    Document(Document &&other) noexcept;              // the pages follow to the new place
    Document &operator=(Document &&other) noexcept;
    ~Document();                  // stops being the current document
    std::deque<Sheet> sheets;
    long liveStrings = 0;         // AllocString minus FreeString
    size_t memory = 0;            // of the machine's budget, given back with the document
    long cellFailsAt = 0;         // the n-th NewCell from now returns NULL; 0: never
    bool pageFails = false;       // NewPage returns NULL
    StringArena strings;
};

// The services in table order; the document they act on is the current one.
APTR *ServiceTable();
void  SetCurrentDocument(Document *doc);

// A cell as the views see it: position and text, later placements of a position winning.
struct PlacedCell {
    ULONG       row, col;
    const char *text;             // 8-bit, in the host's charset
};
std::vector<PlacedCell> Placed(const Sheet &sheet);   // row-major, one per position
// Whether cells are already what Placed makes of them: each has a place and follows the one
// before it in row-major order.
bool RowMajor(const CellStore &cells);

// The module file, loaded and initialised as the host does it.
class Module {
public:
    ~Module();
    // Opens the file, checks its entries and calls InitModule. Empty on success, else why.
    std::string Open(const std::string &path);
    // Imports a workbook into doc through io_Load; the module's result (0 or 20).
    LONG Import(const std::string &book, Document &doc);
    // Hands a preferences text to the module's io_SetPrefs; its answer (1 taken, 0 not).
    LONG SetPrefs(const std::string &text);
    IOType &io() { return io_; }
private:
    void  *handle_ = nullptr;
    IOType io_{};
};

// The default module file: beside the sheaf command, else in ../lib/sheaf/ from it, else
// where the build put it.
std::string DefaultModulePath(const char *argv0);

// Why a workbook that failed to import failed, in a few words ("not a ZIP workbook"). Called
// after the import: what the unzip command refused is taken from its record of that run.
std::string Diagnose(const std::string &book);
// The cheap part of it, before an import: empty when book is a regular readable file.
std::string PreCheck(const std::string &book);

// Views. codeset converts the host's 8-bit texts to UTF-8.
enum class Format { Grid, Csv, Tsv, Jsonl };
// name: the page's sheet name (8-bit), for the "sheet" field of each JSON line; NULL: none.
void Show(const Sheet &sheet, Format format, ULONG codeset, FILE *out, int width,
          const char *name = nullptr);
std::string ToUtf8(const char *text, ULONG codeset);

// The module's preferences for one sheet by name or number (UTF-8): SHEET="..." in the
// charset of codeset with the system's escapes; empty when a character is not in it.
std::string SheetPrefs(const std::string &name, ULONG codeset);
// The file a page goes to under --output-dir: its sheet's name (page<n> when it has none)
// with "/" and control characters as "_" and no leading dot, then ext; numbered on when a
// name is taken already, letter case aside.
std::string PageFileName(const Sheet &sheet, size_t index, ULONG codeset,
                         std::set<std::string> &taken, const char *ext);
// The reason an import of sheet wanted failed when list (the module's list of the sheets)
// shows that there is no such worksheet: one line naming it and the worksheets there are;
// empty when there is one.
std::string MissingSheet(const std::string &wanted, const Sheet &list, ULONG codeset);
std::string CellName(ULONG row, ULONG col);

}  // namespace tabulon
