// The stand-in's one built-in camera driver: cameras that speak GenCP over the serial line. It knows the
// GenCP bootstrap block (device strings, manifest), builds Device IDs from the bootstrap strings, lists
// the manifest's description files as XML IDs, and fetches a file (unzipping it when it is zipped).
//
// Device IDs: "Vantrel#VNGenCP#<Manufacturer>#<Family>#<Model>#<Version>#<SerialNumber>", each camera
// field made identifier-like (characters other than letters, digits and '_' become '_', a leading digit
// gets a '_' before it). Templates: "Vantrel#VNGenCP#Vantrel" and one per line of every "*.txt" file in
// the directory named by GENICAM_CLPROTOCOL (a short template, "Manufacturer[#Family[#Model...]]").
// XML IDs: "SchemaVersion.<major>.<minor>@<short Device ID>@DeviceVersion.<major>.<minor>.<subminor>".
#pragma once

#include "clprotocol/ClpTypes.h"
#include "clprotocol/GenCpChannel.h"

#include <cstdint>
#include <string>
#include <vector>

namespace CLProtocol {

class GenCpDriver {
public:
    static constexpr const char* directory = "Vantrel";
    static constexpr const char* file_name = "VNGenCP";

    struct Identity {
        std::string manufacturer, family, model, version, serial_number;
    };
    struct XmlFile {
        std::string xml_id;
        uint32_t file_version = 0;    // major << 24 | minor << 16 | subminor
        uint32_t schema_version = 0;  // major << 24 | minor << 16 | file type
        uint64_t address = 0;
        uint64_t size = 0;
        bool zipped = false;
    };

    static GenICam::gcstring_vector templates();
    static std::string identifier(const std::string& text);
    static Identity identity(GenCpChannel& channel);
    static std::string device_id(const Identity& identity);
    // The short form (without the two driver fields); empty when the Device ID is not this driver's.
    static std::string short_id(const std::string& device_id);
    // Whether template_id is the left part of device_id, field by field.
    static bool matches(const std::string& device_id, const std::string& template_id);

    // The manifest's files, in manifest order; a zipped and a plain copy of the same version share one
    // XML ID and the zipped one (fewer bytes on the line) is kept.
    static std::vector<XmlFile> xml_files(GenCpChannel& channel, const std::string& device_id);
    // The description text; throws CLErrException when it cannot be read or unzipped.
    static std::string fetch(GenCpChannel& channel, const XmlFile& file);
    // Where the description of that XML ID is kept: the GenICam cache directory (GENICAM_CACHE_V2_4, else
    // a directory under the system's temporary directory).
    static std::string cache_path(const std::string& device_id, const XmlFile& file);

    // Camera registers beyond the bootstrap block that the driver uses to speed the line up.
    static constexpr uint64_t baud_rates_supported = 0x0300;
    static constexpr uint64_t baud_rate = 0x0304;
};

}  // namespace CLProtocol
