// The frame copier: a large frame split across the stream's helper threads arrives byte for byte, whatever
// its size and alignment, copy after copy on the same helpers; small frames are not split. Frames split this
// way on four streams at once: MultiBoardStreamTest.
#include "acquisition/FrameCopier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

using vngtl::FrameCopier;

namespace {

// Bytes that differ from their neighbours and repeat only every 251, so a part copied to the wrong place
// or twice shows.
std::vector<uint8_t> pattern(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>((i * 7 + i / 251) % 251);
    }
    return bytes;
}

}  // namespace

TEST(FrameCopierTest, SplitCopiesAreByteIdenticalForOddSizesAndOffsets)
{
    constexpr size_t guard = 96;
    for (unsigned threads = 1; threads <= 4; ++threads) {
        FrameCopier copier(threads, 256);
        ASSERT_EQ(copier.thread_count(), threads);
        const std::vector<size_t> sizes = {256, 257, 1000, 4093, 65537, 3 * 64 + 1, 1 << 20};
        for (const size_t size : sizes) {
            for (const size_t source_offset : {0, 1, 13}) {
                for (const size_t destination_offset : {0, 3, 64}) {
                    const std::vector<uint8_t> source = pattern(size + source_offset);
                    std::vector<uint8_t> destination(destination_offset + size + guard, 0xEE);
                    copier.copy(destination.data() + destination_offset, source.data() + source_offset, size);
                    SCOPED_TRACE(testing::Message() << threads << " threads, " << size << " bytes, offsets "
                                                    << source_offset << "/" << destination_offset);
                    for (size_t i = 0; i < destination_offset; ++i) {
                        ASSERT_EQ(destination[i], 0xEE) << "written before the destination at " << i;
                    }
                    ASSERT_TRUE(std::equal(source.begin() + static_cast<std::ptrdiff_t>(source_offset), source.end(),
                                           destination.begin() + static_cast<std::ptrdiff_t>(destination_offset)));
                    for (size_t i = destination_offset + size; i < destination.size(); ++i) {
                        ASSERT_EQ(destination[i], 0xEE) << "written beyond the frame at " << i;
                    }
                }
            }
        }
    }
}

TEST(FrameCopierTest, OnlyFramesFromTheThresholdOnAreSplitAndOneThreadNeverSplits)
{
    FrameCopier copier(2, 4096);
    const std::vector<uint8_t> source = pattern(8192);
    std::vector<uint8_t> destination(8192);
    copier.copy(destination.data(), source.data(), 4095);
    copier.copy(destination.data(), source.data(), 0);
    EXPECT_EQ(copier.split_count(), 0u);
    copier.copy(destination.data(), source.data(), 4096);
    copier.copy(destination.data(), source.data(), 8192);
    EXPECT_EQ(copier.split_count(), 2u);
    EXPECT_EQ(destination, source);

    FrameCopier alone(1, 64);
    alone.copy(destination.data(), source.data(), 8192);
    EXPECT_EQ(alone.split_count(), 0u);
}

// The thread count asked for, or else the environment's, is kept to at most four; without either the cores
// choose it (one left for the rest, at most four).
TEST(FrameCopierTest, TheThreadCountIsAskedForOrChosenByTheEnvironmentOrTheCores)
{
    EXPECT_EQ(FrameCopier(9).thread_count(), 4u);
    const unsigned cores = std::thread::hardware_concurrency();
    const unsigned by_cores = cores >= 3 ? std::min(cores - 1, 4u) : 1u;
    const std::vector<std::pair<const char*, unsigned>> rows = {{"1", 1}, {"3", 3}, {"16", 4}, {"none", by_cores}};
    for (const auto& [text, expected] : rows) {
        SCOPED_TRACE(text);
        setenv("VNGTL_COPY_THREADS", text, 1);
        EXPECT_EQ(FrameCopier().thread_count(), expected);
        EXPECT_EQ(FrameCopier::default_thread_count(), expected);
    }
    unsetenv("VNGTL_COPY_THREADS");
    EXPECT_EQ(FrameCopier().thread_count(), by_cores);
}
