#include "core/BasePortMedium.h"

namespace vngtl {

BasePortMedium::~BasePortMedium() = default;

uint32_t BasePortMedium::handle_kind() const noexcept
{
    return kind_remote_port;
}

}  // namespace vngtl
