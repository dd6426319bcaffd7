// dos: buffered files, numbers, paths, directories and commands.
#pragma once

#include "sdk/exec.h"

#define MODE_OLDFILE   1005
#define MODE_NEWFILE   1006
#define MODE_READWRITE 1004

#define OFFSET_BEGINNING (-1)
#define OFFSET_CURRENT   0
#define OFFSET_END       1

#define DN_FULLPATH 1

// Return codes of commands.
#define RETURN_OK    0
#define RETURN_WARN  5
#define RETURN_ERROR 10
#define RETURN_FAIL  20

// IoErr codes.
#define ERROR_NO_FREE_STORE    103
#define ERROR_BAD_TEMPLATE     114
#define ERROR_BAD_NUMBER       115
#define ERROR_REQUIRED_ARG_MISSING 116
#define ERROR_KEY_NEEDS_ARG    117
#define ERROR_TOO_MANY_ARGS    118
#define ERROR_UNMATCHED_QUOTES 119
#define ERROR_LINE_TOO_LONG    120
#define ERROR_OBJECT_EXISTS    203
#define ERROR_DIR_NOT_FOUND    204
#define ERROR_OBJECT_NOT_FOUND 205
#define ERROR_OBJECT_WRONG_TYPE 212
#define ERROR_SEEK_ERROR       219
#define ERROR_DISK_FULL        221

// SystemTags tags. An input stream of ZERO opens NIL: only from dos.library 53.65.
#define SYS_Dummy  (TAG_USER + 32)
#define SYS_Input  (SYS_Dummy + 1)
#define SYS_Output (SYS_Dummy + 2)
#define SYS_Asynch (SYS_Dummy + 3)
#define SYS_Error  (SYS_Dummy + 6)

#define DOSTRUE (-1)

// AllocDosObject types.
#define DOS_RDARGS 5

// ReadArgs: the text to parse instead of the command line, ended by a line end.
struct CSource {
    STRPTR CS_Buffer;
    int32  CS_Length;
    int32  CS_CurChr;
};
struct RDArgs {
    CSource RDA_Source;
    int32   RDA_DAList;     // the system's
    STRPTR  RDA_Buffer;
    int32   RDA_BufSiz;
    STRPTR  RDA_ExtHelp;
    int32   RDA_Flags;
};
#define RDAF_STDIN    1
#define RDAF_NOALLOC  2
#define RDAF_NOPROMPT 4

struct DOSIFace {
    InterfaceData Data;
    BPTR   (*FOpen)(CONST_STRPTR name, int32 mode, int32 bufsize);
    int32  (*FClose)(BPTR file);
    int32  (*FGetC)(BPTR file);                       // 0..255, or -1 at the end
    int64  (*GetFilePosition)(BPTR file);             // -1 on failure
    // 0 on failure, also for a position past the end of the file.
    int32  (*ChangeFilePosition)(BPTR file, int64 position, int32 mode);
    // Characters read; -1 with value 0 when there is no digit or the number overflows.
    int32  (*StrToLong)(CONST_STRPTR string, int32 *value);
    int32  (*DevNameFromFH)(BPTR file, STRPTR buffer, int32 length, int32 mode);  // 0 on failure
    BPTR   (*CreateDir)(CONST_STRPTR name);           // an exclusive lock, or ZERO
    void   (*UnLock)(BPTR lock);
    // The command's return code, -1: no shell. Tag/value pairs, TAG_DONE last.
    int32  (*SystemTags)(CONST_STRPTR command, uint32 tag1, ...);
    uint32 (*FWrite)(BPTR file, CONST_APTR block, uint32 blocklen, uint32 number);  // blocks written
    // Why the last call that failed failed. A call that succeeds may leave anything here:
    // only a code a failure or the caller (SetIoErr) set is known.
    int32  (*IoErr)(void);
    // Reads number blocks of blocklen bytes; the number of whole blocks read, fewer at the
    // end of the file or on an error. IoErr tells which only after SetIoErr(0): still 0 at
    // the end. The block is cleared on entry.
    uint32 (*FRead)(BPTR file, APTR block, uint32 blocklen, uint32 number);
    int32  (*SetIoErr)(int32 code);                   // the code it replaces
    APTR   (*AllocDosObjectTags)(uint32 type, ...);   // NULL when memory ran out
    void   (*FreeDosObject)(uint32 type, APTR object);
    // Fills array by the template from args' source (one entry per template item, a pointer
    // wide: 32 bits on the target): a text, a pointer to the number of a /N, DOSTRUE for a
    // /S given; entries not given are left as they were. NULL on failure, IoErr tells why.
    // What it fills stays valid until FreeArgs.
    RDArgs *(*ReadArgs)(CONST_STRPTR tmpl, intptr_t *array, RDArgs *args);
    void   (*FreeArgs)(RDArgs *args);
};
