#include "core/BaseInfo.h"

#include "core/ErrorReport.h"
#include "core/SizeProtocol.h"

#include <algorithm>
#include <cstring>

namespace vngtl {

using namespace GenTL;

BaseInfo::BaseInfo() = default;

BaseInfo::~BaseInfo() = default;

RegisterMap::Entry* BaseInfo::info_entry(int32_t command) const noexcept
{
    if (command < 0 || static_cast<size_t>(command) >= commands_.size()) {
        return nullptr;
    }
    return commands_[static_cast<size_t>(command)];
}

GC_ERROR BaseInfo::info(int32_t command, INFO_DATATYPE* type_out, void* buffer, size_t* size_in_out)
{
    RegisterMap::Entry* const entry = info_entry(command);
    if (entry == nullptr) {
        return report_error("BaseInfo::info", GC_ERR_NOT_IMPLEMENTED,
                            "No feature implemented with info command ID " + std::to_string(command) + ".");
    }
    if (!entry->available()) {
        return report_error("BaseInfo::info", GC_ERR_NOT_AVAILABLE,
                            "The feature with info command ID " + std::to_string(command) +
                                " is not currently available.");
    }
    return entry->read(type_out, buffer, size_in_out);
}

bool BaseInfo::set_entry(int32_t command, RegisterMap::Entry* entry)
{
    if (command < 0) {
        return false;
    }
    const auto slot = static_cast<size_t>(command);
    if (slot >= commands_.size()) {
        if (entry == nullptr) {
            return false;
        }
        commands_.resize(slot + 1, nullptr);
    }
    commands_[slot] = entry;
    if (entry == nullptr && slot + 1 == commands_.size()) {
        const auto last_bound = std::find_if(commands_.rbegin(), commands_.rend(),
                                             [](const RegisterMap::Entry* bound) { return bound != nullptr; });
        commands_.erase(last_bound.base(), commands_.end());
    }
    return true;
}

RegisterMap::Entry* BaseInfo::add_info(int32_t command, const void* initial, uint64_t address, uint64_t length,
                                       INFO_DATATYPE type, bool readable, bool writable,
                                       RegisterMap::EntryFactory factory)
{
    if (address == next_free) {
        address = info_map_.next_free_address();
    }
    RegisterMap::Entry* const entry = info_map_.insert(address, nullptr, length, type, readable, writable, factory);
    if (entry == nullptr) {
        return nullptr;
    }
    const auto size = static_cast<size_t>(length);
    if (initial != nullptr) {
        std::memcpy(entry->data(), initial, size);
    } else {
        std::memset(entry->data(), 0, size);
    }
    set_entry(command, entry);
    return entry;
}

RegisterMap::Entry* BaseInfo::add_info_string(int32_t command, std::string_view text, uint64_t address,
                                              uint64_t capacity, bool readable, bool writable,
                                              RegisterMap::EntryFactory factory)
{
    const uint64_t length = capacity != 0 ? capacity : text.size() + 1;
    // The text, its zero byte and zero padding, cut to the entry's length.
    std::string bytes(static_cast<size_t>(std::max<uint64_t>(length, text.size())), '\0');
    bytes.replace(0, text.size(), text);
    return add_info(command, bytes.data(), address, length, INFO_DATATYPE_STRING, readable, writable, factory);
}

RegisterMap::Entry* BaseInfo::add_info_bool8(int32_t command, bool value, uint64_t address,
                                             RegisterMap::EntryFactory factory)
{
    const uint8_t byte = value ? 1 : 0;
    return add_info(command, &byte, address, 1, INFO_DATATYPE_BOOL8, true, false, factory);
}

GC_ERROR BaseInfo::info_string(int32_t command, std::string& text)
{
    std::vector<char> buffer(256);
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    size_t size = buffer.size();
    GC_ERROR code = info(command, &type, buffer.data(), &size);
    // Grow only while the answer asks for more than we have, so a misbehaving value cannot loop forever.
    while (code == GC_ERR_BUFFER_TOO_SMALL && type == INFO_DATATYPE_STRING && size > buffer.size()) {
        buffer.resize(size);
        code = info(command, &type, buffer.data(), &size);
    }
    if (code != GC_ERR_SUCCESS) {
        return code;
    }
    if (type != INFO_DATATYPE_STRING) {
        return GC_ERR_INVALID_PARAMETER;
    }
    text.assign(buffer.data(), strnlen(buffer.data(), std::min(size, buffer.size())));
    return GC_ERR_SUCCESS;
}

namespace {

// The part of the protocol the copy helpers share ahead of the bytes: both out-pointers given, type written.
bool start_answer(INFO_DATATYPE type, INFO_DATATYPE* type_out, const size_t* size_in_out)
{
    if (type_out == nullptr || size_in_out == nullptr) {
        return false;
    }
    *type_out = type;
    return true;
}

}  // namespace

GC_ERROR BaseInfo::copy_info_string(std::string_view text, INFO_DATATYPE* type_out, void* buffer, size_t* size_in_out)
{
    if (!start_answer(INFO_DATATYPE_STRING, type_out, size_in_out)) {
        return GC_ERR_INVALID_PARAMETER;
    }
    return deliver_string(text, buffer, size_in_out);
}

GC_ERROR BaseInfo::copy_info_string_list(const std::vector<std::string>& list, INFO_DATATYPE* type_out, void* buffer,
                                         size_t* size_in_out)
{
    if (!start_answer(INFO_DATATYPE_STRINGLIST, type_out, size_in_out)) {
        return GC_ERR_INVALID_PARAMETER;
    }
    std::string form;
    for (const std::string& item : list) {
        form.append(item.c_str());
        form.push_back('\0');
    }
    form.push_back('\0');
    return deliver_bytes(form.data(), form.size(), form.size(), buffer, size_in_out);
}

GC_ERROR BaseInfo::copy_info_int32(int32_t value, INFO_DATATYPE* type_out, void* buffer, size_t* size_in_out)
{
    if (!start_answer(INFO_DATATYPE_INT32, type_out, size_in_out)) {
        return GC_ERR_INVALID_PARAMETER;
    }
    return deliver_bytes(&value, sizeof value, sizeof value, buffer, size_in_out);
}

}  // namespace vngtl
