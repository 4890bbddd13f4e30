// The texts of the simulated SDK's result codes, as VbErrorTextGet and VNErrorGetMes return them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vnsim {

class ErrorCatalog {
public:
    // The text of a buffer-library code; none for a code the library does not know.
    static std::optional<std::string_view> vb_text(int32_t code);
    // The text of a driver code; none for a code the driver does not know.
    static std::optional<std::string_view> vn_text(int32_t code);
};

}  // namespace vnsim
