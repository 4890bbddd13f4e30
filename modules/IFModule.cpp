#include "modules/IFModule.h"

#include "board/VNBoards.h"
#include "core/ErrorReport.h"
#include "core/SizeProtocol.h"
#include "modules/DevModule.h"
#include "modules/ModuleRegisters.h"
#include "modules/RegisterAddresses.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <mutex>

namespace vngtl {

using namespace GenTL;
using VNBoards::BoardKind;
using VNBoards::BoardState;

namespace {

constexpr const char* resource_name = "Resources\\TLInterface.xml";
constexpr const char* xml_file_name = "Vantrel_VNGTL2_TLInterface.xml";
constexpr const char* device_id = "TLDevice";

enum : int32_t {
    info_interface_type = 1000,
    info_update_list = 1001,
    info_device_selector = 1002,
    info_device_count = 1003,
    info_device_id = 1004,
    info_device_vendor = 1005,
    info_device_model = 1006,
    info_device_access = 1007,
    info_camera_file = 1008,
    info_camera_file_settable = 1009,
    info_register_index = 1010,
    info_register_count = 1011,
    info_register_name = 1012,
    info_register_value = 1013,
    info_register_valid = 1014,
    info_device_open = 1015,
};

namespace r = reg::interface;

// The registers of the "TLInterface" description.
constexpr RegisterRow register_table[] = {
    {info_interface_type, r::Reg_InterfaceType, 4, INFO_DATATYPE_UINT32, true, false, RegisterRow::Value},
    {info_update_list, r::Reg_DeviceUpdateList, 4, INFO_DATATYPE_UINT32, false, true, RegisterRow::Command},
    {info_device_selector, r::Reg_DeviceSelector, 4, INFO_DATATYPE_UINT32, true, true, RegisterRow::Value},
    {info_device_count, r::Reg_DeviceCount, 4, INFO_DATATYPE_UINT32, true, false, RegisterRow::Computed},
    {info_device_id, r::Reg_DeviceID, reg::string_length, INFO_DATATYPE_STRING, true, false, RegisterRow::Computed},
    {info_device_vendor, r::Reg_DeviceVendorName, reg::string_length, INFO_DATATYPE_STRING, true, false,
     RegisterRow::Computed},
    {info_device_model, r::Reg_DeviceModelName, reg::string_length, INFO_DATATYPE_STRING, true, false,
     RegisterRow::Computed},
    {info_device_access, r::Reg_DeviceAccessStatus, 4, INFO_DATATYPE_UINT32, true, false, RegisterRow::Computed},
    {info_camera_file, r::Reg_CurrentCameraFile, reg::path_length, INFO_DATATYPE_STRING, true, true, RegisterRow::Both},
    {info_camera_file_settable, r::Reg_CameraFileSettable, 4, INFO_DATATYPE_UINT32, true, false,
     RegisterRow::Computed},
    {info_register_index, r::Reg_BoardRegisterIndex, 4, INFO_DATATYPE_UINT32, true, true, RegisterRow::Both},
    {info_register_count, r::Reg_BoardRegisterIndex_Cnt, 4, INFO_DATATYPE_UINT32, true, false, RegisterRow::Value},
    {info_register_name, r::Reg_BoardRegisterName, reg::string_length, INFO_DATATYPE_STRING, true, true,
     RegisterRow::Both},
    {info_register_value, r::Reg_BoardRegisterValue, 4, INFO_DATATYPE_UINT32, true, true, RegisterRow::Both},
    {info_register_valid, r::Reg_BoardRegisterValid, 4, INFO_DATATYPE_UINT32, true, true, RegisterRow::Computed},
    {info_device_open, r::Reg_DeviceOpen, 4, INFO_DATATYPE_UINT32, true, false, RegisterRow::Computed},
};

std::string lower_case(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

IFModule::IFModule(std::shared_ptr<VNBoards::Board> board, std::weak_ptr<BaseModule> parent,
                   const SystemValues& system)
    : BaseModule(board->board_id(), std::move(parent), &port_), board_(std::move(board)), system_(system)
{
    add_info_string(INTERFACE_INFO_ID, id());
    add_info_string(INTERFACE_INFO_DISPLAYNAME, id(), next_free, reg::string_length);
    add_info_string(INTERFACE_INFO_TLTYPE, board_->kind_name(), reg::interface::Info_InterfaceTLType, reg::string_length);

    port_.setup_port_info(id(), "TLInterface", "TLInterface", system_);
    port_.bind(&info_map(), this);
    port_.set_entry(PORT_INFO_TLTYPE, info_entry(INTERFACE_INFO_TLTYPE));

    read_register_names();
    setup_xml_file();
}

IFModule::~IFModule()
{
    retire_handle();
}

uint32_t IFModule::handle_kind() const noexcept
{
    return kind_interface;
}


void IFModule::read_register_names()
{
    for (auto& [number, name] : board_->register_names()) {
        register_names_.emplace(lower_case(std::move(name)), number);
    }
}

void IFModule::setup_xml_file()
{
    setup_module_xml(*this, port_, "IFModule::setup_xml_file", {resource_name, xml_file_name, reg::interface::xml_file},
                     register_table, &IFModule::pre_read, &IFModule::post_write,
                     [this](int32_t) { return update_children(nullptr, infinite); },
                     [this](int32_t command) -> uint64_t {
                         switch (command) {
                         case info_interface_type: return transport_type(board_->kind());
                         case info_register_count: return register_names_.size();
                         default: return 0;
                         }
                     });
}

GC_ERROR IFModule::valid_child_ids(std::vector<std::string>& list_out)
{
    list_out.clear();
    if (board_->has_camera_file()) {
        list_out.emplace_back(device_id);
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR IFModule::make_new_child(std::shared_ptr<BaseModule>& child_out, size_t index, const std::string& id)
{
    static constexpr const char* function = "IFModule::make_new_child";
    child_out.reset();
    if (!board_->has_camera_file()) {
        return report_error(function, GC_ERR_ERROR,
                            "The specified child index (" + std::to_string(index) +
                                ") doesn't exist. This board has no children.");
    }
    if (index != 0) {
        return report_error(function, GC_ERR_ERROR,
                            "The specified child index (" + std::to_string(index) + ") doesn't exist.");
    }
    if (id != device_id) {
        return report_error(function, GC_ERR_ERROR, "The specified child ID, \"" + id + "\", doesn't exist.");
    }
    try {
        child_out = std::make_shared<DevModule>(board_, shared_self(), system_);
    } catch (...) {
        child_out.reset();
        return report_error(function, GC_ERR_OUT_OF_MEMORY,
                            "Caught an unexpected error attempting to add a child device for interface \"" +
                                this->id() + "\".");
    }
    return GC_ERR_SUCCESS;
}

std::map<std::string, uint32_t>::const_iterator IFModule::selected() const
{
    const size_t position = selected_.load();
    if (position >= register_names_.size()) {
        return register_names_.end();
    }
    return std::next(register_names_.begin(), static_cast<std::ptrdiff_t>(position));
}

GC_ERROR IFModule::no_selection(const char* function) const
{
    return report_error(function, GC_ERR_INVALID_INDEX,
                        "The selected register index is not valid (board " +
                            std::to_string(board_->board_number()) + ").");
}

GC_ERROR IFModule::read_device_value(int32_t command, RegisterMap::Entry& entry, uint8_t* data)
{
    const uint32_t selector = entry_uint32(info_entry(info_device_selector));
    const std::shared_ptr<BaseModule> child = child_at(selector);
    if (!child) {
        return report_error("IFModule::pre_read", GC_ERR_ERROR, "The selected child is not properly initialized.");
    }
    const auto length = static_cast<size_t>(entry.length());
    std::memset(data, 0, length);
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    size_t size = length;
    return child->info(command, &type, data, &size);
}

GC_ERROR IFModule::pre_read(int32_t command, RegisterMap::Entry& entry, uint8_t* data)
{
    static constexpr const char* function = "IFModule::pre_read";
    switch (command) {
    case info_device_count: {
        uint32_t count = 0;
        if (const GC_ERROR code = num_children(&count)) {
            return code;
        }
        set_entry_uint32(entry, count);
        return GC_ERR_SUCCESS;
    }
    case info_device_id:
        return read_device_value(DEVICE_INFO_ID, entry, data);
    case info_device_vendor:
        return read_device_value(DEVICE_INFO_VENDOR, entry, data);
    case info_device_model:
        return read_device_value(DEVICE_INFO_MODEL, entry, data);
    case info_device_access:
        return read_device_value(DEVICE_INFO_ACCESS_STATUS, entry, data);
    case info_camera_file: {
        const auto length = static_cast<size_t>(entry.length());
        std::memset(data, 0, length);
        size_t size = length;
        const std::string file = board_->camera_file();
        if (const GC_ERROR code = deliver_string(file, data, &size)) {
            return report_error(function, code,
                                "The camera file name of board " + std::to_string(board_->board_number()) +
                                    " does not fit the register (" + std::to_string(size) + " bytes needed).");
        }
        return GC_ERR_SUCCESS;
    }
    case info_camera_file_settable:
        set_entry_uint32(entry, board_->state() < BoardState::Configured ? 1 : 0);
        return GC_ERR_SUCCESS;
    case info_register_index: {
        const size_t position = selected_.load();
        set_entry_uint32(entry, position < register_names_.size() ? static_cast<uint32_t>(position) : 0);
        return GC_ERR_SUCCESS;
    }
    case info_register_name: {
        const auto chosen = selected();
        if (chosen == register_names_.end()) {
            return no_selection(function);
        }
        const auto length = static_cast<size_t>(entry.length());
        std::memset(data, 0, length);
        size_t size = length;
        return deliver_string(chosen->first, data, &size);
    }
    case info_register_value: {
        const auto chosen = selected();
        if (chosen == register_names_.end()) {
            return no_selection(function);
        }
        set_entry_uint32(entry, board_->reg_peek(chosen->second));
        return GC_ERR_SUCCESS;
    }
    case info_register_valid:
        set_entry_uint32(entry, selected() != register_names_.end() ? 1 : 0);
        return GC_ERR_SUCCESS;
    case info_device_open: {
        // The four device values come from the device's own info, which a closed device refuses; the
        // description makes them available only while this reads 1.
        const std::shared_ptr<BaseModule> child = child_at(entry_uint32(info_entry(info_device_selector)));
        set_entry_uint32(entry, child && child->is_open() ? 1 : 0);
        return GC_ERR_SUCCESS;
    }
    default:
        return GC_ERR_SUCCESS;
    }
}

GC_ERROR IFModule::set_camera_file(const std::string& file)
{
    static constexpr const char* function = "IFModule::post_write";
    const std::string board_number = std::to_string(board_->board_number());
    switch (board_->change_camera_file(file)) {
    case VNBoards::Board::CameraFileChange::Configured:
        return report_error(function, GC_ERR_ERROR,
                            "Cannot set the camera file because board " + board_number +
                                " is currently configured for acquisition.");
    case VNBoards::Board::CameraFileChange::Failed:
        return report_error(function, GC_ERR_ERROR,
                            "Failed to set camera file \"" + file + "\" on VFG " + board_number + ".");
    default:
        return GC_ERR_SUCCESS;
    }
}

GC_ERROR IFModule::post_write(int32_t command, RegisterMap::Entry& entry, uint8_t*)
{
    static constexpr const char* function = "IFModule::post_write";
    const std::string board_number = std::to_string(board_->board_number());
    switch (command) {
    case info_camera_file:
        return set_camera_file(std::string(entry_text(entry)));
    case info_register_index: {
        const uint32_t index = entry_uint32(&entry);
        if (index >= register_names_.size()) {
            return report_error(function, GC_ERR_INVALID_INDEX,
                                "There is no board register with index " + std::to_string(index) + " (board " +
                                    board_number + ").");
        }
        selected_.store(index);
        return GC_ERR_SUCCESS;
    }
    case info_register_name: {
        const std::string text(entry_text(entry));
        const auto found = register_names_.find(lower_case(text));
        if (found == register_names_.end()) {
            return report_error(function, GC_ERR_INVALID_ID,
                                "There is no board register called \"" + text + "\" (board " + board_number + ").");
        }
        selected_.store(static_cast<size_t>(std::distance(register_names_.begin(), found)));
        return GC_ERR_SUCCESS;
    }
    case info_register_value: {
        const auto chosen = selected();
        if (chosen == register_names_.end()) {
            return no_selection(function);
        }
        const uint32_t value = entry_uint32(&entry);
        if (const int32_t result = board_->reg_poke(chosen->second, value)) {
            return report_error(function, GC_ERR_ERROR,
                                "Error writing board " + board_number + " register \"" + chosen->first +
                                    "\": " + board_->vn_error_text(result));
        }
        return GC_ERR_SUCCESS;
    }
    default:
        return GC_ERR_SUCCESS;
    }
}

}  // namespace vngtl
