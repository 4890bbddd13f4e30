#include "remote/VNPortCLProtocol.h"

#include "board/VNBoards.h"
#include "clprotocol/CLErrException.h"
#include "clserial/clserial.h"

#include <cstdio>

namespace vngtl {

namespace {

constexpr CLINT32 cl_buffer_too_small = -10001;
constexpr CLINT32 cl_invalid_reference = -10006;

[[noreturn]] void raise(const char* format, CLINT32 code, const char* text = nullptr)
{
    char message[1400];
    if (text == nullptr) {
        std::snprintf(message, sizeof message, format, code);
    } else {
        std::snprintf(message, sizeof message, format, code, text);
    }
    throw CLProtocol::CLErrException(code, message, "VNPortCLProtocol", __LINE__);
}

}  // namespace

VNPortCLProtocol::VNPortCLProtocol(std::shared_ptr<VNBoards::Board> board) : board_(std::move(board)) {}

VNPortCLProtocol::~VNPortCLProtocol() = default;

CLINT32 VNPortCLProtocol::clSerialRead(CLINT8* buffer, CLUINT32* size, CLUINT32 timeout_ms)
{
    if (size == nullptr || *size == 0) {
        return cl_buffer_too_small;
    }
    uint32_t bytes = *size;
    const auto call = board_->serial_read(buffer, bytes, timeout_ms);
    if (!call.opened) {
        return cl_invalid_reference;
    }
    *size = bytes;
    return call.result;
}

CLINT32 VNPortCLProtocol::clSerialWrite(CLINT8* buffer, CLUINT32* size, CLUINT32 timeout_ms)
{
    if (size == nullptr) {
        return cl_buffer_too_small;
    }
    uint32_t bytes = *size;
    const auto call = board_->serial_write(buffer, bytes, timeout_ms);
    if (!call.opened) {
        return cl_invalid_reference;
    }
    *size = bytes;
    return call.result;
}

CLINT32 VNPortCLProtocol::clGetSupportedBaudRates(CLUINT32* rates)
{
    uint32_t value = 0;
    const auto call = board_->serial_supported_baud_rates(value);
    if (!call.opened) {
        return cl_invalid_reference;
    }
    if (rates != nullptr) {
        *rates = value;
    }
    return call.result;
}

CLINT32 VNPortCLProtocol::clSetBaudRate(CLUINT32 rate)
{
    const auto call = board_->serial_set_baud_rate(rate);
    return call.opened ? call.result : cl_invalid_reference;
}

CLINT32 VNPortCLProtocol::check_port()
{
    return board_->serial_check();
}

CLINT32 VNPortCLProtocol::get_baud_rate(CLUINT32* rate)
{
    uint32_t value = 0;
    const auto call = board_->serial_baud_rate(value);
    if (!call.opened) {
        return cl_invalid_reference;
    }
    if (rate != nullptr) {
        *rate = value;
    }
    return call.result;
}

bool VNPortCLProtocol::serial_ready()
{
    return board_->serial_ready();
}

int32_t VNPortCLProtocol::serial_port_index()
{
    return board_->serial_port_index();
}

void VNPortCLProtocol::raise_error(CLINT32 code)
{
    if (code == 0) {
        return;
    }
    const int32_t index = serial_port_index();
    char maker[256] = {};
    char port_id[256] = {};
    CLUINT32 maker_size = sizeof maker;
    CLUINT32 port_id_size = sizeof port_id;
    CLUINT32 version = 0;
    if (const CLINT32 result = clGetPortInfo(static_cast<CLUINT32>(index), maker, &maker_size, port_id,
                                             &port_id_size, &version);
        result != 0) {
        raise("Error %d while attempting to retrieve the Camera Link port info.", result);
    }
    char text[1024] = {};
    CLUINT32 text_size = sizeof text;
    if (const CLINT32 result = clGetErrorText(maker, code, text, &text_size); result != 0) {
        raise("Error %d while attempting to retrieve the Camera Link error text.", result);
    }
    raise("Camera Link Serial Error %d: %s", code, text);
}

}  // namespace vngtl
