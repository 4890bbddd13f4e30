#include "modules/BufferHandle.h"

#include "modules/HandleMapping.h"

#include "acquisition/FrameCopier.h"

#include "core/ErrorReport.h"
#include "modules/RegisterAddresses.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

namespace vngtl {

using namespace GenTL;

namespace {

constexpr uint64_t tltype_capacity = 64;

}  // namespace

BufferHandle::BufferHandle(void* data, size_t size, void* user_pointer, const SystemValues& system)
    : PoolBuffer(data, size, user_pointer)
{
    setup_port_and_info(system);
}

BufferHandle::BufferHandle(size_t size, void* user_pointer, const SystemValues& system)
    : PoolBuffer(size, user_pointer)
{
    if (PoolBuffer::data() == nullptr) {
        report_error("BufferHandle::BufferHandle", GC_ERR_OUT_OF_MEMORY,
                     "Unable to allocate memory for the buffer: " + allocation_failure());
    }
    setup_port_and_info(system);
}

BufferFactory BufferHandle::factory(const SystemValues& system)
{
    return [system](void* data, size_t size, void* user_pointer) -> std::shared_ptr<PoolBuffer> {
        if (data != nullptr) {
            return std::make_shared<BufferHandle>(data, size, user_pointer, system);
        }
        return std::make_shared<BufferHandle>(size, user_pointer, system);
    };
}

const void* BufferHandle::consumer_handle() const noexcept
{
    return reinterpret_cast<const void*>(const_cast<BufferHandle*>(this)->handle_cell().current());
}

BufferHandle::~BufferHandle()
{
    retire_handle();
}

uint32_t BufferHandle::handle_kind() const noexcept
{
    return kind_buffer;
}

GC_ERROR BufferHandle::register_event(EVENT_TYPE, BaseEvent**)
{
    return report_error("BufferHandle::register_event", GC_ERR_NOT_IMPLEMENTED,
                        "No buffer events are currently implemented.");
}

GC_ERROR BufferHandle::unregister_event(EVENT_TYPE)
{
    return report_error("BufferHandle::unregister_event", GC_ERR_NOT_IMPLEMENTED,
                        "No buffer events are currently implemented.");
}

template <class T>
void BufferHandle::store(RegisterMap::Entry* entry, T value)
{
    if (entry != nullptr && entry->length() >= sizeof value) {
        std::memcpy(entry->data(), &value, sizeof value);
    }
}

void BufferHandle::reset_fill_sizes()
{
    store<uint64_t>(size_filled_, 0);
    store<uint64_t>(data_size_, 0);
}

uint64_t BufferHandle::pixel_format(uint32_t bit_depth) noexcept
{
    switch (bit_depth) {
    case 8: return 0x01080001;   // Mono8
    case 10: return 0x01100003;  // Mono10
    case 12: return 0x01100005;  // Mono12
    case 14: return 0x01100025;  // Mono14
    case 16: return 0x01100007;  // Mono16
    case 24: return 0x02180014;  // RGB8
    case 30: return 0x0220001D;  // RGB10p32
    case 32: return 0x82200020;
    case 36: return 0x82300024;
    case 42: return 0x8230002A;
    case 48: return 0x02300033;  // RGB16
    default: return 0x80000000;
    }
}

bool BufferHandle::fill(const VNBoards::FrameView& frame, FrameCopier& copier)
{
    if (!begin_fill()) {
        report_error("BufferHandle::fill", GC_ERR_ERROR, "Cannot fill a buffer that isn't in the input queue.");
        return false;
    }
    const size_t count = std::min(frame.size, size());
    if (count > 0 && frame.data != nullptr && data() != nullptr) {
        copier.copy(data(), frame.data, count);
    }

    char tltype[tltype_capacity] = {};
    const std::string name = VNBoards::kind_name(frame.kind);
    std::memcpy(tltype, name.data(), std::min<size_t>(name.size(), tltype_capacity - 1));
    if (tltype_ != nullptr) {
        std::memcpy(tltype_->data(), tltype, tltype_capacity);
    }
    store<uint64_t>(size_filled_, count);
    store<uint64_t>(pixel_format_, pixel_format(frame.bit_depth));
    store<uint64_t>(width_, frame.roi.width);
    store<uint64_t>(height_, frame.roi.height);
    store<uint64_t>(x_offset_, frame.roi.x_offset);
    store<uint64_t>(y_offset_, frame.roi.y_offset);
    store<uint64_t>(x_padding_, 0);
    store<uint64_t>(y_padding_, 0);
    store<uint64_t>(frame_id_, frame.frame_id);
    store<uint64_t>(timestamp_, frame.timestamp);
    store<uint64_t>(timestamp_ns_, frame.timestamp_ns);
    store<uint64_t>(delivered_image_height_, frame.roi.height);
    store<uint8_t>(image_present_, 1);
    store<uint8_t>(data_larger_than_buffer_, count < frame.size ? 1 : 0);

    end_fill();
    return true;
}

void BufferHandle::setup_port_and_info(const SystemValues& system)
{
    const auto add = [this](int32_t command, const void* value, uint64_t address, uint64_t length,
                            INFO_DATATYPE type) { return add_info(command, value, address, length, type, true, false); };
    const auto add_u64 = [&add](int32_t command, uint64_t value, uint64_t address, INFO_DATATYPE type) {
        return add(command, &value, address, sizeof value, type);
    };
    const auto add_bool = [&add](int32_t command, bool value, uint64_t address) {
        const uint8_t byte = value ? 1 : 0;
        return add(command, &byte, address, 1, INFO_DATATYPE_BOOL8);
    };

    namespace reg = vngtl::reg::buffer;
    // Values the TLBuffer description reads through the port sit at its register addresses; the others
    // follow them in the same layout.

    add_u64(BUFFER_INFO_BASE, reinterpret_cast<uintptr_t>(data()), reg::Info_BufferBase, INFO_DATATYPE_PTR);
    add_u64(BUFFER_INFO_SIZE, size(), reg::Reg_BufferSize, INFO_DATATYPE_SIZET);
    add_u64(BUFFER_INFO_USER_PTR, reinterpret_cast<uintptr_t>(user_pointer()), reg::Reg_BufferUserData,
            INFO_DATATYPE_PTR);
    width_ = add_u64(BUFFER_INFO_WIDTH, 0, reg::Reg_BufferWidth, INFO_DATATYPE_SIZET);
    height_ = add_u64(BUFFER_INFO_HEIGHT, 1, reg::Reg_BufferHeight, INFO_DATATYPE_SIZET);
    timestamp_ = add_u64(BUFFER_INFO_TIMESTAMP, 0, reg::Reg_BufferTimeStamp, INFO_DATATYPE_UINT64);
    add_bool(BUFFER_INFO_NEW_DATA, false, reg::Reg_BufferNewData);

    // Whether the buffer is queued or being acquired is read from its state at the time of the query.
    const uint8_t no = 0;
    if (auto* queued = static_cast<InfoFuncEntry<BUFFER_INFO_IS_QUEUED>*>(
            add_info(BUFFER_INFO_IS_QUEUED, &no, reg::Reg_BufferIsQueued, 1, INFO_DATATYPE_BOOL8, true, false,
                     make_info_func_entry<BUFFER_INFO_IS_QUEUED>))) {
        queued->on_pre_read = [this](RegisterMap::Entry&, uint8_t* data, void*, size_t*) {
            const BufferState now = state();
            *data = (now == BufferState::Queued || now == BufferState::Filled) ? 1 : 0;
            return GC_ERR_SUCCESS;
        };
    }
    if (auto* acquiring = static_cast<InfoFuncEntry<BUFFER_INFO_IS_ACQUIRING>*>(
            add_info(BUFFER_INFO_IS_ACQUIRING, &no, reg::Reg_BufferIsAcquiring, 1, INFO_DATATYPE_BOOL8, true, false,
                     make_info_func_entry<BUFFER_INFO_IS_ACQUIRING>))) {
        acquiring->on_pre_read = [this](RegisterMap::Entry&, uint8_t* data, void*, size_t*) {
            *data = state() == BufferState::Filling ? 1 : 0;
            return GC_ERR_SUCCESS;
        };
    }

    add_bool(BUFFER_INFO_IS_INCOMPLETE, false, reg::Reg_BufferIsIncomplete);
    tltype_ = add_info_string(BUFFER_INFO_TLTYPE, "Custom", reg::Info_BufferTLType, tltype_capacity);
    size_filled_ = add_u64(BUFFER_INFO_SIZE_FILLED, 0, reg::Reg_BufferSizeFilled, INFO_DATATYPE_SIZET);
    x_offset_ = add_u64(BUFFER_INFO_XOFFSET, 0, reg::Reg_BufferXOffset, INFO_DATATYPE_SIZET);
    y_offset_ = add_u64(BUFFER_INFO_YOFFSET, 0, reg::Reg_BufferYOffset, INFO_DATATYPE_SIZET);
    x_padding_ = add_u64(BUFFER_INFO_XPADDING, 0, reg::Reg_BufferXPadding, INFO_DATATYPE_SIZET);
    y_padding_ = add_u64(BUFFER_INFO_YPADDING, 0, reg::Reg_BufferYPadding, INFO_DATATYPE_SIZET);
    frame_id_ = add_u64(BUFFER_INFO_FRAMEID, 0, reg::Reg_BufferFrameID, INFO_DATATYPE_UINT64);
    image_present_ = add_bool(BUFFER_INFO_IMAGEPRESENT, false, reg::Reg_BufferImagePresent);
    add_u64(BUFFER_INFO_IMAGEOFFSET, 0, reg::Reg_BufferImageOffset, INFO_DATATYPE_SIZET);
    add_u64(BUFFER_INFO_PAYLOADTYPE, PAYLOAD_TYPE_IMAGE, reg::Reg_BufferPayloadType, INFO_DATATYPE_SIZET);
    pixel_format_ = add_u64(BUFFER_INFO_PIXELFORMAT, 0, reg::Reg_BufferPixelFormat, INFO_DATATYPE_UINT64);
    add_u64(BUFFER_INFO_PIXELFORMAT_NAMESPACE, PIXELFORMAT_NAMESPACE_PFNC_32BIT, reg::Info_BufferPixelFormatNamespace,
            INFO_DATATYPE_UINT64);
    delivered_image_height_ =
        add_u64(BUFFER_INFO_DELIVERED_IMAGEHEIGHT, 0, reg::Reg_BufferDeliveredImageHeight, INFO_DATATYPE_SIZET);
    const int32_t endianness = PIXELENDIANNESS_BIG;
    add(BUFFER_INFO_PIXEL_ENDIANNESS, &endianness, reg::Info_BufferPixelEndianness, sizeof endianness, INFO_DATATYPE_INT32);
    data_size_ = add_u64(BUFFER_INFO_DATA_SIZE, 0, reg::Info_BufferDataSize, INFO_DATATYPE_SIZET);
    timestamp_ns_ = add_u64(BUFFER_INFO_TIMESTAMP_NS, 0, reg::Info_BufferTimestampNs, INFO_DATATYPE_UINT64);
    data_larger_than_buffer_ =
        add_bool(BUFFER_INFO_DATA_LARGER_THAN_BUFFER, false, reg::Info_BufferDataLargerThanBuffer);
    add_bool(BUFFER_INFO_CONTAINS_CHUNKDATA, false, reg::Info_BufferContainsChunkData);
    // The size of a size value, the description's Reg_SizeofSizeT.
    const uint32_t sizeof_size_t = vngtl::reg::size_length;
    add(BUFFER_INFO_CUSTOM_ID, &sizeof_size_t, reg::Reg_SizeofSizeT, sizeof sizeof_size_t, INFO_DATATYPE_UINT32);

    // The data itself, readable as one register over the consumer's (or our) memory.
    if (data() != nullptr && size() > 0) {
        info_map().insert(data_register_address, data(), size(), INFO_DATATYPE_BUFFER, true, false, make_plain_entry);
    }

    port_.setup_port_info(std::string(module_name), std::string(module_name), "BufferPort", system);
    port_.bind(&info_map(), this);
    port_.set_entry(PORT_INFO_TLTYPE, tltype_);
    setup_xml_file();
}

void BufferHandle::setup_xml_file()
{
    static constexpr const char* function = "BufferHandle::setup_xml_file";
    static constexpr const char* resource_name = "Resources\\TLBuffer.xml";
    static constexpr const char* xml_file_name = "Vantrel_VNGTL2_TLBuffer.xml";
    port_.add_module_xml(function, resource_name, xml_file_name, vngtl::reg::buffer::xml_file);
}

}  // namespace vngtl
