// The system stand-in as the host and the tests see it: the interface instances handed to
// the module, the assigns, the library registry, fault injection and resource counters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/services.h"
#include "platform/charsets.h"
#include "sdk/diskfont.h"
#include "sdk/dos.h"
#include "sdk/exec.h"
#include "sdk/intuition.h"
#include "sdk/locale.h"
#include "sdk/utility.h"

namespace platform {

extern ExecIFace      exec;
extern DOSIFace       dos;
extern UtilityIFace   utility;
extern LocaleIFace    locale;
extern IntuitionIFace intuition;
extern GadToolsIFace  gadtools;
// Handed out by GetInterface on diskfont.library; here for the tests.
extern DiskfontIFace  diskfont;

// Trace lines of DebugPrintF are made only while tracing is set: on stderr, or appended to
// traceCapture while that is set.
extern bool         tracing;
extern std::string *traceCapture;

// Faults are plain data that a test sets and the stand-in reads.
struct Faults {
    uint32      allocFailsAt = 0;        // the n-th AllocVecTags from now returns NULL; 0: never
    const char *openFails    = nullptr;  // FOpen of a name ending in this returns ZERO
    const char *commandFails = nullptr;  // SystemTags of a command starting with this
    int32       commandRc    = RETURN_ERROR;  //   returns this and runs nothing
    const char *libraryFails = nullptr;  // OpenLibrary of this name returns NULL
    BOOL        interfaceFails = FALSE;  // GetInterface returns NULL
    BOOL        localeFails  = FALSE;    // OpenLocale returns NULL
    BOOL        noCharsetMap = FALSE;    // ObtainCharsetInfo returns 0
    BOOL        pathFails    = FALSE;    // DevNameFromFH fails
    BOOL        createDirFails = FALSE;  // CreateDir returns ZERO
    int32       staleIoErr   = 0;        // what a dos call that succeeds leaves for IoErr; 0: as it was
    uint64      failAt       = 0;        // the n-th call that can fail, from now, fails; 0: never
};
extern Faults faults;

// Every call of the system or the host that can fail counts here, from the module and from
// c:unzip alike; TRUE when this one is to fail (faults.failAt). what names it.
bool Fails(const char *what);
uint64      FallibleCalls();    // counted since the start
const char *FailedCall();       // what failed at faults.failAt; NULL while nothing did
void        ForgetFailure();    // FailedCall is NULL again

// One memory budget for the host's services and the system's allocator, as a machine has
// one memory: 2 GiB, or SHEAF_MAX_MEMORY (with K, M or G). Take fails past it.
bool   TakeMemory(uint64 bytes);
void   GiveMemory(uint64 bytes);
uint64 MemoryInUse();
bool   MemoryRanOut();          // a Take was refused since the start
void   LoadMemoryBudget();      // reads the environment

// Memory in whole huge pages (HUGE_PAGE bytes, aligned to one) for big stores and buffers,
// outside the budget; what is given back is kept for the next taker, not cleared. Sizes
// are rounded up to whole pages, and Give takes the size Take was given. NULL: no memory.
inline constexpr size_t HUGE_PAGE = 2u << 20;
void  *TakeHugePages(size_t size);
void   GiveHugePages(void *memory, size_t size);
size_t KeptHugePages();         // bytes kept for the next taker
void   ReleaseHugePages();      // gives the kept ones back to the machine

// Back to a fresh system: no faults, default libraries and code set, the unzip limits
// of the environment, no unzip refusal, no huge pages kept; counters and tracing kept.
void Reset();
// SHEAF_STALE_IOERR=CODE: every dos call that succeeds leaves CODE for IoErr, as the
// system may; read into faults.staleIoErr.
void LoadStaleIoErr();

// Library registry: "utility.library" 54, "diskfont.library" 50 and "dos.library" 54 by
// default. A negative version removes the library.
void SetLibraryVersion(const char *name, int version, int revision = 0);
bool LibraryAtLeast(const char *name, int version, int revision);

// Assigns. "T:" is a private directory of the user unless SHEAF_TMP names one; "c:" holds
// the stand-in's commands. SetAssign points an assign at a directory of this machine.
void        SetAssign(const char *name, const std::string &dir);
std::string AssignDir(const char *name);
// The path of this machine for a system path ("T:XLS/a" -> "<dir of T:>/XLS/a"); a path
// without an assign is taken as it stands.
std::string HostPath(const char *path);
bool        Exists(const char *path);
// Makes a fresh private directory for T: (mode 0700) and returns it; RemoveTemp deletes it.
std::string MakePrivateTemp();
void        RemoveTemp(const std::string &dir);
// T: is a private directory of this process from the first call on, removed at its exit.
void        UsePrivateTemp();

// Hands a module the system's interfaces, as the host does once it has loaded it: init is
// the module's InitModule, services the host's table. init's result.
BOOL StartModule(InitModule_t init, IOType *io, APTR *services);

// Code sets: the single-byte charsets of charsets.h by their MIBenum numbers, which the
// locale gives as loc_CodeSet, with maps decoded by iconv.
void         SetCodeSet(ULONG codeset);
ULONG        CodeSet();
// The code set of an IANA name, an alias or any other name iconv knows for the same map;
// 0 when there is none, and *why (when given) says why: "is unknown", "is not single-byte".
ULONG        CodeSetByName(const char *name, const char **why = nullptr);
const char  *CodeSetName(ULONG codeset);         // the IANA name, or NULL
std::vector<std::string> CodeSetNames();         // every IANA name, in a fixed order
const ULONG *CharsetMap(ULONG codeset);          // 256 code points (UNMAPPED among them), or NULL

// Splits a command line as the shell does: blanks between words; in double quotes
// blanks are kept and *" ** *n *e stand for a quote, an asterisk, a newline and ESC.
// FALSE for an unterminated quote.
BOOL SplitCommandLine(const char *line, std::vector<std::string> *words);

// A read-only handle over a copy of text, for scanner tests; close it with dos.FClose.
BPTR MemoryFile(std::string_view text, int32 bufsize = 1024);

// Resources held right now, so a test can see a leak.
int    OpenFiles();
int    HeldMemory();        // blocks from AllocVecTags not yet freed
int    HeldPools();         // pools from CreatePool not yet deleted
int    OpenLibraries();
int    HeldInterfaces();
int    OpenLocales();
int    HeldLocks();
int    ParsedArgs();        // ReadArgs results not yet given back with FreeArgs
// What of the above is held, as "a file is left open" and the like; nullptr when nothing is.
const char *HeldResource();
// System calls that read from or position a file, since the start; a memory file's
// window fills count as reads.
uint64 FileSystemCalls();

// Limits of the unzip command; SHEAF_UNZIP_MAX_BYTES, SHEAF_UNZIP_MAX_MEMBERS and
// SHEAF_UNZIP_MAX_RATIO override the defaults.
struct UnzipLimits {
    uint64 maxBytes   = 1ull << 30;    // unpacked, all members together
    uint32 maxMembers = 10000;
    uint32 maxRatio   = 500;           // unpacked over packed, per member ...
    uint64 ratioFrom  = 16ull << 20;   // ... once it has unpacked this much
};
extern UnzipLimits unzipLimits;
void LoadUnzipLimits();     // reads the environment

// What the last unzip made of its archive, for the host's diagnosis: why is NULL when it
// unpacked every member or has not run since Reset(). device and inode name the archive
// (both 0 when it could not be opened).
struct UnzipRefusal {
    uint64      device = 0, inode = 0;
    const char *why    = nullptr;    // a fixed text: "parent directory", "central directory cut"
    std::string member;              // the member at fault as the archive names it, or empty
};
const UnzipRefusal &LastUnzipRefusal();

}  // namespace platform
