// The remote-device port of a CoaXPress board: the consumer's reads and writes of the camera's registers,
// carried to the camera by the board's CoaXPress register access, the port info values of the camera, the
// camera's GenApi XML locations (the URL store of the XML cache) and the XML-cache commands of the device.
// A write of the camera's link configuration register becomes a link-speed change of the board.
//
// Ownership: owned by its VNRemDevPortMedium, which outlives it (`medium` is a plain back-pointer); the
// board is shared with the medium and the device module; the XML cache is held by value.
//
// Thread safety: every camera access goes through one board operation, which takes the board's state lock
// for that call; the XML cache serialises its own store. The word-rounding options are read once, at
// construction, and are constant afterwards.
#pragma once

#include "core/BasePort.h"
#include "remote/CxpCameraPort.h"
#include "remote/VNCxpXmlCacheInterface.h"

#include <functional>
#include <memory>
#include <string>

namespace VNBoards {
class Board;
}

namespace vngtl {

class VNRemDevPortMedium;

class VNPortCXP : public BasePort, public CxpCameraPort {
public:
    // The CoaXPress link configuration register; a 4-byte write to it sets the board's link speed instead.
    static constexpr uint64_t link_config_address = 0x4014;
    static constexpr const char* read_rounding_key = "VNGTLCxpReadForceWordRounding";
    static constexpr const char* write_rounding_key = "VNGTLCxpWriteForceWordRounding";
    // Custom port info commands with the word-rounding options.
    static constexpr int32_t info_read_rounding = 1000;
    static constexpr int32_t info_write_rounding = 1001;

    explicit VNPortCXP(std::shared_ptr<VNBoards::Board> board);
    ~VNPortCXP() override;

    // Records the medium and loads the camera's URL store.
    void bind(VNRemDevPortMedium* medium);

    bool good() const override;
    using BasePort::read;
    using BasePort::write;
    GenTL::GC_ERROR read(uint64_t address, void* buffer, size_t* size_in_out) override;
    GenTL::GC_ERROR write(uint64_t address, const void* buffer, size_t* size_in_out) override;
    GenTL::GC_ERROR num_urls(uint32_t* count_out) override;
    GenTL::GC_ERROR url_info(uint32_t index, GenTL::URL_INFO_CMD command, GenTL::INFO_DATATYPE* type_out,
                             void* buffer, size_t* size_in_out) override;

    // One register as the board delivers it (no byte swapping); no readable/writable test.
    GenTL::GC_ERROR read_register(uint64_t address, uint32_t& value) override;
    GenTL::GC_ERROR write_register(uint64_t address, uint32_t value) override;
    GenTL::GC_ERROR read_block(uint64_t address, void* buffer, size_t* size) override;

    // The device module's XML-cache commands.
    GenTL::GC_ERROR cache_external_file(const std::string& path);
    GenTL::GC_ERROR delete_cache_entry(uint32_t index);
    GenTL::GC_ERROR sync_cache_with_camera();

    bool read_word_rounding() const noexcept { return read_rounding_; }
    bool write_word_rounding() const noexcept { return write_rounding_; }
    VNCxpXmlCacheInterface& xml_cache() noexcept { return xml_cache_; }

private:
    void add_computed(int32_t command, uint64_t length, GenTL::INFO_DATATYPE type,
                      std::function<GenTL::GC_ERROR(uint8_t* data)> compute);
    // Whether the board can be opened for inspection (state above Closed).
    bool board_open() const;
    GenTL::GC_ERROR read_device_string(uint64_t address, uint8_t* data);
    std::string board_text() const;

    std::shared_ptr<VNBoards::Board> board_;
    bool read_rounding_ = false;
    bool write_rounding_ = false;
    VNCxpXmlCacheInterface xml_cache_;
};

}  // namespace vngtl
