#include "modules/TLModule.h"

#include "board/BoardTable.h"
#include "core/ErrorReport.h"
#include "modules/DynamicResourceDepot.h"
#include "modules/IFModule.h"
#include "modules/ModuleRegisters.h"
#include "modules/RegisterAddresses.h"

#include <cstdio>
#include <cstring>

namespace vngtl {

using namespace GenTL;

namespace {

constexpr const char* module_id = "VNGTL";
constexpr const char* resource_name = "Resources\\TLSystem.xml";
constexpr const char* xml_file_name = "Vantrel_VNGTL2_TLSystem.xml";

// Custom info commands of the description's registers.
enum : int32_t {
    info_tl_type = 1000,
    info_gentl_major = 1001,
    info_gentl_minor = 1002,
    info_update_list = 1003,
    info_selector = 1004,
    info_count = 1005,
    info_interface_id = 1006,
};

namespace r = reg::system;

// The GenTL version this library implements, answered both as TL_INFO_GENTL_VER_MAJOR/MINOR and as the
// description's GenTLVersionMajor/GenTLVersionMinor features.
constexpr uint32_t gentl_version_major = 1;
constexpr uint32_t gentl_version_minor = 4;

// The registers of the "TLSystem" description.
constexpr RegisterRow register_table[] = {
    {info_tl_type, r::Reg_TLType, 4, INFO_DATATYPE_UINT32, true, false, RegisterRow::Value},
    {info_gentl_major, r::Reg_GenTLVersionMajor, 4, INFO_DATATYPE_UINT32, true, false, RegisterRow::Value},
    {info_gentl_minor, r::Reg_GenTLVersionMinor, 4, INFO_DATATYPE_UINT32, true, false, RegisterRow::Value},
    {info_update_list, r::Reg_InterfaceUpdateList, 4, INFO_DATATYPE_UINT32, false, true, RegisterRow::Command},
    {info_selector, r::Reg_InterfaceSelector, 4, INFO_DATATYPE_UINT32, true, true, RegisterRow::Value},
    {info_count, r::Reg_InterfaceCount, 4, INFO_DATATYPE_UINT32, true, false, RegisterRow::Computed},
    {info_interface_id, r::Reg_InterfaceID, reg::string_length, INFO_DATATYPE_STRING, true, false,
     RegisterRow::Computed},
};

std::string library_version()
{
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t subminor = 0;
    uint32_t build = 0;
    if (!DynamicResourceDepot::FileVersion(DynamicResourceDepot::LibraryPath(), &major, &minor, &subminor, &build)) {
        return "Unable to retrieve the file version.";
    }
    return TLModule::version_text(major, minor, subminor, build);
}

// The board at `index` of the table, or null when the table cannot give it.
std::shared_ptr<VNBoards::Board> board_at(VNBoards::BoardTable& boards, size_t index)
{
    try {
        return boards.get_board(index);
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // namespace

std::string TLModule::version_text(uint32_t major, uint32_t minor, uint32_t subminor, uint32_t build)
{
    char text[48];
    std::snprintf(text, sizeof text, "%x.%x.%x.%x", major, minor, subminor, build);
    return text;
}

TLModule::TLModule(std::shared_ptr<VNBoards::BoardTable> boards)
    : BaseModule(module_id, {}, &port_), boards_(std::move(boards))
{
    const std::string path = DynamicResourceDepot::LibraryPath();
    const auto slash = path.find_last_of("\\/");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);

    add_info_string(TL_INFO_ID, module_id, reg::system::Reg_TLID, reg::string_length);
    add_info_string(TL_INFO_VENDOR, "Vantrel, Inc.", reg::system::Reg_TLVendorName, reg::string_length);
    add_info_string(TL_INFO_MODEL, "VNGTL", reg::system::Reg_TLModelName, reg::string_length);
    add_info_string(TL_INFO_VERSION, library_version(), reg::system::Reg_TLVersion, reg::string_length);
    add_info_string(TL_INFO_TLTYPE, "Mixed", reg::system::Info_TLType, reg::string_length);
    add_info_string(TL_INFO_NAME, name, reg::system::Info_TLName, reg::string_length);
    add_info_string(TL_INFO_PATHNAME, path, reg::system::Reg_TLPath, reg::path_length);
    add_info_string(TL_INFO_DISPLAYNAME, "VNGTL", reg::system::Info_TLDisplayName, reg::string_length);
    const int32_t encoding = 0;  // ASCII
    add_info(TL_INFO_CHAR_ENCODING, &encoding, reg::system::Info_TLCharEncoding, sizeof encoding, INFO_DATATYPE_INT32, true, false);
    add_info(TL_INFO_GENTL_VER_MAJOR, &gentl_version_major, reg::system::Info_GenTLVersionMajor,
             sizeof gentl_version_major, INFO_DATATYPE_UINT32, true, false);
    add_info(TL_INFO_GENTL_VER_MINOR, &gentl_version_minor, reg::system::Info_GenTLVersionMinor,
             sizeof gentl_version_minor, INFO_DATATYPE_UINT32, true, false);
}

TLModule::~TLModule()
{
    retire_handle();
}

uint32_t TLModule::handle_kind() const noexcept
{
    return kind_system;
}


void TLModule::prepare()
{
    std::lock_guard guard(setup_lock_);
    if (!port_.good()) {
        // The port info is set up before the port is bound, so the values every other module port shares
        // with this module stay unbound on this one.
        port_.setup_port_info(id(), "TLSystem", "TLPort");
        port_.bind(&info_map(), this);
        port_.set_entry(PORT_INFO_ID, info_entry(TL_INFO_ID));
        setup_xml_file();
    }
}

GC_ERROR TLModule::open(int32_t flags)
{
    prepare();
    return BaseModule::open(flags);
}

void TLModule::setup_xml_file()
{
    static constexpr const char* function = "TLModule::setup_xml_file";
    if (!port_.add_module_xml(function, resource_name, xml_file_name, reg::system::xml_file)) {
        return;
    }
    add_register_table(*this, register_table,
                       {[this](int32_t command, RegisterMap::Entry& entry, uint8_t* data) {
                            return pre_read(command, entry, data);
                        },
                        {},
                        [this](int32_t) { return update_children(nullptr, infinite); },
                        [](int32_t command) -> uint64_t {
                            switch (command) {
                            case info_tl_type: return 5;  // Mixed
                            case info_gentl_major: return gentl_version_major;
                            case info_gentl_minor: return gentl_version_minor;
                            default: return 0;
                            }
                        }});
}

GC_ERROR TLModule::pre_read(int32_t command, RegisterMap::Entry& entry, uint8_t* data)
{
    if (command == info_count) {
        uint32_t count = 0;
        if (const GC_ERROR code = num_children(&count)) {
            return code;
        }
        set_entry_uint32(entry, count);
        return GC_ERR_SUCCESS;
    }
    // info_interface_id
    const uint32_t selector = entry_uint32(info_entry(info_selector));
    std::memset(data, 0, static_cast<size_t>(entry.length()));
    size_t capacity = static_cast<size_t>(entry.length());
    return get_child_id(selector, reinterpret_cast<char*>(data), &capacity);
}

GC_ERROR TLModule::valid_child_ids(std::vector<std::string>& list_out)
{
    list_out.clear();
    if (!boards_) {
        return GC_ERR_NOT_INITIALIZED;
    }
    VNBoards::BoardTable& boards = *boards_;
    for (size_t index = 0; index < boards.size(); ++index) {
        const std::shared_ptr<VNBoards::Board> board = board_at(boards, index);
        if (!board) {
            report_error("TLModule::valid_child_ids", GC_ERR_ERROR,
                         "Unable to retrieve the Vantrel board at index " + std::to_string(index) +
                             ". No interface module will be generated for that board.");
            list_out.emplace_back();
            continue;
        }
        list_out.push_back(board->board_id());
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR TLModule::make_new_child(std::shared_ptr<BaseModule>& child_out, size_t index, const std::string& id)
{
    static constexpr const char* function = "TLModule::make_new_child";
    child_out.reset();
    if (!boards_) {
        return GC_ERR_NOT_INITIALIZED;
    }
    VNBoards::BoardTable& boards = *boards_;
    if (index >= boards.size()) {
        return report_error(function, GC_ERR_ERROR,
                            "There are only " + std::to_string(boards.size()) + " boards installed. " +
                                std::to_string(index) + " is an invalid index.");
    }
    const std::shared_ptr<VNBoards::Board> board = board_at(boards, index);
    if (!board) {
        return report_error(function, GC_ERR_ERROR,
                            "Unable to retrieve the board at index " + std::to_string(index) +
                                ". No interface module will be generated for that board.");
    }
    const std::string board_id = board->board_id();
    if (board_id != id) {
        return report_error(function, GC_ERR_ERROR,
                            "The board at index " + std::to_string(index) + " has ID \"" + board_id +
                                "\", but the expected ID was \"" + id + "\".");
    }
    try {
        child_out = std::make_shared<IFModule>(std::move(board), shared_self(), system_values());
    } catch (...) {
        child_out.reset();
        return report_error(function, GC_ERR_OUT_OF_MEMORY,
                            "Caught an unexpected error attempting to add a child interface for transport-layer \"" +
                                this->id() + "\".");
    }
    return GC_ERR_SUCCESS;
}

std::shared_ptr<BaseModule> TLModule::shared_self()
{
    return weak_from_this().lock();
}

SystemValues TLModule::system_values() const
{
    return {info_entry(TL_INFO_VENDOR), info_entry(TL_INFO_MODEL), info_entry(TL_INFO_VERSION),
            info_entry(TL_INFO_TLTYPE)};
}

}  // namespace vngtl
