// The board SDK's functions as the simulated boards answer them. Every function checks its handle and
// pointers and answers a non-zero code instead of crashing; the work is done by SimBoard.
#include "ErrorCatalog.h"
#include "SdkCodes.h"
#include "SimSystem.h"

#include <VantrelSdk.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using vnsim::SimSystem;
namespace code = vnsim::code;

namespace {

constexpr uint32_t cxp_own_link = 0xFF;
constexpr int32_t cl_invalid_reference = -10006;

std::optional<SimSystem::Handle> lookup(VN_HANDLE handle)
{
    return SimSystem::instance().find(handle);
}

int32_t open_board(uint32_t number, VN_HANDLE* handle, const char* camera_file, uint32_t flags)
{
    if (handle == nullptr) {
        return code::vb_bad_argument;
    }
    *handle = nullptr;
    auto& system = SimSystem::instance();
    auto board = system.board_by_number(number);
    if (!board) {
        return code::vb_no_board;
    }
    bool acquisition = false;
    const int32_t result = board->open(flags, camera_file, acquisition);
    if (result == 0) {
        *handle = system.add_handle(std::move(board), acquisition);
    }
    return result;
}

// Copies a catalogue text with the size protocol of VbErrorTextGet: *size in is the capacity, out the
// text's length without its NUL.
int32_t copy_sized_text(std::string_view text, char* out, uint32_t* size)
{
    const uint32_t capacity = out == nullptr ? 0 : *size;
    const auto length = static_cast<uint32_t>(text.size());
    *size = length;
    if (capacity < length) {
        if (capacity > 0) {
            std::memcpy(out, text.data(), capacity);
        }
        return code::vb_text_truncated;
    }
    std::memcpy(out, text.data(), length);
    if (capacity > length) {
        out[length] = '\0';
    }
    return 0;
}

bool copy_text(const std::string& text, char* out, uint32_t size)
{
    if (out == nullptr || text.size() + 1 > size) {
        return false;
    }
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

// A serial handle (or, with `reference`, a serial reference) for a Camera Link board; none for others.
int32_t open_serial(VN_HANDLE handle, void** out, bool reference)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vn_bad_handle;
    }
    if (out == nullptr) {
        return code::vn_bad_argument;
    }
    *out = nullptr;
    if (entry->board->kind() != vnsim::BoardKind::CameraLink ||
        (reference && entry->board->config().faults.serial_reference_fails)) {
        return code::vn_serial_unavailable;
    }
    *out = SimSystem::instance().add_serial(handle, entry->board, reference);
    return 0;
}

}  // namespace

extern "C" {

// ---- Boards ------------------------------------------------------------------------------------------

int32_t VcSysBrdEnum(uint32_t selector, uint32_t* count)
{
    if (selector != VC_ENUM_BOARDS) {
        return code::vb_bad_argument;
    }
    return SimSystem::instance().enumerate_boards(count);
}

int32_t VbBrdOpenEx(uint32_t /*driver*/, uint32_t board, VN_HANDLE* handle, uint32_t flags)
{
    return open_board(board, handle, nullptr, flags);
}

int32_t VbBrdOpenCamEx(uint32_t /*driver*/, uint32_t board, VN_HANDLE* handle, const char* camera_file,
                       uint32_t flags)
{
    if (camera_file == nullptr || *camera_file == '\0') {
        if (handle != nullptr) {
            *handle = nullptr;
        }
        return code::vb_camera_file_unknown;
    }
    return open_board(board, handle, camera_file, flags);
}

int32_t VbBrdClose(VN_HANDLE handle)
{
    auto entry = SimSystem::instance().remove(handle);
    if (!entry) {
        return code::vb_bad_handle;
    }
    entry->board->close(entry->acquisition);
    return 0;
}

int32_t VbBrdInquire(VN_HANDLE handle, uint32_t key, uint32_t* value)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vb_bad_handle;
    }
    if (value == nullptr) {
        return code::vb_bad_argument;
    }
    return entry->board->inquire(key, *value);
}

int32_t VbCamGetFileName(VN_HANDLE handle, VB_CIRC_DESC* /*desc*/, uint32_t which, char* text, uint32_t size)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vb_bad_handle;
    }
    if (which != 0 || text == nullptr) {
        return code::vb_bad_argument;
    }
    return entry->board->camera_file_name(text, size);
}

int32_t VcAqROISet(VN_HANDLE handle, uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t flags)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vn_bad_handle;
    }
    return entry->board->set_roi(entry->acquisition, x, y, width, height, flags);
}

int32_t VcBrdCamGetMMM(VN_HANDLE handle, char* make, uint32_t make_size, char* model, uint32_t model_size,
                       char* mode, uint32_t mode_size)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vn_bad_handle;
    }
    if (make == nullptr || model == nullptr || mode == nullptr) {
        return code::vn_bad_argument;
    }
    return entry->board->camera_identity(make, make_size, model, model_size, mode, mode_size);
}

// ---- Circular acquisition ----------------------------------------------------------------------------

int32_t VbBufferAllocCam(VN_HANDLE handle, VB_CIRC_DESC* desc, uint32_t count)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vb_bad_handle;
    }
    return entry->board->alloc_buffers(entry->acquisition, desc, count);
}

int32_t VbCircAqSetup(VN_HANDLE handle, VB_CIRC_DESC* desc, uint32_t mode, uint32_t flags)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vb_bad_handle;
    }
    return entry->board->setup(desc, mode, flags);
}

int32_t VbCirControl(VN_HANDLE handle, VB_CIRC_DESC* desc, uint32_t command, uint32_t flags)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vb_bad_handle;
    }
    return entry->board->control(desc, command, flags);
}

int32_t VbCirWaitDoneFrame(VN_HANDLE handle, VB_CIRC_DESC* desc, uint32_t timeout_ms, VB_FRAME_RECORD* record)
{
    auto entry = lookup(handle);
    if (!entry) {
        // No board answers this handle: the wait runs out (at most a second) before failing, so that a
        // caller waiting in a loop on a handle a new configuration invalidated does not spin.
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<uint32_t>(timeout_ms, 1000)));
        return code::vb_bad_handle;
    }
    return entry->board->wait_done(desc, timeout_ms, record);
}

int32_t VbCirStatusSet(VN_HANDLE handle, VB_CIRC_DESC* desc, VB_FRAME_RECORD* record, uint32_t flags)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vb_bad_handle;
    }
    if (flags != 0) {
        return code::vb_bad_argument;
    }
    return entry->board->give_back(desc, record);
}

int32_t VbCirFrameBegun(VN_HANDLE handle, const VB_CIRC_DESC* desc, uint32_t index, uint64_t* counter)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vb_bad_handle;
    }
    if (counter == nullptr) {
        return code::vb_bad_argument;
    }
    return entry->board->frame_begun(desc, index, *counter);
}

int32_t VbCircCleanUp(VN_HANDLE handle, VB_CIRC_DESC* desc)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vb_bad_handle;
    }
    return entry->board->cleanup(desc);
}

int32_t VbBufferFree(VN_HANDLE handle, VB_CIRC_DESC* desc)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vb_bad_handle;
    }
    return entry->board->free_buffers(desc);
}

// ---- Error stacks ------------------------------------------------------------------------------------

int32_t VbCirErrorCheck(VN_HANDLE handle, VB_CIRC_DESC* /*desc*/)
{
    // The result is the popped code itself, so an unknown handle answers "nothing stacked": a caller that
    // drains the stack in a loop must not spin on a stale handle.
    auto entry = lookup(handle);
    return entry ? entry->board->pop_vb_error() : 0;
}

int32_t VbErrorTextGet(VN_HANDLE handle, int32_t code, char* text, uint32_t* size)
{
    if (!lookup(handle)) {
        return code::vb_bad_handle;
    }
    if (size == nullptr) {
        return code::vb_bad_argument;
    }
    const auto message = vnsim::ErrorCatalog::vb_text(code);
    if (!message) {
        return code::vb_text_unknown;
    }
    return copy_sized_text(*message, text, size);
}

int32_t VNErrorGetLast(VN_HANDLE handle, int32_t* code)
{
    if (code == nullptr) {
        return code::vn_bad_argument;
    }
    *code = 0;
    auto entry = lookup(handle);
    if (!entry) {
        return code::vn_bad_handle;
    }
    *code = entry->board->last_vn_error();
    return 0;
}

int32_t VNErrorClearLast(VN_HANDLE handle)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vn_bad_handle;
    }
    entry->board->clear_last_vn_error();
    return 0;
}

int32_t VNErrorGetMes(VN_HANDLE handle, int32_t code, char* text, uint32_t size)
{
    if (!lookup(handle)) {
        return code::vn_bad_handle;
    }
    if (text == nullptr) {
        return code::vn_bad_argument;
    }
    const auto message = vnsim::ErrorCatalog::vn_text(code);
    if (!message) {
        return code::vn_bad_argument;
    }
    return copy_text(std::string(*message), text, size) ? 0 : code::vn_buffer_too_small;
}

// ---- Family and identity -----------------------------------------------------------------------------

int32_t VNIsCL(VN_HANDLE handle)
{
    auto entry = lookup(handle);
    return entry && entry->board->kind() == vnsim::BoardKind::CameraLink ? 1 : 0;
}

int32_t VNIsCXP(VN_HANDLE handle)
{
    auto entry = lookup(handle);
    return entry && entry->board->kind() == vnsim::BoardKind::CoaXPress ? 1 : 0;
}

int32_t VNIsOrla(VN_HANDLE handle)
{
    auto entry = lookup(handle);
    return entry && entry->board->kind() == vnsim::BoardKind::Other ? 1 : 0;
}

int32_t VNGetBoardStrings(VN_HANDLE handle, char* text_a, uint32_t size_a, char* text_b, uint32_t size_b,
                          uint32_t* out_1, uint32_t* out_2)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vn_bad_handle;
    }
    const auto& config = entry->board->config();
    if (!copy_text(config.model, text_a, size_a) || !copy_text(config.serial, text_b, size_b)) {
        return code::vn_buffer_too_small;
    }
    if (out_1 != nullptr) {
        *out_1 = config.bus;
    }
    if (out_2 != nullptr) {
        *out_2 = config.slot;
    }
    return 0;
}

int32_t VNGetDeviceName(VN_HANDLE handle, char* text, uint32_t size)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vn_bad_handle;
    }
    return copy_text(entry->board->config().device_name, text, size) ? 0 : code::vn_buffer_too_small;
}

// ---- Board registers ---------------------------------------------------------------------------------

int32_t VNRegName(VN_HANDLE handle, uint32_t number, char* text, uint32_t size)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vn_bad_handle;
    }
    return entry->board->register_name(number, text, size);
}

uint32_t VNRegPeek(VN_HANDLE handle, uint32_t number)
{
    auto entry = lookup(handle);
    uint32_t value = 0xFFFFFFFF;
    if (entry && entry->board->peek(number, value) != 0) {
        value = 0xFFFFFFFF;
    }
    return value;
}

int32_t VNRegPoke(VN_HANDLE handle, uint32_t number, uint32_t value)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vn_bad_handle;
    }
    return entry->board->poke(number, value);
}

// ---- CoaXPress ---------------------------------------------------------------------------------------

int32_t VNCXPReadReg(VN_HANDLE handle, uint32_t link, uint32_t address, uint32_t* value)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vn_bad_handle;
    }
    if (link != cxp_own_link || value == nullptr) {
        entry->board->push_vn_error(link != cxp_own_link ? code::vn_cxp_bad_link : code::vn_bad_argument);
        return link != cxp_own_link ? code::vn_cxp_bad_link : code::vn_bad_argument;
    }
    return entry->board->cxp_read_register(address, *value);
}

int32_t VNCXPWriteReg(VN_HANDLE handle, uint32_t link, uint32_t address, uint32_t value)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vn_bad_handle;
    }
    if (link != cxp_own_link) {
        entry->board->push_vn_error(code::vn_cxp_bad_link);
        return code::vn_cxp_bad_link;
    }
    return entry->board->cxp_write_register(address, value);
}

int32_t VNCXPReadData(VN_HANDLE handle, uint32_t link, uint32_t address, uint32_t length, uint32_t* bytes_read,
                      void* buffer, uint32_t buffer_size)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vn_bad_handle;
    }
    if (link != cxp_own_link) {
        entry->board->push_vn_error(code::vn_cxp_bad_link);
        return code::vn_cxp_bad_link;
    }
    if (bytes_read == nullptr || (buffer == nullptr && length > 0)) {
        return code::vn_bad_argument;
    }
    if (length > buffer_size) {
        return code::vn_buffer_too_small;
    }
    *bytes_read = 0;
    const int32_t result = entry->board->cxp_read(address, static_cast<uint8_t*>(buffer), length);
    if (result == 0) {
        *bytes_read = length;
    }
    return result;
}

int32_t VNCXPWriteData(VN_HANDLE handle, uint32_t link, uint32_t address, const void* buffer, uint32_t length)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vn_bad_handle;
    }
    if (link != cxp_own_link) {
        entry->board->push_vn_error(code::vn_cxp_bad_link);
        return code::vn_cxp_bad_link;
    }
    if (buffer == nullptr && length > 0) {
        return code::vn_bad_argument;
    }
    return entry->board->cxp_write(address, static_cast<const uint8_t*>(buffer), length);
}

int32_t VNCXPConfigureLinkSpeed(VN_HANDLE handle, uint32_t link, uint32_t connections, uint32_t speed_row,
                                uint32_t apply)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vn_bad_handle;
    }
    if (link != cxp_own_link) {
        entry->board->push_vn_error(code::vn_cxp_bad_link);
        return code::vn_cxp_bad_link;
    }
    return entry->board->cxp_configure_link(connections, speed_row, apply);
}

int32_t VNRegistryBoardGetStringHex(VN_HANDLE handle, const char* key, uint32_t* value)
{
    auto entry = lookup(handle);
    if (!entry) {
        return code::vn_bad_handle;
    }
    if (value == nullptr) {
        return code::vn_bad_argument;
    }
    return entry->board->option(key, *value);
}

// ---- Configured devices ------------------------------------------------------------------------------

int32_t VNGetCfgDevicesSorted(VN_CFG_DEVICE** devices, uint32_t* count)
{
    if (devices == nullptr || count == nullptr) {
        return code::vn_bad_argument;
    }
    *devices = nullptr;
    *count = 0;
    auto boards = SimSystem::instance().present_boards();
    std::vector<VN_CFG_DEVICE> list;
    for (uint32_t number = 0; number < boards.size(); ++number) {
        VN_CFG_DEVICE device{};
        const auto& config = boards[number]->config();
        std::strncpy(device.name, config.device_name.c_str(), sizeof device.name - 1);
        device.has_serial_port = config.kind == vnsim::BoardKind::CameraLink ? 1 : 0;
        device.board_number = number;
        list.push_back(device);
    }
    std::sort(list.begin(), list.end(),
              [](const VN_CFG_DEVICE& a, const VN_CFG_DEVICE& b) { return std::strcmp(a.name, b.name) < 0; });
    // Released by VNFreeCfgDevices with free(); never empty, so that a valid list is never null.
    auto* out = static_cast<VN_CFG_DEVICE*>(std::calloc(std::max<size_t>(list.size(), 1), sizeof(VN_CFG_DEVICE)));
    if (out == nullptr) {
        return code::vn_no_devices;
    }
    std::copy(list.begin(), list.end(), out);
    *devices = out;
    *count = static_cast<uint32_t>(list.size());
    return 0;
}

int32_t VNFreeCfgDevices(VN_CFG_DEVICE* devices)
{
    if (devices == nullptr) {
        return code::vn_bad_argument;
    }
    std::free(devices);
    return 0;
}

int32_t VNstrcmp(const char* a, const char* b)
{
    if (a == nullptr || b == nullptr) {
        return a == b ? 0 : (a == nullptr ? -1 : 1);
    }
    const int result = std::strcmp(a, b);
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

// ---- Camera Link serial ------------------------------------------------------------------------------

int32_t clVNSerialInitFromBoardHandle(VN_HANDLE handle, void** serial)
{
    return open_serial(handle, serial, false);
}

int32_t clVNGetSerialRefFromBoardHandle(VN_HANDLE handle, void** serial_ref)
{
    return open_serial(handle, serial_ref, true);
}

int32_t clVNGetBaudRate(void* serial_ref, uint32_t* rate)
{
    auto board = SimSystem::instance().find_serial(serial_ref, true);
    if (!board || rate == nullptr) {
        return cl_invalid_reference;
    }
    *rate = board->serial_line()->baud();
    return 0;
}

// ---- Debug output ------------------------------------------------------------------------------------

void VNOutputDebugString(const char* text)
{
    if (text != nullptr) {
        SimSystem::instance().debug().append(text);
    }
}

}  // extern "C"
