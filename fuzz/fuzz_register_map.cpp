// Random sequences of register-map inserts, reads and writes. Besides the sanitizers' checks, a write that
// succeeded must read back unchanged at every byte that lies inside an entry of a readable, writable map.
#include "core/RegisterMap.h"
#include "core/RegisterMapHelpers.h"
#include "fuzz/QuietRecords.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

using vngtl::RegisterMap;

namespace {

// Whether `address` lies inside an entry (not in a gap or in the padding after an entry's last byte).
bool inside_entry(const RegisterMap& map, uint64_t address)
{
    RegisterMap::Entry* entry = nullptr;
    return map.containing_entry(address, &entry) == GenTL::GC_ERR_SUCCESS && entry != nullptr &&
           address >= entry->address() && address < entry->end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    RegisterMap map;
    // Every entry is readable and writable unless the input asks otherwise; the round-trip check holds
    // only while that stays so.
    bool all_read_write = true;
    while (input.remaining_bytes() > 0) {
        const uint64_t address = input.ConsumeIntegralInRange<uint64_t>(0, 0x400);
        const size_t length = input.ConsumeIntegralInRange<size_t>(0, 64);
        switch (input.ConsumeIntegralInRange(0, 3)) {
        case 0: {
            const bool readable = input.ConsumeBool();
            const bool writable = input.ConsumeBool();
            RegisterMap::Entry* entry = map.insert(address, nullptr, length, GenTL::INFO_DATATYPE_BUFFER,
                                                   readable, writable, vngtl::make_plain_entry);
            if (entry != nullptr) {
                if (entry->address() != address || entry->length() != length) {
                    std::abort();
                }
                std::fill_n(entry->data(), length, uint8_t{0});
                all_read_write = all_read_write && readable && writable;
            }
            break;
        }
        case 1: {
            std::vector<uint8_t> buffer(length);
            map.read(address, buffer.data(), buffer.size());
            break;
        }
        default: {
            std::vector<uint8_t> written = input.ConsumeBytes<uint8_t>(length);
            written.resize(length);
            if (map.write(address, written.data(), written.size()) != GenTL::GC_ERR_SUCCESS || !all_read_write) {
                break;
            }
            std::vector<uint8_t> back(length, 0xA5);
            if (map.read(address, back.data(), back.size()) != GenTL::GC_ERR_SUCCESS) {
                std::abort();  // a range that took a write must also read
            }
            for (size_t i = 0; i < length; ++i) {
                if (inside_entry(map, address + i) && back[i] != written[i]) {
                    std::abort();
                }
            }
            break;
        }
        }
    }
    return 0;
}
