#include "modules/DSModule.h"

#include "board/VNBoards.h"
#include "modules/BufferHandle.h"
#include "core/ErrorReport.h"
#include "modules/ModuleRegisters.h"
#include "modules/RegisterAddresses.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <mutex>

namespace vngtl {

using namespace GenTL;
using VNBoards::BoardKind;
using VNBoards::BoardState;

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

// A set of acquisition states, one bit each.
using StateSet = uint32_t;

constexpr StateSet states_of(std::initializer_list<AcquisitionState> states) noexcept
{
    StateSet set = 0;
    for (const AcquisitionState state : states) {
        set |= StateSet{1} << static_cast<uint32_t>(state);
    }
    return set;
}

constexpr AcquisitionState all_states[] = {AcquisitionState::NoBoard, AcquisitionState::NotConfigured,
                                           AcquisitionState::Ready, AcquisitionState::Running,
                                           AcquisitionState::Completed};
constexpr StateSet every_state = states_of({AcquisitionState::NoBoard, AcquisitionState::NotConfigured,
                                            AcquisitionState::Ready, AcquisitionState::Running,
                                            AcquisitionState::Completed});

// What the gate knows of one call: its name in records and the states it may run in.
struct CallRule {
    const char* function;
    StateSet states;
};

constexpr CallRule rule_of(StreamCall call) noexcept
{
    switch (call) {
    case StreamCall::AnnounceBuffer: return {"DSModule::announce_buffer", every_state};
    case StreamCall::AllocAndAnnounceBuffer: return {"DSModule::alloc_and_announce_buffer", every_state};
    case StreamCall::RevokeBuffer: return {"DSModule::revoke_buffer", every_state};
    case StreamCall::QueueBuffer: return {"DSModule::queue_buffer", every_state};
    case StreamCall::FlushQueue: return {"DSModule::flush_queue", every_state};
    case StreamCall::GetBufferId: return {"DSModule::get_buffer_id", every_state};
    case StreamCall::StartAcquisition:
        return {"DSModule::start_acquisition", states_of({AcquisitionState::NotConfigured, AcquisitionState::Ready})};
    case StreamCall::StopAcquisition:
        return {"DSModule::stop_acquisition", states_of({AcquisitionState::Running, AcquisitionState::Completed})};
    }
    return {"DSModule::transition", 0};
}

constexpr bool contains(StateSet set, AcquisitionState state) noexcept
{
    return (set & (StateSet{1} << static_cast<uint32_t>(state))) != 0;
}

std::string state_list(StateSet set)
{
    std::string text;
    for (const AcquisitionState state : all_states) {
        if (contains(set, state)) {
            text += text.empty() ? "" : " or ";
            text += state_name(state);
        }
    }
    return text;
}

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
    acquisition_ = std::make_unique<VNAcquisition>(board_, BufferHandle::factory(system));
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
             [this](RegisterMap::Entry&, uint8_t* data) { return put<uint64_t>(data, acquisition_->pool().delivered_count()); });
    computed(STREAM_INFO_NUM_UNDERRUN, r::Reg_StreamLostFrameCount, 8, INFO_DATATYPE_UINT64,
             [this](RegisterMap::Entry&, uint8_t* data) { return put<uint64_t>(data, acquisition_->underrun_count()); });
    computed(STREAM_INFO_NUM_ANNOUNCED, r::Reg_StreamAnnouncedBufferCount, 8, INFO_DATATYPE_SIZET,
             [this](RegisterMap::Entry&, uint8_t* data) { return put<uint64_t>(data, acquisition_->pool().announced_count()); });
    computed(STREAM_INFO_NUM_QUEUED, r::Reg_StreamInputBufferCount, 8, INFO_DATATYPE_SIZET,
             [this](RegisterMap::Entry&, uint8_t* data) { return put<uint64_t>(data, acquisition_->pool().queued_count()); });
    computed(STREAM_INFO_NUM_AWAIT_DELIVERY, r::Reg_StreamOutputBufferCount, 8, INFO_DATATYPE_SIZET,
             [this](RegisterMap::Entry&, uint8_t* data) { return put<uint64_t>(data, acquisition_->pool().output_count()); });
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
    default:  // the region of interest, which refers to the camera's frame as it is now
        roi_generation_.store(board_->geometry_generation());
        return make_ready_for_acq();
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
    return make_ready_for_acq();
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

GC_ERROR DSModule::transition(StreamCall call, AcquisitionState* state_out) const
{
    const AcquisitionState state = acquisition_->status();
    if (state_out != nullptr) {
        *state_out = state;
    }
    const CallRule rule = rule_of(call);
    if (contains(rule.states, state)) {
        return GC_ERR_SUCCESS;
    }
    const std::string stream = "data-stream \"" + id() + "\"";
    switch (call) {
    case StreamCall::StartAcquisition:
        if (state == AcquisitionState::NoBoard) {
            return report_error(rule.function, GC_ERR_ERROR,
                                "Acquisition cannot be started because " + stream + " is in a bad state.");
        }
        if (state == AcquisitionState::Running) {
            return report_error(rule.function, GC_ERR_RESOURCE_IN_USE,
                                "Acquisition has already been started on " + stream + ".");
        }
        return report_error(rule.function, GC_ERR_RESOURCE_IN_USE,
                            "Acquisition has completed on " + stream + ", but it has not been formally stopped.");
    case StreamCall::StopAcquisition:
        return report_error(rule.function, GC_ERR_RESOURCE_IN_USE,
                            "Acquisition on " + stream + " cannot be stopped because it is not running.");
    default:
        return report_error(rule.function, GC_ERR_ERROR,
                            std::string(rule.function) + " is not possible while " + stream + " is " +
                                std::string(state_name(state)) + "; it needs " + state_list(rule.states) + ".");
    }
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
    make_clear_from_acq();
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
    if (const GC_ERROR code = transition(StreamCall::AnnounceBuffer)) {
        return code;
    }
    if (data == nullptr) {
        return report_error(function, GC_ERR_INVALID_PARAMETER, "The buffer data pointer is null.");
    }
    if (handle_out == nullptr) {
        return report_error(function, GC_ERR_INVALID_PARAMETER, "The return buffer handle poiner is null.");
    }
    std::shared_ptr<PoolBuffer> buffer;
    if (const GC_ERROR code = acquisition_->pool().announce_shared(&buffer, data, size, user_pointer)) {
        return code;
    }
    *handle_out = std::static_pointer_cast<BufferHandle>(std::move(buffer));
    return make_ready_for_acq();
}

GC_ERROR DSModule::alloc_and_announce_buffer(size_t size, void* user_pointer,
                                             std::shared_ptr<BufferHandle>* handle_out)
{
    static constexpr const char* function = "DSModule::alloc_and_announce_buffer";
    if (const GC_ERROR code = check_open(function)) {
        return code;
    }
    if (const GC_ERROR code = transition(StreamCall::AllocAndAnnounceBuffer)) {
        return code;
    }
    if (handle_out == nullptr) {
        return report_error(function, GC_ERR_INVALID_PARAMETER, "The return buffer handle pointer is null.");
    }
    std::shared_ptr<PoolBuffer> buffer;
    if (const GC_ERROR code = acquisition_->pool().announce_shared(&buffer, size, user_pointer)) {
        return code;
    }
    *handle_out = std::static_pointer_cast<BufferHandle>(std::move(buffer));
    return make_ready_for_acq();
}

GC_ERROR DSModule::revoke_buffer(BufferHandle* handle, void** data_out, void** user_pointer_out)
{
    if (const GC_ERROR code = check_open("DSModule::revoke_buffer")) {
        return code;
    }
    if (const GC_ERROR code = transition(StreamCall::RevokeBuffer)) {
        return code;
    }
    if (const GC_ERROR code = acquisition_->pool().revoke_buffer(handle, data_out, user_pointer_out)) {
        return code;
    }
    if (acquisition_->pool().announced_count() == 0) {
        make_clear_from_acq();
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR DSModule::queue_buffer(BufferHandle* handle)
{
    if (const GC_ERROR code = check_open("DSModule::queue_buffer")) {
        return code;
    }
    if (const GC_ERROR code = transition(StreamCall::QueueBuffer)) {
        return code;
    }
    return acquisition_->pool().queue_to_input(handle);
}

GC_ERROR DSModule::flush_queue(int32_t operation)
{
    static constexpr const char* function = "DSModule::flush_queue";
    if (const GC_ERROR code = check_open(function)) {
        return code;
    }
    if (const GC_ERROR code = transition(StreamCall::FlushQueue)) {
        return code;
    }
    BufferPool& pool = acquisition_->pool();
    switch (operation) {
    case ACQ_QUEUE_INPUT_TO_OUTPUT:
        return pool.flush_input_to_output();
    case ACQ_QUEUE_OUTPUT_DISCARD:
        acquisition_->frame_ring().skip_all();
        return pool.flush_output_discard();
    case ACQ_QUEUE_ALL_TO_INPUT:
        return pool.flush_all_to_input();
    case ACQ_QUEUE_UNQUEUED_TO_INPUT:
        return pool.flush_unqueued_to_input();
    case ACQ_QUEUE_ALL_DISCARD:
        acquisition_->frame_ring().skip_all();
        return pool.flush_all_discard();
    default:
        return report_error(function, GC_ERR_NOT_IMPLEMENTED,
                            "Unknown ACQ_QUEUE_TYPE operation code " + std::to_string(operation) + ".");
    }
}

GC_ERROR DSModule::get_buffer_id(uint64_t index, std::shared_ptr<BufferHandle>* handle_out)
{
    if (const GC_ERROR code = check_open("DSModule::get_buffer_id")) {
        return code;
    }
    if (const GC_ERROR code = transition(StreamCall::GetBufferId)) {
        return code;
    }
    // The pool checks the output pointer (and records a null one) itself.
    std::shared_ptr<PoolBuffer> buffer;
    const GC_ERROR code = acquisition_->pool().shared_buffer_from_id(index, handle_out != nullptr ? &buffer : nullptr);
    if (code == GC_ERR_SUCCESS) {
        *handle_out = std::static_pointer_cast<BufferHandle>(std::move(buffer));
    }
    return code;
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
    AcquisitionState state = AcquisitionState::NoBoard;
    if (const GC_ERROR code = transition(StreamCall::StartAcquisition, &state)) {
        return code;
    }
    if (state == AcquisitionState::NotConfigured) {
        if (const GC_ERROR code = make_ready_for_acq()) {
            return code;
        }
    }
    // A board that refuses to start has recorded why.
    return acquisition_->start(count) > AcquisitionState::Ready ? GC_ERR_SUCCESS : GC_ERR_ERROR;
}

GC_ERROR DSModule::stop_acquisition(int32_t flags)
{
    static constexpr const char* function = "DSModule::stop_acquisition";
    if (const GC_ERROR code = check_open(function)) {
        return code;
    }
    if (const GC_ERROR code = transition(StreamCall::StopAcquisition)) {
        return code;
    }
    switch (flags) {
    case ACQ_STOP_FLAGS_DEFAULT:
        acquisition_->stop();
        return GC_ERR_SUCCESS;
    case ACQ_STOP_FLAGS_KILL:
        acquisition_->abort();
        return GC_ERR_SUCCESS;
    default:
        return report_error(function, GC_ERR_NOT_IMPLEMENTED,
                            "Unknown ACQ_STOP_FLAGS code " + std::to_string(flags) + ".");
    }
}

GC_ERROR DSModule::make_ready_for_acq()
{
    static constexpr const char* function = "DSModule::make_ready_for_acq";
    // The count and region registers are read, and the board configured from them, as one step against the
    // port's writes to them (which come here holding the same lock): an announcement sees a whole region and
    // cannot apply one that a write has replaced since.
    const std::lock_guard registers(info_map().hook_lock());
    const uint64_t desired = desired_count();
    const VNBoards::Roi roi = requested_roi();
    const AcquisitionState status = acquisition_->status();
    if (status == VNAcquisition::NoBoard) {
        return report_error(function, GC_ERR_ACCESS_DENIED,
                            "The board is in a bad state, and cannot be configured for acquisition.");
    }
    if (status != VNAcquisition::NotConfigured && board_->buffer_count() == desired &&
        acquisition_->roi_matches(roi)) {
        return GC_ERR_SUCCESS;
    }
    const bool ready = board_->exclusively([&] {
        board_->check_init(VNBoards::OpenLevel::Inspect);
        // A reconfiguration keeps the level that the board had before the stream first configured it.
        if (board_->state() != BoardState::Configured) {
            saved_state_ = board_->state();
        }
        return acquisition_->make_ready(desired, roi) == VNAcquisition::Ready;
    });
    // The board has recorded why it could not be configured.
    return ready ? GC_ERR_SUCCESS : GC_ERR_ACCESS_DENIED;
}

GC_ERROR DSModule::make_clear_from_acq()
{
    const AcquisitionState status = acquisition_->status();
    if (status == VNAcquisition::NoBoard) {
        return report_error("DSModule::make_clear_from_acq", GC_ERR_ACCESS_DENIED,
                            "The board is in a bad state, and cannot be deconfigured from acquisition.");
    }
    if (status == VNAcquisition::NotConfigured) {
        return GC_ERR_SUCCESS;
    }
    board_->exclusively([&] {
        board_->check_init(VNBoards::OpenLevel::Inspect);
        acquisition_->teardown();
        board_->reopen(saved_state_);
    });
    return GC_ERR_SUCCESS;
}

}  // namespace vngtl
