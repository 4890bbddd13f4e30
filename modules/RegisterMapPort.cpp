#include "modules/RegisterMapPort.h"

#include "core/ErrorReport.h"
#include "modules/DynamicResourceDepot.h"

#include <cstdio>
#include <utility>

namespace vngtl {

using namespace GenTL;

namespace {

std::string plain_hex(uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace

RegisterMapPort::RegisterMapPort() = default;

RegisterMapPort::~RegisterMapPort() = default;

bool RegisterMapPort::good() const
{
    return map() != nullptr && medium() != nullptr;
}

void RegisterMapPort::bind(RegisterMap* map, BasePortMedium* medium) noexcept
{
    map_.store(map, std::memory_order_release);
    set_medium(medium);
}

// Inline: every read and write of the port goes through it, and its failures are rare.
inline GC_ERROR RegisterMapPort::checked_map(const char* function, bool allowed, const char* refusal,
                                             const size_t* size_in_out, const RegisterMap*& space) const
{
    if (!allowed) [[unlikely]] {
        return report_error(function, GC_ERR_ACCESS_DENIED, refusal);
    }
    space = map();
    if (space == nullptr) [[unlikely]] {
        return report_error(function, GC_ERR_ACCESS_DENIED,
                            "The port was not properly initialized, and cannot be accessed.");
    }
    if (size_in_out == nullptr) [[unlikely]] {
        return report_error(function, GC_ERR_INVALID_PARAMETER, "The size pointer is invalid (null).");
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR RegisterMapPort::read(uint64_t address, void* buffer, size_t* size_in_out)
{
    const RegisterMap* space = nullptr;
    if (const GC_ERROR refused = checked_map("RegisterMapPort::read", readable(), "The port is not readable.",
                                             size_in_out, space)) {
        return refused;
    }
    return space->read(address, buffer, *size_in_out);
}

GC_ERROR RegisterMapPort::write(uint64_t address, const void* buffer, size_t* size_in_out)
{
    const RegisterMap* space = nullptr;
    if (const GC_ERROR refused = checked_map("RegisterMapPort::write", writable(), "The port is not writable.",
                                             size_in_out, space)) {
        return refused;
    }
    return space->write(address, buffer, *size_in_out);
}

GC_ERROR RegisterMapPort::num_urls(uint32_t* count_out)
{
    if (count_out == nullptr) {
        return report_error("RegisterMapPort::num_urls", GC_ERR_INVALID_PARAMETER,
                            "The URL count input argument is invalid (null).");
    }
    *count_out = static_cast<uint32_t>(urls_.size());
    return GC_ERR_SUCCESS;
}

GC_ERROR RegisterMapPort::url_info(uint32_t index, URL_INFO_CMD command, INFO_DATATYPE* type_out, void* buffer,
                                   size_t* size_in_out)
{
    static constexpr const char* function = "RegisterMapPort::url_info";
    if (index >= urls_.size()) {
        return report_error(function, GC_ERR_INVALID_INDEX,
                            "The URL index (" + std::to_string(index) + ") is invalid given the URL count (" +
                                std::to_string(urls_.size()) + ").");
    }
    const UrlRecord& record = urls_[index];
    GC_ERROR code = GC_ERR_SUCCESS;
    switch (command) {
    case URL_INFO_URL:
        code = copy_info_string(record.url, type_out, buffer, size_in_out);
        break;
    case URL_INFO_SCHEMA_VER_MAJOR:
        code = copy_info_int32(static_cast<int32_t>(record.schema_major), type_out, buffer, size_in_out);
        break;
    case URL_INFO_SCHEMA_VER_MINOR:
        code = copy_info_int32(static_cast<int32_t>(record.schema_minor), type_out, buffer, size_in_out);
        break;
    case URL_INFO_FILE_VER_MAJOR:
        code = copy_info_int32(static_cast<int32_t>(record.file_major), type_out, buffer, size_in_out);
        break;
    case URL_INFO_FILE_VER_MINOR:
        code = copy_info_int32(static_cast<int32_t>(record.file_minor), type_out, buffer, size_in_out);
        break;
    case URL_INFO_FILE_VER_SUBMINOR:
        code = copy_info_int32(static_cast<int32_t>(record.file_subminor), type_out, buffer, size_in_out);
        break;
    case URL_INFO_FILE_SHA1_HASH:
        return report_error(function, GC_ERR_NOT_IMPLEMENTED,
                            "SHA1 hash of an XML file is not implemented for the producer's virtual register maps.");
    default:
        return report_error(function, GC_ERR_NOT_IMPLEMENTED,
                            "Unknown info command with ID " + std::to_string(command) + ".");
    }
    if (code != GC_ERR_SUCCESS) {
        return report_error(function, code,
                            "Could not copy the return data to the output buffer for URL_INFO_CMD " +
                                std::to_string(command) + ".");
    }
    return GC_ERR_SUCCESS;
}

std::string RegisterMapPort::local_url(const std::string& file_name, uint64_t address, uint64_t length)
{
    return "local:" + file_name + ";" + plain_hex(address) + ";" + plain_hex(length);
}

bool RegisterMapPort::add_xml_url(const std::string& file_name, const void* data, uint64_t address, uint64_t length)
{
    RegisterMap* const space = map();
    if (space == nullptr) {
        return false;
    }
    // The bytes are the library's own and the entry is read-only: they are never written through it.
    RegisterMap::Entry* const entry = space->insert(address, const_cast<void*>(data), length, INFO_DATATYPE_BUFFER,
                                                    true, false, make_plain_entry);
    if (entry == nullptr) {
        return false;
    }
    UrlRecord record;
    record.entry = entry;
    record.url = local_url(file_name, address, length);
    record.file_name = file_name;
    urls_.push_back(std::move(record));
    return true;
}

void RegisterMapPort::setup_port_info(const std::string& port_id, const std::string& module_name,
                                      const std::string& port_name, const SystemValues& system)
{
    RegisterMap::Entry* const id_entry = add_info_string(PORT_INFO_ID, port_id);
    const bool bound = good();
    if (bound) {
        // The values every module port shares with the system module.
        const std::pair<int32_t, RegisterMap::Entry*> shared[] = {{PORT_INFO_VENDOR, system.vendor},
                                                                   {PORT_INFO_MODEL, system.model},
                                                                   {PORT_INFO_VERSION, system.version},
                                                                   {PORT_INFO_TLTYPE, system.tltype}};
        for (const auto& [command, entry] : shared) {
            if (entry != nullptr) {
                set_entry(command, entry);
            }
        }
    }
    if (!module_name.empty()) {
        add_info_string(PORT_INFO_MODULE, module_name);
    } else if (bound) {
        set_entry(PORT_INFO_MODULE, id_entry);
    }
    if (!port_name.empty()) {
        add_info_string(PORT_INFO_PORTNAME, port_name);
    } else if (bound) {
        set_entry(PORT_INFO_PORTNAME, id_entry);
    }
    add_info_bool8(PORT_INFO_LITTLE_ENDIAN, true);
    add_info_bool8(PORT_INFO_BIG_ENDIAN, false);

    // The access values follow the port's state at each query.
    const auto computed = [this](int32_t command, bool (*value)(const RegisterMapPort&)) {
        auto* entry = static_cast<InfoFuncEntry<PORT_INFO_ACCESS_READ>*>(
            add_info_bool8(command, false, next_free, make_info_func_entry<PORT_INFO_ACCESS_READ>));
        if (entry != nullptr) {
            entry->on_pre_read = [this, value](RegisterMap::Entry&, uint8_t* data, void*, size_t*) {
                *data = value(*this) ? 1 : 0;
                return GC_ERR_SUCCESS;
            };
        }
    };
    computed(PORT_INFO_ACCESS_READ, [](const RegisterMapPort& port) { return port.good() && port.readable(); });
    computed(PORT_INFO_ACCESS_WRITE, [](const RegisterMapPort& port) { return port.good() && port.writable(); });
    computed(PORT_INFO_ACCESS_NA,
             [](const RegisterMapPort& port) { return !port.good() || (!port.readable() && !port.writable()); });
    add_info_bool8(PORT_INFO_ACCESS_NI, false);
}

bool RegisterMapPort::add_module_xml(const char* function, const char* resource_name, const char* xml_file_name,
                                     uint64_t address, std::source_location where)
{
    size_t size = 0;
    const uint8_t* const bytes = DynamicResourceDepot::Get(resource_name, &size);
    if (bytes == nullptr) {
        report_error_at(where.file_name(), where.line(), function, GenTL::GC_ERR_ERROR,
                        std::string("Failed to retrieve the \"") + resource_name +
                            "\" XML resource. The transport-layer module will have no XML file.");
        return false;
    }
    if (!add_xml_url(xml_file_name, bytes, address, size)) {
        report_error_at(where.file_name(), where.line(), function, GenTL::GC_ERR_ERROR,
                        std::string("Failed to add the \"") + xml_file_name +
                            "\" XML file to the transport-layer module port. The module will have no XML file.");
        return false;
    }
    return true;
}

}  // namespace vngtl
