#include "remote/VNPortCL.h"

#include "board/VNBoards.h"
#include "clprotocol/CLErrException.h"
#include "core/ErrorReport.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace vngtl {

using namespace GenTL;

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string underscored(std::string text)
{
    std::replace(text.begin(), text.end(), ' ', '_');
    return text;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

}  // namespace

VNPortCL::VNPortCL(std::shared_ptr<VNBoards::Board> board) : board_(std::move(board)), serial_adapter_(board_)
{
    serial_adapter_.check_port();
    std::string make, model, mode;
    if (!board_->camera_mmm(make, model, mode)) {
        return;  // no camera identity: no info values, never connected
    }
    setup_clprotocol(make, model, "Device", board_->board_number());
    add_info_values(make, model);
}

VNPortCL::~VNPortCL()
{
    if (connected_) {
        CLProtocol::CCLPort::UnRegisterSerial(port_id_);
    }
}

bool VNPortCL::setup_clprotocol(const std::string& make, const std::string& model, const std::string& port_name,
                                uint32_t board_number)
{
    if (connected_) {
        return true;
    }
    const std::string serial_name = underscored(make + "_" + model + "_" + port_name + "_VN" + std::to_string(board_number));
    const std::string make_lower = lower(make);
    const std::string model_lower = lower(model);
    const std::string make_underscored = underscored(make_lower);
    const std::string model_underscored = underscored(model_lower);
    const std::string opening = "CLProtocol setup failed on \"" + serial_name + "\"";
    std::string registered;
    try {
        registered = CLProtocol::CCLPort::RegisterSerial(serial_name, &serial_adapter_);
        cl_port_.SetSerialTimeOut(500);
        connected_ = cl_port_.Connect(registered);
        if (connected_) {
            port_id_ = registered;
            return true;
        }
        GenICam::gcstring_vector templates;
        CLProtocol::CCLPort::GetDeviceIDTemplates(templates);
        if (templates.empty()) {
            report_error("VNPortCL::setup_clprotocol", GC_ERR_ERROR,
                         opening + ". No Device ID templates are available.");
            CLProtocol::CCLPort::UnRegisterSerial(registered);
            return false;
        }
        std::vector<std::string> candidates;
        for (const auto& name : templates) {
            if (contains(lower(name), make_underscored)) {
                candidates.push_back(name);
            }
        }
        if (candidates.empty()) {
            for (const auto& name : templates) {
                if (contains(lower(name), make_lower)) {
                    candidates.push_back(name);
                }
            }
        }
        std::string choice;
        if (candidates.size() == 1) {
            choice = candidates.front();
        } else {
            for (const auto& name : candidates) {
                if (contains(lower(name), model_underscored)) {
                    choice = name;
                    break;
                }
            }
            if (choice.empty()) {
                for (const auto& name : candidates) {
                    if (contains(lower(name), model_lower)) {
                        choice = name;
                        break;
                    }
                }
            }
        }
        if (choice.empty()) {
            report_error("VNPortCL::setup_clprotocol", GC_ERR_ERROR,
                         opening + ". No Device ID template could be found matching vendor make \"" + make +
                             "\" and model \"" + model + "\".");
            CLProtocol::CCLPort::UnRegisterSerial(registered);
            return false;
        }
        const std::string device_id = CLProtocol::CCLPort::ProbeDevice(registered, choice, 500);
        cl_port_.Connect(registered, device_id);
        connected_ = true;
        port_id_ = registered;
        return true;
    } catch (const CLProtocol::CLErrException& e) {
        report_error("VNPortCL::setup_clprotocol", GC_ERR_IO,
                     opening + " with the CLProtocol::CLErrException: " + e.what());
    } catch (const GenICam::GenericException& e) {
        report_error("VNPortCL::setup_clprotocol", GC_ERR_IO,
                     opening + " with the GenICam::GenericException: " + e.what());
    } catch (const std::exception& e) {
        report_error("VNPortCL::setup_clprotocol", GC_ERR_ERROR, opening + " with the exception: " + e.what());
    } catch (...) {
        report_error("VNPortCL::setup_clprotocol", GC_ERR_ERROR, opening + " with an unexpected exception.");
    }
    CLProtocol::CCLPort::UnRegisterSerial(registered);
    connected_ = false;
    return false;
}

bool VNPortCL::access_mode(const char* function, GenApi::EAccessMode& mode) const
{
    try {
        mode = cl_port_.GetAccessMode();
        return true;
    } catch (const GenICam::GenericException& e) {
        report_error(function, GC_ERR_IO,
                     "Caught an exception attempting to get the access mode of " + port_id_ + ": " + e.what());
    } catch (...) {
        report_error(function, GC_ERR_ERROR,
                     "Caught an unknown exception attempting to get the access mode of " + port_id_ + ".");
    }
    return false;
}

bool VNPortCL::good() const
{
    if (!connected_ || medium() == nullptr) {
        return false;
    }
    GenApi::EAccessMode mode = GenApi::NI;
    if (!access_mode("VNPortCL::good", mode)) {
        return false;
    }
    if (mode != GenApi::WO && mode != GenApi::RO && mode != GenApi::RW) {
        return false;
    }
    return serial_adapter_.serial_ready();
}

void VNPortCL::add_info_values(const std::string& make, const std::string& model)
{
    add_info_string(PORT_INFO_ID, "Device");
    add_info_string(PORT_INFO_VENDOR, make);
    add_info_string(PORT_INFO_MODEL, model);
    add_info_string(PORT_INFO_TLTYPE, board_->kind_name());
    add_info_string(PORT_INFO_MODULE, "Device");
    add_info_bool8(PORT_INFO_LITTLE_ENDIAN, true);
    add_info_bool8(PORT_INFO_BIG_ENDIAN, false);
    // The access values follow the port and its CLProtocol port at each query.
    const auto computed = [this](int32_t command, bool (*value)(bool good, bool readable, bool writable,
                                                                 GenApi::EAccessMode mode)) {
        auto* entry = static_cast<InfoFuncEntry<PORT_INFO_ACCESS_READ>*>(
            add_info_bool8(command, false, next_free, make_info_func_entry<PORT_INFO_ACCESS_READ>));
        if (entry == nullptr) {
            return;
        }
        entry->on_pre_read = [this, value](RegisterMap::Entry&, uint8_t* data, void*, size_t*) -> GC_ERROR {
            GenApi::EAccessMode mode = GenApi::NI;
            try {
                mode = cl_port_.GetAccessMode();
            } catch (const std::exception& e) {
                return report_error("VNPortCL::pre_read", GC_ERR_IO,
                                    "CLProtocol access failed on \"" + port_id_ + "\" with the exception: " + e.what());
            }
            *data = value(good(), readable(), writable(), mode) ? 1 : 0;
            return GC_ERR_SUCCESS;
        };
    };
    computed(PORT_INFO_ACCESS_READ, [](bool good, bool readable, bool, GenApi::EAccessMode mode) {
        return good && readable && (mode == GenApi::RO || mode == GenApi::RW);
    });
    computed(PORT_INFO_ACCESS_WRITE, [](bool good, bool, bool writable, GenApi::EAccessMode mode) {
        return good && writable && (mode == GenApi::WO || mode == GenApi::RW);
    });
    computed(PORT_INFO_ACCESS_NA, [](bool good, bool readable, bool writable, GenApi::EAccessMode mode) {
        return !good || (!readable && !writable) || mode == GenApi::NA;
    });
    computed(PORT_INFO_ACCESS_NI, [](bool good, bool, bool, GenApi::EAccessMode mode) {
        return !good || mode == GenApi::NI;
    });
    add_info_string(PORT_INFO_VERSION, "GENICAM_CLPROTOCOL");
    add_info_string(PORT_INFO_PORTNAME, "Device");
    // Beyond the standard commands: the CLProtocol Device ID the port connected with, for tools.
    if (connected_) {
        add_info_string(device_id_info, cl_port_.GetDeviceID());
    }
}

GC_ERROR VNPortCL::read(uint64_t address, void* buffer, size_t* size_in_out)
{
    if (!readable()) {
        return report_error("VNPortCL::read", GC_ERR_ACCESS_DENIED, "The port is not readable.");
    }
    if (buffer == nullptr) {
        return report_error("VNPortCL::read", GC_ERR_INVALID_PARAMETER, "The read buffer is a null pointer.");
    }
    if (size_in_out == nullptr) {
        return report_error("VNPortCL::read", GC_ERR_INVALID_PARAMETER, "The size parameter is a null pointer.");
    }
    try {
        cl_port_.Read(buffer, static_cast<int64_t>(address), static_cast<int64_t>(*size_in_out));
        return GC_ERR_SUCCESS;
    } catch (const GenICam::GenericException& e) {
        return report_error("VNPortCL::read", GC_ERR_IO,
                            "Caught an exception attempting to read from " + port_id_ + ": " + e.what());
    } catch (...) {
        return report_error("VNPortCL::read", GC_ERR_ERROR,
                            "Caught an unexpected exception attempting to read from " + port_id_ + ".");
    }
}

GC_ERROR VNPortCL::write(uint64_t address, const void* buffer, size_t* size_in_out)
{
    if (!writable()) {
        return report_error("VNPortCL::write", GC_ERR_ACCESS_DENIED, "The port is not writable.");
    }
    if (buffer == nullptr) {
        return report_error("VNPortCL::write", GC_ERR_INVALID_PARAMETER, "The write buffer is a null pointer.");
    }
    if (size_in_out == nullptr) {
        return report_error("VNPortCL::write", GC_ERR_INVALID_PARAMETER, "The size parameter is a null pointer.");
    }
    try {
        cl_port_.Write(buffer, static_cast<int64_t>(address), static_cast<int64_t>(*size_in_out));
        return GC_ERR_SUCCESS;
    } catch (const GenICam::GenericException& e) {
        return report_error("VNPortCL::write", GC_ERR_IO,
                            "Caught an exception attempting to write to " + port_id_ + ": " + e.what());
    } catch (...) {
        return report_error("VNPortCL::write", GC_ERR_ERROR,
                            "Caught an unexpected exception attempting to write to " + port_id_ + ".");
    }
}

GC_ERROR VNPortCL::num_urls(uint32_t* count_out)
{
    if (count_out == nullptr) {
        return report_error("VNPortCL::num_urls", GC_ERR_INVALID_PARAMETER, "The URL count return pointer is null.");
    }
    try {
        GenICam::gcstring_vector ids;
        cl_port_.GetXMLIDs(ids);
        *count_out = static_cast<uint32_t>(ids.size());
        return GC_ERR_SUCCESS;
    } catch (const GenICam::GenericException& e) {
        return report_error("VNPortCL::num_urls", GC_ERR_IO,
                            "Caught an exception attempting to get the access mode of " + port_id_ + ": " + e.what());
    } catch (...) {
        return report_error("VNPortCL::num_urls", GC_ERR_ERROR,
                            "Caught an unknown exception attempting to get the access mode of " + port_id_ + ".");
    }
}

bool VNPortCL::xml_id_version(const std::string& xml_id, URL_INFO_CMD command, int32_t& value)
{
    int numbers[3] = {0, 0, 0};
    int wanted = 0;
    int found = 0;
    if (command == URL_INFO_SCHEMA_VER_MAJOR || command == URL_INFO_SCHEMA_VER_MINOR) {
        wanted = command == URL_INFO_SCHEMA_VER_MAJOR ? 1 : 2;
        const auto at = xml_id.find("SchemaVersion.");
        const auto end = at == std::string::npos ? at : xml_id.find('@', at);
        if (end != std::string::npos) {
            const std::string part = xml_id.substr(at, end - at + 1);
            found = std::sscanf(part.c_str(), "SchemaVersion.%d.%d@", &numbers[0], &numbers[1]);
        }
    } else if (command == URL_INFO_FILE_VER_MAJOR || command == URL_INFO_FILE_VER_MINOR ||
               command == URL_INFO_FILE_VER_SUBMINOR) {
        wanted = command == URL_INFO_FILE_VER_MAJOR ? 1 : command == URL_INFO_FILE_VER_MINOR ? 2 : 3;
        const auto at = xml_id.find("@DeviceVersion.");
        if (at != std::string::npos) {
            found = std::sscanf(xml_id.c_str() + at, "@DeviceVersion.%d.%d.%d", &numbers[0], &numbers[1],
                                &numbers[2]);
        }
    } else {
        return false;
    }
    if (found < wanted) {
        return false;
    }
    value = numbers[wanted - 1];
    return true;
}

GC_ERROR VNPortCL::url_info(uint32_t index, URL_INFO_CMD command, INFO_DATATYPE* type_out, void* buffer,
                            size_t* size_in_out)
{
    const std::string where = " for URL " + std::to_string(index) + " on port " + port_id_ + ".";
    const std::string command_text = std::to_string(static_cast<int32_t>(command));
    try {
        GenICam::gcstring_vector ids;
        cl_port_.GetXMLIDs(ids);
        if (index >= ids.size()) {
            return report_error("VNPortCL::url_info", GC_ERR_INVALID_INDEX,
                                "Index " + std::to_string(index) + " exceeds the " + std::to_string(ids.size()) +
                                    " URLs available on port " + port_id_ + ".");
        }
        GenICam::gcstring xml_id = ids[index];
        GC_ERROR copied = GC_ERR_SUCCESS;
        const auto version = [&](const char* what) -> GC_ERROR {
            int32_t value = 0;
            if (!xml_id_version(xml_id, command, value)) {
                return report_error("VNPortCL::url_info", GC_ERR_NOT_AVAILABLE,
                                    std::string("Failed to retrieve the ") + what + " for URL " +
                                        std::to_string(index) + " on port " + port_id_ + ".");
            }
            copied = copy_info_int32(value, type_out, buffer, size_in_out);
            return GC_ERR_SUCCESS;
        };
        GC_ERROR result = GC_ERR_SUCCESS;
        switch (command) {
        case URL_INFO_URL:
            copied = copy_info_string(cl_port_.MakeURLfromXMLID(xml_id), type_out, buffer, size_in_out);
            break;
        case URL_INFO_SCHEMA_VER_MAJOR:
            result = version("major schema version");
            break;
        case URL_INFO_SCHEMA_VER_MINOR:
            result = version("minor schema version");
            break;
        case URL_INFO_FILE_VER_MAJOR:
            result = version("major file version");
            break;
        case URL_INFO_FILE_VER_MINOR:
            result = version("minor file version");
            break;
        case URL_INFO_FILE_VER_SUBMINOR:
            result = version("sub-minor file version");
            break;
        case URL_INFO_FILE_SHA1_HASH:
            return report_error("VNPortCL::url_info", GC_ERR_NOT_IMPLEMENTED,
                                "SHA1 hash of an XML file is not available for CLProtocol devices.");
        default:
            return report_error("VNPortCL::url_info", GC_ERR_NOT_IMPLEMENTED,
                                "Unknown info command with ID " + command_text + ".");
        }
        if (result != GC_ERR_SUCCESS) {
            return result;
        }
        if (copied != GC_ERR_SUCCESS) {
            return report_error("VNPortCL::url_info", copied,
                                "Could not copy the return data to the output buffer for URL_INFO_CMD " +
                                    command_text + where);
        }
        return GC_ERR_SUCCESS;
    } catch (const GenICam::GenericException& e) {
        return report_error("VNPortCL::url_info", GC_ERR_IO,
                            "Caught an exception attempting to get URL_INFO_CMD " + command_text + " for URL " +
                                std::to_string(index) + " of " + port_id_ + ": " + e.what());
    } catch (...) {
        return report_error("VNPortCL::url_info", GC_ERR_ERROR,
                            "Caught an unknown exception attempting to get URL_INFO_CMD " + command_text +
                                " for URL " + std::to_string(index) + " of " + port_id_ + ".");
    }
}

}  // namespace vngtl
