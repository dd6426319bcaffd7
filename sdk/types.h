// Basic types of the system, as module code sees them.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int8_t   int8;
typedef uint8_t  uint8;
typedef int16_t  int16;
typedef uint16_t uint16;
typedef int32_t  int32;
typedef uint32_t uint32;
typedef int64_t  int64;
typedef uint64_t uint64;

typedef int8     BYTE;
typedef uint8    UBYTE;
typedef int16    WORD;
typedef uint16   UWORD;
typedef int32    LONG;
typedef uint32   ULONG;
typedef int16    BOOL;          // 16 bit, as on the target
typedef void    *APTR;
typedef const void *CONST_APTR;
typedef char    *STRPTR;
typedef const char *CONST_STRPTR;
typedef intptr_t BPTR;          // a handle or lock; ZERO is none

#ifndef TRUE
#define TRUE  1
#define FALSE 0
#endif
#define ZERO  ((BPTR)0)

// Tag lists. Tags and their values travel as 32-bit items, also through "..." calls.
typedef uint32 Tag;
struct TagItem {
    Tag       ti_Tag;
    uintptr_t ti_Data;
};
#define TAG_DONE 0u
#define TAG_END  0u
#define TAG_USER 0x80000000u
