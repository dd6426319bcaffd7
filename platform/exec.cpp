// exec of the stand-in: trace output, lists, tagged allocations, the library registry and
// the interfaces it hands out.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/internal.h"

namespace platform {

bool   tracing = false;
Faults faults;

static int heldMemory, openLibraries, heldInterfaces, heldPools;

// Switched off, a trace line costs the test of one flag: nothing is formatted.
void Trace(const char *format, ...)
{
    if (!tracing)
        return;
    va_list ap;
    va_start(ap, format);
    vfprintf(stderr, format, ap);
    va_end(ap);
}

static void NewList(List *list)
{
    list->lh_Head     = (Node *)&list->lh_Tail;
    list->lh_Tail     = nullptr;
    list->lh_TailPred = (Node *)&list->lh_Head;
}

static void AddTail(List *list, Node *node)
{
    Node *last = list->lh_TailPred;
    node->ln_Succ     = (Node *)&list->lh_Tail;
    node->ln_Pred     = last;
    last->ln_Succ     = node;
    list->lh_TailPred = node;
}

static void Remove(Node *node)
{
    node->ln_Pred->ln_Succ = node->ln_Succ;
    node->ln_Succ->ln_Pred = node->ln_Pred;
}

// A block carries its size and a mark in front, so FreeVec can tell a foreign pointer.
struct BlockHeader {
    uint64 size;
    uint64 mark;
};
static const uint64 LiveMark = 0x5368656166566563ull;   // "SheafVec"
static const uint64 DeadMark = 0x4672656564566563ull;

// size bytes, cleared to the AVT_ClearWithValue byte when that tag is given and filled
// with junk otherwise, so code relying on zeroed memory shows up in the tests.
static APTR AllocVecTags(uint32 size, uint32 tag1, ...)
{
    BOOL clear = FALSE;
    uint32 value = 0;
    va_list ap;
    va_start(ap, tag1);
    for (uint32 tag = tag1; tag != TAG_DONE; tag = va_arg(ap, uint32)) {
        uint32 data = va_arg(ap, uint32);
        if (tag == AVT_ClearWithValue) {
            clear = TRUE;
            value = data;
        }
    }
    va_end(ap);

    if (faults.allocFailsAt != 0 && --faults.allocFailsAt == 0)
        return nullptr;
    if (size == 0)      // what the system gives for nothing is not written down: nothing
        return nullptr;
    if (Fails("AllocVecTags") || !TakeMemory(size))
        return nullptr;
    size_t whole = sizeof(BlockHeader) + size;
    auto *block = (BlockHeader *)(whole >= HUGE_PAGE ? TakeHugePages(whole) : malloc(whole));
    if (block == nullptr) {
        GiveMemory(size);
        return nullptr;
    }
    block->size = size;
    block->mark = LiveMark;
    memset(block + 1, clear ? (int)(value & 0xFF) : 0xA5, size);
    heldMemory++;
    return block + 1;
}

static void FreeVec(APTR memory)
{
    if (memory == nullptr)
        return;
    BlockHeader *block = (BlockHeader *)memory - 1;
    if (block->mark != LiveMark) {
        fprintf(stderr, "FreeVec: %p is not a live block\n", memory);
        abort();
    }
    block->mark = DeadMark;
    heldMemory--;
    GiveMemory(block->size);
    size_t whole = sizeof(BlockHeader) + block->size;
    if (whole >= HUGE_PAGE)
        GiveHugePages(block, whole);
    else
        free(block);
}

// A pool hands out blocks from big puddles, never one heap block each; puddles of 2 MiB and
// more are huge pages, since on these machines the first touch of every small page is dear.
// Memory comes back with the pool.
struct Pool {
    uint64              mark;
    uint32              puddle, thresh;
    std::vector<std::pair<void *, size_t>> chunks;
    uint64              bytes = 0;     // drawn on the budget
    char               *next = nullptr, *end = nullptr, *last = nullptr;
    uint32              lastSize = 0;  // what was asked for last
};
static const uint64 PoolMark = 0x5368656166506f6full;   // "SheafPool"

static Pool *PoolOf(APTR header)
{
    Pool *pool = (Pool *)header;
    if (pool == nullptr || pool->mark != PoolMark) {
        fprintf(stderr, "pool: %p is not a live pool\n", header);
        abort();
    }
    return pool;
}

static void *NewChunk(Pool *pool, size_t size)
{
    if (!TakeMemory(size))
        return nullptr;
    void *chunk = size >= HUGE_PAGE ? TakeHugePages(size) : malloc(size);
    if (chunk == nullptr) {
        GiveMemory(size);
        return nullptr;
    }
    pool->chunks.push_back({chunk, size});
    pool->bytes += size;
    return chunk;
}

static APTR CreatePool(uint32, uint32 puddleSize, uint32 threshSize)
{
    if (puddleSize == 0 || threshSize > puddleSize || Fails("CreatePool"))
        return nullptr;
    Pool *pool = new Pool;
    pool->mark = PoolMark;
    pool->puddle = puddleSize;
    pool->thresh = threshSize;
    heldPools++;
    return pool;
}

static void DeletePool(APTR header)
{
    if (header == nullptr)
        return;
    Pool *pool = PoolOf(header);
    for (auto [chunk, size] : pool->chunks)
        if (size >= HUGE_PAGE)
            GiveHugePages(chunk, size);
        else
            free(chunk);
    GiveMemory(pool->bytes);
    pool->mark = 0;
    delete pool;
    heldPools--;
}

// Blocks are aligned for a pointer and no more: 4 bytes on the target, as the system
// promises there.
static APTR AllocPooled(APTR header, uint32 size)
{
    Pool *pool = PoolOf(header);
    size_t want = ((size_t)size + sizeof(void *) - 1) & ~(sizeof(void *) - 1);
    if (size == 0 || Fails("AllocPooled"))
        return nullptr;
    if (size > pool->thresh)
        return NewChunk(pool, want);
    if ((size_t)(pool->end - pool->next) < want) {
        char *puddle = (char *)NewChunk(pool, pool->puddle);
        if (puddle == nullptr)
            return nullptr;
        pool->next = puddle;
        pool->end = puddle + pool->puddle;
    }
    pool->last = pool->next;
    pool->lastSize = size;
    pool->next += want;
    return pool->last;
}

static bool InPool(const Pool *pool, const char *memory)
{
    for (auto [chunk, size] : pool->chunks)
        if (memory >= (const char *)chunk && memory < (const char *)chunk + size)
            return true;
    return false;
}

// Only the newest block goes back before the pool does; it is the one a failing step frees.
// The system needs the size that was allocated and a block of this pool: anything else
// stops here.
static void FreePooled(APTR header, APTR memory, uint32 size)
{
    Pool *pool = PoolOf(header);
    if (memory == nullptr)
        return;
    if (!InPool(pool, (const char *)memory) || (memory == pool->last && size != pool->lastSize)) {
        fprintf(stderr, "FreePooled: %p of %u bytes is not a block of pool %p\n", memory,
                (unsigned)size, header);
        abort();
    }
    if (memory == pool->last) {
        pool->next = pool->last;
        pool->last = nullptr;
    }
}

// Overlapping blocks are not promised to copy right on the system: here they stop.
static void CopyMem(CONST_APTR source, APTR dest, uint32 size)
{
    MustNotOverlap("CopyMem", source, dest, size);
    if (size != 0)
        memcpy(dest, source, size);
}

// The registry. Entries are never erased, so a Library handed out stays valid; a removed
// library keeps its entry with a negative version.
struct LibraryEntry {
    Library     base{};
    std::string name;
    int         version = -1;
};

static std::map<std::string, LibraryEntry> &Libraries()
{
    static std::map<std::string, LibraryEntry> libraries;
    static bool filled = false;
    if (!filled) {
        filled = true;
        ResetLibraries();
    }
    return libraries;
}

void SetLibraryVersion(const char *name, int version, int revision)
{
    LibraryEntry &entry = Libraries()[name];
    entry.name    = name;
    entry.version = version;
    entry.base.lib_Node.ln_Name = entry.name.data();
    entry.base.lib_Version  = version < 0 ? 0 : (UWORD)version;
    entry.base.lib_Revision = (UWORD)revision;
    entry.base.lib_IdString = entry.name.c_str();
}

void ResetLibraries()
{
    for (auto &[name, entry] : Libraries())
        SetLibraryVersion(name.c_str(), -1);
    SetLibraryVersion("utility.library", 54);
    SetLibraryVersion("diskfont.library", 50);
    SetLibraryVersion("dos.library", 54);
}

bool LibraryAtLeast(const char *name, int version, int revision)
{
    auto it = Libraries().find(name);
    if (it == Libraries().end() || it->second.version < 0)
        return false;
    const Library &base = it->second.base;
    return base.lib_Version > version || (base.lib_Version == version && base.lib_Revision >= revision);
}

static Library *OpenLibrary(CONST_STRPTR name, uint32 version)
{
    if (name == nullptr)
        return nullptr;
    if (faults.libraryFails != nullptr && strcmp(faults.libraryFails, name) == 0)
        return nullptr;
    if (Fails("OpenLibrary"))
        return nullptr;
    auto it = Libraries().find(name);
    if (it == Libraries().end() || it->second.version < 0 || (uint32)it->second.version < version)
        return nullptr;
    openLibraries++;
    return &it->second.base;
}

static void CloseLibrary(Library *library)
{
    if (library != nullptr)
        openLibraries--;
}

// Only the main interfaces of the libraries the module opens itself.
static Interface *GetInterface(Library *library, CONST_STRPTR name, uint32 version,
                               const TagItem *)
{
    if (library == nullptr || faults.interfaceFails || name == nullptr
        || strcmp(name, "main") != 0 || version > 1 || Fails("GetInterface"))
        return nullptr;
    const char *libName = library->lib_Node.ln_Name;
    InterfaceData *iface = nullptr;
    if (strcmp(libName, "diskfont.library") == 0)
        iface = &diskfont.Data;
    else if (strcmp(libName, "utility.library") == 0)
        iface = &utility.Data;
    if (iface == nullptr)
        return nullptr;
    iface->LibBase = library;
    iface->RefCount++;
    heldInterfaces++;
    return (Interface *)iface;
}

static void DropInterface(Interface *iface)
{
    if (iface == nullptr)
        return;
    iface->Data.RefCount--;
    heldInterfaces--;
}

ExecIFace exec = {
    .Data          = {.Link = {}, .LibBase = nullptr, .RefCount = 1, .Version = 1},
    .DebugPrintF   = DebugPrintF,
    .NewList       = NewList,
    .AddTail       = AddTail,
    .Remove        = Remove,
    .AllocVecTags  = AllocVecTags,
    .FreeVec       = FreeVec,
    .CopyMem       = CopyMem,
    .OpenLibrary   = OpenLibrary,
    .CloseLibrary  = CloseLibrary,
    .GetInterface  = GetInterface,
    .DropInterface = DropInterface,
    .CreatePool    = CreatePool,
    .DeletePool    = DeletePool,
    .AllocPooled   = AllocPooled,
    .FreePooled    = FreePooled,
};

IntuitionIFace intuition = {.Data = {.Link = {}, .LibBase = nullptr, .RefCount = 1, .Version = 1}};
GadToolsIFace  gadtools  = {.Data = {.Link = {}, .LibBase = nullptr, .RefCount = 1, .Version = 1}};

const char *HeldResource()
{
    static const struct { int (*count)(); const char *what; } kinds[] = {
        { OpenFiles, "a file is left open" },         { HeldMemory, "memory is left held" },
        { HeldPools, "a pool is left held" },          { OpenLibraries, "a library is left open" },
        { HeldInterfaces, "an interface is left held" }, { OpenLocales, "a locale is left open" },
        { HeldLocks, "a lock is left held" },           { ParsedArgs, "parsed arguments are left held" },
    };
    for (const auto &kind : kinds)
        if (kind.count() != 0)
            return kind.what;
    return nullptr;
}

int HeldMemory()
{
    return heldMemory;
}

int HeldPools()
{
    return heldPools;
}

int OpenLibraries()
{
    return openLibraries;
}

int HeldInterfaces()
{
    return heldInterfaces;
}

}  // namespace platform
