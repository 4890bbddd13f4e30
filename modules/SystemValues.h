// The system module's values that every module port shares (vendor, model, version, transport-layer type),
// handed down the module tree as each module builds its children, so no module asks the library manager
// for the system module.
//
// Ownership: the entries belong to the system module's info map; the system module outlives every module
// and buffer below it (the manager destroys it, and with it the tree, before anything else).
#pragma once

#include "core/RegisterMap.h"

namespace vngtl {

struct SystemValues {
    RegisterMap::Entry* vendor = nullptr;
    RegisterMap::Entry* model = nullptr;
    RegisterMap::Entry* version = nullptr;
    RegisterMap::Entry* tltype = nullptr;
};

}  // namespace vngtl
