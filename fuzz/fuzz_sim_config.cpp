// The simulator's JSON configuration: arbitrary text either configures the simulated system or is refused
// with a reason, never half of it; a refused text leaves the previous configuration in force. Every board of
// an accepted configuration opens, answers its frame size and closes.
#include <VantrelSdk.h>

#include <vnsim.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

uint32_t board_count()
{
    uint32_t count = 0;
    if (VcSysBrdEnum(VC_ENUM_BOARDS, &count) != 0) {
        return UINT32_MAX;
    }
    return count;
}

uint32_t default_board_count()
{
    static const uint32_t count = [] {
        vnsim_reset();
        return board_count();
    }();
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    vnsim_reset();
    if (vnsim_configure(text.c_str()) != 0) {
        if (std::strlen(vnsim_last_error()) == 0 || board_count() != default_board_count()) {
            std::abort();  // a refusal says why and changes nothing
        }
        return 0;
    }
    if (std::strlen(vnsim_last_error()) != 0) {
        std::abort();
    }
    const uint32_t count = board_count();
    for (uint32_t board = 0; count != UINT32_MAX && board < count; ++board) {
        VN_HANDLE handle{};
        if (VbBrdOpenEx(static_cast<uint32_t>(VB_DRIVER_ANY), board, &handle, 0) != 0) {
            continue;  // a board configured missing or failing to open is refused with a code
        }
        uint32_t bytes = 0;
        VbBrdInquire(handle, VB_INQ_FRAME_BYTES, &bytes);
        if (VbBrdClose(handle) != 0) {
            std::abort();
        }
    }
    return 0;
}
