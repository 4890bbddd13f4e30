#include "modules/BasePortMedium.h"

namespace vngtl {

BasePortMedium::~BasePortMedium() = default;

}  // namespace vngtl
