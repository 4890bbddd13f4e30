#include "core/BasePort.h"

#include "core/ErrorReport.h"
#include "core/SizeProtocol.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace vngtl {

using namespace GenTL;

namespace {

GC_ERROR unaligned(const char* function, uint64_t address)
{
    return report_error(function, GC_ERR_INVALID_ADDRESS, "Address " + hex(address) + " is not word-aligned.");
}

}  // namespace

BasePort::BasePort() = default;

BasePort::~BasePort() = default;

bool BasePort::good() const
{
    return true;
}

GC_ERROR BasePort::read(uint64_t address, uint32_t* value)
{
    static constexpr const char* function = "BasePort::read";
    if (!readable()) {
        return report_error(function, GC_ERR_ACCESS_DENIED, "The port is not readable.");
    }
    if (address % 4 != 0) {
        return unaligned(function, address);
    }
    if (value == nullptr) {
        return report_error(function, GC_ERR_INVALID_PARAMETER,
                            "The register read output parameter is invalid (null).");
    }
    uint32_t raw = 0;
    size_t size = sizeof raw;
    if (const GC_ERROR code = read(address, &raw, &size)) {
        return code;
    }
    *value = __builtin_bswap32(raw);
    return GC_ERR_SUCCESS;
}

GC_ERROR BasePort::write(uint64_t address, uint32_t value)
{
    static constexpr const char* function = "BasePort::write";
    if (!writable()) {
        return report_error(function, GC_ERR_ACCESS_DENIED, "The port is not writable.");
    }
    if (address % 4 != 0) {
        return unaligned(function, address);
    }
    const uint32_t raw = __builtin_bswap32(value);
    size_t size = sizeof raw;
    return write(address, &raw, &size);
}

GC_ERROR BasePort::get_url(char* buffer, size_t* size_in_out)
{
    static constexpr const char* function = "BasePort::get_url";
    try {
        std::vector<char> url(256);
        GC_ERROR code = GC_ERR_BUFFER_TOO_SMALL;
        // Grown to what the port asks for, and only while it asks for more than it was given.
        for (size_t size = url.size(); code == GC_ERR_BUFFER_TOO_SMALL; ) {
            INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
            size = url.size();
            code = url_info(0, URL_INFO_URL, &type, url.data(), &size);
            if (code == GC_ERR_BUFFER_TOO_SMALL) {
                if (size <= url.size()) {
                    return code;
                }
                url.resize(size);
            }
        }
        if (code != GC_ERR_SUCCESS) {
            return code;
        }
        const std::string text(url.data(), strnlen(url.data(), url.size()));
        if (const GC_ERROR copied = deliver_string(text, buffer, size_in_out)) {
            return report_error(function, copied, "Could not copy the URL to the output buffer.");
        }
        return GC_ERR_SUCCESS;
    } catch (const std::bad_alloc& failure) {
        return report_error(function, GC_ERR_OUT_OF_MEMORY,
                            std::string("Unable to allocate sufficient memory to read all available URLs: ") +
                                failure.what());
    } catch (...) {
        return report_error(function, GC_ERR_ERROR, "Caught an unexpected exception while collating the available URLs.");
    }
}

}  // namespace vngtl
