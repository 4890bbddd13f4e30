#include "modules/BaseHandle.h"

namespace vngtl {

BaseHandle::~BaseHandle() = default;

}  // namespace vngtl
