// Wires the module's code to the stand-in once, for the fuzz targets.
#pragma once

#include "module/sheaf.h"
#include "xml/xml.h"
#include "platform/platform.h"
#include "tabulon/host.h"

static void FuzzSetup()
{
    static IOType io;
    static bool done = false;
    if (done)
        return;
    done = true;
    platform::StartModule(InitModule, &io, tabulon::ServiceTable());
    SetCharsetMap(platform::CharsetMap(CODESET_ISO_8859_1));
}
