// The system (transport-layer) module, root of the module tree; the library manager holds the one instance.
#pragma once

#include "modules/BaseModule.h"

namespace vngtl {

class TLModule : public BaseModule {
public:
    TLModule();
    ~TLModule() override;
};

}  // namespace vngtl
