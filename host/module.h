// What a file-type module keeps of its host: the entries of the service table it calls, each
// as a global of the same name, which the module's InitModule sets. Module code only.
#pragma once

#include "host/services.h"

extern NewPage_t         NewPage;
extern NewCell_t         NewCell;
extern AllocString_t     AllocString;
extern ChangeFontInfoA_t ChangeFontInfoA;
