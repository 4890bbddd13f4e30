// The maker's serial library (VNSer) as the simulated boards answer it. Every call checks its reference
// and pointers; the work is done by the board's SerialLine.
#include "SimSystem.h"

#include <vnser.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using vnsim::SimSystem;

namespace {

constexpr int32_t cl_ok = 0;
constexpr int32_t cl_buffer_too_small = -10001;
constexpr int32_t cl_invalid_index = -10005;
constexpr int32_t cl_invalid_reference = -10006;
constexpr int32_t cl_error_not_found = -10007;
constexpr int32_t cl_invalid_ptr = -10011;
constexpr uint32_t cl_dll_version_2_1 = 5;

// The board behind a serial reference, held for the duration of a call (it owns the line); null for an
// unknown reference or a line that is shut down.
std::shared_ptr<vnsim::SimBoard> board_of(void* serial)
{
    auto board = SimSystem::instance().find_serial(serial, false);
    if (!board || board->serial_line() == nullptr || board->serial_line()->down()) {
        return nullptr;
    }
    return board;
}

// Runs `call` on the line behind a serial reference while its board is held; an unknown reference or a
// line that is shut down answers cl_invalid_reference.
template <typename Call>
int32_t on_line(void* serial, Call call)
{
    const auto board = board_of(serial);
    if (!board) {
        return cl_invalid_reference;
    }
    return call(*board->serial_line());
}

// The boards with a serial port in configured-device order.
std::vector<std::shared_ptr<vnsim::SimBoard>> serial_boards()
{
    auto boards = SimSystem::instance().present_boards();
    std::erase_if(boards, [](const auto& board) { return board->serial_line() == nullptr; });
    std::stable_sort(boards.begin(), boards.end(),
                     [](const auto& a, const auto& b) { return a->config().device_name < b->config().device_name; });
    return boards;
}

// The size protocol of the serial interface: *size in is the capacity; on success the bytes written with
// the NUL, on -10001 the size needed.
int32_t copy_sized(const std::string& text, char* out, uint32_t* size)
{
    if (size == nullptr) {
        return cl_invalid_ptr;
    }
    const auto needed = static_cast<uint32_t>(text.size() + 1);
    if (out == nullptr || *size < needed) {
        *size = needed;
        return cl_buffer_too_small;
    }
    std::memcpy(out, text.c_str(), needed);
    *size = needed;
    return cl_ok;
}

}  // namespace

extern "C" {

int32_t clVNGetManufacturerInfo(char* name, uint32_t* size, uint32_t* version)
{
    if (version == nullptr) {
        return cl_invalid_ptr;
    }
    *version = cl_dll_version_2_1;
    return copy_sized("Vantrel", name, size);
}

int32_t clVNGetNumSerialPorts(uint32_t* count)
{
    if (count == nullptr) {
        return cl_invalid_ptr;
    }
    *count = static_cast<uint32_t>(serial_boards().size());
    return cl_ok;
}

int32_t clVNGetSerialPortIdentifier(uint32_t index, char* id, uint32_t* size)
{
    const auto boards = serial_boards();
    if (index >= boards.size()) {
        return cl_invalid_index;
    }
    return copy_sized(boards[index]->config().device_name, id, size);
}

int32_t clVNSerialInit(uint32_t index, void** serial)
{
    if (serial == nullptr) {
        return cl_invalid_ptr;
    }
    *serial = nullptr;
    auto boards = serial_boards();
    if (index >= boards.size()) {
        return cl_invalid_index;
    }
    *serial = SimSystem::instance().add_serial(nullptr, std::move(boards[index]), false);
    return cl_ok;
}

int32_t clVNSerialRead(void* serial, char* buffer, uint32_t* size, uint32_t timeout_ms)
{
    return on_line(serial, [&](vnsim::SerialLine& line) {
        if (buffer == nullptr || size == nullptr) {
            return cl_invalid_ptr;
        }
        return line.read(reinterpret_cast<uint8_t*>(buffer), *size, timeout_ms);
    });
}

int32_t clVNSerialWrite(void* serial, char* buffer, uint32_t* size, uint32_t timeout_ms)
{
    return on_line(serial, [&](vnsim::SerialLine& line) {
        if (buffer == nullptr || size == nullptr) {
            return cl_invalid_ptr;
        }
        return line.write(reinterpret_cast<const uint8_t*>(buffer), *size, timeout_ms);
    });
}

int32_t clVNSerialClose(void* serial)
{
    return SimSystem::instance().remove_serial(serial) ? cl_ok : cl_invalid_reference;
}

int32_t clVNFlushPort(void* serial)
{
    return on_line(serial, [](vnsim::SerialLine& line) {
        line.flush();
        return cl_ok;
    });
}

int32_t clVNGetNumBytesAvail(void* serial, uint32_t* count)
{
    return on_line(serial, [&](vnsim::SerialLine& line) {
        if (count == nullptr) {
            return cl_invalid_ptr;
        }
        *count = line.available();
        return cl_ok;
    });
}

int32_t clVNGetSupportedBaudRates(void* serial, uint32_t* rates)
{
    return on_line(serial, [&](vnsim::SerialLine& line) {
        if (rates == nullptr) {
            return cl_invalid_ptr;
        }
        *rates = line.supported_rates();
        return cl_ok;
    });
}

int32_t clVNSetBaudRate(void* serial, uint32_t rate)
{
    return on_line(serial, [&](vnsim::SerialLine& line) { return line.set_rate(rate); });
}

int32_t clVNGetErrorText(int32_t code, char* text, uint32_t* size)
{
    // The maker adds no codes of its own beyond the standard ones.
    (void)code;
    (void)text;
    (void)size;
    return cl_error_not_found;
}

}  // extern "C"
