// Handles through the exported functions: every handle the library hands out is live until its object goes
// (or the library is closed); a stale, foreign or wrong-kind handle answers GC_ERR_INVALID_HANDLE with a
// record and is never followed. The foreign values include ones that would crash the process if they were
// dereferenced, so a missing check shows as a crash, not as a wrong answer. Then the call frame every export
// runs in: the exports without a handle check, the order of argument checks, refusals reaching the caller,
// and exceptions becoming codes.
#include "ModuleFixture.h"
#include "core/HandleRegistry.h"
#include "cti/CallFrame.h"
#include "cti/CtiManager.h"
#include "modules/TLModule.h"

#include <vnsim.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

enum class Kind { system, iface, device, stream, buffer, event, remote };

const char* kind_name(Kind kind)
{
    constexpr const char* names[] = {"system", "interface", "device", "stream", "buffer", "event", "remote port"};
    return names[static_cast<size_t>(kind)];
}

// One of each handle kind, opened through the exports on board 0 (CoaXPress).
struct Tree {
    TL_HANDLE system = nullptr;
    IF_HANDLE iface = nullptr;
    DEV_HANDLE device = nullptr;
    DS_HANDLE stream = nullptr;
    BUFFER_HANDLE buffer = nullptr;
    EVENT_HANDLE event = nullptr;
    PORT_HANDLE remote = nullptr;

    ::testing::AssertionResult open()
    {
        if (TLOpen(&system) != GC_ERR_SUCCESS) {
            return ::testing::AssertionFailure() << "TLOpen";
        }
        char id[256] = {};
        size_t size = sizeof id;
        if (TLGetInterfaceID(system, 0, id, &size) != GC_ERR_SUCCESS ||
            TLOpenInterface(system, id, &iface) != GC_ERR_SUCCESS ||
            IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_CONTROL, &device) != GC_ERR_SUCCESS ||
            DevOpenDataStream(device, "TLDataStream", &stream) != GC_ERR_SUCCESS ||
            DSAllocAndAnnounceBuffer(stream, 1024 * 768, nullptr, &buffer) != GC_ERR_SUCCESS ||
            GCRegisterEvent(stream, EVENT_NEW_BUFFER, &event) != GC_ERR_SUCCESS ||
            DevGetPort(device, &remote) != GC_ERR_SUCCESS) {
            return ::testing::AssertionFailure() << "opening the tree";
        }
        return ::testing::AssertionSuccess();
    }

    void* of(Kind kind) const
    {
        const std::array<void*, 7> handles{system, iface, device, stream, buffer, event, remote};
        return handles[static_cast<size_t>(kind)];
    }
};

constexpr std::array all_kinds = {Kind::system, Kind::iface, Kind::device, Kind::stream,
                                  Kind::buffer, Kind::event,  Kind::remote};
const std::set<Kind> port_kinds = {Kind::system, Kind::iface, Kind::device, Kind::stream, Kind::buffer, Kind::remote};
const std::set<Kind> source_kinds = {Kind::system, Kind::iface, Kind::device, Kind::stream, Kind::buffer};

// Where the rows' calls write a handle they hand out; a refused call must leave it null. The size or count
// the rows pass by pointer.
void* out = nullptr;
size_t io_size = 0;

// An exported function with the handle under test in one argument; the other arguments are valid, so that
// only the handle can make the call fail.
struct Export {
    const char* name;
    std::set<Kind> takes;
    std::function<GC_ERROR(const Tree& tree, void* handle)> call;
};

std::vector<Export> exports()
{
    static uint32_t u32 = 0;
    static uint64_t u64 = 0;
    static INFO_DATATYPE type = 0;
    static char text[512];
    static bool8_t changed = 0;
    static PORT_REGISTER_STACK_ENTRY entry{0, &u32, 4};
    static uint8_t bytes[4096];
    const auto sz = []() -> size_t* { io_size = sizeof text; return &io_size; };
    const auto count = []() -> size_t* { io_size = 1; return &io_size; };
    using T = const Tree&;
    return {
        {"GCReadPort", port_kinds, [=](T, void* h) { io_size = 4; return GCReadPort(h, 0, &u32, &io_size); }},
        {"GCWritePort", port_kinds, [=](T, void* h) { io_size = 4; return GCWritePort(h, 0, &u32, &io_size); }},
        {"GCGetPortURL", port_kinds, [=](T, void* h) { return GCGetPortURL(h, text, sz()); }},
        {"GCGetPortInfo", port_kinds, [=](T, void* h) { return GCGetPortInfo(h, PORT_INFO_ID, &type, text, sz()); }},
        {"GCGetNumPortURLs", port_kinds, [=](T, void* h) { return GCGetNumPortURLs(h, &u32); }},
        {"GCGetPortURLInfo", port_kinds,
         [=](T, void* h) { return GCGetPortURLInfo(h, 0, URL_INFO_URL, &type, text, sz()); }},
        {"GCReadPortStacked", port_kinds, [=](T, void* h) { return GCReadPortStacked(h, &entry, count()); }},
        {"GCWritePortStacked", port_kinds, [=](T, void* h) { return GCWritePortStacked(h, &entry, count()); }},
        {"GCRegisterEvent", source_kinds, [=](T, void* h) { return GCRegisterEvent(h, EVENT_ERROR, &out); }},
        {"GCUnregisterEvent", source_kinds, [=](T, void* h) { return GCUnregisterEvent(h, EVENT_ERROR); }},
        {"TLGetInfo", {Kind::system}, [=](T, void* h) { return TLGetInfo(h, TL_INFO_ID, &type, text, sz()); }},
        {"TLGetNumInterfaces", {Kind::system}, [=](T, void* h) { return TLGetNumInterfaces(h, &u32); }},
        {"TLGetInterfaceID", {Kind::system}, [=](T, void* h) { return TLGetInterfaceID(h, 0, text, sz()); }},
        {"TLGetInterfaceInfo", {Kind::system},
         [=](T, void* h) { return TLGetInterfaceInfo(h, "x", INTERFACE_INFO_ID, &type, text, sz()); }},
        {"TLOpenInterface", {Kind::system}, [=](T, void* h) { return TLOpenInterface(h, "x", &out); }},
        {"TLUpdateInterfaceList", {Kind::system}, [=](T, void* h) { return TLUpdateInterfaceList(h, &changed, 0); }},
        {"TLClose", {Kind::system}, [=](T, void* h) { return TLClose(h); }},
        {"IFGetInfo", {Kind::iface}, [=](T, void* h) { return IFGetInfo(h, INTERFACE_INFO_ID, &type, text, sz()); }},
        {"IFGetNumDevices", {Kind::iface}, [=](T, void* h) { return IFGetNumDevices(h, &u32); }},
        {"IFGetDeviceID", {Kind::iface}, [=](T, void* h) { return IFGetDeviceID(h, 0, text, sz()); }},
        {"IFUpdateDeviceList", {Kind::iface}, [=](T, void* h) { return IFUpdateDeviceList(h, &changed, 0); }},
        {"IFGetDeviceInfo", {Kind::iface},
         [=](T, void* h) { return IFGetDeviceInfo(h, "x", DEVICE_INFO_ID, &type, text, sz()); }},
        {"IFOpenDevice", {Kind::iface}, [=](T, void* h) { return IFOpenDevice(h, "x", DEVICE_ACCESS_CONTROL, &out); }},
        {"IFGetParentTL", {Kind::iface}, [=](T, void* h) { return IFGetParentTL(h, &out); }},
        {"IFClose", {Kind::iface}, [=](T, void* h) { return IFClose(h); }},
        {"DevGetPort", {Kind::device}, [=](T, void* h) { return DevGetPort(h, &out); }},
        {"DevGetNumDataStreams", {Kind::device}, [=](T, void* h) { return DevGetNumDataStreams(h, &u32); }},
        {"DevGetDataStreamID", {Kind::device}, [=](T, void* h) { return DevGetDataStreamID(h, 0, text, sz()); }},
        {"DevOpenDataStream", {Kind::device}, [=](T, void* h) { return DevOpenDataStream(h, "x", &out); }},
        {"DevGetInfo", {Kind::device}, [=](T, void* h) { return DevGetInfo(h, DEVICE_INFO_ID, &type, text, sz()); }},
        {"DevGetParentIF", {Kind::device}, [=](T, void* h) { return DevGetParentIF(h, &out); }},
        {"DevClose", {Kind::device}, [=](T, void* h) { return DevClose(h); }},
        {"DSAnnounceBuffer", {Kind::stream},
         [=](T, void* h) { return DSAnnounceBuffer(h, bytes, sizeof bytes, nullptr, &out); }},
        {"DSAllocAndAnnounceBuffer", {Kind::stream},
         [=](T, void* h) { return DSAllocAndAnnounceBuffer(h, 64, nullptr, &out); }},
        {"DSFlushQueue", {Kind::stream}, [=](T, void* h) { return DSFlushQueue(h, ACQ_QUEUE_ALL_DISCARD); }},
        {"DSStartAcquisition", {Kind::stream},
         [=](T, void* h) { return DSStartAcquisition(h, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE); }},
        {"DSStopAcquisition", {Kind::stream}, [=](T, void* h) { return DSStopAcquisition(h, ACQ_STOP_FLAGS_DEFAULT); }},
        {"DSGetInfo", {Kind::stream}, [=](T, void* h) { return DSGetInfo(h, STREAM_INFO_ID, &type, text, sz()); }},
        {"DSGetBufferID", {Kind::stream}, [=](T, void* h) { return DSGetBufferID(h, 0, &out); }},
        {"DSGetParentDev", {Kind::stream}, [=](T, void* h) { return DSGetParentDev(h, &out); }},
        {"DSQueueBuffer(stream)", {Kind::stream}, [=](T tree, void* h) { return DSQueueBuffer(h, tree.buffer); }},
        {"DSRevokeBuffer(stream)", {Kind::stream},
         [=](T tree, void* h) { return DSRevokeBuffer(h, tree.buffer, nullptr, nullptr); }},
        {"DSGetBufferInfo(stream)", {Kind::stream},
         [=](T tree, void* h) { return DSGetBufferInfo(h, tree.buffer, BUFFER_INFO_SIZE, &type, &u64, sz()); }},
        {"DSGetBufferChunkData(stream)", {Kind::stream},
         [=](T tree, void* h) { return DSGetBufferChunkData(h, tree.buffer, nullptr, count()); }},
        {"DSQueueBuffer(buffer)", {Kind::buffer}, [=](T tree, void* h) { return DSQueueBuffer(tree.stream, h); }},
        {"DSRevokeBuffer(buffer)", {Kind::buffer},
         [=](T tree, void* h) { return DSRevokeBuffer(tree.stream, h, nullptr, nullptr); }},
        {"DSGetBufferInfo(buffer)", {Kind::buffer},
         [=](T tree, void* h) { return DSGetBufferInfo(tree.stream, h, BUFFER_INFO_SIZE, &type, &u64, sz()); }},
        {"DSGetBufferChunkData(buffer)", {Kind::buffer},
         [=](T tree, void* h) { return DSGetBufferChunkData(tree.stream, h, nullptr, count()); }},
        {"DSClose", {Kind::stream}, [=](T, void* h) { return DSClose(h); }},
        {"EventGetData", {Kind::event}, [=](T, void* h) { return EventGetData(h, text, sz(), 0); }},
        {"EventGetDataInfo", {Kind::event},
         [=](T, void* h) { return EventGetDataInfo(h, text, 16, EVENT_DATA_ID, &type, text, sz()); }},
        {"EventGetInfo", {Kind::event},
         [=](T, void* h) { return EventGetInfo(h, EVENT_EVENT_TYPE, &type, text, sz()); }},
        {"EventFlush", {Kind::event}, [=](T, void* h) { return EventFlush(h); }},
        {"EventKill", {Kind::event}, [=](T, void* h) { return EventKill(h); }},
    };
}

// The exported name in a row's name ("DSQueueBuffer(buffer)" -> "DSQueueBuffer").
std::string function_of(const char* row)
{
    const std::string name(row);
    return name.substr(0, name.find('('));
}

class HandleValidationTest : public InitialisedTest {
protected:
    void SetUp() override
    {
        InitialisedTest::SetUp();
        ASSERT_TRUE(tree.open());
    }
    // The row's export answers INVALID_HANDLE with a record written by the export itself, naming it.
    static ::testing::AssertionResult refused(const Export& row, const Tree& tree, void* handle)
    {
        const GC_ERROR code = row.call(tree, handle);
        if (code != GC_ERR_INVALID_HANDLE) {
            return ::testing::AssertionFailure() << row.name << " answered " << vngtl::gc_error_name(code);
        }
        const std::string record = last_error();
        const std::string function = function_of(row.name);
        // The system module's own message for a foreign handle, or the live-handle table's.
        const char* message = function.rfind("TL", 0) == 0 ? vngtl::message::tl_foreign : "is invalid (not a live";
        if (record.rfind("GC_ERR_INVALID_HANDLE @ cti_", 0) != 0 ||
            record.find("], " + function + ": ") == std::string::npos || record.find(message) == std::string::npos) {
            return ::testing::AssertionFailure() << row.name << ": record " << record;
        }
        return ::testing::AssertionSuccess();
    }
    Tree tree;
};

class EveryExportTest : public HandleValidationTest, public ::testing::WithParamInterface<Export> {};

// The file and the message of the record a row's export writes for a null handle.
std::pair<std::string, std::string> null_handle_record(const std::string& function)
{
    using namespace vngtl::message;
    const std::map<std::string, std::pair<std::string, std::string>> by_prefix = {
        {"GC", {"gc", input_null}}, {"Ev", {"event", input_null}}, {"TL", {"tl", tl_null}},
        {"IF", {"if", "The interface module handle is invalid (null)."}},
        {"De", {"dev", "The device module handle is invalid (null)."}}, {"DS", {"ds", "The input handle is invalid."}}};
    auto [file, message] = by_prefix.at(function.substr(0, 2));
    if (function == "GCRegisterEvent" || function == "GCUnregisterEvent") {
        message = "The event source handle is invalid (null).";
    } else if (function == "DSGetBufferInfo" || function == "DSGetBufferChunkData" || function == "DSGetParentDev") {
        message = "The data-stream handle is invalid (null).";
    }
    return {"cti_" + file + ".cpp", message};
}

TEST_P(EveryExportTest, RefusesNullForeignAndOtherKindHandlesWithoutFollowingThem)
{
    const Export& row = GetParam();
    // A null handle, with the export's own message; for a buffer the stream's null check comes first.
    if (row.takes != std::set<Kind>{Kind::buffer}) {
        const std::string function = function_of(row.name);
        out = nullptr;
        EXPECT_EQ(row.call(tree, nullptr), GC_ERR_INVALID_HANDLE);
        const auto [file, message] = null_handle_record(function);
        EXPECT_TRUE(is_record(last_error(), "GC_ERR_INVALID_HANDLE", file, function, message));
        EXPECT_EQ(out, nullptr);
    }
    for (const Kind kind : all_kinds) {
        if (row.takes.count(kind) == 0) {
            EXPECT_TRUE(refused(row, tree, tree.of(kind))) << "a " << kind_name(kind) << " handle";
        }
    }
    // A block of the caller's own stack that looks like an object with a garbage table pointer.
    std::array<uint64_t, 16> on_stack{};
    on_stack.fill(0xfefefefefefefefe);
    // The objects' own addresses, which were the handles of an earlier design.
    auto stand_in = TestModule::make_root("stand-in");
    const std::vector<void*> foreign = {
        reinterpret_cast<void*>(0x1),
        reinterpret_cast<void*>(0xdeadbeef),
        reinterpret_cast<void*>(~uintptr_t{0}),
        reinterpret_cast<void*>(uintptr_t{0x7} << 40 | 0x3),  // odd, with a slot index past the table
        on_stack.data(),
        static_cast<vngtl::BasePortMedium*>(stand_in.get()),
        vngtl::from_handle<vngtl::BasePortMedium>(tree.stream),
    };
    for (void* value : foreign) {
        EXPECT_TRUE(refused(row, tree, value)) << value;
    }
    EXPECT_EQ(on_stack[0], 0xfefefefefefefefeu);
}

TEST_P(EveryExportTest, AnswersNotInitializedWhileClosedAndRefusesEveryHandleFromBeforeTheLibraryWasClosed)
{
    const Export& row = GetParam();
    const Tree old = tree;
    out = nullptr;
    ASSERT_EQ(GCCloseLib(), GC_ERR_SUCCESS);
    // While closed, the answer comes before any argument is looked at, and nothing is recorded.
    vnsim_debug_clear();
    EXPECT_EQ(row.call(old, nullptr), GC_ERR_NOT_INITIALIZED);
    EXPECT_EQ(row.call(old, old.of(*row.takes.begin())), GC_ERR_NOT_INITIALIZED);
    EXPECT_EQ(debug_output(), "") << "nothing recorded";
    EXPECT_EQ(out, nullptr);

    ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    Tree fresh;
    ASSERT_TRUE(fresh.open());
    for (const Kind kind : all_kinds) {
        EXPECT_NE(old.of(kind), fresh.of(kind)) << kind_name(kind);
        if (row.takes.count(kind) != 0) {
            EXPECT_TRUE(refused(row, fresh, old.of(kind))) << "the old " << kind_name(kind) << " handle";
        }
    }
}

std::string export_name(const ::testing::TestParamInfo<Export>& info)
{
    std::string name(info.param.name);
    std::erase_if(name, [](unsigned char c) { return std::isalnum(c) == 0; });
    return name;
}

INSTANTIATE_TEST_SUITE_P(Exports, EveryExportTest, ::testing::ValuesIn(exports()), export_name);

TEST_F(HandleValidationTest, EveryLibraryCycleReusesTheHandleSlotsAndALiveHandleWithoutAPortIsRefusedByPortFunctions)
{
    // Closing the library ends every handle; the next cycle's handles take the freed slots rather than new
    // ones, so a consumer that initialises and closes the library for hours keeps the table at one size.
    vngtl::HandleRegistry& registry = vngtl::HandleRegistry::instance();
    const auto cycle = [this] {
        ASSERT_EQ(GCCloseLib(), GC_ERR_SUCCESS);
        ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
        tree = Tree{};
        ASSERT_TRUE(tree.open());
    };
    cycle();
    const size_t slots = registry.slot_count();
    const size_t live = registry.live_count();
    for (int i = 0; i < 200; ++i) {
        cycle();
    }
    EXPECT_EQ(registry.slot_count(), slots);
    EXPECT_EQ(registry.live_count(), live);

    // Within a cycle, announcing and revoking buffers, as every stream does, uses the same slots over and over.
    const auto announce_and_revoke = [this] {
        BUFFER_HANDLE buffer = nullptr;
        ASSERT_EQ(DSAllocAndAnnounceBuffer(tree.stream, 64, nullptr, &buffer), GC_ERR_SUCCESS);
        ASSERT_EQ(DSRevokeBuffer(tree.stream, buffer, nullptr, nullptr), GC_ERR_SUCCESS);
    };
    announce_and_revoke();
    const size_t after_first = registry.slot_count();
    for (int i = 0; i < 2000; ++i) {
        announce_and_revoke();
    }
    EXPECT_EQ(registry.slot_count(), after_first);
    EXPECT_EQ(registry.live_count(), live);

    // A live handle without a port is refused by every port function as not implemented.
    auto bare = TestModule::make_root("bare");
    for (const Export& row : exports()) {
        if (row.takes == port_kinds) {
            SCOPED_TRACE(row.name);
            EXPECT_EQ(row.call(tree, vngtl::to_handle(bare.get())), GC_ERR_NOT_IMPLEMENTED);
            EXPECT_TRUE(is_record(last_error(), "GC_ERR_NOT_IMPLEMENTED", "cti_gc.cpp", row.name,
                                  vngtl::message::no_port));
            if (std::string(row.name).find("Stacked") != std::string::npos) {
                EXPECT_EQ(io_size, 1u) << "no entry counted";
            }
        }
    }
}

// A handle whose object goes while the library stays open: the call that ends the object (its handle stays
// in the tree), and the one that makes a new object of the kind, answering the new handle.
struct Ending {
    const char* name;
    Kind kind;
    std::function<GC_ERROR(Tree& tree)> end;
    std::function<GC_ERROR(Tree& tree, void** fresh)> renew;
};

TEST_F(HandleValidationTest, AHandleWhoseObjectWentIsStaleForEveryExportAndANewObjectGetsANewHandle)
{
    // A stand-in interface whose device list the test decides; the device an update drops is destroyed.
    auto iface = TestModule::make_root("iface");
    const IF_HANDLE h_if = vngtl::to_handle(iface.get());
    std::weak_ptr<vngtl::BaseModule> dropped;
    bool8_t changed = false;
    const Ending endings[] = {
        {"revoked buffer", Kind::buffer, [](Tree& t) { return DSRevokeBuffer(t.stream, t.buffer, nullptr, nullptr); },
         [](Tree& t, void** fresh) {
             const GC_ERROR code = DSAllocAndAnnounceBuffer(t.stream, 4096, nullptr, fresh);
             void* first = nullptr;
             EXPECT_EQ(DSGetBufferID(t.stream, 0, &first), GC_ERR_SUCCESS);
             EXPECT_EQ(first, *fresh);
             return code;
         }},
        {"unregistered event", Kind::event, [](Tree& t) { return GCUnregisterEvent(t.stream, EVENT_NEW_BUFFER); },
         [](Tree& t, void** fresh) {
             const GC_ERROR code = GCRegisterEvent(t.stream, EVENT_NEW_BUFFER, fresh);
             EXPECT_EQ(EventFlush(*fresh), GC_ERR_SUCCESS);
             return code;
         }},
        {"remote port of a closed device", Kind::remote, [](Tree& t) { return DevClose(t.device); },
         [](Tree& t, void** fresh) {
             EXPECT_EQ(IFOpenDevice(t.iface, "TLDevice", DEVICE_ACCESS_CONTROL, &t.device), GC_ERR_SUCCESS);
             return DevGetPort(t.device, fresh);
         }},
        // The stand-in's device takes the tree's place.
        {"device an update dropped", Kind::device,
         [&](Tree& t) {
             iface->want({"dev"});
             EXPECT_EQ(iface->open(0), GC_ERR_SUCCESS);
             EXPECT_EQ(IFOpenDevice(h_if, "dev", DEVICE_ACCESS_CONTROL, &t.device), GC_ERR_SUCCESS);
             dropped = iface->find_child("dev");
             iface->want({});
             const GC_ERROR code = IFUpdateDeviceList(h_if, &changed, 1000);
             EXPECT_TRUE(changed);
             EXPECT_TRUE(dropped.expired());
             return code;
         },
         [&](Tree&, void** fresh) {
             iface->want({"dev"});
             EXPECT_EQ(IFUpdateDeviceList(h_if, &changed, 1000), GC_ERR_SUCCESS);
             EXPECT_EQ(IFOpenDevice(h_if, "dev", DEVICE_ACCESS_CONTROL, fresh), GC_ERR_SUCCESS);
             return DevClose(*fresh);
         }},
    };
    const std::vector<Export> rows = exports();
    const auto every_export_refuses = [&](const Ending& ending, void* old, const char* when) {
        for (const Export& row : rows) {
            if (row.takes.count(ending.kind) != 0) {
                EXPECT_TRUE(refused(row, tree, old)) << "the " << ending.name << when;
            }
        }
    };
    for (const Ending& ending : endings) {
        ASSERT_EQ(ending.end(tree), GC_ERR_SUCCESS) << ending.name;
        void* const old = tree.of(ending.kind);
        every_export_refuses(ending, old, "");
        void* fresh = nullptr;
        EXPECT_EQ(ending.renew(tree, &fresh), GC_ERR_SUCCESS) << ending.name;
        EXPECT_NE(fresh, nullptr) << ending.name;
        EXPECT_NE(fresh, old) << ending.name;
        every_export_refuses(ending, old, ", with a new one made");
    }
}

// ---- Many threads using and ending handles at once (run under ASan and TSan).

void count_unless(std::atomic<int>& unexpected, GC_ERROR code, std::initializer_list<GC_ERROR> allowed)
{
    if (std::find(allowed.begin(), allowed.end(), code) == allowed.end()) {
        ++unexpected;
    }
}

// Runs each of `users` over and over on a thread of its own until `work` has returned on this one; answers
// the number of answers the users counted as unexpected.
int race(const std::vector<std::function<void(std::atomic<int>&)>>& users, const std::function<void()>& work)
{
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    std::vector<std::thread> threads;
    for (const auto& use : users) {
        threads.emplace_back([&] {
            while (!stop.load()) {
                use(unexpected);
            }
        });
    }
    work();
    stop = true;
    for (std::thread& thread : threads) {
        thread.join();
    }
    return unexpected.load();
}

TEST_F(HandleValidationTest, HandlesEndedWhileOtherThreadsUseThemAnswerOnlyDocumentedCodes)
{
    // The current buffer's handle, replaced by the revoker; the readers use whatever they last saw.
    std::atomic<void*> current{tree.buffer};
    const auto reader = [&](std::atomic<int>& unexpected) {
        void* const buffer = current.load();
        INFO_DATATYPE type = 0;
        size_t value = 0;
        size_t size = sizeof value;
        const GC_ERROR info = DSGetBufferInfo(tree.stream, buffer, BUFFER_INFO_SIZE, &type, &value, &size);
        size = sizeof(uint32_t);
        count_unless(unexpected, info, {GC_ERR_SUCCESS, GC_ERR_INVALID_HANDLE});
        count_unless(unexpected, GCGetPortInfo(buffer, PORT_INFO_ID, &type, nullptr, &size),
                     {GC_ERR_SUCCESS, GC_ERR_INVALID_HANDLE});
        if (info == GC_ERR_SUCCESS && value != 4096 && value != 1024 * 768) {
            ++unexpected;
        }
    };
    int revoked = 0;
    EXPECT_EQ(race({reader, reader, reader},
                   [&] {
                       for (int round = 0; round < 300; ++round) {
                           void* const old = current.load();
                           BUFFER_HANDLE fresh = nullptr;
                           ASSERT_EQ(DSAllocAndAnnounceBuffer(tree.stream, 4096, nullptr, &fresh), GC_ERR_SUCCESS);
                           current = fresh;
                           revoked += DSRevokeBuffer(tree.stream, old, nullptr, nullptr) == GC_ERR_SUCCESS;
                           // Once revoked, the old handle is refused on every thread.
                           INFO_DATATYPE type = 0;
                           size_t size = 0;
                           EXPECT_EQ(DSGetBufferInfo(tree.stream, old, BUFFER_INFO_SIZE, &type, nullptr, &size),
                                     GC_ERR_INVALID_HANDLE);
                       }
                   }),
              0);
    EXPECT_EQ(revoked, 300);

    // Events unregistered while other threads wait on them end the waits.
    std::atomic<void*> current_event{tree.event};
    const auto waiter = [&](std::atomic<int>& unexpected) {
        EVENT_NEW_BUFFER_DATA data{};
        size_t size = sizeof data;
        count_unless(unexpected, EventGetData(current_event.load(), &data, &size, 20),
                     {GC_ERR_TIMEOUT, GC_ERR_ABORT, GC_ERR_INVALID_HANDLE, GC_ERR_NOT_INITIALIZED,
                      GC_ERR_RESOURCE_IN_USE});
    };
    EXPECT_EQ(race({waiter, waiter},
                   [&] {
                       for (int round = 0; round < 100; ++round) {
                           ASSERT_EQ(GCUnregisterEvent(tree.stream, EVENT_NEW_BUFFER), GC_ERR_SUCCESS);
                           EVENT_HANDLE fresh = nullptr;
                           ASSERT_EQ(GCRegisterEvent(tree.stream, EVENT_NEW_BUFFER, &fresh), GC_ERR_SUCCESS);
                           current_event = fresh;
                       }
                   }),
              0);

    // Threads opening, closing and using one tree.
    // Two users of the stream and its port, one of the device's remote port.
    const auto stream_user = [&](std::atomic<int>& unexpected) {
        INFO_DATATYPE type = 0;
        uint64_t value = 0;
        size_t size = sizeof value;
        count_unless(unexpected, DSGetInfo(tree.stream, STREAM_INFO_NUM_ANNOUNCED, &type, &value, &size),
                     {GC_ERR_SUCCESS, GC_ERR_INVALID_HANDLE});
        size = sizeof(uint32_t);
        count_unless(unexpected, GCReadPort(tree.stream, 0x0504, &value, &size),
                     {GC_ERR_SUCCESS, GC_ERR_INVALID_HANDLE, GC_ERR_ACCESS_DENIED});
    };
    const auto remote_user = [&](std::atomic<int>& unexpected) {
        PORT_HANDLE remote = nullptr;
        if (DevGetPort(tree.device, &remote) == GC_ERR_SUCCESS) {
            char text[64] = {};
            size_t size = sizeof text;
            INFO_DATATYPE type = 0;
            count_unless(unexpected, GCGetPortInfo(remote, PORT_INFO_ID, &type, text, &size),
                         {GC_ERR_SUCCESS, GC_ERR_INVALID_HANDLE});
        }
    };
    // This thread closes and reopens the stream and the device.
    EXPECT_EQ(race({stream_user, stream_user, remote_user},
                   [&] {
                       for (int round = 0; round < 30; ++round) {
                           ASSERT_EQ(DSClose(tree.stream), GC_ERR_SUCCESS);
                           ASSERT_EQ(DevClose(tree.device), GC_ERR_SUCCESS);
                           DEV_HANDLE device = nullptr;
                           ASSERT_EQ(IFOpenDevice(tree.iface, "TLDevice", DEVICE_ACCESS_CONTROL, &device),
                                     GC_ERR_SUCCESS);
                           EXPECT_EQ(device, tree.device);
                           DS_HANDLE stream = nullptr;
                           ASSERT_EQ(DevOpenDataStream(tree.device, "TLDataStream", &stream), GC_ERR_SUCCESS);
                           EXPECT_EQ(stream, tree.stream);
                       }
                   }),
              0);
}

// ---- The call frame ------------------------------------------------------------------------------------

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
    void* got = nullptr;
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
        {"IFGetParentTL", [&] { return IFGetParentTL(h_if, &got); }, GC_ERR_INVALID_HANDLE,
         {"get_parent", "Unable to retrieve the parent of module \"board0\". Are trying to retrieve the parent of "
                        "a top-level module?"}},
        {"GCRegisterEvent", [&] { return GCRegisterEvent(h_if, EVENT_NEW_BUFFER, &got); }, GC_ERR_NOT_IMPLEMENTED,
         {"register_event", "This module does not implement the given event type (ID 1)."}},
        {"GCUnregisterEvent", [&] { return GCUnregisterEvent(h_if, 1000); }, GC_ERR_NOT_IMPLEMENTED,
         {"unregister_event", "This module does not implement the given event type (ID 1000)."}},
    };
    const std::vector<Refusal> closed_rows = {
        {"IFGetNumDevices", [&] { return IFGetNumDevices(h_if, &count); }, GC_ERR_INVALID_HANDLE,
         not_open("num_children")},
        {"IFOpenDevice", [&] { return IFOpenDevice(h_if, "dev", DEVICE_ACCESS_CONTROL, &got); }, GC_ERR_INVALID_HANDLE,
         not_open("open_child")},
        {"IFGetInfo", [&] { return IFGetInfo(h_if, 0, &type, nullptr, &size); }, GC_ERR_INVALID_HANDLE,
         not_open("info")},
        {"GCRegisterEvent", [&] { return GCRegisterEvent(h_if, EVENT_NEW_BUFFER, &got); }, GC_ERR_INVALID_HANDLE,
         not_open("register_event")},
        {"IFUpdateDeviceList", [&] { return IFUpdateDeviceList(h_if, nullptr, 1000); }, GC_ERR_INVALID_HANDLE,
         {"update_children", "The children of module \"board0\" cannot be updated, because the module is not open."}},
        {"IFClose", [&] { return IFClose(h_if); }, GC_ERR_INVALID_HANDLE,
         {"close", "The \"board0\" module exists, but is not open, so it cannot be closed."}},
    };
    const auto run = [&](const std::vector<Refusal>& rows) {
        for (const Refusal& row : rows) {
            SCOPED_TRACE(row.name);
            got = nullptr;
            EXPECT_EQ(row.call(), row.code);
            EXPECT_TRUE(recorded(vngtl::gc_error_name(row.code), "BaseModule.cpp",
                                 std::string("BaseModule::") + row.record.first, row.record.second));
            EXPECT_EQ(got, nullptr);
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
    EXPECT_TRUE(recorded("GC_ERR_INVALID_ADDRESS", "HandleValidationTest.cpp", "Probe",
                         "The given address (0x100000000) is outside of the maximum supported range for this platform "
                         "(all > 0xffffffff)."));

    // A check that throws is caught as the operation's exceptions are (below); the operation does not run.
    EXPECT_EQ(probe(vngtl::holds([]() -> bool { throw std::length_error("check failed"); }, GC_ERR_ERROR,
                                 [] { return std::string("unused"); })),
              (std::pair<GC_ERROR, bool>{GC_ERR_ERROR, false}));
    EXPECT_TRUE(recorded("GC_ERR_ERROR", "HandleValidationTest.cpp", "Probe", "Caught an exception: check failed"));

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
