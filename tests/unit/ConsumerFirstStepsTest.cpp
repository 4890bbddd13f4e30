// What GenTL consumers do first, in their order, through the exported functions: enumerate, ask every
// standard info command of each module before opening it, open, stream, and close the device without
// closing its data stream first; among the answers, the devices' serial numbers on two channels of one board
// and the GenTL version the library implements.
#include "ModuleFixture.h"
#include "StreamSession.h"

#include "modules/RegisterAddresses.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

namespace ifc = vngtl::reg::interface;

// One info query as a consumer makes it: a size query, then a read into a buffer of that size.
struct Answer {
    GC_ERROR code = GC_ERR_SUCCESS;
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    std::vector<char> value;
};

template <class Query>
Answer ask(Query&& query)
{
    Answer answer;
    size_t size = 0;
    answer.code = query(&answer.type, nullptr, &size);
    if (answer.code != GC_ERR_SUCCESS) {
        return answer;
    }
    answer.value.assign(size, '\x7f');
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    answer.code = query(&type, answer.value.data(), &size);
    EXPECT_EQ(type, answer.type) << "the size query and the read answer different types";
    EXPECT_EQ(size, answer.value.size()) << "the read answers a size other than the size query's";
    return answer;
}

std::string text_of(const Answer& answer)
{
    return answer.value.empty() ? std::string() : std::string(answer.value.data());
}

}  // namespace

class ConsumerFirstStepsTest : public ModuleTest {
protected:
    // Every standard command from 0 to `last` answers a value of the standard's type (a string unless
    // `types` says otherwise), except `unavailable`, which answers GC_ERR_NOT_AVAILABLE; a custom number that
    // nothing binds answers GC_ERR_NOT_IMPLEMENTED. Each refusal comes with its record. Returns the answers
    // by command.
    template <class Query>
    std::map<int32_t, Answer> ask_all(const std::string& what, int32_t last, const std::map<int32_t, INFO_DATATYPE>& types,
                                      Query&& query, int32_t unavailable = -1)
    {
        std::map<int32_t, Answer> answers;
        for (int32_t command = 0; command <= last + 1; ++command) {
            const int32_t asked = command <= last ? command : 999;
            SCOPED_TRACE(what + " info command " + std::to_string(asked));
            const Answer answer = ask([&](INFO_DATATYPE* t, void* b, size_t* s) { return query(asked, t, b, s); });
            const GC_ERROR refusal = asked == 999           ? GC_ERR_NOT_IMPLEMENTED
                                     : asked == unavailable ? GC_ERR_NOT_AVAILABLE
                                                            : GC_ERR_SUCCESS;
            EXPECT_EQ(answer.code, refusal) << last_error();
            if (answer.code == GC_ERR_SUCCESS) {
                const auto expected = types.find(asked);
                const INFO_DATATYPE type = expected == types.end() ? INFO_DATATYPE_STRING : expected->second;
                EXPECT_EQ(answer.type, type);
                if (answer.type == INFO_DATATYPE_STRING) {
                    // Not empty, and the one zero byte is the last.
                    EXPECT_EQ(text_of(answer).size() + 1, answer.value.size());
                } else {
                    EXPECT_EQ(answer.value.size(), type == INFO_DATATYPE_UINT64 ? 8u : 4u);
                }
            } else {
                GC_ERROR recorded_code = 0;
                EXPECT_NE(last_error(&recorded_code), "");
                EXPECT_EQ(recorded_code, answer.code);
            }
            answers.emplace(asked, answer);
        }
        return answers;
    }

    // Opens the data stream, streams `frames` frames of the board's 64 x 32 camera into four
    // library-allocated buffers, each checked, and stops. The stream stays open, its buffers announced and its
    // event registered, as a consumer that closes only the device leaves them.
    // A stream closed with its device keeps its buffers announced (`reopened`: see StreamSession).
    void stream(DEV_HANDLE device, int frames, bool reopened = false)
    {
        StreamSession session(device, 4, ExpectedFrames{64, 32}, !reopened);
        EXPECT_EQ(session.stream_info(STREAM_INFO_NUM_ANNOUNCED), reopened ? 8u : 4u);
        EXPECT_EQ(session.take(frames, -1, 10000), frames);
        DEV_HANDLE parent = nullptr;
        EXPECT_EQ(DSGetParentDev(session.stream, &parent), GC_ERR_SUCCESS);
        EXPECT_EQ(parent, device);
        EXPECT_EQ(DSStopAcquisition(session.stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS) << last_error();
        streams_.push_back(session.stream);
    }

    std::vector<DS_HANDLE> streams_;
};

TEST_F(ConsumerFirstStepsTest, EnumerateAskEverythingOpenStreamAndCloseTheDeviceFirst)
{
    // Two channels of one board share its serial number; their devices still tell apart.
    ASSERT_EQ(GCCloseLib(), GC_ERR_SUCCESS);
    ASSERT_EQ(vnsim_configure(R"({"boards": [
        {"kind": "CXP", "model": "VN-CXP4 CoaXPress", "serial": "VC0000042",
         "camera_files": [{"name": "A.cam", "width": 64, "height": 32}]},
        {"kind": "CL", "model": "VN-CL2 Camera Link", "serial": "VC0000042",
         "camera_files": [{"name": "B.cam", "width": 64, "height": 32}]}]})"),
              0)
        << vnsim_last_error();
    ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    const std::map<int32_t, INFO_DATATYPE> tl_types{{TL_INFO_CHAR_ENCODING, INFO_DATATYPE_INT32},
                                                    {TL_INFO_GENTL_VER_MAJOR, INFO_DATATYPE_UINT32},
                                                    {TL_INFO_GENTL_VER_MINOR, INFO_DATATYPE_UINT32}};
    const std::map<int32_t, INFO_DATATYPE> device_types{{DEVICE_INFO_ACCESS_STATUS, INFO_DATATYPE_INT32},
                                                        {DEVICE_INFO_TIMESTAMP_FREQUENCY, INFO_DATATYPE_UINT64}};

    // The library is asked about itself before anything is opened, and the system after; a buffer too small
    // for the GenTL version is told the size needed.
    const auto expect_version = [](const std::map<int32_t, Answer>& answers) {
        const auto number = [&](int32_t command) {
            uint32_t value = 0;
            const std::vector<char>& bytes = answers.at(command).value;
            if (bytes.size() == sizeof value) {
                std::memcpy(&value, bytes.data(), sizeof value);
            }
            return value;
        };
        EXPECT_EQ(std::pair(number(TL_INFO_GENTL_VER_MAJOR), number(TL_INFO_GENTL_VER_MINOR)), std::pair(1u, 4u));
    };
    expect_version(ask_all("GCGetInfo", TL_INFO_GENTL_VER_MINOR, tl_types,
                           [](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) { return GCGetInfo(c, t, b, s); }));
    for (const TL_INFO_CMD command : {TL_INFO_GENTL_VER_MAJOR, TL_INFO_GENTL_VER_MINOR}) {
        uint32_t value = 0xdeadbeef;
        INFO_DATATYPE type = 0;
        size_t size = 3;
        EXPECT_EQ(GCGetInfo(command, &type, &value, &size), GC_ERR_BUFFER_TOO_SMALL) << command;
        EXPECT_EQ(size, sizeof value) << command;
    }
    const TL_HANDLE system = open_system();
    const auto tl_info = [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) { return TLGetInfo(system, c, t, b, s); };
    expect_version(ask_all("TLGetInfo", TL_INFO_GENTL_VER_MINOR, tl_types, tl_info));
    bool changed = false;
    ASSERT_EQ(TLUpdateInterfaceList(system, &changed, 1000), GC_ERR_SUCCESS);
    uint32_t interfaces = 0;
    ASSERT_EQ(TLGetNumInterfaces(system, &interfaces), GC_ERR_SUCCESS);
    ASSERT_EQ(interfaces, 2u);

    std::vector<IF_HANDLE> ifaces;
    std::vector<DEV_HANDLE> devices;
    for (uint32_t index = 0; index < interfaces; ++index) {
        const std::string iface_id = interface_id(system, index);
        SCOPED_TRACE(iface_id);
        ask_all("TLGetInterfaceInfo", INTERFACE_INFO_TLTYPE, {},
                [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) {
                    return TLGetInterfaceInfo(system, iface_id.c_str(), c, t, b, s);
                });
        IF_HANDLE iface = nullptr;
        ASSERT_EQ(TLOpenInterface(system, iface_id.c_str(), &iface), GC_ERR_SUCCESS) << last_error();
        ask_all("IFGetInfo", INTERFACE_INFO_TLTYPE, {},
                [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) { return IFGetInfo(iface, c, t, b, s); });
        ASSERT_EQ(IFUpdateDeviceList(iface, &changed, 1000), GC_ERR_SUCCESS);
        uint32_t count = 0;
        ASSERT_EQ(IFGetNumDevices(iface, &count), GC_ERR_SUCCESS);
        ASSERT_EQ(count, 1u);
        char device_id[64] = {};
        size_t size = sizeof device_id;
        ASSERT_EQ(IFGetDeviceID(iface, 0, device_id, &size), GC_ERR_SUCCESS);
        const auto closed = ask_all("IFGetDeviceInfo", DEVICE_INFO_TIMESTAMP_FREQUENCY, device_types,
                                    [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) {
                                        return IFGetDeviceInfo(iface, device_id, c, t, b, s);
                                    },
                                    DEVICE_INFO_USER_DEFINED_NAME);
        EXPECT_EQ(text_of(closed.at(DEVICE_INFO_SERIAL_NUMBER)), "VC0000042-" + std::to_string(index));
        // The interface tells whether its device's own values can be read.
        EXPECT_EQ(u32(iface, ifc::Reg_DeviceOpen), 0u);

        DEV_HANDLE device = nullptr;
        ASSERT_EQ(IFOpenDevice(iface, device_id, DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS) << last_error();
        const auto open = ask_all("DevGetInfo", DEVICE_INFO_TIMESTAMP_FREQUENCY, device_types,
                                  [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) {
                                      return DevGetInfo(device, c, t, b, s);
                                  },
                                  DEVICE_INFO_USER_DEFINED_NAME);
        EXPECT_EQ(u32(iface, ifc::Reg_DeviceOpen), 1u);
        // The values do not change with opening, except the access status.
        for (const auto& [command, answer] : closed) {
            if (command != DEVICE_INFO_ACCESS_STATUS) {
                EXPECT_EQ(open.at(command).value, answer.value) << "info command " << command;
            }
        }
        IF_HANDLE parent = nullptr;
        EXPECT_EQ(DevGetParentIF(device, &parent), GC_ERR_SUCCESS);
        EXPECT_EQ(parent, iface);
        stream(device, 10);
        ifaces.push_back(iface);
        devices.push_back(device);
    }

    // The consumer closes each device with its stream still open (buffers announced, event registered), and
    // only then the stream: the producer answers both, and the stream is refused as closed with its record.
    for (size_t i = 0; i < devices.size(); ++i) {
        EXPECT_EQ(DevClose(devices[i]), GC_ERR_SUCCESS) << last_error();
        EXPECT_EQ(DSClose(streams_[i]), GC_ERR_INVALID_HANDLE);
        GC_ERROR recorded_code = 0;
        EXPECT_NE(last_error(&recorded_code), "");
        EXPECT_EQ(recorded_code, GC_ERR_INVALID_HANDLE);
        EXPECT_EQ(u32(ifaces[i], ifc::Reg_DeviceOpen), 0u);
        const Answer serial = ask([&](INFO_DATATYPE* t, void* b, size_t* s) {
            return IFGetDeviceInfo(ifaces[i], "TLDevice", DEVICE_INFO_SERIAL_NUMBER, t, b, s);
        });
        EXPECT_EQ(text_of(serial), "VC0000042-" + std::to_string(i)) << "through the interface, closed again";
    }
    // The devices open and stream again afterwards, and the library closes with everything in place.
    streams_.clear();
    for (uint32_t index = 0; index < interfaces; ++index) {
        SCOPED_TRACE("again, board " + std::to_string(index));
        DEV_HANDLE device = nullptr;
        ASSERT_EQ(IFOpenDevice(ifaces[index], "TLDevice", DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS) << last_error();
        stream(device, 5, true);
    }
    EXPECT_EQ(TLClose(system), GC_ERR_SUCCESS) << last_error();
    EXPECT_EQ(GCCloseLib(), GC_ERR_SUCCESS) << last_error();
}
