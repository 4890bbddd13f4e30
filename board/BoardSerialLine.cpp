#include "board/BoardSerialLine.h"

#include "clserial/clserial.h"

#include <VantrelSdk.h>

namespace VNBoards {

void BoardSerialLine::open(VnBoard* board)
{
    vngtl::MutexLock guard(lock_);
    board_ = board;
    if (VNIsCL(board) == 0) {
        return;
    }
    void* serial = nullptr;
    if (clVNSerialInitFromBoardHandle(board, &serial) == 0) {
        handle_ = serial;
    }
    void* reference = nullptr;
    if (clVNGetSerialRefFromBoardHandle(board, &reference) == 0) {
        reference_ = reference;
    }
}

void BoardSerialLine::close()
{
    vngtl::MutexLock guard(lock_);
    if (handle_ != nullptr) {
        clSerialClose(handle_);
    }
    handle_ = nullptr;
    reference_ = nullptr;
    board_ = nullptr;
}

template <class Call>
BoardCall BoardSerialLine::on_handle(Call&& call)
{
    vngtl::MutexLock guard(lock_);
    if (handle_ == nullptr) {
        return {};
    }
    const int32_t result = call(handle_);
    if (result == timeout) {
        // A time-out may leave half an answer in the line; the next command must not read it.
        clFlushPort(handle_);
    }
    return {true, result};
}

BoardCall BoardSerialLine::read(void* buffer, uint32_t& size, uint32_t timeout_ms)
{
    return on_handle([&](void* serial) {
        CLUINT32 bytes = size;
        const int32_t result = clSerialRead(serial, static_cast<CLINT8*>(buffer), &bytes, timeout_ms);
        size = bytes;
        return result;
    });
}

BoardCall BoardSerialLine::write(const void* buffer, uint32_t& size, uint32_t timeout_ms)
{
    return on_handle([&](void* serial) {
        CLUINT32 bytes = size;
        // The serial library takes a non-constant buffer but does not change what it sends.
        const int32_t result =
            clSerialWrite(serial, const_cast<CLINT8*>(static_cast<const CLINT8*>(buffer)), &bytes, timeout_ms);
        size = bytes;
        return result;
    });
}

BoardCall BoardSerialLine::supported_baud_rates(uint32_t& rates)
{
    return on_handle([&](void* serial) {
        CLUINT32 bits = 0;
        const int32_t result = clGetSupportedBaudRates(serial, &bits);
        rates = bits;
        return result;
    });
}

BoardCall BoardSerialLine::set_baud_rate(uint32_t rate)
{
    return on_handle([&](void* serial) { return clSetBaudRate(serial, rate); });
}

BoardCall BoardSerialLine::baud_rate(uint32_t& rate)
{
    vngtl::MutexLock guard(lock_);
    if (reference_ == nullptr) {
        return {};
    }
    return {true, clVNGetBaudRate(reference_, &rate)};
}

int32_t BoardSerialLine::check()
{
    vngtl::MutexLock guard(lock_);
    return handle_ != nullptr && reference_ != nullptr ? 0 : port_in_use;
}

bool BoardSerialLine::ready()
{
    return check() == 0;
}

int32_t BoardSerialLine::port_index()
{
    vngtl::MutexLock guard(lock_);
    char name[64] = {};
    VN_CFG_DEVICE* devices = nullptr;
    uint32_t count = 0;
    if (board_ == nullptr || VNGetDeviceName(board_, name, sizeof name) != 0 ||
        VNGetCfgDevicesSorted(&devices, &count) != 0) {
        return invalid_reference;
    }
    int32_t index = -1;
    int32_t ports = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (devices[i].has_serial_port == 0) {
            continue;
        }
        if (VNstrcmp(devices[i].name, name) == 0) {
            index = ports;
            break;
        }
        ++ports;
    }
    VNFreeCfgDevices(devices);
    return index;
}

}  // namespace VNBoards
