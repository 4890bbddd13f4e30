// Shared set-up for the simulator's own tests: each test starts from the built-in default configuration
// and leaves it that way; helpers open a board and take it through circular acquisition.
#pragma once

#include <VantrelSdk.h>

#include <vnsim.h>

#include <gtest/gtest.h>

#include <string>

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { vnsim_reset(); }
    void TearDown() override
    {
        for (VN_HANDLE handle : handles_) {
            VbBrdClose(handle);
        }
        vnsim_reset();
    }

    // Opens board number board with the given flags (and camera file); fails the test when it cannot.
    VN_HANDLE open(uint32_t board, uint32_t flags = VB_OPEN_ACQUIRE, const char* camera_file = nullptr)
    {
        VN_HANDLE handle = nullptr;
        const int32_t result = camera_file == nullptr
                                   ? VbBrdOpenEx(VB_DRIVER_ANY, board, &handle, flags)
                                   : VbBrdOpenCamEx(VB_DRIVER_ANY, board, &handle, camera_file, flags);
        EXPECT_EQ(result, 0) << "opening board " << board;
        if (handle != nullptr) {
            handles_.push_back(handle);
        }
        return handle;
    }

    void close(VN_HANDLE handle)
    {
        std::erase(handles_, handle);
        EXPECT_EQ(VbBrdClose(handle), 0);
    }

    // Opens the board for acquisition in manual trigger mode, allocates count buffers and sets up the
    // circular acquisition (not started).
    VN_HANDLE prepare(uint32_t board, VB_CIRC_DESC& desc, uint32_t count)
    {
        EXPECT_EQ(vnsim_set_trigger_mode(static_cast<int>(board), VNSIM_TRIGGER_MANUAL), 0);
        VN_HANDLE handle = open(board);
        EXPECT_EQ(VbBufferAllocCam(handle, &desc, count), 0);
        EXPECT_EQ(VbCircAqSetup(handle, &desc, VB_CIRC_MODE, VB_CIRC_FLAGS), 0);
        return handle;
    }

    static int32_t start(VN_HANDLE handle, VB_CIRC_DESC& desc)
    {
        return VbCirControl(handle, &desc, VB_CIR_START, VB_CIR_WAIT);
    }

    // Takes the next completed frame (waiting up to timeout_ms) and hands its buffer back at once.
    static int32_t take(VN_HANDLE handle, VB_CIRC_DESC& desc, VB_FRAME_RECORD& record, uint32_t timeout_ms = 100)
    {
        const int32_t result = VbCirWaitDoneFrame(handle, &desc, timeout_ms, &record);
        if (result == 0) {
            EXPECT_EQ(VbCirStatusSet(handle, &desc, &record, 0), 0);
        }
        return result;
    }

    static std::string vn_text(VN_HANDLE handle, int32_t code)
    {
        char text[256] = {};
        return VNErrorGetMes(handle, code, text, sizeof text) == 0 ? std::string(text) : std::string();
    }

private:
    std::vector<VN_HANDLE> handles_;
};
