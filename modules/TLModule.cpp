#include "modules/TLModule.h"

namespace vngtl {

TLModule::TLModule() : BaseModule("VNGTL", {}, nullptr) {}

TLModule::~TLModule() = default;

}  // namespace vngtl
