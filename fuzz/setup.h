// Wires the module's code to the stand-in once, for the fuzz targets.
#pragma once

#include "module/globals.h"
#include "platform/platform.h"
#include "tabulon/tabulon.h"

static void FuzzSetup()
{
    static IOType io;
    static bool done = false;
    if (done)
        return;
    done = true;
    InitModule(&io, tabulon::ServiceTable(), nullptr, &platform::exec, &platform::dos,
               &platform::utility, &platform::locale, &platform::intuition, &platform::gadtools,
               nullptr, nullptr, 0);
    IExec->CopyMem(platform::CharsetMap(CODESET_ISO_8859_1), ucsmap, sizeof(ucsmap));
}
