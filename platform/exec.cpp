// exec of the stand-in: trace output, lists, tagged allocations, the library registry and
// the interfaces it hands out.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "platform/internal.h"

namespace platform {

bool   tracing = false;
Faults faults;

static int heldMemory, openLibraries, heldInterfaces;

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

// The module's trace lines go the same way as the stand-in's own.
static void (*const DebugPrintF)(CONST_STRPTR format, ...) = Trace;

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
static APTR AllocVecTags(uint32 size, ...)
{
    BOOL clear = FALSE;
    uint32 value = 0;
    va_list ap;
    va_start(ap, size);
    for (;;) {
        uint32 tag = va_arg(ap, uint32);
        if (tag == TAG_DONE)
            break;
        uint32 data = va_arg(ap, uint32);
        if (tag == AVT_ClearWithValue) {
            clear = TRUE;
            value = data;
        }
    }
    va_end(ap);

    if (faults.allocFailsAt != 0 && --faults.allocFailsAt == 0)
        return nullptr;
    if (Fails("AllocVecTags") || !TakeMemory(size))
        return nullptr;
    auto *block = (BlockHeader *)malloc(sizeof(BlockHeader) + size);
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
    free(block);
}

static void CopyMem(CONST_APTR source, APTR dest, uint32 size)
{
    if (size != 0)
        memmove(dest, source, size);
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

void SetLibraryVersion(const char *name, int version)
{
    LibraryEntry &entry = Libraries()[name];
    entry.name    = name;
    entry.version = version;
    entry.base.lib_Node.ln_Name = entry.name.data();
    entry.base.lib_Version  = version < 0 ? 0 : (UWORD)version;
    entry.base.lib_Revision = 0;
    entry.base.lib_IdString = entry.name.c_str();
}

void ResetLibraries()
{
    for (auto &[name, entry] : Libraries())
        SetLibraryVersion(name.c_str(), -1);
    SetLibraryVersion("utility.library", 54);
    SetLibraryVersion("diskfont.library", 50);
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
};

IntuitionIFace intuition = {.Data = {.Link = {}, .LibBase = nullptr, .RefCount = 1, .Version = 1}};
GadToolsIFace  gadtools  = {.Data = {.Link = {}, .LibBase = nullptr, .RefCount = 1, .Version = 1}};

int HeldMemory()
{
    return heldMemory;
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
