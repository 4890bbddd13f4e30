// The port of every module (system, interface, device, data stream, buffer): reads and writes land in the
// module's register map, which is also the store of its info values, and the module's XML description is
// an entry of that map announced with one "local:" URL.
//
// Ownership: a member of its module, built unbound (no map, no medium: not good()) and bound by the module
// while the module is set up. The map is the module's own; the URL records point into it.
//
// Thread safety: none of its own. Binding, port info and URLs are set up before the module's handle is
// handed out (or, for the system module, under its set-up lock); afterwards accesses only read them.
#pragma once

#include "core/BasePort.h"
#include "core/RegisterMap.h"
#include "modules/SystemValues.h"

#include <gentl/GenTL.h>

#include <atomic>
#include <cstdint>
#include <source_location>
#include <string>
#include <vector>

namespace vngtl {

class RegisterMapPort : public BasePort {
public:
    // One XML file placed into the map.
    struct UrlRecord {
        RegisterMap::Entry* entry = nullptr;
        std::string url;  // "local:" file ";" address ";" length, in lower-case hex without "0x"
        std::string file_name;
        uint32_t schema_major = 1;
        uint32_t schema_minor = 1;
        uint32_t file_major = 1;
        uint32_t file_minor = 0;
        uint32_t file_subminor = 0;
    };

    RegisterMapPort();
    ~RegisterMapPort() override;

    // True once bound to a map and a medium.
    bool good() const override;

    using BasePort::read;
    using BasePort::write;
    GenTL::GC_ERROR read(uint64_t address, void* buffer, size_t* size_in_out) override;
    GenTL::GC_ERROR write(uint64_t address, const void* buffer, size_t* size_in_out) override;
    GenTL::GC_ERROR num_urls(uint32_t* count_out) override;
    GenTL::GC_ERROR url_info(uint32_t index, GenTL::URL_INFO_CMD command, GenTL::INFO_DATATYPE* type_out,
                             void* buffer, size_t* size_in_out) override;

    // Binds the port to its register space and the object it is reached through.
    void bind(RegisterMap* map, BasePortMedium* medium) noexcept;
    RegisterMap* map() const noexcept { return map_.load(std::memory_order_acquire); }

    // Places `length` bytes of an XML file at `address` of the bound map as a read-only entry over `data`
    // (kept alive by the caller) and announces it with a URL. False, with nothing added, when there is no
    // map or the insert fails.
    bool add_xml_url(const std::string& file_name, const void* data, uint64_t address, uint64_t length);

    // Places a module's embedded XML description (the depot's `resource_name`) at `address` under the name
    // `xml_file_name`. A failure is recorded against `function` at the caller's location, and the module is
    // left without an XML file (false).
    bool add_module_xml(const char* function, const char* resource_name, const char* xml_file_name,
                        uint64_t address, std::source_location where = std::source_location::current());

    // Fills the port's own info values. The system module's vendor, model, version and transport-layer type
    // (`system`) are shared, and an empty module or port name falls back to the port ID, only when the port
    // is bound already; otherwise those commands stay unbound for the module to bind.
    void setup_port_info(const std::string& port_id, const std::string& module_name, const std::string& port_name,
                         const SystemValues& system = {});

    const std::vector<UrlRecord>& urls() const noexcept { return urls_; }

    // The URL of a file placed at `address` with `length` bytes.
    static std::string local_url(const std::string& file_name, uint64_t address, uint64_t length);

private:
    // What a read and a write check first: the access is `allowed` (else `refusal`), the port is bound (its
    // map, in `space`) and the size pointer is there. Any failure is recorded against `function`.
    GenTL::GC_ERROR checked_map(const char* function, bool allowed, const char* refusal, const size_t* size_in_out,
                                const RegisterMap*& space) const;

    std::atomic<RegisterMap*> map_{nullptr};
    std::vector<UrlRecord> urls_;
};

}  // namespace vngtl
