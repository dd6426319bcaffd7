// exec: lists, memory, libraries and interfaces, debug output.
#pragma once

#include "sdk/types.h"

struct Node {
    Node  *ln_Succ;
    Node  *ln_Pred;
    UBYTE  ln_Type;
    BYTE   ln_Pri;
    char  *ln_Name;
};

struct MinNode {
    MinNode *mln_Succ;
    MinNode *mln_Pred;
};

// The classic header: head and tail overlap two pseudo nodes, so a walk stops at the
// node whose ln_Succ is NULL.
struct List {
    Node  *lh_Head;
    Node  *lh_Tail;
    Node  *lh_TailPred;
    UBYTE  lh_Type;
    UBYTE  l_pad;
};

struct MinList {
    MinNode *mlh_Head;
    MinNode *mlh_Tail;
    MinNode *mlh_TailPred;
};

struct Library {
    Node        lib_Node;
    UWORD       lib_Version;
    UWORD       lib_Revision;
    CONST_STRPTR lib_IdString;
};

// Every interface starts with this block.
struct InterfaceData {
    Node     Link;
    Library *LibBase;
    uint32   RefCount;
    uint32   Version;
};

struct Interface {
    InterfaceData Data;
};

// AllocVecTags tags.
#define AVT_Dummy          TAG_USER
#define AVT_Type           (AVT_Dummy + 1)
#define AVT_ClearWithValue (AVT_Dummy + 6)

#define MEMF_ANY     0u
#define MEMF_PRIVATE (1u << 11)
#define MEMF_SHARED  (1u << 12)

struct ExecIFace {
    InterfaceData Data;
    void      (*DebugPrintF)(CONST_STRPTR format, ...) __attribute__((format(printf, 1, 2)));
    void      (*NewList)(List *list);
    void      (*AddTail)(List *list, Node *node);
    void      (*Remove)(Node *node);
    APTR      (*AllocVecTags)(uint32 size, uint32 tag1, ...);   // tag/value pairs, TAG_DONE last
    void      (*FreeVec)(APTR memory);
    void      (*CopyMem)(CONST_APTR source, APTR dest, uint32 size);
    Library  *(*OpenLibrary)(CONST_STRPTR name, uint32 version);
    void      (*CloseLibrary)(Library *library);
    Interface *(*GetInterface)(Library *library, CONST_STRPTR name, uint32 version,
                               const TagItem *tags);
    void      (*DropInterface)(Interface *iface);
    // Memory pools: blocks of up to threshSize come out of puddles of puddleSize bytes, and
    // DeletePool gives everything back at once.
    APTR      (*CreatePool)(uint32 memFlags, uint32 puddleSize, uint32 threshSize);
    void      (*DeletePool)(APTR poolHeader);
    APTR      (*AllocPooled)(APTR poolHeader, uint32 memSize);
    void      (*FreePooled)(APTR poolHeader, APTR memory, uint32 memSize);
};
