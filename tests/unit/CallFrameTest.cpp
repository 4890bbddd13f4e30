#include "ModuleFixture.h"

#include "cti/CtiManager.h"
#include "cti/CallFrame.h"
#include "modules/TLModule.h"

#include <array>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <thread>

namespace {

using vngtl::to_handle;
using namespace vngtl::message;

// The exports the handle matrix (HandleValidationTest) has no row for: those without a handle to check and
// those this producer does not implement. Called with null handles and every other argument valid.
struct Row {
    const char* name;
    std::function<GC_ERROR()> call;
    GC_ERROR code;
    std::string message;  // empty: no record is written
    const char* function = nullptr;  // the recording function when it is not the export itself
};

using CallFrameTest = GenTLTest;

TEST_F(CallFrameTest, ExportsWithoutAHandleCheckAnswerNotInitializedFirstThenTheirRowsAnswer)
{
    static INFO_DATATYPE type = 0;
    static size_t size = 16;
    static std::array<char, 16> text{};
    static uint32_t count = 0;
    static void* some = &text;
    static DS_BUFFER_INFO_STACKED stacked{};
    static DS_BUFFER_PART_INFO_STACKED part_stacked{};
    char* s = text.data();
    std::vector<Row> rows = {
        {"GCGetInfo", [] { return GCGetInfo(-1, &type, nullptr, &size); }, GC_ERR_NOT_IMPLEMENTED,
         "No feature implemented with info command ID -1.", "BaseInfo::info"},
        {"GCGetLastError", [s] { return GCGetLastError(nullptr, s, &size); }, GC_ERR_INVALID_PARAMETER, ""},
        {"TLOpen", [] { return TLOpen(nullptr); }, GC_ERR_INVALID_PARAMETER,
         "The transport-layer module handle pointer is invalid (null)."},
    };
    // The exports this producer does not offer answer NOT_IMPLEMENTED with a record naming them.
    const std::pair<const char*, std::function<GC_ERROR()>> never[] = {
        {"DSGetNumBufferParts", [] { return DSGetNumBufferParts(nullptr, some, &count); }},
        {"DSGetBufferPartInfo", [s] { return DSGetBufferPartInfo(nullptr, some, 0, 0, &type, s, &size); }},
        {"DSAnnounceCompositeBuffer",
         [] { return DSAnnounceCompositeBuffer(nullptr, 1, &some, &size, nullptr, &some); }},
        {"DSGetBufferInfoStacked", [] { return DSGetBufferInfoStacked(nullptr, some, &stacked, 1); }},
        {"DSGetBufferPartInfoStacked", [] { return DSGetBufferPartInfoStacked(nullptr, some, &part_stacked, 1); }},
        {"DSGetNumFlows", [] { return DSGetNumFlows(nullptr, &count); }},
        {"DSGetFlowInfo", [s] { return DSGetFlowInfo(nullptr, 0, 0, &type, s, &size); }},
        {"DSGetNumBufferSegments", [] { return DSGetNumBufferSegments(nullptr, some, &count); }},
        {"DSGetBufferSegmentInfo", [s] { return DSGetBufferSegmentInfo(nullptr, some, 0, 0, &type, s, &size); }},
    };
    for (const auto& [name, call] : never) {
        const std::string message = name + std::string(" is not implemented by this producer.");
        rows.push_back({name, call, GC_ERR_NOT_IMPLEMENTED, message});
    }
    for (const Row& row : rows) {
        EXPECT_EQ(row.call(), GC_ERR_NOT_INITIALIZED) << row.name;
    }
    EXPECT_EQ(GCCloseLib(), GC_ERR_NOT_INITIALIZED);
    EXPECT_EQ(debug_output(), "");  // nothing recorded, no argument looked at

    ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    EXPECT_EQ(last_error(), "No Error");
    for (const Row& row : rows) {
        const std::string before = last_error();
        EXPECT_EQ(row.call(), row.code) << row.name;
        if (row.message.empty()) {
            EXPECT_EQ(last_error(), before) << row.name;
        } else {
            const char* function = row.function != nullptr ? row.function : row.name;
            const char* file = row.function != nullptr ? "BaseInfo.cpp" : row.name[0] == 'D' ? "cti_ds.cpp" : "cti_tl.cpp";
            EXPECT_TRUE(is_record(last_error(), vngtl::gc_error_name(row.code), file, function, row.message))
                << row.name;
        }
    }
}

using InitialisedFrameTest = ModuleTest;
using ModuleFrameTest = ModuleTest;

// Runs a call frame named "Probe" with `check`: its code, and whether the operation ran.
template <class Check>
std::pair<GC_ERROR, bool> probe(Check check)
{
    bool ran = false;
    const GC_ERROR code = vngtl::CallFrame("Probe").check(std::move(check)).run([&](vngtl::CallFrame&) {
        ran = true;
        return GC_ERR_SUCCESS;
    });
    return {code, ran};
}

TEST_F(InitialisedFrameTest, ArgumentChecksComeInTheRowsOrder)
{
    PORT_REGISTER_STACK_ENTRY entry{};
    size_t count = 1;
    EXPECT_EQ(GCReadPortStacked(nullptr, nullptr, &count), GC_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_PARAMETER", "cti_gc.cpp", "GCReadPortStacked",
                         "The entries parameter is invalid (null)."));
    EXPECT_EQ(GCWritePortStacked(nullptr, &entry, nullptr), GC_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_PARAMETER", "cti_gc.cpp", "GCWritePortStacked",
                         "The entries count parameter is invalid (null)."));
    // Buffer checks belong to the port: the handle is reported.
    EXPECT_EQ(GCReadPort(nullptr, 0, nullptr, nullptr), GC_ERR_INVALID_HANDLE);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_HANDLE", "cti_gc.cpp", "GCReadPort", input_null));

    // A foreign handle with a missing pointer: the pointer is reported (with every pointer given, the handle
    // is refused: HandleValidationTest).
    auto foreign = TestModule::make_root("foreign");
    void* handle = to_handle(foreign.get());
    EXPECT_EQ(TLGetNumInterfaces(handle, nullptr), GC_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_PARAMETER", "cti_tl.cpp", "TLGetNumInterfaces",
                         "The interface count return pointer is invalid (null)."));
    EXPECT_EQ(GCRegisterEvent(handle, EVENT_NEW_BUFFER, nullptr), GC_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_PARAMETER", "cti_gc.cpp", "GCRegisterEvent",
                         "The event return handle pointer is invalid (null)."));
    EXPECT_EQ(DevGetPort(handle, nullptr), GC_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_PARAMETER", "cti_dev.cpp", "DevGetPort",
                         "The remote device port return handle pointer is invalid (null)."));
    EXPECT_EQ(DSGetBufferInfo(handle, nullptr, 0, nullptr, nullptr, nullptr), GC_ERR_INVALID_HANDLE);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_HANDLE", "cti_ds.cpp", "DSGetBufferInfo", "The buffer handle is invalid (null)."));
    EXPECT_EQ(DSGetBufferChunkData(handle, handle, nullptr, nullptr), GC_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_PARAMETER", "cti_ds.cpp", "DSGetBufferChunkData",
                         "The chunk-count pointer is invalid (null)."));
}

TEST_F(InitialisedFrameTest, ConcurrentFirstUsesBuildOneSystemModuleAndOpenItOnce)
{
    constexpr int threads = 4;
    std::array<TL_HANDLE, threads> handles{};
    std::array<GC_ERROR, threads> codes{};
    std::vector<std::thread> callers;
    for (int t = 0; t < threads; ++t) {
        callers.emplace_back([&, t] { codes[t] = TLOpen(&handles[t]); });
    }
    for (auto& caller : callers) {
        caller.join();
    }
    void* const system = to_handle(vngtl::get_manager()->get()->get_tl_module().get());
    int opened = 0;
    for (int t = 0; t < threads; ++t) {
        const bool ok = codes[t] == GC_ERR_SUCCESS;
        opened += ok ? 1 : 0;
        EXPECT_TRUE(ok || codes[t] == GC_ERR_RESOURCE_IN_USE) << vngtl::gc_error_name(codes[t]);
        EXPECT_EQ(handles[t], ok ? system : nullptr);
    }
    EXPECT_EQ(opened, 1);
}

// (Opening the real tree's children and climbing back through DevGetParentIF and DSGetParentDev:
// ConsumerFirstStepsTest.)
TEST_F(ModuleFrameTest, TheTreesRefusalsReachTheCallerWithTheirRecords)
{
    // A three-level tree standing in for an interface, its device and the device's stream.
    const auto iface = TestModule::make_root("board0");
    void* const h_if = to_handle(iface.get());
    iface->want({"dev"});
    ASSERT_EQ(iface->open(0), GC_ERR_SUCCESS);
    const auto device = std::static_pointer_cast<TestModule>(iface->find_child("dev"));
    device->want({"stream"});
    INFO_DATATYPE type = 0;
    std::array<char, 8> id{};
    size_t size = 0;
    uint32_t count = 0;
    void* out = nullptr;
    const auto not_open = [](const char* function) {
        return std::pair<const char*, std::string>{function, "Module \"board0\" exists, but is not open."};
    };
    struct Refusal {
        const char* name;
        std::function<GC_ERROR()> call;
        GC_ERROR code;
        std::pair<const char*, std::string> record;  // the recording function and the message
    };
    DEV_HANDLE h_dev = nullptr;
    ASSERT_EQ(IFOpenDevice(h_if, "dev", DEVICE_ACCESS_CONTROL, &h_dev), GC_ERR_SUCCESS);
    ASSERT_EQ(h_dev, to_handle(device.get()));
    const std::vector<Refusal> open_rows = {
        // An open device is not opened again, and the caller's handle is left alone.
        {"IFOpenDevice(twice)",
         [&] {
             DEV_HANDLE second = reinterpret_cast<DEV_HANDLE>(0x99);
             const GC_ERROR code = IFOpenDevice(h_if, "dev", DEVICE_ACCESS_CONTROL, &second);
             EXPECT_EQ(second, reinterpret_cast<DEV_HANDLE>(0x99));
             return code;
         },
         GC_ERR_RESOURCE_IN_USE, {"open", "The \"dev\" module has already been opened."}},
        {"IFOpenDevice(null)", [&] { return IFOpenDevice(h_if, "dev", DEVICE_ACCESS_CONTROL, nullptr); },
         GC_ERR_INVALID_PARAMETER, {"open_child", "The module return handle pointer is null."}},
        {"IFGetNumDevices(null)", [&] { return IFGetNumDevices(h_if, nullptr); }, GC_ERR_INVALID_PARAMETER,
         {"num_children", "The return variable is a null pointer."}},
        {"IFGetDeviceID(short)",
         [&] {
             size = 3;
             const GC_ERROR code = IFGetDeviceID(h_if, 0, id.data(), &size);
             EXPECT_EQ(size, 4u);  // the size needed
             return code;
         },
         GC_ERR_BUFFER_TOO_SMALL, {"get_child_id", "Encountered a problem copying data to the output buffer."}},
        {"IFGetDeviceID(1)", [&] { return IFGetDeviceID(h_if, 1, id.data(), &size); }, GC_ERR_INVALID_INDEX,
         {"get_child_id", "The module has only 1 items. 1 is out of range."}},
        {"IFGetDeviceInfo(null)", [&] { return IFGetDeviceInfo(h_if, nullptr, 0, &type, nullptr, &size); },
         GC_ERR_INVALID_ID, {"get_child", "The child ID string is invalid (null)."}},
        {"IFGetDeviceInfo(nope)", [&] { return IFGetDeviceInfo(h_if, "nope", 0, &type, nullptr, &size); },
         GC_ERR_INVALID_ID, {"get_child", "No child exists with the given ID (nope)."}},
        {"IFGetParentTL", [&] { return IFGetParentTL(h_if, &out); }, GC_ERR_INVALID_HANDLE,
         {"get_parent", "Unable to retrieve the parent of module \"board0\". Are trying to retrieve the parent of "
                        "a top-level module?"}},
        {"GCRegisterEvent", [&] { return GCRegisterEvent(h_if, EVENT_NEW_BUFFER, &out); }, GC_ERR_NOT_IMPLEMENTED,
         {"register_event", "This module does not implement the given event type (ID 1)."}},
        {"GCUnregisterEvent", [&] { return GCUnregisterEvent(h_if, 1000); }, GC_ERR_NOT_IMPLEMENTED,
         {"unregister_event", "This module does not implement the given event type (ID 1000)."}},
    };
    const std::vector<Refusal> closed_rows = {
        {"IFGetNumDevices", [&] { return IFGetNumDevices(h_if, &count); }, GC_ERR_INVALID_HANDLE,
         not_open("num_children")},
        {"IFOpenDevice", [&] { return IFOpenDevice(h_if, "dev", DEVICE_ACCESS_CONTROL, &out); }, GC_ERR_INVALID_HANDLE,
         not_open("open_child")},
        {"IFGetInfo", [&] { return IFGetInfo(h_if, 0, &type, nullptr, &size); }, GC_ERR_INVALID_HANDLE,
         not_open("info")},
        {"GCRegisterEvent", [&] { return GCRegisterEvent(h_if, EVENT_NEW_BUFFER, &out); }, GC_ERR_INVALID_HANDLE,
         not_open("register_event")},
        {"IFUpdateDeviceList", [&] { return IFUpdateDeviceList(h_if, nullptr, 1000); }, GC_ERR_INVALID_HANDLE,
         {"update_children", "The children of module \"board0\" cannot be updated, because the module is not open."}},
        {"IFClose", [&] { return IFClose(h_if); }, GC_ERR_INVALID_HANDLE,
         {"close", "The \"board0\" module exists, but is not open, so it cannot be closed."}},
    };
    const auto run = [&](const std::vector<Refusal>& rows) {
        for (const Refusal& row : rows) {
            SCOPED_TRACE(row.name);
            out = nullptr;
            EXPECT_EQ(row.call(), row.code);
            EXPECT_TRUE(recorded(vngtl::gc_error_name(row.code), "BaseModule.cpp",
                                 std::string("BaseModule::") + row.record.first, row.record.second));
            EXPECT_EQ(out, nullptr);
        }
    };
    run(open_rows);
    // A closed module refuses; its children stay listed, closed.
    ASSERT_EQ(IFClose(h_if), GC_ERR_SUCCESS);
    run(closed_rows);
    EXPECT_NE(iface->find_child("dev"), nullptr);
}

// (The URL info of a real port, its arguments in their places: test_modules.py, through the reference consumer.)
TEST_F(InitialisedFrameTest, StackedAccessesStopAtTheFirstFailureAndTheLargestAddressFailsInThePort)
{
    TestPort port;
    const auto owner = TestModule::make_root("owner", &port);
    void* const h = to_handle(owner.get());
    for (uint64_t address : {0x0, 0x4, 0xC}) {
        auto* entry = port.map.insert(address, nullptr, 4, INFO_DATATYPE_UINT32, true, true, vngtl::make_plain_entry);
        ASSERT_NE(entry, nullptr);
        const auto value = static_cast<uint32_t>(0x1000 + address);
        std::memcpy(entry->data(), &value, 4);
    }
    std::array<uint32_t, 3> values{0, 0, 0xEEEE};
    std::array<PORT_REGISTER_STACK_ENTRY, 3> entries{{
        {0x4, &values[0], 4},
        {0x8, &values[1], 4},  // a gap
        {0xC, &values[2], 4},
    }};
    size_t count = 0;
    EXPECT_EQ(GCReadPortStacked(h, entries.data(), &count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(port.accesses.load(), 0);

    count = entries.size();
    EXPECT_EQ(GCReadPortStacked(h, entries.data(), &count), GC_ERR_INVALID_ADDRESS);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(values[0], 0x1004u);
    EXPECT_EQ(values[2], 0xEEEEu);  // never reached
    EXPECT_EQ(port.accesses.load(), 2);

    entries[1].Address = 0x0;
    count = entries.size();
    values = {1, 2, 3};
    EXPECT_EQ(GCWritePortStacked(h, entries.data(), &count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 3u);
    uint32_t value = 0;
    size_t size = 4;
    EXPECT_EQ(GCReadPort(h, 0xC, &value, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(value, 3u);

    // The largest address passes the range check on this platform and fails in the port.
    EXPECT_EQ(GCReadPort(h, 0xffffffffffffffff, &value, &size), GC_ERR_INVALID_ADDRESS);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_ADDRESS", "RegisterMap.cpp", "RegisterMap::read",
                         "The given address (0xffffffffffffffff) is not byte aligned."));
}

// (A live handle without a port, refused by every port function: HandleValidationTest.)
TEST_F(InitialisedFrameTest, ChecksThatRefuseOrThrowKeepTheOperationFromRunningAndExceptionsBecomeCodes)
{
    EXPECT_TRUE(vngtl::address_fits<uint32_t>(0xffffffff));
    EXPECT_FALSE(vngtl::address_fits<uint32_t>(0x100000000));

    EXPECT_EQ(probe(vngtl::address_in_range<uint32_t>(0x100000000)),
              (std::pair<GC_ERROR, bool>{GC_ERR_INVALID_ADDRESS, false}));
    EXPECT_TRUE(recorded("GC_ERR_INVALID_ADDRESS", "CallFrameTest.cpp", "Probe",
                         "The given address (0x100000000) is outside of the maximum supported range for this platform "
                         "(all > 0xffffffff)."));

    // A check that throws is caught as the operation's exceptions are (below); the operation does not run.
    EXPECT_EQ(probe(vngtl::holds([]() -> bool { throw std::length_error("check failed"); }, GC_ERR_ERROR,
                                 [] { return std::string("unused"); })),
              (std::pair<GC_ERROR, bool>{GC_ERR_ERROR, false}));
    EXPECT_TRUE(recorded("GC_ERR_ERROR", "CallFrameTest.cpp", "Probe", "Caught an exception: check failed"));

    // An operation's exceptions become codes and records.
    struct NonStandard {};
    struct Case {
        const char* name;
        std::function<void()> thrower;
        const char* code;
        const char* message;
    };
    const Case cases[] = {
        {"memory", [] { throw std::bad_alloc(); }, "GC_ERR_OUT_OF_MEMORY",
         "Program memory is exhausted, and the GenTL producer may no longer be able to function: std::bad_alloc"},
        {"standard", [] { throw std::runtime_error("board went away"); }, "GC_ERR_ERROR",
         "Caught an exception: board went away"},
        {"other", [] { throw NonStandard{}; }, "GC_ERR_ERROR",
         "Caught an unexpected exception. System resources may be exhausted, or this is a bug."},
    };
    for (const Case& c : cases) {
        auto module = TestModule::make_root("thrower");
        ASSERT_EQ(module->open(0), GC_ERR_SUCCESS);
        module->thrower = c.thrower;
        const GC_ERROR code = IFClose(to_handle(module.get()));
        EXPECT_STREQ(vngtl::gc_error_name(code), c.code) << c.name;
        EXPECT_TRUE(recorded(c.code, "cti_if.cpp", "IFClose", c.message)) << c.name;
    }

    // Every way out released its manager reference.
    EXPECT_EQ(GCCloseLib(), GC_ERR_SUCCESS);
}

// (GCRegisterEvent handing out a stream's event: HandleValidationTest and every stream test that waits on it.)
TEST_F(InitialisedFrameTest, EventFunctionsReachTheEventBehindTheHandle)
{
    TestEvent event;
    void* h_event = to_handle(&event);
    std::array<char, 8> text{};
    size_t size = text.size();
    EXPECT_EQ(EventGetData(h_event, text.data(), &size, 250), GC_ERR_SUCCESS);
    EXPECT_EQ(event.last_timeout, 250u);
    EXPECT_STREQ(text.data(), "event");
    INFO_DATATYPE type = 0;
    int32_t number = 0;
    size = sizeof number;
    EXPECT_EQ(EventGetDataInfo(h_event, text.data(), 6, 0, &type, &number, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(number, 6);
    EXPECT_EQ(EventFlush(h_event), GC_ERR_SUCCESS);
    EXPECT_EQ(event.flushes, 1);
    EXPECT_EQ(EventKill(h_event), GC_ERR_ABORT);
    EXPECT_TRUE(event.last_kill_immediate);
    size = sizeof number;
    EXPECT_EQ(EventGetInfo(h_event, EVENT_INFO_DATA_SIZE_MAX, &type, &number, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(number, EVENT_INFO_DATA_SIZE_MAX);
}

}  // namespace
