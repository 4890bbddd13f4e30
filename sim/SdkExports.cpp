// The board SDK's functions as the simulated boards answer them.
#include "SimSystem.h"

#include "acquisition/VantrelSdk.h"

using vnsim::SimSystem;

extern "C" {

int32_t VcSysBrdEnum(uint32_t selector, uint32_t* count)
{
    if (selector != VC_ENUM_BOARDS) {
        return 1;
    }
    return SimSystem::instance().enumerate_boards(count);
}

void VNOutputDebugString(const char* text)
{
    if (text != nullptr) {
        SimSystem::instance().append_debug(text);
    }
}

}  // extern "C"
