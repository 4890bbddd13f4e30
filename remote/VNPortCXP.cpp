#include "remote/VNPortCXP.h"

#include "board/VNBoards.h"
#include "core/ErrorReport.h"
#include "core/RegisterMapHelpers.h"
#include "remote/VNRemDevPortMedium.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

namespace vngtl {

using namespace GenTL;
namespace fs = std::filesystem;

namespace {

constexpr const char* port_id = "Device";
constexpr uint64_t max_address = 0xFFFFFFFFull;
constexpr uint32_t device_string_length = 32;

// The board's link speeds by row; row 0 ("Default") is never chosen for a written configuration.
struct LinkSpeed {
    const char* name;
    uint32_t code;
};
constexpr LinkSpeed link_speeds[] = {
    {"Default", 0}, {"1.25Ghz", 0x28}, {"2.50Ghz", 0x30}, {"3.125Ghz", 0x38}, {"5.00Ghz", 0x40}, {"6.25Ghz", 0x48},
};

// A single camera register is a word inside the 32-bit space CoaXPress addresses.
GC_ERROR check_register_address(const char* function, uint64_t address)
{
    if (address > max_address) {
        return report_error(function, GC_ERR_INVALID_ADDRESS,
                            "Address " + hex(address) +
                                " exceeds the maximum 32-bit address space used by CoaXPress.");
    }
    if (address % 4 != 0) {
        return report_error(function, GC_ERR_INVALID_ADDRESS, "Address " + hex(address) + " is not word-aligned.");
    }
    return GC_ERR_SUCCESS;
}

// Lower-case hexadecimal without a prefix, as numbers following a hexadecimal range are written.
std::string plain_hex(uint64_t value)
{
    return hex(value).substr(2);
}

uint32_t rounded(uint32_t length, bool rounding)
{
    return rounding ? (length + 3u) & ~3u : length;
}

std::string lower_extension(const std::string& path)
{
    std::string extension = fs::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

std::string strip_file_scheme(const std::string& url)
{
    return VNCxpXmlCacheInterface::file_url_path(url);
}

// A value computed at each query: `compute` fills the entry's bytes before they are read.
using Compute = std::function<GC_ERROR(uint8_t* data)>;

}  // namespace

void VNPortCXP::add_computed(int32_t command, uint64_t length, INFO_DATATYPE type, Compute compute)
{
    auto* entry = static_cast<InfoFuncEntry<PORT_INFO_ID>*>(
        add_info(command, nullptr, next_free, length, type, true, false, make_info_func_entry<PORT_INFO_ID>));
    if (entry != nullptr) {
        entry->on_pre_read = [compute = std::move(compute)](RegisterMap::Entry&, uint8_t* data, void*, size_t*) {
            return compute(data);
        };
    }
}

VNPortCXP::VNPortCXP(std::shared_ptr<VNBoards::Board> board) : board_(std::move(board))
{
    const auto flag = [this](int32_t command, std::function<bool()> value) {
        add_computed(command, 1, INFO_DATATYPE_BOOL8, [value = std::move(value)](uint8_t* data) {
            *data = value() ? 1 : 0;
            return GC_ERR_SUCCESS;
        });
    };
    const auto device_string = [this](int32_t command, uint64_t address) {
        add_computed(command, device_string_length, INFO_DATATYPE_STRING,
                     [this, address](uint8_t* data) { return read_device_string(address, data); });
    };

    add_info_string(PORT_INFO_ID, port_id);
    device_string(PORT_INFO_VENDOR, VNCxpBootstrap::vendor_name_address);
    device_string(PORT_INFO_MODEL, VNCxpBootstrap::model_name_address);
    add_info_string(PORT_INFO_TLTYPE, board_ ? board_->kind_name() : std::string());
    add_info_string(PORT_INFO_MODULE, port_id);
    add_info_bool8(PORT_INFO_LITTLE_ENDIAN, true);
    add_info_bool8(PORT_INFO_BIG_ENDIAN, false);
    flag(PORT_INFO_ACCESS_READ, [this] { return good() && readable() && board_open(); });
    flag(PORT_INFO_ACCESS_WRITE, [this] { return good() && writable() && board_open(); });
    flag(PORT_INFO_ACCESS_NA, [this] { return !(good() && (readable() || writable()) && board_open()); });
    add_info_bool8(PORT_INFO_ACCESS_NI, false);
    device_string(PORT_INFO_VERSION, VNCxpBootstrap::device_version_address);
    add_info_string(PORT_INFO_PORTNAME, port_id);

    if (board_) {
        board_->check_init(VNBoards::OpenLevel::Inspect);
        read_rounding_ = board_->registry_flag(read_rounding_key);
        write_rounding_ = board_->registry_flag(write_rounding_key);
    }
    add_info_bool8(info_read_rounding, read_rounding_);
    add_info_bool8(info_write_rounding, write_rounding_);

    if (board_ && xml_cache_.updateStore(*this) && xml_cache_.store_size() == 0) {
        xml_cache_.downloadFiles(*this);
        xml_cache_.updateStore(*this);
    }
}

VNPortCXP::~VNPortCXP() = default;

std::string VNPortCXP::board_text() const
{
    return board_ ? std::to_string(board_->board_number()) : std::string("?");
}

bool VNPortCXP::board_open() const
{
    return board_ && board_->check_init(VNBoards::OpenLevel::Inspect) != VNBoards::BoardState::Closed;
}

GC_ERROR VNPortCXP::read_device_string(uint64_t address, uint8_t* data)
{
    char text[device_string_length] = {};
    size_t size = sizeof text;
    if (const GC_ERROR code = read(address, text, &size)) {
        return code;
    }
    std::memcpy(data, text, sizeof text);
    return GC_ERR_SUCCESS;
}

void VNPortCXP::bind(VNRemDevPortMedium* medium)
{
    set_medium(medium);
    if (!xml_cache_.updateStore(*this)) {
        report_error("VNPortCXP::bind", GC_ERR_IO,
                     "Unable to update the CoaXPress URL store for board " + board_text() + ".");
    }
}

bool VNPortCXP::good() const
{
    if (medium() == nullptr || !board_) {
        return false;
    }
    board_->check_init(VNBoards::OpenLevel::Inspect);
    return board_->is_cxp();
}

GC_ERROR VNPortCXP::read(uint64_t address, void* buffer, size_t* size_in_out)
{
    static constexpr const char* function = "VNPortCXP::read";
    if (!readable()) {
        return report_error(function, GC_ERR_ACCESS_DENIED, "The port is not readable.");
    }
    return read_block(address, buffer, size_in_out);
}

GC_ERROR VNPortCXP::read_block(uint64_t address, void* buffer, size_t* size_in_out)
{
    static constexpr const char* function = "VNPortCXP::read";
    if (address > max_address) {
        return report_error(function, GC_ERR_INVALID_ADDRESS,
                            "Address " + hex(address) +
                                " exceeds the maximum 32-bit address space used by CoaXPress.");
    }
    if (buffer == nullptr) {
        return report_error(function, GC_ERR_INVALID_PARAMETER, "The read buffer is a null pointer.");
    }
    if (size_in_out == nullptr) {
        return report_error(function, GC_ERR_INVALID_PARAMETER, "The size parameter is a null pointer.");
    }
    if (!board_) {
        return report_error(function, GC_ERR_ACCESS_DENIED,
                            "Unable to initialize board " + board_text() + " for CXP read.");
    }
    const auto wanted = static_cast<uint32_t>(*size_in_out);
    const uint32_t length = rounded(wanted, read_rounding_);
    // A rounded transfer is staged so that the bytes beyond the caller's size never reach its buffer.
    std::vector<uint8_t> staging(length != wanted ? length : 0);
    void* const target = staging.empty() ? buffer : staging.data();
    uint32_t bytes_read = 0;
    const VNBoards::BoardCall call =
        board_->cxp_read_data(static_cast<uint32_t>(address), target, length, bytes_read);
    if (!call.opened) {
        return report_error(function, GC_ERR_ACCESS_DENIED,
                            "Unable to initialize board " + board_text() + " for CXP read.");
    }
    if (call.result != 0) {
        return report_error(function, GC_ERR_IO,
                            "Received VN error code " + std::to_string(call.result) + " reading the data range [" +
                                hex(address) + ", " + hex(address + length) + ") from board " +
                                plain_hex(board_->board_number()) + ".");
    }
    if (!staging.empty()) {
        std::memcpy(buffer, staging.data(), std::min<size_t>(wanted, bytes_read));
    }
    *size_in_out = bytes_read;
    return GC_ERR_SUCCESS;
}

GC_ERROR VNPortCXP::write(uint64_t address, const void* buffer, size_t* size_in_out)
{
    static constexpr const char* function = "VNPortCXP::write";
    if (!writable()) {
        return report_error(function, GC_ERR_ACCESS_DENIED, "The port is not writable.");
    }
    if (address > max_address) {
        return report_error(function, GC_ERR_INVALID_ADDRESS,
                            "Address " + hex(address) +
                                " exceeds the maximum 32-bit address space used by CoaXPress.");
    }
    if (buffer == nullptr) {
        return report_error(function, GC_ERR_INVALID_PARAMETER, "The write buffer is a null pointer.");
    }
    if (size_in_out == nullptr) {
        return report_error(function, GC_ERR_INVALID_PARAMETER, "The size parameter is a null pointer.");
    }
    const std::string unopened = "Unable to initialize board " + board_text() + " for CXP write.";
    if (!board_) {
        return report_error(function, GC_ERR_ACCESS_DENIED, unopened);
    }
    const auto given = static_cast<uint32_t>(*size_in_out);
    const uint32_t length = rounded(given, write_rounding_);
    VNBoards::BoardCall call;
    if (*size_in_out == 4 && address == link_config_address) {
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        const uint32_t value = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
                               uint32_t{bytes[3]};
        const uint32_t code = value & 0xFFFF;
        const uint32_t connections = value >> 16;
        uint32_t row = 0;
        for (uint32_t r = 1; r < std::size(link_speeds); ++r) {
            if (link_speeds[r].code == code) {
                row = r;
                break;
            }
        }
        if (row == 0) {
            return report_error(function, GC_ERR_IO, "Bad or unknown CXP link speed.");
        }
        call = board_->cxp_configure_link_speed(connections, row);
    } else if (length != given) {
        // The rounded transfer is padded with zero bytes; nothing is read beyond the caller's buffer.
        std::vector<uint8_t> staging(length, 0);
        std::memcpy(staging.data(), buffer, given);
        call = board_->cxp_write_data(static_cast<uint32_t>(address), staging.data(), length);
    } else {
        call = board_->cxp_write_data(static_cast<uint32_t>(address), buffer, length);
    }
    if (!call.opened) {
        return report_error(function, GC_ERR_ACCESS_DENIED, unopened);
    }
    if (call.result != 0) {
        return report_error(function, GC_ERR_IO,
                            "Received VN error code " + std::to_string(call.result) + " writing to the data range [" +
                                hex(address) + ", " + hex(address + length) + ") from board " +
                                plain_hex(board_->board_number()) + ".");
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR VNPortCXP::read_register(uint64_t address, uint32_t& value)
{
    static constexpr const char* function = "VNPortCXP::read";
    if (const GC_ERROR refused = check_register_address(function, address); refused != GC_ERR_SUCCESS) {
        return refused;
    }
    const VNBoards::BoardCall call =
        board_ ? board_->cxp_read_reg(static_cast<uint32_t>(address), value) : VNBoards::BoardCall{};
    if (!call.opened) {
        return report_error(function, GC_ERR_ACCESS_DENIED,
                            "Unable to initialize board " + board_text() + " for CXP read.");
    }
    if (call.result != 0) {
        return report_error(function, GC_ERR_IO,
                            "Received VN error code " + std::to_string(call.result) +
                                " reading the register at address " + hex(address) + ".");
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR VNPortCXP::write_register(uint64_t address, uint32_t value)
{
    static constexpr const char* function = "VNPortCXP::write";
    if (const GC_ERROR refused = check_register_address(function, address); refused != GC_ERR_SUCCESS) {
        return refused;
    }
    const VNBoards::BoardCall call =
        board_ ? board_->cxp_write_reg(static_cast<uint32_t>(address), value) : VNBoards::BoardCall{};
    if (!call.opened) {
        return report_error(function, GC_ERR_ACCESS_DENIED,
                            "Unable to initialize board " + board_text() + " for CXP write.");
    }
    if (call.result != 0) {
        return report_error(function, GC_ERR_IO,
                            "Received VN error code " + std::to_string(call.result) +
                                " writing the register at address " + hex(address) + ".");
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR VNPortCXP::num_urls(uint32_t* count_out)
{
    if (count_out == nullptr) {
        return report_error("VNPortCXP::num_urls", GC_ERR_INVALID_PARAMETER, "The URL count return pointer is null.");
    }
    *count_out = static_cast<uint32_t>(xml_cache_.store_size());
    return GC_ERR_SUCCESS;
}

GC_ERROR VNPortCXP::url_info(uint32_t index, URL_INFO_CMD command, INFO_DATATYPE* type_out, void* buffer,
                             size_t* size_in_out)
{
    static constexpr const char* function = "VNPortCXP::url_info";
    if (!xml_cache_.updateStore(*this)) {
        return report_error(function, GC_ERR_IO,
                            "Unable to update the CoaXPress URL store for board " + board_text() + ".");
    }
    const size_t count = xml_cache_.store_size();
    const std::string where = " on the CoaXPresss port of board " + board_text() + ".";
    if (index >= count) {
        return report_error(function, GC_ERR_INVALID_INDEX,
                            "Index " + std::to_string(index) + " exceeds the " + std::to_string(count) +
                                " URLs available on the CoaXPresss port of board " + board_text() + ".");
    }
    VNCxpXmlCacheInterface::UrlRecord record;
    if (const GC_ERROR code = xml_cache_.xml_properties(record, index, true)) {
        return code;
    }
    const auto known = [&](int32_t value, const char* what) -> GC_ERROR {
        if (value < 0) {
            return report_error(function, GC_ERR_NOT_AVAILABLE, std::string(what) + std::to_string(index) + where);
        }
        return copy_info_int32(value, type_out, buffer, size_in_out);
    };
    GC_ERROR code = GC_ERR_SUCCESS;
    switch (static_cast<int32_t>(command)) {
    case URL_INFO_URL:
        code = copy_info_string(record.url, type_out, buffer, size_in_out);
        break;
    case URL_INFO_SCHEMA_VER_MAJOR:
        code = known(record.schema_major, "Unknown major schema version for URL ");
        break;
    case URL_INFO_SCHEMA_VER_MINOR:
        code = known(record.schema_minor, "Unknown minor schema version for URL ");
        break;
    case URL_INFO_FILE_VER_MAJOR:
        code = known(record.file_major, "Unknown major file version for URL ");
        break;
    case URL_INFO_FILE_VER_MINOR:
        code = known(record.file_minor, "Unknown minor file version for URL ");
        break;
    case URL_INFO_FILE_VER_SUBMINOR:
        code = known(record.file_subminor, "Unknown sub-minor file version for URL ");
        break;
    case URL_INFO_FILE_SHA1_HASH:
        return report_error(function, GC_ERR_NOT_IMPLEMENTED,
                            "SHA1 hash of an XML file is not available for CLProtocol devices.");
    default:
        return report_error(function, GC_ERR_NOT_IMPLEMENTED,
                            "Unknown info command with ID " + std::to_string(static_cast<int32_t>(command)) + ".");
    }
    if (code == GC_ERR_NOT_AVAILABLE) {
        return code;  // recorded above
    }
    if (code != GC_ERR_SUCCESS) {
        return report_error(function, code,
                            "Could not copy the return data to the output buffer for URL_INFO_CMD " +
                                std::to_string(static_cast<int32_t>(command)) + where);
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR VNPortCXP::cache_external_file(const std::string& path)
{
    static constexpr const char* function = "VNPortCXP::cache_external_file";
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        return report_error(function, GC_ERR_ERROR, "The file does not exist.");
    }
    const std::string extension = lower_extension(path);
    if (extension != ".xml" && extension != ".zip") {
        return report_error(function, GC_ERR_ERROR,
                            "The file extension is neither XML nor ZIP, which are the only supported formats.");
    }
    const std::string configured = VNCxpXmlCacheInterface::configured_directory();
    if (configured.empty()) {
        xml_cache_.xmlCacheDirectory();  // records why there is none
        return GC_ERR_IO;
    }
    if (!fs::is_directory(configured, error) && !fs::create_directory(configured, error)) {
        return report_error(function, GC_ERR_ERROR,
                            "System error creating the XML cache directory: " + error.message());
    }
    const fs::path directory(configured);

    // An archive keeps its extension in the cache, so that it can be extracted beside itself.
    xml_cache_.update_bootstrap(*this);
    const auto candidate = [&](int64_t seed) {
        std::string name = xml_cache_.generate_xml_file_name(seed);
        if (name.empty()) {
            return std::string();
        }
        return (directory / fs::path(name).replace_extension(extension)).string();
    };
    const auto taken = [&](const std::string& target) {
        std::error_code ignored;
        return target.empty() || fs::exists(target, ignored) ||
               fs::exists(fs::path(target).replace_extension(".xml"), ignored);
    };
    std::string target = candidate(-1);
    for (int tries = 0; taken(target); ++tries) {
        if (tries == 11) {
            return report_error(function, GC_ERR_ERROR, "Unable to generate an appropriate name for the cached file.");
        }
        const auto seconds = static_cast<int64_t>(std::time(nullptr));
        const int64_t seed = (seconds << 32) + static_cast<int64_t>(std::clock());
        target = candidate(seed);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!fs::copy_file(path, target, fs::copy_options::none, error)) {
        return report_error(function, GC_ERR_ERROR, "An error occured while caching a file: " + error.message());
    }
    if (extension == ".zip" && !xml_cache_.doUnzip(target)) {
        if (!fs::remove(target, error) && error) {
            return report_error(function, GC_ERR_ERROR,
                                "Unable to unarchive the ZIPd XML file. Error cleaning up: " + error.message());
        }
        return report_error(function, GC_ERR_ERROR, "Unable to unarchive the ZIPd XML file.");
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR VNPortCXP::delete_cache_entry(uint32_t index)
{
    static constexpr const char* function = "VNPortCXP::delete_cache_entry";
    VNCxpXmlCacheInterface::UrlRecord record;
    if (const GC_ERROR code = xml_cache_.xml_properties(record, index, false)) {
        return code;
    }
    const std::string path = strip_file_scheme(record.url);
    std::vector<std::string> doomed{path};
    if (lower_extension(path) == ".xml") {
        doomed.push_back(fs::path(path).replace_extension(".zip").string());
    }
    for (const std::string& file : doomed) {
        std::error_code error;
        if (fs::is_regular_file(file, error) && !fs::remove(file, error)) {
            return report_error(function, GC_ERR_ERROR, "System error deleting a file: " + error.message());
        }
    }
    if (!xml_cache_.updateStore(*this)) {
        return report_error(function, GC_ERR_ERROR, "An error occured updating the XML cache store.");
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR VNPortCXP::sync_cache_with_camera()
{
    static constexpr const char* function = "VNPortCXP::sync_cache_with_camera";
    if (!xml_cache_.purgeManifestFiles(*this)) {
        return report_error(function, GC_ERR_ERROR,
                            "An error occured purging the XML cache of extant manifest files.");
    }
    if (!xml_cache_.downloadFiles(*this)) {
        return report_error(function, GC_ERR_ERROR, "An error occured downloading the camera XML files.");
    }
    if (!xml_cache_.updateStore(*this)) {
        return report_error(function, GC_ERR_ERROR, "An error occured updating the XML cache store.");
    }
    return GC_ERR_SUCCESS;
}

}  // namespace vngtl
