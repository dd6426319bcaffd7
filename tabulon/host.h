// The headless host: a document of pages and cells, the 17 services, the loader that opens
// a module file as the real host does, and the views of a page.
#pragma once

#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "host/services.h"

namespace tabulon {

// One page: its cells in the order the module made them.
struct Sheet {
    Page             page{};
    std::deque<Cell> cells;       // stable addresses: the module holds a Cell * for a while
};

// Host strings: bump allocation in big blocks, so a cell's text costs its bytes and a NUL.
// FreeString gives memory back only for the newest string; the rest goes with the document.
class StringArena {
public:
    StringArena() = default;
    StringArena(StringArena &&other) noexcept;    // the blocks, and the texts, stay put
    StringArena &operator=(StringArena &&other) noexcept;
    char  *Copy(const char *text, size_t length);     // NUL-terminated copy of length bytes
    bool   Release(char *text);                        // true when the bytes went back
    size_t HeldBytes() const { return held_; }         // blocks allocated, in bytes
private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    char  *next_ = nullptr, *end_ = nullptr, *last_ = nullptr;
    size_t held_ = 0;
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
bool RowMajor(const std::deque<Cell> &cells);

// The module file, loaded and initialised as the host does it.
class Module {
public:
    ~Module();
    // Opens the file, checks its entries and calls InitModule. Empty on success, else why.
    std::string Open(const std::string &path);
    // Imports a workbook into doc through io_Load; the module's result (0 or 20).
    LONG Import(const std::string &book, Document &doc);
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
void Show(const Sheet &sheet, Format format, ULONG codeset, FILE *out, int width);
std::string ToUtf8(const char *text, ULONG codeset);
std::string CellName(ULONG row, ULONG col);

}  // namespace tabulon
