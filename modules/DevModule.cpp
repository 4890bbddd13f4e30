#include "modules/DevModule.h"

#include "board/VNBoards.h"
#include "core/ErrorReport.h"
#include "core/SizeProtocol.h"
#include "modules/DSModule.h"
#include "modules/ModuleRegisters.h"
#include "modules/RegisterAddresses.h"
#include "remote/VNPortCXP.h"
#include "remote/VNRemDevPortMedium.h"

#include "gcbase/UrlCoding.h"

#include <chrono>
#include <mutex>
#include <utility>

namespace vngtl {

using namespace GenTL;
using VNBoards::BoardKind;

namespace {

constexpr const char* module_id = "TLDevice";
constexpr const char* stream_id = "TLDataStream";
constexpr const char* resource_name = "Resources\\TLDevice.xml";
constexpr const char* xml_file_name = "Vantrel_VNGTL2_TLDevice.xml";

enum : int32_t {
    info_device_type = 1000,
    info_stream_selector = 1001,
    info_stream_count = 1002,
    info_stream_id = 1003,
    info_cache_external_file = 1004,
    info_delete_cache_entry = 1005,
    info_xml_selector = 1006,
    info_xml_url_path = 1007,
    info_xml_file_count = 1008,
    info_sync_cache = 1009,
};

namespace r = reg::device;

// The registers of the "TLDevice" description.
constexpr RegisterRow register_table[] = {
    {info_device_type, r::Reg_DeviceType, 4, INFO_DATATYPE_UINT32, true, false, RegisterRow::Value},
    {info_stream_selector, r::Reg_StreamSelector, 4, INFO_DATATYPE_UINT32, true, true, RegisterRow::Value},
    {info_stream_count, r::Reg_StreamCount, 4, INFO_DATATYPE_UINT32, true, false, RegisterRow::Computed},
    {info_stream_id, r::Reg_StreamID, reg::string_length, INFO_DATATYPE_STRING, true, false, RegisterRow::Computed},
    {info_cache_external_file, r::Reg_CacheExternalXmlFile, reg::path_length, INFO_DATATYPE_STRING, false, true,
     RegisterRow::Acts},
    {info_delete_cache_entry, r::Reg_DeleteSelectedXmlCacheEntry, 4, INFO_DATATYPE_UINT32, false, true,
     RegisterRow::Command},
    {info_xml_selector, r::Reg_XmlUrlSelector, 4, INFO_DATATYPE_UINT32, true, true, RegisterRow::Value},
    {info_xml_url_path, r::Reg_XmlUrlPath, reg::path_length, INFO_DATATYPE_STRING, true, false, RegisterRow::Computed},
    {info_xml_file_count, r::Reg_XmlFileCount, 4, INFO_DATATYPE_UINT32, true, false, RegisterRow::Computed},
    {info_sync_cache, r::Reg_SyncCacheWithCamera, 4, INFO_DATATYPE_UINT32, false, true, RegisterRow::Command},
};

// The text of a string value handed down from the system module; empty without one.
std::string text_of(const RegisterMap::Entry* entry)
{
    return entry != nullptr ? std::string(entry_text(*entry)) : std::string();
}

}  // namespace

DevModule::DevModule(std::shared_ptr<VNBoards::Board> board, std::weak_ptr<BaseModule> parent,
                     const SystemValues& system)
    : BaseModule(module_id, std::move(parent), &port_), board_(std::move(board)), system_(system)
{
    const std::string vendor = text_of(system_.vendor);
    const std::string model = board_->board_model();

    // A 256-byte entry like the other strings of the description, so that its 256-byte read finds it whole;
    // the info answer is the text alone.
    add_info_string(DEVICE_INFO_ID, module_id, reg::device::Reg_DeviceID, reg::string_length);
    add_info_string(DEVICE_INFO_VENDOR, vendor, reg::device::Reg_DeviceVendorName, reg::string_length);
    add_info_string(DEVICE_INFO_MODEL, model, reg::device::Reg_DeviceModelName, reg::string_length);
    add_info_string(DEVICE_INFO_TLTYPE, board_->kind_name(), reg::device::Info_DeviceTLType, reg::string_length);
    add_register(*this, DEVICE_INFO_DISPLAYNAME, reg::device::Info_DeviceDisplayName, reg::string_length, INFO_DATATYPE_STRING, true, false,
                 RegisterHooks::on_read([this](RegisterMap::Entry& entry, uint8_t* data) {
                     return pre_read(DEVICE_INFO_DISPLAYNAME, entry, data);
                 }));
    add_register(*this, DEVICE_INFO_ACCESS_STATUS, reg::device::Info_DeviceAccessStatus, sizeof(int32_t), INFO_DATATYPE_INT32, true, false,
                 RegisterHooks::on_read([this](RegisterMap::Entry&, uint8_t* data) {
                     const int32_t status = access_status_.load();
                     std::memcpy(data, &status, sizeof status);
                     return GC_ERR_SUCCESS;
                 }));
    if (RegisterMap::Entry* name = add_info_string(DEVICE_INFO_USER_DEFINED_NAME, "", reg::device::Info_DeviceUserDefinedName, reg::string_length)) {
        name->set_available(false);
    }
    // Every device has one: the board's serial number with its board number (the channels of one board
    // share the serial number).
    add_info_string(DEVICE_INFO_SERIAL_NUMBER, board_->board_serial(), reg::device::Info_DeviceSerialNumber,
                    reg::string_length);
    add_info_string(DEVICE_INFO_VERSION, "6.0.0.1", reg::device::Info_DeviceVersion, reg::string_length);
    add_register(*this, DEVICE_INFO_TIMESTAMP_FREQUENCY, reg::device::Info_DeviceTimestampFrequency, sizeof(uint64_t), INFO_DATATYPE_UINT64, true, false,
                 RegisterHooks::on_read([this](RegisterMap::Entry& entry, uint8_t* data) {
                     return pre_read(DEVICE_INFO_TIMESTAMP_FREQUENCY, entry, data);
                 }));

    port_.setup_port_info(module_id, module_id, "DevicePort", system_);
    port_.bind(&info_map(), this);
    port_.set_entry(PORT_INFO_VENDOR, info_entry(DEVICE_INFO_VENDOR));
    port_.set_entry(PORT_INFO_MODEL, info_entry(DEVICE_INFO_MODEL));
    port_.set_entry(PORT_INFO_TLTYPE, info_entry(DEVICE_INFO_TLTYPE));

    setup_xml_file();
}

DevModule::~DevModule()
{
    retire_handle();
}

uint32_t DevModule::handle_kind() const noexcept
{
    return kind_device;
}


std::string DevModule::vfg() const
{
    return std::to_string(board_->board_number());
}

void DevModule::setup_xml_file()
{
    setup_module_xml(*this, port_, "DevModule::setup_xml_file", {resource_name, xml_file_name, reg::device::xml_file},
                     register_table, &DevModule::pre_read, &DevModule::post_write,
                     [this](int32_t command) {
                         return command == info_delete_cache_entry ? delete_xml_file() : sync_cache_with_camera();
                     },
                     [this](int32_t command) -> uint64_t {
                         return command == info_device_type ? transport_type(board_->kind()) : 0;
                     });
    xml_selector_ = info_entry(info_xml_selector);
}

GC_ERROR DevModule::valid_child_ids(std::vector<std::string>& list_out)
{
    list_out.assign(1, stream_id);
    return GC_ERR_SUCCESS;
}

GC_ERROR DevModule::make_new_child(std::shared_ptr<BaseModule>& child_out, size_t index, const std::string& id)
{
    static constexpr const char* function = "DevModule::make_new_child";
    child_out.reset();
    if (index != 0) {
        return report_error(function, GC_ERR_ERROR,
                            "The specified child index (" + std::to_string(index) + ") doesn't exist.");
    }
    if (id != stream_id) {
        return report_error(function, GC_ERR_ERROR, "The specified child ID, \"" + id + "\", doesn't exist.");
    }
    try {
        child_out = std::make_shared<DSModule>(board_, shared_self(), system_);
    } catch (...) {
        child_out.reset();
        return report_error(function, GC_ERR_OUT_OF_MEMORY,
                            "Caught an unexpected error attempting to add a child data-stream for device \"" +
                                this->id() + "\".");
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR DevModule::open(int32_t flags)
{
    static constexpr const char* function = "DevModule::open";
    if (const GC_ERROR code = BaseModule::open(flags)) {
        return code;
    }
    int32_t status = DEVICE_ACCESS_STATUS_READWRITE;
    switch (flags) {
    case DEVICE_ACCESS_READONLY:
        status = DEVICE_ACCESS_STATUS_READONLY;
        read_only_.store(true);
        break;
    case DEVICE_ACCESS_CONTROL:
        read_only_.store(false);
        break;
    case DEVICE_ACCESS_EXCLUSIVE: {
        read_only_.store(false);
        if (board_->check_init(VNBoards::OpenLevel::Acquire) < VNBoards::BoardState::OpenForAcquisition) {
            close();
            return report_error(function, GC_ERR_ACCESS_DENIED,
                                "Board " + vfg() + " could not be opened for acquisition, so the \"" + id() +
                                    "\" device cannot be opened with flag DEVICE_ACCESS_EXCLUSIVE.");
        }
        break;
    }
    case DEVICE_ACCESS_UNKNOWN:
        close();
        return report_error(function, GC_ERR_NOT_IMPLEMENTED,
                            "The \"" + id() + "\" device cannot be opened with flag DEVICE_ACCESS_UNKNOWN.");
    case DEVICE_ACCESS_NONE:
        close();
        return report_error(function, GC_ERR_NOT_IMPLEMENTED,
                            "The \"" + id() + "\" device cannot be opened with flag DEVICE_ACCESS_NONE.");
    default:
        close();
        return report_error(function, GC_ERR_NOT_IMPLEMENTED,
                            "Unsupported DEVICE_ACCESS_FLAG with ID " + std::to_string(flags) + ".");
    }
    // The other modes use the board as it is, opened for inspection at least; one that cannot open has no
    // device to offer.
    if (board_->check_init(VNBoards::OpenLevel::Inspect) == VNBoards::BoardState::Closed) {
        close();
        return report_error(function, GC_ERR_ACCESS_DENIED,
                            "Board " + vfg() + " could not be opened, so the \"" + id() +
                                "\" device cannot be opened.");
    }
    access_status_.store(status);
    // The remote-device port medium chooses the camera's port from the board's family; the port follows the
    // access mode (not writable when read-only).
    try {
        auto medium = std::make_shared<VNRemDevPortMedium>(board_);
        if (BasePort* port = medium->port()) {
            port->set_writable(!read_only_.load());
        }
        std::shared_ptr<BasePortMedium> previous;
        {
            std::lock_guard guard(remote_lock_);
            previous = std::exchange(remote_medium_, std::move(medium));
        }
    } catch (...) {
        return report_error(function, GC_ERR_ACCESS_DENIED,
                            "Caught an unexpected error attempting to add a remote device module for device \"" +
                                id() + "\".");
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR DevModule::close()
{
    if (const GC_ERROR code = BaseModule::close()) {
        return code;
    }
    std::shared_ptr<BasePortMedium> dropped;
    {
        std::lock_guard guard(remote_lock_);
        dropped = std::move(remote_medium_);
    }
    dropped.reset();  // outside the lock: the medium waits for calls still using its handle
    access_status_.store(DEVICE_ACCESS_STATUS_READWRITE);
    return GC_ERR_SUCCESS;
}

std::shared_ptr<BasePortMedium> DevModule::remote_medium() const
{
    std::lock_guard guard(remote_lock_);
    return remote_medium_;
}

std::shared_ptr<BasePort> DevModule::remote_port() const
{
    std::shared_ptr<BasePortMedium> medium = remote_medium();
    BasePort* const port = medium ? medium->get_port() : nullptr;
    if (port == nullptr || !port->good()) {
        return nullptr;
    }
    // The medium owns the port: sharing the medium's count keeps both.
    return std::shared_ptr<BasePort>(std::move(medium), port);
}

std::shared_ptr<VNPortCXP> DevModule::cxp_port() const
{
    std::shared_ptr<BasePort> port = remote_port();
    auto* const cxp = dynamic_cast<VNPortCXP*>(port.get());
    return cxp != nullptr ? std::shared_ptr<VNPortCXP>(std::move(port), cxp) : nullptr;
}

GC_ERROR DevModule::port_unavailable(const char* function) const
{
    return report_error(function, GC_ERR_ERROR,
                        "The remote-device port handle on VFG " + vfg() + " isn't available.");
}

GC_ERROR DevModule::xml_cache_port(const char* function, const char* action, std::shared_ptr<VNPortCXP>& port) const
{
    if (board_->kind() != BoardKind::CoaXPress) {
        return report_error(function, GC_ERR_ERROR,
                            std::string("Manual XML ") + action + " is only supported for CXP devices. VFG " + vfg() +
                                " is not.");
    }
    port = cxp_port();
    return port != nullptr ? GC_ERR_SUCCESS : port_unavailable(function);
}

GC_ERROR DevModule::pre_read(int32_t command, RegisterMap::Entry& entry, uint8_t* data)
{
    static constexpr const char* function = "DevModule::pre_read";
    const auto length = static_cast<size_t>(entry.length());
    switch (command) {
    case DEVICE_INFO_DISPLAYNAME: {
        const std::string identity = board_->camera_identity();
        if (identity.empty()) {
            return report_error(function, GC_ERR_ERROR, "Unable to retrieve the camera name on VFG " + vfg() + ".");
        }
        std::memset(data, 0, length);
        size_t size = length;
        return deliver_string(identity, data, &size);
    }
    case DEVICE_INFO_TIMESTAMP_FREQUENCY: {
        using Period = std::chrono::steady_clock::period;
        static_assert(Period::num == 1, "the monotonic clock counts whole fractions of a second");
        const uint64_t frequency = Period::den;
        std::memcpy(data, &frequency, sizeof frequency);
        return GC_ERR_SUCCESS;
    }
    case info_stream_count: {
        uint32_t count = 0;
        if (const GC_ERROR code = num_children(&count)) {
            return code;
        }
        set_entry_uint32(entry, count);
        return GC_ERR_SUCCESS;
    }
    case info_stream_id: {
        std::memset(data, 0, length);
        size_t size = length;
        return get_child_id(entry_uint32(info_entry(info_stream_selector)), reinterpret_cast<char*>(data), &size);
    }
    case info_xml_file_count: {
        const std::shared_ptr<BasePort> port = remote_port();
        if (port == nullptr) {
            return port_unavailable(function);
        }
        uint32_t count = 0;
        if (const GC_ERROR code = port->num_urls(&count)) {
            return code;
        }
        set_entry_uint32(entry, count);
        return GC_ERR_SUCCESS;
    }
    case info_xml_url_path: {
        const std::shared_ptr<BasePort> port = remote_port();
        if (port == nullptr) {
            return port_unavailable(function);
        }
        INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
        size_t size = 0;
        const uint32_t selector = entry_uint32(xml_selector_);
        if (const GC_ERROR code = port->url_info(selector, URL_INFO_URL, &type, nullptr, &size)) {
            return code;
        }
        std::string url(size, '\0');
        if (const GC_ERROR code = port->url_info(selector, URL_INFO_URL, &type, url.data(), &size)) {
            return code;
        }
        url.resize(std::strlen(url.c_str()));
        std::memset(data, 0, length);
        size_t capacity = length;
        return deliver_string(GenICam::UrlDecode(url), data, &capacity);
    }
    default:
        return GC_ERR_SUCCESS;
    }
}

GC_ERROR DevModule::post_write(int32_t command, RegisterMap::Entry& entry, uint8_t*)
{
    static constexpr const char* function = "DevModule::post_write";
    if (command != info_cache_external_file) {
        return GC_ERR_SUCCESS;
    }
    std::shared_ptr<VNPortCXP> port;
    if (const GC_ERROR refused = xml_cache_port(function, "caching", port)) {
        return refused;
    }
    const std::string_view text = entry_text(entry);
    return port->cache_external_file(std::string(text.substr(0, std::min<size_t>(text.size(), reg::path_length))));
}

GC_ERROR DevModule::delete_xml_file()
{
    std::shared_ptr<VNPortCXP> port;
    if (const GC_ERROR refused = xml_cache_port("DevModule::delete_xml_file", "cache deletion", port)) {
        return refused;
    }
    const GC_ERROR code = port->delete_cache_entry(entry_uint32(xml_selector_));
    // The selector keeps pointing at a cache entry that still exists.
    uint32_t count = 0;
    if (xml_selector_ != nullptr) {
        if (port->num_urls(&count) != GC_ERR_SUCCESS) {
            set_entry_uint32(*xml_selector_, 0);
        } else if (entry_uint32(xml_selector_) >= count) {
            set_entry_uint32(*xml_selector_, count > 0 ? count - 1 : 0);
        }
    }
    return code;
}

GC_ERROR DevModule::sync_cache_with_camera()
{
    // A Camera Link board refuses a synchronisation with the deletion's words.
    std::shared_ptr<VNPortCXP> port;
    if (const GC_ERROR refused = xml_cache_port("DevModule::sync_cache_with_camera", "cache deletion", port)) {
        return refused;
    }
    return port->sync_cache_with_camera();
}

}  // namespace vngtl
