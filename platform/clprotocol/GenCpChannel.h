// The host end of GenCP over a Camera Link serial line: one command at a time, each a ReadMem or WriteMem
// packet with its request id. An answer that does not arrive in time or arrives damaged (checksum,
// preamble) makes the command go out again with the same request id, up to three times, so the camera can
// answer again without running it twice; a pending acknowledge extends the wait by the time it names.
// Time-outs grow with the bytes on the line at the line's baud rate. Failures throw CLErrException (no
// answer, serial errors) or GenericException (the camera refused, with its GenCP status).
//
// Thread safety: none; the owning CCLPort serialises its calls. Ownership: borrows the serial line, which
// its registrant keeps alive until it unregisters it.
#pragma once

#include "clprotocol/ClpTypes.h"
#include "clprotocol/ISerialAdapter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace CLProtocol {

class GenCpChannel {
public:
    static constexpr uint32_t max_payload = 1000;  // the camera's limit per packet
    static constexpr int max_resends = 3;

    struct Stats {
        uint64_t commands = 0;
        uint64_t resends = 0;
        uint64_t pending = 0;
    };

    GenCpChannel(ISerialAdapter& serial, std::string port_id);

    void set_timeout(uint32_t ms) { timeout_ms_ = ms; }
    uint32_t timeout() const { return timeout_ms_; }
    void set_baud(uint32_t baud) { baud_ = baud; }
    uint32_t baud() const { return baud_; }

    // Any length; split into packets of at most max_payload bytes.
    void read(uint64_t address, void* data, uint64_t length);
    void write(uint64_t address, const void* data, uint64_t length);
    uint32_t read_u32(uint64_t address);  // a little-endian register
    void write_u32(uint64_t address, uint32_t value);
    std::string read_string(uint64_t address, uint32_t length);

    const Stats& stats() const { return stats_; }

private:
    // One command; returns the answer's payload.
    std::vector<uint8_t> transact(uint16_t command, const std::vector<uint8_t>& scd, const char* what,
                                  uint64_t address, uint32_t length);
    // Reads one answer packet: 0, a Camera Link code, or 1 for a damaged packet. Sets the fields.
    CLINT32 receive(uint32_t timeout_ms, uint16_t& status, uint16_t& ack, uint16_t& request,
                    std::vector<uint8_t>& payload);
    uint32_t line_ms(size_t bytes) const;

    ISerialAdapter& serial_;
    const std::string port_id_;
    uint32_t timeout_ms_ = 500;
    uint32_t baud_ = 9600;
    uint16_t next_request_ = 1;
    Stats stats_;
};

}  // namespace CLProtocol
