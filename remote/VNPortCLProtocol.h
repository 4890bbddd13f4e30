// The serial line that CLProtocol drives, for one Camera Link board: each request goes to the Camera Link
// serial library on the serial handle the board opened, under the board's state lock (the board's serial
// operations take it), and Camera Link codes become CLErrException texts with the maker's error text.
//
// Ownership: shares the board with the port that owns this adapter (VNPortCL) and the rest of the
// library; CLProtocol borrows the adapter while it is registered, which VNPortCL ends before it goes.
// Thread safety: thread-safe; every call is serialised by the board's state lock.
#pragma once

#include "clprotocol/ISerialAdapter.h"

#include <cstdint>
#include <memory>

namespace VNBoards {
class Board;
}

namespace vngtl {

class VNPortCLProtocol final : public CLProtocol::ISerialAdapter {
public:
    explicit VNPortCLProtocol(std::shared_ptr<VNBoards::Board> board);
    virtual ~VNPortCLProtocol();
    VNPortCLProtocol(const VNPortCLProtocol&) = delete;
    VNPortCLProtocol& operator=(const VNPortCLProtocol&) = delete;

    // Slots 1 to 4: the serial calls. A read of zero bytes answers -10001 without touching the board; a
    // time-out (-10004) of a read or write flushes the port so that the next request starts clean; a
    // board without its handles answers -10006.
    CLINT32 clSerialRead(CLINT8* buffer, CLUINT32* size, CLUINT32 timeout_ms) override;
    CLINT32 clSerialWrite(CLINT8* buffer, CLUINT32* size, CLUINT32 timeout_ms) override;
    CLINT32 clGetSupportedBaudRates(CLUINT32* rates) override;
    CLINT32 clSetBaudRate(CLUINT32 rate) override;
    // Slot 5, check_port: -10006 when the board cannot be opened, 0 with both serial values, else -10003.
    CLINT32 SerialInit() override { return check_port(); }
    // Slot 6: nothing to do; the board closes its serial handle when it closes.
    void SerialClose() override {}
    // Slot 7, raise_error.
    void CheckError(CLINT32 code) override { raise_error(code); }
    // Slot 8, get_baud_rate.
    CLINT32 GetBaudRate(CLUINT32* rate) override { return get_baud_rate(rate); }

    CLINT32 check_port();
    // Returns for 0; otherwise throws CLErrException "Camera Link Serial Error <code>: <text>", or the
    // texts of a failure to find the port's maker or the error text.
    void raise_error(CLINT32 code);
    CLINT32 get_baud_rate(CLUINT32* rate);
    // Both serial values present on the opened board.
    bool serial_ready();
    // The index of the board's port in the serial library's port list; -1 when not found, -10006 when
    // the board SDK cannot tell.
    int32_t serial_port_index();

private:
    std::shared_ptr<VNBoards::Board> board_;
};

}  // namespace vngtl
