#include "modules/DSModule.h"

#include "board/VNBoards.h"
#include "modules/BufferHandle.h"
#include "core/ErrorReport.h"
#include "modules/ModuleRegisters.h"
#include "modules/RegisterAddresses.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace vngtl {

using namespace GenTL;
using VNBoards::BoardKind;

namespace {

constexpr const char* resource_name = "Resources\\TLDatastream.xml";
constexpr const char* xml_file_name = "Vantrel_VNGTL2_TLDatastream.xml";

constexpr uint64_t default_desired_count = 10;
constexpr uint64_t minimum_board_buffers = 2;

// Custom info commands of the description's registers.
enum : int32_t {
    info_sizeof_size_t = 1000,
    info_stream_type = 1001,
    info_count_desired = 1002,
    info_count_allocated = 1003,
    info_count_minimum = 1004,
    info_copy_offset = 1005,
    info_offset_x = 1007,
    info_offset_y = 1008,
    info_width = 1009,
    info_height = 1010,
    info_width_max = 1011,
    info_height_max = 1012,
};

uint64_t entry_uint64(const RegisterMap::Entry* entry)
{
    uint64_t value = 0;
    if (entry != nullptr && entry->length() >= sizeof value) {
        std::memcpy(&value, entry->data(), sizeof value);
    }
    return value;
}

namespace r = reg::datastream;

// The registers of the "TLDatastream" description.
constexpr RegisterRow register_table[] = {
    {info_sizeof_size_t, r::Reg_SizeofSizeT, 4, INFO_DATATYPE_UINT32, true, false, RegisterRow::Value},
    {info_stream_type, r::Reg_StreamType, 4, INFO_DATATYPE_UINT32, true, false, RegisterRow::Value},
    {info_count_desired, r::Reg_GrabberBufferCountDesired, reg::size_length, INFO_DATATYPE_SIZET, true, true,
     RegisterRow::Acts},
    {info_count_allocated, r::Reg_GrabberBufferCountAllocated, reg::size_length, INFO_DATATYPE_SIZET, true, false,
     RegisterRow::Computed},
    {info_count_minimum, r::Reg_GrabberBufferCountMinimum, reg::size_length, INFO_DATATYPE_SIZET, true, false,
     RegisterRow::Value},
    {info_copy_offset, r::Reg_GrabberBufferCopyOffset, reg::size_length, INFO_DATATYPE_SIZET, true, true,
     RegisterRow::Both},
    {info_offset_x, r::Reg_OffsetX, 4, INFO_DATATYPE_UINT32, true, true, RegisterRow::Both},
    {info_offset_y, r::Reg_OffsetY, 4, INFO_DATATYPE_UINT32, true, true, RegisterRow::Both},
    {info_width, r::Reg_Width, 4, INFO_DATATYPE_UINT32, true, true, RegisterRow::Both},
    {info_height, r::Reg_Height, 4, INFO_DATATYPE_UINT32, true, true, RegisterRow::Both},
    {info_width_max, r::Reg_WidthMax, 4, INFO_DATATYPE_UINT32, true, false, RegisterRow::Computed},
    {info_height_max, r::Reg_HeightMax, 4, INFO_DATATYPE_UINT32, true, false, RegisterRow::Computed},
};

template <class T>
GC_ERROR put(uint8_t* data, T value)
{
    std::memcpy(data, &value, sizeof value);
    return GC_ERR_SUCCESS;
}

}  // namespace

DSModule::DSModule(std::shared_ptr<VNBoards::Board> board, std::weak_ptr<BaseModule> parent,
                   const SystemValues& system)
    : BaseModule(module_name, std::move(parent), &port_), board_(std::move(board))
{
    // The count and region registers are read, and the board configured from them, under the port map's hook
    // lock, which the port's accesses to those registers hold too.
    VNAcquisition::SettingsSource settings;
    settings.lock = &info_map().hook_lock();
    settings.read = [this] { return VNAcquisition::Settings{desired_count(), requested_roi()}; };
    acquisition_ = std::make_unique<VNAcquisition>(board_, BufferHandle::factory(system), std::move(settings));
    event_ = std::make_unique<VNNewBufferEvent>(*acquisition_);
    setup_info();
    port_.setup_port_info(module_name, module_name, "StreamPort", system);
    port_.bind(&info_map(), this);
    port_.set_entry(PORT_INFO_TLTYPE, info_entry(STREAM_INFO_TLTYPE));
    setup_xml_file();
}

DSModule::~DSModule()
{
    retire_handle();
    // A stream that goes while configured (the library closing with acquisition running) stops the board
    // and frees its buffers first, so that the board can close when its last user lets go of it. The
    // engine's threads are joined before the board state they use goes.
    try {
        if (board_ && acquisition_->status() > VNAcquisition::NotConfigured) {
            acquisition_->teardown();
        }
    } catch (...) {
        report_error("DSModule::~DSModule", GC_ERR_ERROR, "Releasing the board from acquisition failed.");
    }
    event_.reset();
    acquisition_.reset();
}

uint32_t DSModule::handle_kind() const noexcept
{
    return kind_stream;
}

std::string DSModule::board_text() const
{
    return board_ ? std::to_string(board_->board_number()) : std::string("?");
}

void DSModule::setup_info()
{
    const auto computed = [this](int32_t command, uint64_t address, uint64_t length, INFO_DATATYPE type,
                                 RegisterHooks::Hook hook) {
        return add_register(*this, command, address, length, type, true, false, RegisterHooks::on_read(std::move(hook)));
    };
    const auto constant = [this](int32_t command, uint64_t value, uint64_t address, INFO_DATATYPE type) {
        return add_info(command, &value, address, sizeof value, type, true, false);
    };
    namespace r = reg::datastream;
    add_info_string(STREAM_INFO_ID, module_name, r::Reg_StreamID, reg::string_length);
    computed(STREAM_INFO_NUM_DELIVERED, r::Reg_StreamDeliveredFrameCount, 8, INFO_DATATYPE_UINT64,
             [this](RegisterMap::Entry&, uint8_t* data) { return put<uint64_t>(data, acquisition_->delivered_count()); });
    computed(STREAM_INFO_NUM_UNDERRUN, r::Reg_StreamLostFrameCount, 8, INFO_DATATYPE_UINT64,
             [this](RegisterMap::Entry&, uint8_t* data) { return put<uint64_t>(data, acquisition_->underrun_count()); });
    computed(STREAM_INFO_NUM_ANNOUNCED, r::Reg_StreamAnnouncedBufferCount, 8, INFO_DATATYPE_SIZET,
             [this](RegisterMap::Entry&, uint8_t* data) { return put<uint64_t>(data, acquisition_->announced_count()); });
    computed(STREAM_INFO_NUM_QUEUED, r::Reg_StreamInputBufferCount, 8, INFO_DATATYPE_SIZET,
             [this](RegisterMap::Entry&, uint8_t* data) { return put<uint64_t>(data, acquisition_->queued_count()); });
    computed(STREAM_INFO_NUM_AWAIT_DELIVERY, r::Reg_StreamOutputBufferCount, 8, INFO_DATATYPE_SIZET,
             [this](RegisterMap::Entry&, uint8_t* data) { return put<uint64_t>(data, acquisition_->output_count()); });
    computed(STREAM_INFO_NUM_STARTED, r::Reg_StreamStartedFrameCount, 8, INFO_DATATYPE_UINT64,
             [this](RegisterMap::Entry&, uint8_t* data) { return put<uint64_t>(data, acquisition_->started_count()); });
    // Frames the board overwrote before or during their copy; never delivered (a custom value).
    computed(STREAM_INFO_CUSTOM_ID, r::Info_StreamOverwrittenFrameCount, 8, INFO_DATATYPE_UINT64,
             [this](RegisterMap::Entry&, uint8_t* data) {
                 return put<uint64_t>(data, acquisition_->overwritten_count());
             });
    computed(STREAM_INFO_PAYLOAD_SIZE, r::Reg_PayloadSize, 8, INFO_DATATYPE_SIZET,
             [this](RegisterMap::Entry&, uint8_t* data) -> GC_ERROR {
                 const uint64_t size = acquisition_->payload_size();
                 if (size == 0) {
                     return report_error("DSModule::pre_read", GC_ERR_ERROR,
                                         "Unable to determine the correct buffer payload size for frame grabber "
                                         "board " + board_text() + ".");
                 }
                 return put<uint64_t>(data, size);
             });
    add_register(*this, STREAM_INFO_IS_GRABBING, r::Reg_StreamIsGrabbing, 1, INFO_DATATYPE_BOOL8, true, false,
                 RegisterHooks::on_read([this](RegisterMap::Entry&, uint8_t* data) {
                     *data = acquisition_->status() == VNAcquisition::Running ? 1 : 0;
                     return GC_ERR_SUCCESS;
                 }));
    add_info_bool8(STREAM_INFO_DEFINES_PAYLOADSIZE, true, r::Info_StreamDefinesPayloadSize);
    add_info_string(STREAM_INFO_TLTYPE, board_ ? board_->kind_name() : std::string("Custom"), r::Info_StreamTLType,
                    reg::string_length);
    constant(STREAM_INFO_NUM_CHUNKS_MAX, 0, r::Reg_StreamChunkCountMaximum, INFO_DATATYPE_SIZET);
    constant(STREAM_INFO_BUF_ANNOUNCE_MIN, 1, r::Reg_StreamAnnounceBufferMinimum, INFO_DATATYPE_SIZET);
    constant(STREAM_INFO_BUF_ALIGNMENT, 1, r::Reg_StreamBufferAlignment, INFO_DATATYPE_SIZET);
}

void DSModule::setup_xml_file()
{
    setup_module_xml(*this, port_, "DSModule::setup_xml_file", {resource_name, xml_file_name, reg::datastream::xml_file},
                     register_table, &DSModule::pre_read, &DSModule::post_write,
                     {},
                     [this](int32_t command) -> uint64_t {
                         switch (command) {
                         case info_sizeof_size_t: return reg::size_length;
                         case info_stream_type: return transport_type(board_->kind());
                         case info_count_desired: return default_desired_count;
                         case info_count_minimum: return minimum_board_buffers;
                         default: return 0;
                         }
                     });
    desired_ = info_entry(info_count_desired);
    offset_x_ = info_entry(info_offset_x);
    offset_y_ = info_entry(info_offset_y);
    width_ = info_entry(info_width);
    height_ = info_entry(info_height);
}

GC_ERROR DSModule::pre_read(int32_t command, RegisterMap::Entry&, uint8_t* data)
{
    switch (command) {
    case info_count_allocated:
        return put<uint64_t>(data, board_->buffer_count());
    case info_copy_offset:
        return put<uint64_t>(data, acquisition_->copy_offset());
    case info_width_max:
        return put<uint32_t>(data, board_->default_roi().width);
    case info_height_max:
        return put<uint32_t>(data, board_->default_roi().height);
    default:  // the region of interest
        return refresh_roi();
    }
}

GC_ERROR DSModule::post_write(int32_t command, RegisterMap::Entry& entry, uint8_t* data)
{
    // The size registers hold 8 bytes, the region's registers 4.
    uint64_t value = 0;
    std::memcpy(&value, data, std::min<size_t>(sizeof value, static_cast<size_t>(entry.length())));
    switch (command) {
    case info_count_desired:
        return write_desired_count(value);
    case info_copy_offset:
        return write_copy_offset(value);
    default: {  // the region of interest, which refers to the camera's frame as it is now
        // Registers never read (zero) or read before the camera changed its frame do not hold the board's
        // region: the three not written take it now, so that the written value is judged with the region the
        // board has, and a lone offset reaching past the sensor is refused rather than ignored.
        const uint64_t generation = board_->geometry_generation();
        const bool stale = roi_generation_.exchange(generation) != generation;
        if (stale || entry_uint32(width_) == 0 || entry_uint32(height_) == 0) {
            const uint32_t written = entry_uint32(&entry);
            refresh_roi();
            set_entry_uint32(entry, written);
        }
        return acquisition_->configure();
    }
    }
}

GC_ERROR DSModule::refresh_roi()
{
    roi_generation_.store(board_->geometry_generation());
    const VNBoards::Roi roi = board_->current_roi();
    const std::pair<RegisterMap::Entry*, uint32_t> values[] = {
        {offset_x_, roi.x_offset}, {offset_y_, roi.y_offset}, {width_, roi.width}, {height_, roi.height}};
    for (const auto& [entry, value] : values) {
        if (entry != nullptr) {
            set_entry_uint32(*entry, value);
        }
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR DSModule::write_copy_offset(uint64_t offset)
{
    const uint64_t desired = desired_count();
    if (offset < desired) {
        acquisition_->set_copy_offset(offset);
        return GC_ERR_SUCCESS;
    }
    return report_error("DSModule::post_write", GC_ERR_INVALID_INDEX,
                        "Cannot set buffer copy offset " + std::to_string(offset) + "; VFG " + board_text() +
                            " is configured for only " + std::to_string(desired) + " buffers.");
}

GC_ERROR DSModule::write_desired_count(uint64_t desired)
{
    const uint64_t highest = desired > 0 ? desired - 1 : 0;
    if (acquisition_->copy_offset() >= highest) {
        acquisition_->set_copy_offset(highest);
    }
    return acquisition_->configure();
}

uint64_t DSModule::desired_count() const
{
    return desired_ != nullptr ? entry_uint64(desired_) : default_desired_count;
}

VNBoards::Roi DSModule::requested_roi() const
{
    // A region asked for before the camera changed its frame no longer applies: the whole new frame does.
    if (const uint64_t generation = board_->geometry_generation(); roi_generation_.exchange(generation) != generation) {
        for (RegisterMap::Entry* entry : {offset_x_, offset_y_, width_, height_}) {
            if (entry != nullptr) {
                set_entry_uint32(*entry, 0);
            }
        }
    }
    // Without the description's registers the board keeps its current region.
    return {entry_uint32(offset_x_), entry_uint32(offset_y_), entry_uint32(width_), entry_uint32(height_)};
}

GC_ERROR DSModule::gate(StreamCall call, const char* function, const VNAcquisition::Change& change)
{
    const VNAcquisition::GateAnswer answer = acquisition_->transition(call, "data-stream \"" + id() + "\"", change);
    if (!answer.refusal.empty()) {
        return report_error(function, answer.code, answer.refusal);
    }
    return answer.code;
}

GC_ERROR DSModule::check_open(const char* function, bool as_module) const
{
    if (is_open()) {
        return GC_ERR_SUCCESS;
    }
    if (as_module) {
        return report_error(function, GC_ERR_INVALID_HANDLE, "Module \"" + id() + "\" exists, but is not open.");
    }
    return report_error(function, GC_ERR_INVALID_HANDLE,
                        "The \"" + id() + "\" data-stream exists, but is not open.");
}

GC_ERROR DSModule::open(int32_t flags)
{
    if (is_open()) {
        return report_error("DSModule::open", GC_ERR_RESOURCE_IN_USE,
                            "The \"" + id() + "\" module has already been opened.");
    }
    if (const GC_ERROR code = BaseModule::open(flags)) {
        close();
        return code;
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR DSModule::close()
{
    if (const GC_ERROR code = BaseModule::close()) {
        return code;
    }
    // The event goes first, so that the consumer's waits end at once rather than after the board's release.
    if (event().is_registered()) {
        event().unregister_event();
    }
    acquisition_->release();
    return GC_ERR_SUCCESS;
}

GC_ERROR DSModule::register_event(EVENT_TYPE event_type, BaseEvent** event_out)
{
    static constexpr const char* function = "DSModule::register_event";
    if (const GC_ERROR code = check_open(function, true)) {
        return code;
    }
    if (event_type != EVENT_NEW_BUFFER) {
        return report_error(function, GC_ERR_NOT_IMPLEMENTED,
                            "Unsupported EVENT_TYPE code with ID " + std::to_string(event_type) + ".");
    }
    if (event_out == nullptr) {
        return report_error(function, GC_ERR_INVALID_PARAMETER,
                            "Cannot register an event with an invalid (null) return handle.");
    }
    const GC_ERROR code = event().register_event();
    if (code == GC_ERR_SUCCESS) {
        *event_out = &event();
    }
    return code;
}

GC_ERROR DSModule::unregister_event(EVENT_TYPE event_type)
{
    static constexpr const char* function = "DSModule::unregister_event";
    if (const GC_ERROR code = check_open(function, true)) {
        return code;
    }
    if (event_type != EVENT_NEW_BUFFER) {
        return report_error(function, GC_ERR_NOT_IMPLEMENTED,
                            "Unsupported EVENT_TYPE code with ID " + std::to_string(event_type) + ".");
    }
    return event().unregister_event();
}

GC_ERROR DSModule::announce_buffer(void* data, size_t size, void* user_pointer,
                                   std::shared_ptr<BufferHandle>* handle_out)
{
    static constexpr const char* function = "DSModule::announce_buffer";
    if (const GC_ERROR code = check_open(function)) {
        return code;
    }
    return gate(StreamCall::AnnounceBuffer, function, [&] {
        if (data == nullptr) {
            return report_error(function, GC_ERR_INVALID_PARAMETER, "The buffer data pointer is null.");
        }
        if (handle_out == nullptr) {
            return report_error(function, GC_ERR_INVALID_PARAMETER, "The return buffer handle poiner is null.");
        }
        // The engine configures the board for the new buffer; the buffer is handed out even when it cannot.
        std::shared_ptr<PoolBuffer> buffer;
        const GC_ERROR code = acquisition_->announce(data, size, user_pointer, &buffer);
        if (buffer) {
            *handle_out = std::static_pointer_cast<BufferHandle>(std::move(buffer));
        }
        return code;
    });
}

GC_ERROR DSModule::alloc_and_announce_buffer(size_t size, void* user_pointer,
                                             std::shared_ptr<BufferHandle>* handle_out)
{
    static constexpr const char* function = "DSModule::alloc_and_announce_buffer";
    if (const GC_ERROR code = check_open(function)) {
        return code;
    }
    return gate(StreamCall::AllocAndAnnounceBuffer, function, [&] {
        if (handle_out == nullptr) {
            return report_error(function, GC_ERR_INVALID_PARAMETER, "The return buffer handle pointer is null.");
        }
        std::shared_ptr<PoolBuffer> buffer;
        const GC_ERROR code = acquisition_->announce(size, user_pointer, &buffer);
        if (buffer) {
            *handle_out = std::static_pointer_cast<BufferHandle>(std::move(buffer));
        }
        return code;
    });
}

GC_ERROR DSModule::revoke_buffer(BufferHandle* handle, void** data_out, void** user_pointer_out)
{
    static constexpr const char* function = "DSModule::revoke_buffer";
    if (const GC_ERROR code = check_open(function)) {
        return code;
    }
    // The engine releases the board when the last buffer goes.
    return gate(StreamCall::RevokeBuffer, function,
                [&] { return acquisition_->revoke(handle, data_out, user_pointer_out); });
}

GC_ERROR DSModule::queue_buffer(BufferHandle* handle)
{
    static constexpr const char* function = "DSModule::queue_buffer";
    if (const GC_ERROR code = check_open(function)) {
        return code;
    }
    return gate(StreamCall::QueueBuffer, function, [&] { return acquisition_->queue(handle); });
}

GC_ERROR DSModule::flush_queue(int32_t operation)
{
    static constexpr const char* function = "DSModule::flush_queue";
    if (const GC_ERROR code = check_open(function)) {
        return code;
    }
    return gate(StreamCall::FlushQueue, function, [&] {
        const GC_ERROR code = acquisition_->flush(operation);
        if (code == GC_ERR_NOT_IMPLEMENTED) {
            return report_error(function, GC_ERR_NOT_IMPLEMENTED,
                                "Unknown ACQ_QUEUE_TYPE operation code " + std::to_string(operation) + ".");
        }
        return code;
    });
}

GC_ERROR DSModule::get_buffer_id(uint64_t index, std::shared_ptr<BufferHandle>* handle_out)
{
    static constexpr const char* function = "DSModule::get_buffer_id";
    if (const GC_ERROR code = check_open(function)) {
        return code;
    }
    return gate(StreamCall::GetBufferId, function, [&] {
        // The pool checks the output pointer (and records a null one) itself.
        std::shared_ptr<PoolBuffer> buffer;
        const GC_ERROR code = acquisition_->buffer_from_id(index, handle_out != nullptr ? &buffer : nullptr);
        if (code == GC_ERR_SUCCESS) {
            *handle_out = std::static_pointer_cast<BufferHandle>(std::move(buffer));
        }
        return code;
    });
}

GC_ERROR DSModule::start_acquisition(int32_t flags, uint64_t count)
{
    static constexpr const char* function = "DSModule::start_acquisition";
    if (const GC_ERROR code = check_open(function)) {
        return code;
    }
    if (flags != ACQ_START_FLAGS_DEFAULT) {
        return report_error(function, GC_ERR_NOT_IMPLEMENTED,
                            "Unknown ACQ_START_FLAG code " + std::to_string(flags) + ".");
    }
    if (count == 0) {
        return report_error(function, GC_ERR_INVALID_PARAMETER, "Cannot acquire a sequence of zero buffers.");
    }
    if (!board_ || board_->buffer_count() == 0) {
        return report_error(function, GC_ERR_INVALID_BUFFER,
                            "No buffers have been announced for data-stream \"" + id() +
                                "\", so acquisition cannot be started.");
    }
    return gate(StreamCall::StartAcquisition, function, [&] { return acquisition_->start_acquisition(count); });
}

GC_ERROR DSModule::stop_acquisition(int32_t flags)
{
    static constexpr const char* function = "DSModule::stop_acquisition";
    if (const GC_ERROR code = check_open(function)) {
        return code;
    }
    return gate(StreamCall::StopAcquisition, function, [&] {
        switch (flags) {
        case ACQ_STOP_FLAGS_DEFAULT:
            return acquisition_->stop_acquisition(false);
        case ACQ_STOP_FLAGS_KILL:
            return acquisition_->stop_acquisition(true);
        default:
            return report_error(function, GC_ERR_NOT_IMPLEMENTED,
                                "Unknown ACQ_STOP_FLAGS code " + std::to_string(flags) + ".");
        }
    });
}

}  // namespace vngtl
