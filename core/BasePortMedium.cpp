#include "core/BasePortMedium.h"

namespace vngtl {

BasePortMedium::~BasePortMedium() = default;

}  // namespace vngtl
