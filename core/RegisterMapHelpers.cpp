#include "core/RegisterMapHelpers.h"

#include "core/ErrorReport.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace vngtl {

using namespace GenTL;

GC_ERROR CommandEntry::post_write(uint8_t* data)
{
    GC_ERROR result = GC_ERR_SUCCESS;
    // The register is 4 bytes wide; a narrower one is read and cleared only as far as it reaches.
    const auto width = static_cast<size_t>(std::min<uint64_t>(length(), sizeof(uint32_t)));
    uint32_t value = 0;
    std::memcpy(&value, data, width);
    if (!command) {
        result = report_error("CommandEntry::post_write", GC_ERR_ERROR,
                              "The command entry was not properly initialized.");
    } else if (value == 1) {
        result = command();
    } else {
        result = report_error("CommandEntry::post_write", GC_ERR_IO,
                              "Command node can only be written with the command value, 1, but received value " +
                                  std::to_string(value) + ".");
    }
    // A command register always reads 0, whatever was written and whatever the command answered.
    std::memset(data, 0, width);
    return result;
}

std::shared_ptr<RegisterMap::Entry> make_plain_entry(uint64_t address, void* external_data, uint64_t length,
                                                     INFO_DATATYPE type, bool readable, bool writable)
{
    return std::make_shared<RegisterMap::Entry>(address, external_data, length, type, readable, writable);
}

std::shared_ptr<RegisterMap::Entry> make_command_entry(uint64_t address, void* external_data, uint64_t length,
                                                       INFO_DATATYPE type, bool readable, bool writable)
{
    return std::make_shared<CommandEntry>(address, external_data, length, type, readable, writable);
}

}  // namespace vngtl
