// What the stand-in's files share among themselves: counters, the shell's commands and
// the tree removal both `delete` and RemoveTemp use.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

// Counters behind OpenFiles(), HeldLocks() and FileSystemCalls().
extern int    openFiles;
extern int    heldLocks;
extern uint64 fileSystemCalls;

// What IoErr answers next.
void SetDosError(int32 code);

// The argument parsing of dos (readargs.cpp).
RDArgs *ReadArgs(CONST_STRPTR tmpl, intptr_t *array, RDArgs *args);
void    FreeArgs(RDArgs *args);
APTR    AllocDosObjectTags(uint32 type, ...);
void    FreeDosObject(uint32 type, APTR object);

// Libraries back to "utility.library" 54 and "diskfont.library" 50.
void ResetLibraries();

// Back to no unzip having run, for Reset().
void ForgetUnzipRefusal();
// Why the last c:unzip refused its archive; set by Unzip.
extern UnzipRefusal lastRefusal;

// Runs a parsed command line in process: its return code, RETURN_ERROR for an unknown
// command.
int32 RunCommand(const std::vector<std::string> &words);

// c:unzip "<archive>" -d <dir>: unzip.cpp with libarchive, nounzip.cpp where there is none.
int32 Unzip(const std::vector<std::string> &words);

// A directory below dirfd, opened without following a link; -1 with errno set.
int OpenDirBelow(int dirfd, const char *name);

// Removes a file, a link or a directory tree of this machine without following links.
// 0: removed, ENOENT: there was nothing, another errno: something stayed.
int RemoveTree(const std::string &hostPath);

// Reads the environment variable name as a positive number with an optional K, M or G
// (powers of 1024), at most most; anything else leaves *value alone.
void ReadSize(const char *name, uint64 *value, uint64 most);

// A trace line of the stand-in itself, under the same switch as DebugPrintF.
void Trace(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Copies between overlapping blocks have no promised result on the system: the stand-in
// stops with a message instead.
void MustNotOverlap(const char *call, const void *source, const void *dest, size_t size);

// exec's DebugPrintF: the module's trace lines, formatted by the system's rules.
void DebugPrintF(CONST_STRPTR format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace platform
