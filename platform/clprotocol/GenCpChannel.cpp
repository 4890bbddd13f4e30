#include "clprotocol/GenCpChannel.h"

#include "clprotocol/CLErrException.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace CLProtocol {

namespace {

constexpr uint16_t preamble = 0x0100;
constexpr uint16_t read_mem = 0x0800;
constexpr uint16_t write_mem = 0x0802;
constexpr uint16_t pending_ack = 0x0805;
constexpr uint16_t flag_request_ack = 0x4000;
constexpr uint16_t flag_resend = 0x8000;
constexpr size_t header_size = 16;

uint16_t checksum(const uint8_t* data, size_t size)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < size; i += 2) {
        sum += static_cast<uint32_t>(data[i] << 8 | (i + 1 < size ? data[i + 1] : 0));
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

uint16_t get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void put16(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void put_address(std::vector<uint8_t>& out, uint64_t address)
{
    for (int i = 7; i >= 0; --i) {
        out.push_back(static_cast<uint8_t>(address >> (8 * i)));
    }
}

const char* status_text(uint16_t status)
{
    switch (status) {
    case 0x8001: return "not implemented";
    case 0x8002: return "invalid parameter";
    case 0x8003: return "invalid address";
    case 0x8004: return "write protected";
    case 0x8005: return "bad alignment";
    case 0x8006: return "access denied";
    case 0x8007: return "busy";
    case 0x800B: return "timeout";
    case 0x8FFF: return "general error";
    default: return "unknown status";
    }
}

std::string hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace

GenCpChannel::GenCpChannel(ISerialAdapter& serial, std::string port_id) : serial_(serial), port_id_(std::move(port_id))
{
}

uint32_t GenCpChannel::line_ms(size_t bytes) const
{
    // 10 bits a byte, rounded up, plus a millisecond of slack for the scheduler.
    return static_cast<uint32_t>((bytes * 10 * 1000 + baud_ - 1) / baud_) + 1;
}

CLINT32 GenCpChannel::receive(uint32_t timeout_ms, uint16_t& status, uint16_t& ack, uint16_t& request,
                              std::vector<uint8_t>& payload)
{
    uint8_t header[header_size];
    CLUINT32 size = header_size;
    if (const CLINT32 result = serial_.clSerialRead(reinterpret_cast<CLINT8*>(header), &size, timeout_ms);
        result != cl_err_no_err) {
        return result;
    }
    // Out of step with the camera (bytes of an earlier answer): slide to the next preamble.
    int slid = 0;
    while (get16(header) != preamble) {
        if (++slid > 64) {
            return 1;
        }
        std::memmove(header, header + 1, header_size - 1);
        size = 1;
        if (const CLINT32 result =
                serial_.clSerialRead(reinterpret_cast<CLINT8*>(header + header_size - 1), &size, timeout_ms);
            result != cl_err_no_err) {
            return result;
        }
    }
    if (checksum(header + 6, 10) != get16(header + 2)) {
        return 1;
    }
    const uint16_t length = get16(header + 12);
    if (length > max_payload + 12) {
        return 1;
    }
    payload.assign(length, 0);
    if (length > 0) {
        size = length;
        if (const CLINT32 result = serial_.clSerialRead(reinterpret_cast<CLINT8*>(payload.data()), &size,
                                                        timeout_ms + line_ms(length));
            result != cl_err_no_err) {
            return result;
        }
    }
    std::vector<uint8_t> covered(header + 6, header + header_size);
    covered.insert(covered.end(), payload.begin(), payload.end());
    if (checksum(covered.data(), covered.size()) != get16(header + 4)) {
        return 1;
    }
    status = get16(header + 8);
    ack = get16(header + 10);
    request = get16(header + 14);
    return cl_err_no_err;
}

std::vector<uint8_t> GenCpChannel::transact(uint16_t command, const std::vector<uint8_t>& scd, const char* what,
                                            uint64_t address, uint32_t length)
{
    const uint16_t request_id = next_request_++;
    if (next_request_ == 0) {
        next_request_ = 1;
    }
    ++stats_.commands;
    const auto describe = [&] {
        return std::string(what) + " of " + std::to_string(length) + " bytes at " + hex(address) + " on \"" +
               port_id_ + "\"";
    };
    CLINT32 last = cl_err_no_err;
    for (int attempt = 0; attempt <= max_resends; ++attempt) {
        std::vector<uint8_t> packet;
        put16(packet, preamble);
        put16(packet, 0);
        put16(packet, 0);
        put16(packet, 0);
        put16(packet, flag_request_ack | (attempt > 0 ? flag_resend : 0));
        put16(packet, command);
        put16(packet, static_cast<uint32_t>(scd.size()));
        put16(packet, request_id);
        packet.insert(packet.end(), scd.begin(), scd.end());
        const uint16_t ccd = checksum(&packet[6], 10);
        const uint16_t all = checksum(&packet[6], packet.size() - 6);
        packet[2] = static_cast<uint8_t>(ccd >> 8);
        packet[3] = static_cast<uint8_t>(ccd);
        packet[4] = static_cast<uint8_t>(all >> 8);
        packet[5] = static_cast<uint8_t>(all);
        if (attempt > 0) {
            ++stats_.resends;
        }
        auto size = static_cast<CLUINT32>(packet.size());
        last = serial_.clSerialWrite(reinterpret_cast<CLINT8*>(packet.data()), &size,
                                     timeout_ms_ + line_ms(packet.size()));
        if (last != cl_err_no_err && last != cl_err_timeout) {
            serial_.CheckError(last);
        }
        if (last == cl_err_timeout) {
            continue;
        }
        // The wait covers the camera's time and the answer's bytes on the line.
        const size_t expected = header_size + (command == read_mem ? length : 4);
        uint32_t wait = timeout_ms_ + line_ms(expected);
        for (;;) {
            uint16_t status = 0, ack = 0, request = 0;
            std::vector<uint8_t> payload;
            last = receive(wait, status, ack, request, payload);
            if (last != cl_err_no_err) {
                if (last != 1 && last != cl_err_timeout) {
                    serial_.CheckError(last);
                }
                break;  // damaged or missing: send again
            }
            if (request != request_id) {
                continue;  // a late answer to an earlier command
            }
            if (ack == pending_ack) {
                ++stats_.pending;
                const uint16_t temporary = payload.size() >= 4 ? get16(&payload[2]) : 0;
                wait = std::max<uint32_t>(temporary, timeout_ms_) + line_ms(expected);
                continue;
            }
            if (ack != command + 1) {
                throw CLErrException(cl_err_param_data_value,
                                     "The camera answered " + describe() + " with the acknowledge " + hex(ack) + ".",
                                     __FILE__, __LINE__);
            }
            if (status != 0) {
                throw GenICam::GenericException("The camera refused " + describe() + " with GenCP status " +
                                                    hex(status) + " (" + status_text(status) + ").",
                                                __FILE__, __LINE__, "AccessException");
            }
            if (command == read_mem && payload.size() != length) {
                throw CLErrException(cl_err_param_data_value,
                                     "The camera answered " + describe() + " with " + std::to_string(payload.size()) +
                                         " bytes.",
                                     __FILE__, __LINE__);
            }
            return payload;
        }
    }
    throw CLErrException(cl_err_timeout,
                         "The camera did not answer " + describe() + " within " + std::to_string(timeout_ms_) +
                             " ms, after " + std::to_string(max_resends) + " resends.",
                         __FILE__, __LINE__);
}

void GenCpChannel::read(uint64_t address, void* data, uint64_t length)
{
    auto* out = static_cast<uint8_t*>(data);
    for (uint64_t done = 0; done < length;) {
        const auto chunk = static_cast<uint32_t>(std::min<uint64_t>(length - done, max_payload));
        std::vector<uint8_t> scd;
        put_address(scd, address + done);
        put16(scd, 0);
        put16(scd, chunk);
        const auto payload = transact(read_mem, scd, "ReadMem", address + done, chunk);
        std::memcpy(out + done, payload.data(), chunk);
        done += chunk;
    }
}

void GenCpChannel::write(uint64_t address, const void* data, uint64_t length)
{
    const auto* in = static_cast<const uint8_t*>(data);
    for (uint64_t done = 0; done < length;) {
        const auto chunk = static_cast<uint32_t>(std::min<uint64_t>(length - done, max_payload));
        std::vector<uint8_t> scd;
        put_address(scd, address + done);
        scd.insert(scd.end(), in + done, in + done + chunk);
        transact(write_mem, scd, "WriteMem", address + done, chunk);
        done += chunk;
    }
}

uint32_t GenCpChannel::read_u32(uint64_t address)
{
    uint8_t bytes[4];
    read(address, bytes, 4);
    return static_cast<uint32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24);
}

void GenCpChannel::write_u32(uint64_t address, uint32_t value)
{
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    write(address, bytes, 4);
}

std::string GenCpChannel::read_string(uint64_t address, uint32_t length)
{
    std::vector<char> text(length + 1, '\0');
    read(address, text.data(), length);
    return std::string(text.data());
}

}  // namespace CLProtocol
