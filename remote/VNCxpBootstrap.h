// The CoaXPress bootstrap block of one camera as last read: the Standard magic, the revision, the XML
// manifest registers, the device strings and the link registers, with a note of which reads succeeded. It
// also reads the XML URL of the selected manifest entry from camera memory, takes XML URLs apart and forms
// the cache file names of the camera's XML. It holds no connection: every read goes through the port given.
//
// Thread safety: none; the XML cache that owns it serialises its use.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace vngtl {

class CxpCameraPort;

class VNCxpBootstrap {
public:
    // Bootstrap register addresses.
    static constexpr uint32_t standard_address = 0x0000;
    static constexpr uint32_t revision_address = 0x0004;
    static constexpr uint32_t xml_manifest_size_address = 0x0008;
    static constexpr uint32_t xml_manifest_selector_address = 0x000C;
    static constexpr uint32_t xml_version_address = 0x0010;
    static constexpr uint32_t xml_schema_version_address = 0x0014;
    static constexpr uint32_t xml_url_address_address = 0x0018;
    static constexpr uint32_t iidc_pointer_address = 0x001C;
    static constexpr uint32_t vendor_name_address = 0x2000;
    static constexpr uint32_t model_name_address = 0x2020;
    static constexpr uint32_t manufacturer_info_address = 0x2040;
    static constexpr uint32_t device_version_address = 0x2070;
    static constexpr uint32_t device_id_address = 0x20B0;
    static constexpr uint32_t device_user_id_address = 0x20C0;
    static constexpr uint32_t pointer_block_address = 0x3000;
    static constexpr uint32_t link_config_address = 0x4014;
    static constexpr uint32_t manufacturer_space = 0x6000;

    static constexpr uint32_t standard_value = 0xC0A79AE5;
    // The first revision (1.1) with the pointer block and the 8-byte test counters.
    static constexpr uint32_t revision_1_1 = 0x00010001;
    // The seed that makes generateXmlFileName answer the wildcard pattern of every cached version.
    static constexpr int64_t wildcard_seed = -2;

    struct Positions {
        size_t name_end_colon = 0;   // the ':' that ends the scheme
        size_t first_semicolon = 0;  // the ';' that ends the name
        size_t address_end = 0;      // the ';' that ends the address
        size_t length_end = 0;       // one past the length: the URL's end or the start of "?SchemaVersion="
    };

    // Register reads through the port's one-register read (4 bytes) or block read (8 bytes); the outcome
    // is noted in `loaded`.
    bool readBootstrapReg(CxpCameraPort& port, uint32_t address, uint32_t& value);
    bool readBootstrapReg(CxpCameraPort& port, uint32_t address, uint64_t& value);
    // Text of at most `length` bytes up to its first zero byte; empty on failure.
    std::string readStr(CxpCameraPort& port, uint32_t address, uint32_t length);
    // The same, noted in `loaded`: an empty text counts as not loaded.
    std::string readBootstrapStr(CxpCameraPort& port, uint32_t address, uint32_t length);

    // Reloads the whole block. A camera whose Standard register cannot be read is left at that.
    void updateValues(CxpCameraPort& port);
    // Reloads the registers of the selected manifest entry (size, selector, versions, URL address).
    void updateManifestEntry(CxpCameraPort& port);
    bool is_loaded(uint32_t address) const;

    // The URL text of the selected manifest entry, read from camera memory; empty on failure.
    std::string retrieveManifestUrl(CxpCameraPort& port);

    // The cache file name of this camera's XML for its current versions; `seed` >= 0 adds "#" and the seed
    // in hexadecimal; wildcard_seed gives the pattern matching every version.
    std::string generateXmlFileName(int64_t seed) const;

    // The decoded file name that a "local:", "file:" or "http:" URL names; empty on failure.
    static std::string UrlFileName(const std::string& url);
    static bool LocalUrlDelimiters(const std::string& url, Positions& positions);
    // The address and length of a "local:" URL; false when its delimiters cannot be found.
    static bool LocalUrlAddressAndLength(const std::string& url, uint64_t& address, uint64_t& length);

    uint32_t standard = 0;
    uint32_t revision = 0;
    uint32_t xml_manifest_size = 0;
    uint32_t xml_manifest_selector = 0;
    uint32_t xml_version = 0;
    uint32_t xml_schema_version = 0;
    uint32_t xml_url_address = 0;
    uint32_t iidc_pointer = 0;
    std::string vendor_name;
    std::string model_name;
    std::string manufacturer_info;
    std::string device_version;
    std::string device_id;
    std::string device_user_id;
    uint32_t pointer_block[8] = {};
    uint32_t link_registers[9] = {};  // 0x4004 to 0x4024
    uint64_t test_packet_count_tx = 0;
    uint64_t test_packet_count_rx = 0;
    uint32_t electrical_compliance_test = 0;
    uint32_t capabilities = 0;  // 0x403C
    // Address -> whether the last read of it succeeded; addresses never tried are absent.
    std::map<uint32_t, bool> loaded;
};

}  // namespace vngtl
