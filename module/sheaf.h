// The module's entry: InitModule keeps the host's services and the system's interfaces,
// and every import first refreshes the start-up data.
#pragma once

#include "host/services.h"
#include "sdk/proto.h"

extern "C" BOOL InitModule(IOType *io, APTR *functable, APTR mainpool, ExecIFace *execIF,
                           DOSIFace *dosIF, UtilityIFace *utilIF, LocaleIFace *localeIF,
                           IntuitionIFace *intuiIF, GadToolsIFace *gadtIF, APTR mathBase,
                           APTR mathtransBase, long magic);
// Run as a command, the module file returns 20. Its link name keeps clear of the C
// runtime's entry when the module's code is linked into a program.
extern "C" LONG _start(void) __asm__("sheaf_start");

// Checks the system and refreshes the charset map; FALSE when the import cannot go on.
BOOL GetImportantData(void);
LONG save(BPTR file, Mappe *mp);
