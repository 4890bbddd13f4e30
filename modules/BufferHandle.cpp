#include "modules/BufferHandle.h"

#include "modules/HandleMapping.h"

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

    // A value of the last fill, read from the fill record at each query.
    const auto from_fill = [this](int32_t command, uint64_t address, uint64_t length, INFO_DATATYPE type,
                                  uint64_t (*value)(const FillRecord&)) {
        const uint64_t initial = value(FillRecord{});
        auto* entry = static_cast<InfoFuncEntry<BUFFER_INFO_FRAMEID>*>(
            add_info(command, &initial, address, length, type, true, false, make_info_func_entry<BUFFER_INFO_FRAMEID>));
        if (entry != nullptr) {
            entry->on_pre_read = [this, value, length](RegisterMap::Entry&, uint8_t* data, void*, size_t*) {
                const uint64_t now = value(fill_record());
                std::memcpy(data, &now, length);
                return GC_ERR_SUCCESS;
            };
        }
    };

    namespace reg = vngtl::reg::buffer;
    // Values the TLBuffer description reads through the port sit at its register addresses; the others
    // follow them in the same layout.

    add_u64(BUFFER_INFO_BASE, reinterpret_cast<uintptr_t>(data()), reg::Info_BufferBase, INFO_DATATYPE_PTR);
    add_u64(BUFFER_INFO_SIZE, size(), reg::Reg_BufferSize, INFO_DATATYPE_SIZET);
    add_u64(BUFFER_INFO_USER_PTR, reinterpret_cast<uintptr_t>(user_pointer()), reg::Reg_BufferUserData,
            INFO_DATATYPE_PTR);
    from_fill(BUFFER_INFO_WIDTH, reg::Reg_BufferWidth, 8, INFO_DATATYPE_SIZET, [](const FillRecord& r) { return r.width; });
    from_fill(BUFFER_INFO_HEIGHT, reg::Reg_BufferHeight, 8, INFO_DATATYPE_SIZET,
              [](const FillRecord& r) { return r.height; });
    from_fill(BUFFER_INFO_TIMESTAMP, reg::Reg_BufferTimeStamp, 8, INFO_DATATYPE_UINT64,
              [](const FillRecord& r) { return r.timestamp; });
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
    RegisterMap::Entry* tltype = add_info_string(BUFFER_INFO_TLTYPE, "Custom", reg::Info_BufferTLType, tltype_capacity,
                                                 true, false, make_info_func_entry<BUFFER_INFO_TLTYPE>);
    if (tltype != nullptr) {
        static_cast<InfoFuncEntry<BUFFER_INFO_TLTYPE>*>(tltype)->on_pre_read =
            [this](RegisterMap::Entry&, uint8_t* data, void*, size_t*) {
                const std::string name = VNBoards::kind_name(fill_record().kind);
                std::memset(data, 0, tltype_capacity);
                std::memcpy(data, name.data(), std::min<size_t>(name.size(), tltype_capacity - 1));
                return GC_ERR_SUCCESS;
            };
    }
    from_fill(BUFFER_INFO_SIZE_FILLED, reg::Reg_BufferSizeFilled, 8, INFO_DATATYPE_SIZET,
              [](const FillRecord& r) { return r.size_filled; });
    from_fill(BUFFER_INFO_XOFFSET, reg::Reg_BufferXOffset, 8, INFO_DATATYPE_SIZET,
              [](const FillRecord& r) { return r.x_offset; });
    from_fill(BUFFER_INFO_YOFFSET, reg::Reg_BufferYOffset, 8, INFO_DATATYPE_SIZET,
              [](const FillRecord& r) { return r.y_offset; });
    add_u64(BUFFER_INFO_XPADDING, 0, reg::Reg_BufferXPadding, INFO_DATATYPE_SIZET);
    add_u64(BUFFER_INFO_YPADDING, 0, reg::Reg_BufferYPadding, INFO_DATATYPE_SIZET);
    from_fill(BUFFER_INFO_FRAMEID, reg::Reg_BufferFrameID, 8, INFO_DATATYPE_UINT64,
              [](const FillRecord& r) { return r.frame_id; });
    from_fill(BUFFER_INFO_IMAGEPRESENT, reg::Reg_BufferImagePresent, 1, INFO_DATATYPE_BOOL8,
              [](const FillRecord& r) -> uint64_t { return r.image_present ? 1 : 0; });
    add_u64(BUFFER_INFO_IMAGEOFFSET, 0, reg::Reg_BufferImageOffset, INFO_DATATYPE_SIZET);
    add_u64(BUFFER_INFO_PAYLOADTYPE, PAYLOAD_TYPE_IMAGE, reg::Reg_BufferPayloadType, INFO_DATATYPE_SIZET);
    from_fill(BUFFER_INFO_PIXELFORMAT, reg::Reg_BufferPixelFormat, 8, INFO_DATATYPE_UINT64,
              [](const FillRecord& r) { return r.pixel_format; });
    add_u64(BUFFER_INFO_PIXELFORMAT_NAMESPACE, PIXELFORMAT_NAMESPACE_PFNC_32BIT, reg::Info_BufferPixelFormatNamespace,
            INFO_DATATYPE_UINT64);
    from_fill(BUFFER_INFO_DELIVERED_IMAGEHEIGHT, reg::Reg_BufferDeliveredImageHeight, 8, INFO_DATATYPE_SIZET,
              [](const FillRecord& r) { return r.delivered_image_height; });
    const int32_t endianness = PIXELENDIANNESS_BIG;
    add(BUFFER_INFO_PIXEL_ENDIANNESS, &endianness, reg::Info_BufferPixelEndianness, sizeof endianness, INFO_DATATYPE_INT32);
    // Nothing sets the data size but queueing, which sets it to 0.
    add_u64(BUFFER_INFO_DATA_SIZE, 0, reg::Info_BufferDataSize, INFO_DATATYPE_SIZET);
    from_fill(BUFFER_INFO_TIMESTAMP_NS, reg::Info_BufferTimestampNs, 8, INFO_DATATYPE_UINT64,
              [](const FillRecord& r) { return r.timestamp_ns; });
    from_fill(BUFFER_INFO_DATA_LARGER_THAN_BUFFER, reg::Info_BufferDataLargerThanBuffer, 1, INFO_DATATYPE_BOOL8,
              [](const FillRecord& r) -> uint64_t { return r.data_larger_than_buffer ? 1 : 0; });
    add_bool(BUFFER_INFO_CONTAINS_CHUNKDATA, false, reg::Info_BufferContainsChunkData);
    // The size of a size value, the description's Reg_SizeofSizeT.
    const uint32_t sizeof_size_t = vngtl::reg::size_length;
    add(BUFFER_INFO_CUSTOM_ID, &sizeof_size_t, reg::Reg_SizeofSizeT, sizeof sizeof_size_t, INFO_DATATYPE_UINT32);
    // Where the time between the board and the consumer went: the host's monotonic clock (ns) when the
    // acquisition thread took the frame from the board, and when its copy into this buffer was whole.
    from_fill(BUFFER_INFO_CUSTOM_ID + 1, reg::Info_BufferReceivedNs, 8, INFO_DATATYPE_UINT64,
              [](const FillRecord& r) { return r.received_ns; });
    from_fill(BUFFER_INFO_CUSTOM_ID + 2, reg::Info_BufferCopiedNs, 8, INFO_DATATYPE_UINT64,
              [](const FillRecord& r) { return r.copied_ns; });

    // The data itself, readable as one register over the consumer's (or our) memory.
    if (data() != nullptr && size() > 0) {
        info_map().insert(data_register_address, data(), size(), INFO_DATATYPE_BUFFER, true, false, make_plain_entry);
    }

    port_.setup_port_info(std::string(module_name), std::string(module_name), "BufferPort", system);
    port_.bind(&info_map(), this);
    port_.set_entry(PORT_INFO_TLTYPE, tltype);
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
