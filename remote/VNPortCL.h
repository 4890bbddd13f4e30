// The remote-device port of a Camera Link board: the camera's registers and description files, reached
// over the board's serial line through CLProtocol. The port picks the Device ID template that names the
// camera file's make (and model), probes the camera with it, connects its CLProtocol port and forwards
// the consumer's reads, writes and URL queries to it.
//
// Ownership: owned by its VNRemDevPortMedium (medium is a plain back-pointer to that owner); owns its
// serial adapter and CLProtocol port; shares the board. The adapter stays registered with CLProtocol
// while the port is connected and is unregistered before either is destroyed.
// Thread safety: the port takes no lock itself; the CLProtocol port serialises its own calls and every
// serial access takes the board's state lock (through the adapter).
#pragma once

#include "clprotocol/CCLPort.h"
#include "core/BasePort.h"
#include "remote/VNPortCLProtocol.h"

#include <memory>
#include <string>

namespace VNBoards {
class Board;
}

namespace vngtl {

class VNRemDevPortMedium;

class VNPortCL : public BasePort {
public:
    // A custom port info command: the CLProtocol Device ID (STRING), present once connected.
    static constexpr int32_t device_id_info = GenTL::PORT_INFO_CUSTOM_ID;

    explicit VNPortCL(std::shared_ptr<VNBoards::Board> board);
    ~VNPortCL() override;

    // Connects the CLProtocol port; true at once when it is connected already.
    bool setup_clprotocol(const std::string& make, const std::string& model, const std::string& port_name,
                          uint32_t board_number);

    bool good() const override;
    GenTL::GC_ERROR read(uint64_t address, void* buffer, size_t* size_in_out) override;
    GenTL::GC_ERROR write(uint64_t address, const void* buffer, size_t* size_in_out) override;
    GenTL::GC_ERROR num_urls(uint32_t* count_out) override;
    GenTL::GC_ERROR url_info(uint32_t index, GenTL::URL_INFO_CMD command, GenTL::INFO_DATATYPE* type_out,
                             void* buffer, size_t* size_in_out) override;
    using BasePort::read;
    using BasePort::write;

    // One version number of an XML ID: the schema's major and minor from "SchemaVersion.%d.%d@", the file's
    // major, minor and sub-minor from "@DeviceVersion.%d.%d.%d". False when the marker or the number is
    // missing, or for another command.
    static bool xml_id_version(const std::string& xml_id, GenTL::URL_INFO_CMD command, int32_t& value);

    bool connected() const noexcept { return connected_; }
    const std::string& port_id() const noexcept { return port_id_; }
    // The CLProtocol port, for the tools that show the Device ID and the serial traffic.
    const CLProtocol::CCLPort& cl_port() const noexcept { return cl_port_; }

private:
    void add_info_values(const std::string& make, const std::string& model);
    // The access mode; false after reporting the failure under `function`.
    bool access_mode(const char* function, GenApi::EAccessMode& mode) const;

    std::shared_ptr<VNBoards::Board> board_;
    mutable VNPortCLProtocol serial_adapter_;
    mutable CLProtocol::CCLPort cl_port_;
    bool connected_ = false;
    std::string port_id_;
};

}  // namespace vngtl
