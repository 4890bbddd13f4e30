// Shared fixture for tests that drive the producer through its exported functions: each test starts with
// the default simulator, empty debug output and the library not initialised, and leaves it that way.
#pragma once

#include <gentl/GenTL.h>
#include <vnsim.h>

#include <gtest/gtest.h>

#include <string>

using namespace GenTL;

class GenTLTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vnsim_reset();
        vnsim_debug_clear();
        GCCloseLib();
    }
    void TearDown() override
    {
        GCCloseLib();
        vnsim_reset();
    }

    // The calling thread's last error record ("" when GCGetLastError itself fails).
    static std::string last_error(GC_ERROR* code = nullptr)
    {
        GC_ERROR stored = 0;
        size_t size = 0;
        if (GCGetLastError(&stored, nullptr, &size) != GC_ERR_SUCCESS) {
            return "";
        }
        std::string text(size, '\0');
        if (GCGetLastError(&stored, text.data(), &size) != GC_ERR_SUCCESS) {
            return "";
        }
        text.resize(size - 1);
        if (code != nullptr) {
            *code = stored;
        }
        return text;
    }

    static std::string debug_output()
    {
        std::string text(vnsim_debug_output(nullptr, 0) + 1, '\0');
        text.resize(vnsim_debug_output(text.data(), text.size()));
        return text;
    }
};
