// intuition and gadtools: handed to the module, never called by it.
#pragma once

#include "sdk/exec.h"

struct Screen;

struct IntuitionIFace {
    InterfaceData Data;
};

struct GadToolsIFace {
    InterfaceData Data;
};
