// Random sequences of exported GenTL calls against one simulated CoaXPress board, each call given a handle
// that is valid, of another kind, null, foreign (any other pointer) or stale (from before GCCloseLib). The
// producer must answer every call with a code and never follow a bad handle; at the end of each input
// GCCloseLib must succeed and leave nothing running. Everything handed out is kept and offered again as a
// stale handle to later inputs.
#include <gentl/GenTL.h>
#include <vnsim.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace GenTL;

namespace {

constexpr const char* simulated_system = R"({
  "boards": [{
    "kind": "CXP", "model": "VN-CXP4 CoaXPress", "serial": "FZ0001", "device_name": "VNCXP_0",
    "camera_files": [{"name": "Fuzz_64x48_Mono8.cam", "width": 64, "height": 48, "bits_per_pixel": 8,
                      "make": "Vantrel", "model": "SimCam CXP-1", "mode": "Mono8 free run"}],
    "default_camera_file": "Fuzz_64x48_Mono8.cam",
    "frame_source": {"rate": 2000, "trigger": "free", "pattern": "moving"},
    "camera": {"width_max": 64, "height_max": 48, "manifest": [{"local": "xml"}]}
  }]
})";

enum Kind { system_kind, interface_kind, device_kind, stream_kind, buffer_kind, port_kind, event_kind, kinds };

struct Handles {
    std::array<std::vector<void*>, kinds> live;
    std::vector<void*> stale;  // handed out before a GCCloseLib
    void* all_ports_and_modules(FuzzedDataProvider& input) const;
};

Handles handles;
int on_stack_marker = 0;
const std::string foreign_object = "not a handle";
alignas(64) unsigned char arena[1 << 16];

void* foreign_pointer(FuzzedDataProvider& input)
{
    switch (input.ConsumeIntegralInRange(0, 4)) {
    case 0: return reinterpret_cast<void*>(uintptr_t{1});
    case 1: return reinterpret_cast<void*>(uintptr_t{0xdeadbeef});
    case 2: return &on_stack_marker;
    case 3: return const_cast<std::string*>(&foreign_object);
    default: return arena + input.ConsumeIntegralInRange<size_t>(0, sizeof arena - 1);
    }
}

// A handle for a call that wants one of `kind`: mostly a live one, otherwise any of the bad ones.
void* pick(FuzzedDataProvider& input, Kind kind)
{
    const auto& same = handles.live[kind];
    switch (input.ConsumeIntegralInRange(0, 9)) {
    case 6: return nullptr;
    case 7: return foreign_pointer(input);
    case 8:
        if (!handles.stale.empty()) {
            return handles.stale[input.ConsumeIntegralInRange<size_t>(0, handles.stale.size() - 1)];
        }
        return nullptr;
    case 9: {
        const auto& other = handles.live[input.ConsumeIntegralInRange(0, kinds - 1)];
        return other.empty() ? nullptr : other[input.ConsumeIntegralInRange<size_t>(0, other.size() - 1)];
    }
    default:
        return same.empty() ? nullptr : same[input.ConsumeIntegralInRange<size_t>(0, same.size() - 1)];
    }
}

// Any handle that is also a port: modules, buffers and remote ports.
void* Handles::all_ports_and_modules(FuzzedDataProvider& input) const
{
    static constexpr std::array<Kind, 6> port_kinds{system_kind, interface_kind, device_kind,
                                                     stream_kind, buffer_kind,    port_kind};
    return pick(input, port_kinds[input.ConsumeIntegralInRange<size_t>(0, port_kinds.size() - 1)]);
}

void keep(Kind kind, GC_ERROR result, void* handle)
{
    if (result == GC_ERR_SUCCESS && handle != nullptr) {
        handles.live[kind].push_back(handle);
    }
}

void library_closed()
{
    for (auto& list : handles.live) {
        handles.stale.insert(handles.stale.end(), list.begin(), list.end());
        list.clear();
    }
    if (handles.stale.size() > 256) {
        handles.stale.erase(handles.stale.begin(), handles.stale.end() - 256);
    }
}

// An info query of command `command` with a buffer of the input's size, or the size query (null buffer).
template <typename Query>
void info_query(FuzzedDataProvider& input, Query query)
{
    unsigned char answer[512];
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    size_t size = input.ConsumeIntegralInRange<size_t>(0, sizeof answer);
    const bool ask_size = input.ConsumeBool();
    query(input.ConsumeIntegralInRange<int32_t>(-1, 1100), &type, ask_size ? nullptr : answer, &size);
}

std::string text_of(FuzzedDataProvider& input, GC_ERROR (*list)(void*, uint32_t, char*, size_t*), void* owner)
{
    if (input.ConsumeIntegralInRange(0, 7) == 0) {
        return input.ConsumeRandomLengthString(40);  // an ID the owner does not list
    }
    char id[256] = {};
    size_t size = sizeof id;
    if (list(owner, input.ConsumeIntegralInRange<uint32_t>(0, 2), id, &size) != GC_ERR_SUCCESS) {
        return {};
    }
    return id;
}

void one_call(FuzzedDataProvider& input)
{
    switch (input.ConsumeIntegralInRange(0, 33)) {
    case 0: GCInitLib(); break;
    case 1:
        if (GCCloseLib() == GC_ERR_SUCCESS) {
            library_closed();
        }
        break;
    case 2: {
        TL_HANDLE system = nullptr;
        keep(system_kind, TLOpen(&system), system);
        break;
    }
    case 3: TLClose(pick(input, system_kind)); break;
    case 4: {
        bool8_t changed = 0;
        TLUpdateInterfaceList(pick(input, system_kind), &changed, input.ConsumeIntegralInRange<uint64_t>(0, 2));
        break;
    }
    case 5: {
        void* system = pick(input, system_kind);
        const std::string id = text_of(input, TLGetInterfaceID, system);
        IF_HANDLE interface = nullptr;
        keep(interface_kind, TLOpenInterface(system, id.c_str(), &interface), interface);
        break;
    }
    case 6: {
        bool8_t changed = 0;
        IFUpdateDeviceList(pick(input, interface_kind), &changed, input.ConsumeIntegralInRange<uint64_t>(0, 2));
        break;
    }
    case 7: {
        void* interface = pick(input, interface_kind);
        const std::string id = text_of(input, IFGetDeviceID, interface);
        DEV_HANDLE device = nullptr;
        const auto flags = static_cast<DEVICE_ACCESS_FLAGS>(input.ConsumeIntegralInRange(0, 6));
        keep(device_kind, IFOpenDevice(interface, id.c_str(), flags, &device), device);
        break;
    }
    case 8: {
        PORT_HANDLE port = nullptr;
        keep(port_kind, DevGetPort(pick(input, device_kind), &port), port);
        break;
    }
    case 9: {
        void* device = pick(input, device_kind);
        const std::string id = text_of(input, DevGetDataStreamID, device);
        DS_HANDLE stream = nullptr;
        keep(stream_kind, DevOpenDataStream(device, id.c_str(), &stream), stream);
        break;
    }
    case 10: {
        BUFFER_HANDLE buffer = nullptr;
        const size_t size = input.ConsumeIntegralInRange<size_t>(0, 8192);
        keep(buffer_kind, DSAllocAndAnnounceBuffer(pick(input, stream_kind), size, nullptr, &buffer), buffer);
        break;
    }
    case 11: {
        // The arena is shared by every announcement: the producer must only write within what it was given.
        const size_t offset = input.ConsumeIntegralInRange<size_t>(0, sizeof arena / 2);
        const size_t size = input.ConsumeIntegralInRange<size_t>(0, sizeof arena - offset);
        BUFFER_HANDLE buffer = nullptr;
        keep(buffer_kind, DSAnnounceBuffer(pick(input, stream_kind), arena + offset, size, nullptr, &buffer),
             buffer);
        break;
    }
    case 12: DSQueueBuffer(pick(input, stream_kind), pick(input, buffer_kind)); break;
    case 13: {
        void* data = nullptr;
        void* user = nullptr;
        DSRevokeBuffer(pick(input, stream_kind), pick(input, buffer_kind), &data, &user);
        break;
    }
    case 14:
        DSFlushQueue(pick(input, stream_kind), static_cast<ACQ_QUEUE_TYPE>(input.ConsumeIntegralInRange(0, 6)));
        break;
    case 15: {
        const uint64_t count = input.ConsumeBool() ? GENTL_INFINITE : input.ConsumeIntegralInRange<uint64_t>(0, 4);
        DSStartAcquisition(pick(input, stream_kind),
                           static_cast<ACQ_START_FLAGS>(input.ConsumeIntegralInRange(0, 1)), count);
        break;
    }
    case 16:
        DSStopAcquisition(pick(input, stream_kind), static_cast<ACQ_STOP_FLAGS>(input.ConsumeIntegralInRange(0, 2)));
        break;
    case 17: {
        EVENT_HANDLE event = nullptr;
        const auto type = static_cast<EVENT_TYPE>(input.ConsumeIntegralInRange(0, 4));
        keep(event_kind, GCRegisterEvent(handles.all_ports_and_modules(input), type, &event), event);
        break;
    }
    case 18:
        GCUnregisterEvent(handles.all_ports_and_modules(input),
                          static_cast<EVENT_TYPE>(input.ConsumeIntegralInRange(0, 4)));
        break;
    case 19: {
        unsigned char data[64];
        size_t size = input.ConsumeIntegralInRange<size_t>(0, sizeof data);
        EventGetData(pick(input, event_kind), input.ConsumeBool() ? nullptr : data, &size,
                     input.ConsumeIntegralInRange<uint64_t>(0, 3));
        break;
    }
    case 20: EventFlush(pick(input, event_kind)); break;
    case 21: EventKill(pick(input, event_kind)); break;
    case 22: {
        unsigned char data[512];
        size_t size = input.ConsumeIntegralInRange<size_t>(0, sizeof data);
        const uint64_t address = input.ConsumeBool() ? input.ConsumeIntegralInRange<uint64_t>(0, 0x2000)
                                                     : input.ConsumeIntegral<uint64_t>();
        GCReadPort(handles.all_ports_and_modules(input), address, data, &size);
        break;
    }
    case 23: {
        const std::vector<uint8_t> data = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange(0, 16));
        size_t size = data.size();
        GCWritePort(handles.all_ports_and_modules(input), input.ConsumeIntegralInRange<uint64_t>(0, 0x2000),
                    data.data(), &size);
        break;
    }
    case 24: {
        void* port = handles.all_ports_and_modules(input);
        uint32_t count = 0;
        GCGetNumPortURLs(port, &count);
        const uint32_t index = input.ConsumeIntegralInRange<uint32_t>(0, 2);
        info_query(input, [&](int32_t command, INFO_DATATYPE* type, void* buffer, size_t* size) {
            GCGetPortURLInfo(port, index, static_cast<URL_INFO_CMD>(command), type, buffer, size);
        });
        break;
    }
    case 25: {
        void* port = handles.all_ports_and_modules(input);
        info_query(input, [&](int32_t command, INFO_DATATYPE* type, void* buffer, size_t* size) {
            GCGetPortInfo(port, static_cast<PORT_INFO_CMD>(command), type, buffer, size);
        });
        break;
    }
    case 26:
        info_query(input, [&](int32_t command, INFO_DATATYPE* type, void* buffer, size_t* size) {
            GCGetInfo(static_cast<TL_INFO_CMD>(command), type, buffer, size);
        });
        break;
    case 27: {
        void* system = pick(input, system_kind);
        info_query(input, [&](int32_t command, INFO_DATATYPE* type, void* buffer, size_t* size) {
            TLGetInfo(system, static_cast<TL_INFO_CMD>(command), type, buffer, size);
        });
        break;
    }
    case 28: {
        void* interface = pick(input, interface_kind);
        info_query(input, [&](int32_t command, INFO_DATATYPE* type, void* buffer, size_t* size) {
            IFGetInfo(interface, static_cast<INTERFACE_INFO_CMD>(command), type, buffer, size);
        });
        break;
    }
    case 29: {
        void* device = pick(input, device_kind);
        info_query(input, [&](int32_t command, INFO_DATATYPE* type, void* buffer, size_t* size) {
            DevGetInfo(device, static_cast<DEVICE_INFO_CMD>(command), type, buffer, size);
        });
        break;
    }
    case 30: {
        void* stream = pick(input, stream_kind);
        void* buffer_handle = pick(input, buffer_kind);
        const bool of_buffer = input.ConsumeBool();
        info_query(input, [&](int32_t command, INFO_DATATYPE* type, void* buffer, size_t* size) {
            if (of_buffer) {
                DSGetBufferInfo(stream, buffer_handle, static_cast<BUFFER_INFO_CMD>(command), type, buffer, size);
            } else {
                DSGetInfo(stream, static_cast<STREAM_INFO_CMD>(command), type, buffer, size);
            }
        });
        break;
    }
    case 31: {
        // Closing keeps the handle listed by its parent: it stays live for the next calls.
        switch (input.ConsumeIntegralInRange(0, 2)) {
        case 0: IFClose(pick(input, interface_kind)); break;
        case 1: DevClose(pick(input, device_kind)); break;
        default: DSClose(pick(input, stream_kind)); break;
        }
        break;
    }
    case 32: {
        std::array<PORT_REGISTER_STACK_ENTRY, 4> entries{};
        std::array<std::array<unsigned char, 16>, 4> data{};
        const size_t count = input.ConsumeIntegralInRange<size_t>(0, entries.size());
        for (size_t i = 0; i < count; ++i) {
            entries[i] = {input.ConsumeIntegralInRange<uint64_t>(0, 0x2000), data[i].data(),
                          input.ConsumeIntegralInRange<size_t>(0, data[i].size())};
        }
        size_t entry_count = count;
        GCReadPortStacked(handles.all_ports_and_modules(input), entries.data(), &entry_count);
        break;
    }
    default: {
        GC_ERROR code = GC_ERR_SUCCESS;
        char text[64];
        size_t size = input.ConsumeIntegralInRange<size_t>(0, sizeof text);
        GCGetLastError(&code, input.ConsumeBool() ? nullptr : text, &size);
        break;
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (vnsim_configure(simulated_system) != 0) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    GCInitLib();
    for (int calls = 0; input.remaining_bytes() > 0 && calls < 64; ++calls) {
        one_call(input);
    }
    // A library that is initialised must close: no call is in progress on this single thread.
    const GC_ERROR closed = GCCloseLib();
    if (closed != GC_ERR_SUCCESS && closed != GC_ERR_NOT_INITIALIZED) {
        std::abort();
    }
    library_closed();
    if (vnsim_open_handles(0) != 0) {
        std::abort();  // the board must be closed with the library
    }
    return 0;
}
