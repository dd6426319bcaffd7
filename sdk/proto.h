// The system's interfaces as global pointers, the way the system's proto headers declare
// them for a program. A module's InitModule sets them from what the host hands over.
#pragma once

#include "sdk/diskfont.h"
#include "sdk/dos.h"
#include "sdk/exec.h"
#include "sdk/intuition.h"
#include "sdk/locale.h"
#include "sdk/utility.h"

extern ExecIFace    *IExec;
extern DOSIFace     *IDOS;
extern UtilityIFace *IUtility;
extern LocaleIFace  *ILocale;
