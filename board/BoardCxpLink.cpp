#include "board/BoardCxpLink.h"

#include <VantrelSdk.h>

namespace VNBoards {

namespace {

// The board's own CoaXPress link, the one every camera-side call goes to.
constexpr uint32_t own_link = 0xFF;

}  // namespace

void BoardCxpLink::attach(VnBoard* handle)
{
    vngtl::MutexLock guard(lock_);
    handle_ = handle;
}

void BoardCxpLink::detach()
{
    vngtl::MutexLock guard(lock_);
    handle_ = nullptr;
}

template <class Call>
BoardCall BoardCxpLink::on_link(Call&& call)
{
    vngtl::MutexLock guard(lock_);
    if (handle_ == nullptr) {
        return {};
    }
    return {true, call(handle_)};
}

BoardCall BoardCxpLink::read_data(uint32_t address, void* buffer, uint32_t length, uint32_t& bytes_read)
{
    return on_link([&](VnBoard* handle) {
        return VNCXPReadData(handle, own_link, address, length, &bytes_read, buffer, length);
    });
}

BoardCall BoardCxpLink::write_data(uint32_t address, const void* buffer, uint32_t length)
{
    return on_link([&](VnBoard* handle) { return VNCXPWriteData(handle, own_link, address, buffer, length); });
}

BoardCall BoardCxpLink::read_reg(uint32_t address, uint32_t& value)
{
    return on_link([&](VnBoard* handle) { return VNCXPReadReg(handle, own_link, address, &value); });
}

BoardCall BoardCxpLink::write_reg(uint32_t address, uint32_t value)
{
    return on_link([&](VnBoard* handle) { return VNCXPWriteReg(handle, own_link, address, value); });
}

BoardCall BoardCxpLink::configure_link_speed(uint32_t connections, uint32_t row)
{
    constexpr uint32_t apply_now = 1;
    return on_link([&](VnBoard* handle) {
        return VNCXPConfigureLinkSpeed(handle, own_link, connections, row, apply_now);
    });
}

}  // namespace VNBoards
