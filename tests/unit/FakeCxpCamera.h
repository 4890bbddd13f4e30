// A camera for the remote layer's tests, behind the camera-port interface: a byte memory holding big-endian
// registers from address 0, a bootstrap block whose manifest registers follow the selector, and reads that
// fail at chosen addresses.
#pragma once

#include "remote/CxpCameraPort.h"
#include "remote/VNCxpBootstrap.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

class FakeCxpCamera : public vngtl::CxpCameraPort {
public:
    using Bootstrap = vngtl::VNCxpBootstrap;

    struct ManifestEntry {
        uint32_t xml_version = 0x00010000;         // 1.0.0
        uint32_t xml_schema_version = 0x00010100;  // 1.1.0
        uint32_t url_address = 0;
    };

    static constexpr uint32_t memory_size = 0x40000;
    // Where the tests put URL texts and files in manufacturer space.
    static constexpr uint32_t url_area = 0x6000;
    static constexpr uint32_t file_area = 0x8000;

    FakeCxpCamera() : memory_(memory_size, 0)
    {
        put_u32(Bootstrap::standard_address, Bootstrap::standard_value);
        put_u32(Bootstrap::revision_address, 0x00020000);
        put_text(Bootstrap::vendor_name_address, 32, "Acme:Cam");
        put_text(Bootstrap::model_name_address, 32, "X1");
        put_text(Bootstrap::manufacturer_info_address, 48, "test camera");
        put_text(Bootstrap::device_version_address, 32, "3");
        put_text(Bootstrap::device_id_address, 16, "SN0001");
        put_text(Bootstrap::device_user_id_address, 16, "bench");
    }

    // Replaces the manifest; entry 0 is selected.
    void set_manifest(std::vector<ManifestEntry> entries)
    {
        manifest_ = std::move(entries);
        put_u32(Bootstrap::xml_manifest_size_address, static_cast<uint32_t>(manifest_.size()));
        select(0);
    }
    // A manifest entry per URL, each URL text placed in the URL area.
    void set_urls(const std::vector<std::string>& urls)
    {
        std::vector<ManifestEntry> entries;
        uint32_t address = url_area;
        for (const std::string& url : urls) {
            put_text(address, static_cast<uint32_t>(url.size() + 1), url);
            entries.push_back({0x00020005, 0x00010100, address});
            address += static_cast<uint32_t>((url.size() + 4) & ~size_t{3});
        }
        set_manifest(std::move(entries));
    }
    void put_bytes(uint32_t address, const std::string& bytes) { std::memcpy(&memory_[address], bytes.data(), bytes.size()); }
    void put_u32(uint32_t address, uint32_t value)
    {
        for (int i = 0; i < 4; ++i) {
            memory_[address + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
        }
    }
    void put_text(uint32_t address, uint32_t size, const std::string& text)
    {
        std::memset(&memory_[address], 0, size);
        std::memcpy(&memory_[address], text.data(), std::min<size_t>(text.size(), size));
    }

    // The next `count` reads that touch `address` fail.
    void fail_reads_at(uint32_t address, int count) { failing_[address] = count; }

    GenTL::GC_ERROR read_register(uint64_t address, uint32_t& value) override
    {
        if (fails(address, 4)) {
            return GenTL::GC_ERR_IO;
        }
        value = 0;
        for (int i = 0; i < 4; ++i) {
            value = (value << 8) | memory_[address + i];
        }
        return GenTL::GC_ERR_SUCCESS;
    }
    GenTL::GC_ERROR write_register(uint64_t address, uint32_t value) override
    {
        if (address + 4 > memory_size) {
            return GenTL::GC_ERR_IO;
        }
        if (address == Bootstrap::xml_manifest_selector_address) {
            if (value >= manifest_.size()) {
                return GenTL::GC_ERR_IO;
            }
            select(value);
            return GenTL::GC_ERR_SUCCESS;
        }
        put_u32(static_cast<uint32_t>(address), value);
        return GenTL::GC_ERR_SUCCESS;
    }
    GenTL::GC_ERROR read_block(uint64_t address, void* buffer, size_t* size) override
    {
        if (fails(address, *size)) {
            return GenTL::GC_ERR_IO;
        }
        std::memcpy(buffer, &memory_[address], *size);
        return GenTL::GC_ERR_SUCCESS;
    }

private:
    void select(uint32_t index)
    {
        put_u32(Bootstrap::xml_manifest_selector_address, index);
        if (index < manifest_.size()) {
            put_u32(Bootstrap::xml_version_address, manifest_[index].xml_version);
            put_u32(Bootstrap::xml_schema_version_address, manifest_[index].xml_schema_version);
            put_u32(Bootstrap::xml_url_address_address, manifest_[index].url_address);
        }
    }
    bool fails(uint64_t address, size_t size)
    {
        if (address + size > memory_size) {
            return true;
        }
        for (auto& [at, count] : failing_) {
            if (count > 0 && at >= address && at < address + size) {
                --count;
                return true;
            }
        }
        return false;
    }

    std::vector<uint8_t> memory_;
    std::vector<ManifestEntry> manifest_;
    std::map<uint64_t, int> failing_;
};
