// A consumer's stream on an open device, through the exported functions: library-allocated buffers announced
// and queued, the new-buffer event registered, acquisition started. Each frame taken is checked pixel by pixel
// against the simulator's pattern for its frame ID and queued again; at the end every announced buffer is
// accounted for exactly once and the stream closes.
#pragma once

#include "FrameCheck.h"
#include "modules/RegisterAddresses.h"

#include <gentl/GenTL.h>
#include <vnsim.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

class StreamSession {
public:
    // `fresh`: the stream starts empty, so every frame comes in one of the buffers announced here and frame
    // IDs only increase. A stream reopened after its device was closed under it is not fresh: its earlier
    // buffers stay announced, and one filled before the close may come first. `board_buffers`, when not 0, is
    // the board's ring size asked for before the buffers are announced.
    StreamSession(GenTL::DEV_HANDLE device, size_t buffer_count, const ExpectedFrames& expected, bool fresh = true,
                  uint64_t board_buffers = 0)
        : expected_(expected), fresh_(fresh)
    {
        using namespace GenTL;
        char id[64] = {};
        size_t size = sizeof id;
        EXPECT_EQ(DevGetDataStreamID(device, 0, id, &size), GC_ERR_SUCCESS) << record();
        EXPECT_EQ(DevOpenDataStream(device, id, &stream), GC_ERR_SUCCESS) << record();
        size = sizeof board_buffers;
        if (board_buffers != 0) {
            EXPECT_EQ(GCWritePort(stream, vngtl::reg::datastream::Reg_GrabberBufferCountDesired, &board_buffers, &size),
                      GC_ERR_SUCCESS)
                << record();
        }
        buffers.assign(buffer_count, nullptr);
        for (BUFFER_HANDLE& buffer : buffers) {
            EXPECT_EQ(DSAllocAndAnnounceBuffer(stream, expected.frame_bytes(), nullptr, &buffer), GC_ERR_SUCCESS)
                << record();
            EXPECT_EQ(DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS) << record();
        }
        EXPECT_EQ(GCRegisterEvent(stream, EVENT_NEW_BUFFER, &event), GC_ERR_SUCCESS) << record();
        EXPECT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS) << record();
    }

    // Takes `count` frames, each within `timeout_ms` (triggering board `trigger` for each first when it is not
    // negative): each is one of the stream's buffers holding exactly its frame, IDs only increase. Returns the
    // frames taken.
    int take(int count, int trigger = -1, uint64_t timeout_ms = 5000)
    {
        using namespace GenTL;
        for (int taken = 0; taken < count; ++taken) {
            if (trigger >= 0 && vnsim_trigger(trigger, 1) != 1) {
                ADD_FAILURE() << "board " << trigger << " made no frame";
                return taken;
            }
            EVENT_NEW_BUFFER_DATA data{};
            size_t size = sizeof data;
            if (EventGetData(event, &data, &size, timeout_ms) != GC_ERR_SUCCESS) {
                ADD_FAILURE() << "no frame within " << timeout_ms << " ms: " << record();
                return taken;
            }
            DeliveredFrame frame;
            EXPECT_EQ(check_delivered_frame(stream, data.BufferHandle, expected_, frame), "");
            if (fresh_) {
                EXPECT_TRUE(!last_id || frame.id > *last_id) << "frame " << frame.id << " after " << last_id.value_or(0);
                EXPECT_NE(std::find(buffers.begin(), buffers.end(), data.BufferHandle), buffers.end());
            }
            last_id = frame.id;
            EXPECT_EQ(DSQueueBuffer(stream, data.BufferHandle), GC_ERR_SUCCESS) << record();
        }
        return count;
    }

    // Stops; every buffer is queued or awaits delivery (the consumer holds none); flushes, revokes each buffer
    // once, unregisters the event and closes the stream.
    void finish()
    {
        using namespace GenTL;
        EXPECT_EQ(DSStopAcquisition(stream, ACQ_STOP_FLAGS_KILL), GC_ERR_SUCCESS) << record();
        EXPECT_EQ(stream_info(STREAM_INFO_NUM_QUEUED) + stream_info(STREAM_INFO_NUM_AWAIT_DELIVERY), buffers.size())
            << "a buffer went missing while the consumer held none";
        EXPECT_EQ(DSFlushQueue(stream, ACQ_QUEUE_ALL_DISCARD), GC_ERR_SUCCESS);
        for (const BUFFER_HANDLE buffer : buffers) {
            EXPECT_EQ(DSRevokeBuffer(stream, buffer, nullptr, nullptr), GC_ERR_SUCCESS) << record();
            EXPECT_EQ(DSRevokeBuffer(stream, buffer, nullptr, nullptr), GC_ERR_INVALID_HANDLE) << "revoked once only";
        }
        EXPECT_EQ(stream_info(STREAM_INFO_NUM_ANNOUNCED), 0u);
        EXPECT_EQ(GCUnregisterEvent(stream, EVENT_NEW_BUFFER), GC_ERR_SUCCESS);
        EXPECT_EQ(DSClose(stream), GC_ERR_SUCCESS) << record();
        stream = nullptr;
    }

    size_t stream_info(GenTL::STREAM_INFO_CMD command) const
    {
        size_t value = 0;
        GenTL::INFO_DATATYPE type = 0;
        size_t size = sizeof value;
        EXPECT_EQ(GenTL::DSGetInfo(stream, command, &type, &value, &size), GenTL::GC_ERR_SUCCESS) << command;
        return value;
    }

    GenTL::DS_HANDLE stream = nullptr;
    GenTL::EVENT_HANDLE event = nullptr;
    std::vector<GenTL::BUFFER_HANDLE> buffers;
    std::optional<uint64_t> last_id;

private:
    static std::string record()
    {
        GenTL::GC_ERROR code = 0;
        char text[1024] = {};
        size_t size = sizeof text;
        return GenTL::GCGetLastError(&code, text, &size) == GenTL::GC_ERR_SUCCESS ? text : "";
    }

    ExpectedFrames expected_;
    bool fresh_;
};
