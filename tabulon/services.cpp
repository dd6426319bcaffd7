// The host's 17 services in table order, acting on the current document. NewPage, NewCell,
// AllocString, FreeString and ChangeFontInfoA do real work; the rest answer harmlessly.
#include "tabulon/host.h"

#include <cstring>
#include <utility>

#include "platform/platform.h"

namespace tabulon {

static Document *current;
static Document  loose;      // strings asked for while no document is current

static Document *Current()
{
    return current != nullptr ? current : &loose;
}

char *StringArena::Copy(const char *text, size_t length)
{
    size_t size = length + 1;
    char *copy;

    if (size >= sizeof(char *) && size <= REUSED && freed_[size] != nullptr) {
        copy = freed_[size];
        memcpy(&freed_[size], copy, sizeof(char *));
    } else if (size > CHUNK_SIZE / 4) {
        // A big text gets a chunk of its own and leaves the current one to the small ones.
        if ((copy = (char *)TakeChunk(size)) == nullptr)
            return nullptr;
        chunks_.push_back({copy, size});
        held_ += size;
    } else {
        if (size > (size_t)(end_ - next_)) {
            if ((next_ = (char *)TakeChunk(CHUNK_SIZE)) == nullptr)
                return nullptr;
            chunks_.push_back({next_, CHUNK_SIZE});
            held_ += CHUNK_SIZE;
            end_ = next_ + CHUNK_SIZE;
        }
        copy = next_;
        next_ += size;
    }
    memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

void StringArena::Release(char *text, size_t length)
{
    size_t size = length + 1;
    if (text == nullptr || size < sizeof(char *) || size > REUSED)
        return;     // kept until the document goes
    memcpy(text, &freed_[size], sizeof(char *));
    freed_[size] = text;
}

StringArena::StringArena(StringArena &&other) noexcept
{
    *this = std::move(other);
}

StringArena &StringArena::operator=(StringArena &&other) noexcept
{
    if (this != &other) {
        for (auto &[chunk, size] : chunks_)
            GiveChunk(chunk, size);
        chunks_ = std::move(other.chunks_);
        next_ = other.next_;
        end_ = other.end_;
        held_ = other.held_;
        memcpy(freed_, other.freed_, sizeof(freed_));
        other.chunks_.clear();
        other.next_ = other.end_ = nullptr;
        other.held_ = 0;
        memset(other.freed_, 0, sizeof(other.freed_));
    }
    return *this;
}

StringArena::~StringArena()
{
    for (auto &[chunk, size] : chunks_)
        GiveChunk(chunk, size);
}

Document::Document(Document &&other) noexcept
{
    *this = std::move(other);
}

Document &Document::operator=(Document &&other) noexcept
{
    if (this == &other)
        return *this;
    platform::GiveMemory(memory);
    sheets = std::move(other.sheets);
    memory = other.memory;
    other.memory = 0;
    liveStrings = other.liveStrings;
    cellFailsAt = other.cellFailsAt;
    pageFails = other.pageFails;
    strings = std::move(other.strings);
    other.sheets.clear();
    other.liveStrings = 0;
    // NewCell finds a page's document through pg_Mappe.
    for (Sheet &sheet : sheets)
        sheet.page.pg_Mappe = (Mappe *)this;
    if (current == &other)
        current = this;
    return *this;
}

Document::~Document()
{
    platform::GiveMemory(memory);
    if (current == this)
        current = nullptr;
}

// Draws on the machine's memory for the document; false when the budget is spent.
static bool Take(Document *doc, size_t bytes)
{
    if (!platform::TakeMemory(bytes))
        return false;
    doc->memory += bytes;
    return true;
}

void SetCurrentDocument(Document *doc)
{
    current = doc;
}

static void ReportErrorA(CONST_STRPTR, APTR)
{
}

// A new sheet at the end of the document, or NULL when the document refuses pages.
static Page *NewPage(Mappe *mp)
{
    Document *doc = mp != nullptr ? (Document *)mp : Current();
    if (doc->pageFails || platform::Fails("NewPage") || !Take(doc, sizeof(Sheet)))
        return nullptr;
    Sheet &sheet = doc->sheets.emplace_back();
    sheet.page.pg_Mappe = (Mappe *)doc;
    sheet.page.pg_DPI = 72;
    return &sheet.page;
}

static void CalculatePageDPI(Page *)
{
}

static Sheet *SheetOf(Page *page)
{
    Document *doc = (Document *)page->pg_Mappe;
    if (doc == nullptr)
        return nullptr;
    // The module fills the newest page, so the search ends at once.
    for (auto it = doc->sheets.rbegin(); it != doc->sheets.rend(); ++it)
        if (&it->page == page)
            return &*it;
    return nullptr;
}

// A cell at col, row of the page with default pens and no text; NULL when the document's
// countdown runs out.
static Cell *NewCell(Page *page, ULONG col, ULONG row)
{
    Sheet *sheet;
    if (page == nullptr || (sheet = SheetOf(page)) == nullptr)
        return nullptr;
    Document *doc = (Document *)page->pg_Mappe;
    if (doc->cellFailsAt > 0 && --doc->cellFailsAt == 0)
        return nullptr;
    if (platform::Fails("NewCell") || !Take(doc, sizeof(StoredCell)))
        return nullptr;
    sheet->Settle();
    if (sheet->cells.Add(row, col) == nullptr)
        return nullptr;
    sheet->lent = Cell{};
    sheet->lent.c_Col = col;
    sheet->lent.c_Row = row;
    sheet->lent.c_APen = 1;
    sheet->lending = true;
    if (col > page->pg_Cols)
        page->pg_Cols = col;
    if (row > page->pg_Rows)
        page->pg_Rows = row;
    return &sheet->lent;
}

static void UpdateCellText(Page *, Cell *)
{
}

static void SetTableSize(Page *page, ULONG cols, ULONG rows)
{
    if (page == nullptr)
        return;
    if (cols > page->pg_Cols)
        page->pg_Cols = cols;
    if (rows > page->pg_Rows)
        page->pg_Rows = rows;
}

static ULONG FindColorPen(UBYTE, UBYTE, UBYTE)
{
    return 0;
}

static colorPen *AddPen(ULONG, CONST_STRPTR)
{
    return nullptr;
}

// The cell's name in a static buffer, overwritten by the next call.
static STRPTR Coord2String(ULONG col, ULONG row)
{
    static char name[24];
    std::string text = CellName(row, col);
    size_t n = text.size() < sizeof(name) - 1 ? text.size() : sizeof(name) - 1;
    memcpy(name, text.data(), n);
    name[n] = '\0';
    return name;
}

static LONG pixel(Page *, LONG, BOOL)
{
    return 0;
}

static LONG mm(Page *, LONG, BOOL)
{
    return 0;
}

static STRPTR CopyString(CONST_STRPTR text, size_t length)
{
    Document *doc = Current();
    char *copy;
    if (platform::Fails("AllocString") || !Take(doc, length + 1))
        return nullptr;
    if ((copy = doc->strings.Copy(text, length)) == nullptr) {
        platform::GiveMemory(length + 1);
        doc->memory -= length + 1;
        return nullptr;
    }
    doc->liveStrings++;
    return copy;
}

static STRPTR AllocStringLength(CONST_STRPTR text, ULONG length)
{
    return text != nullptr ? CopyString(text, strnlen(text, length)) : nullptr;
}

static STRPTR AllocString(CONST_STRPTR text)
{
    return text != nullptr ? CopyString(text, strlen(text)) : nullptr;
}

static void FreeString(STRPTR text)
{
    if (text == nullptr)
        return;
    Document *doc = Current();
    size_t length = strlen(text);
    doc->liveStrings--;
    doc->strings.Release(text, length);
    platform::GiveMemory(length + 1);
    doc->memory -= length + 1 < doc->memory ? length + 1 : doc->memory;
}

static STRPTR ita(double, LONG, UBYTE)
{
    return nullptr;
}

// One font record serves every cell: the headless host draws nothing.
static FontInfo *ChangeFontInfoA(FontInfo *, ULONG, const TagItem *, UBYTE)
{
    alignas(16) static unsigned char font[64];
    return platform::Fails("ChangeFontInfoA") ? nullptr : (FontInfo *)font;
}

static Name *AddName(Mappe *, CONST_STRPTR, CONST_STRPTR, UBYTE, Page *)
{
    return nullptr;
}

APTR *ServiceTable()
{
    static APTR table[SVC_COUNT];

    SetService<SVC_ReportErrorA>(table, ReportErrorA);
    SetService<SVC_NewPage>(table, NewPage);
    SetService<SVC_CalculatePageDPI>(table, CalculatePageDPI);
    SetService<SVC_NewCell>(table, NewCell);
    SetService<SVC_UpdateCellText>(table, UpdateCellText);
    SetService<SVC_SetTableSize>(table, SetTableSize);
    SetService<SVC_FindColorPen>(table, FindColorPen);
    SetService<SVC_AddPen>(table, AddPen);
    SetService<SVC_Coord2String>(table, Coord2String);
    SetService<SVC_pixel>(table, pixel);
    SetService<SVC_mm>(table, mm);
    SetService<SVC_AllocStringLength>(table, AllocStringLength);
    SetService<SVC_AllocString>(table, AllocString);
    SetService<SVC_FreeString>(table, FreeString);
    SetService<SVC_ita>(table, ita);
    SetService<SVC_ChangeFontInfoA>(table, ChangeFontInfoA);
    SetService<SVC_AddName>(table, AddName);
    static_assert(SVC_COUNT == 17);
    return table;
}

}  // namespace tabulon
