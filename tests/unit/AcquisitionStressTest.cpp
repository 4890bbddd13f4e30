// The engine under load: a free-running board at full rate with small frames, several consumer threads taking
// and queueing buffers, a thread reading counters, and a checker that flushes the queues and, each time with
// the consumers held still, checks that every announced buffer is in exactly one place. No frame may be
// delivered twice.
//
// The frame count and the time limit can be set with VNGTL_STRESS_FRAMES and VNGTL_STRESS_SECONDS.
#include "AcquisitionFixture.h"

#include "modules/HandleMapping.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <shared_mutex>
#include <thread>
#include <unordered_set>
#include <vector>

using vngtl::BufferHandle;
using vngtl::BufferPool;
using vngtl::BufferState;
using vngtl::VNAcquisition;

namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr double default_seconds = 50;
#else
constexpr double default_seconds = 15;
#endif
constexpr double minimum_seconds = 3;
constexpr GC_ERROR (BufferPool::*flush_operations[])() = {
    &BufferPool::flush_input_to_output, &BufferPool::flush_output_discard, &BufferPool::flush_all_to_input,
    &BufferPool::flush_unqueued_to_input, &BufferPool::flush_all_discard};

uint64_t env_number(const char* name, uint64_t fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

}  // namespace

class AcquisitionStressTest : public EngineWithEventTest {
protected:
    static constexpr uint32_t side = 64;
    static constexpr size_t frame_size = size_t{side} * side;
    static constexpr uint64_t board_buffers = 32;
    static constexpr size_t buffer_count = 12;
    static constexpr int consumers = 3;

    void SetUp() override
    {
        EngineTest::SetUp();
        ASSERT_EQ(vnsim_configure(vntest::sim_config({vntest::SimBoard(side, side).pattern("benchmark")}).c_str()), 0)
            << vnsim_last_error();
        make_engine(true);
    }

    // With the consumers held still: every announced buffer is held by the consumer, in the input queue or in
    // the output queue, exactly once and in the matching state; none is in flight; the output counters add up.
    void check_places(const std::set<BufferHandle*>& held)
    {
        const auto inventory = pool_of(*acquisition).inventory();
        ++checks;
        // The states as they were when the queues were looked at (the copy thread goes on meanwhile), and the
        // places each buffer is found in: 'h'eld, 'i'nput or 'o'utput, with '!' after a place whose state is wrong.
        std::map<const vngtl::PoolBuffer*, BufferState> states;
        std::map<const vngtl::PoolBuffer*, std::string> places;
        for (size_t i = 0; i < inventory.announced.size(); ++i) {
            states[inventory.announced[i]] = inventory.states[i];
            places[inventory.announced[i]];
        }
        const auto place = [&](const auto& buffers, BufferState expected, char where) {
            for (const vngtl::PoolBuffer* buffer : buffers) {
                const auto found = states.find(buffer);
                places[buffer] += found != states.end() && found->second == expected ? std::string{where}
                                                                                      : std::string{where, '!'};
            }
        };
        place(held, BufferState::Announced, 'h');
        place(inventory.input, BufferState::Queued, 'i');
        place(inventory.output, BufferState::Filled, 'o');
        std::string wrong;
        for (const auto& [buffer, where] : places) {
            wrong += where.size() == 1 ? "" : " [" + where + "]";
        }
        const bool counted =
            inventory.filled_total == inventory.delivered + inventory.output_discarded + inventory.output.size();
        if (inventory.filling || inventory.announced.size() != buffer_count || places.size() != buffer_count ||
            !wrong.empty() || !counted) {
            if (misplaced++ == 0) {
                ADD_FAILURE() << "check " << checks << ": held " << held.size() << ", input " << inventory.input.size()
                              << ", output " << inventory.output.size() << ", announced " << inventory.announced.size()
                              << ", filling " << inventory.filling << ", misplaced" << wrong << ", filled "
                              << inventory.filled_total << " = delivered " << inventory.delivered << " + discarded "
                              << inventory.output_discarded << " + waiting " << inventory.output.size() << "?";
            }
        }
    }

    uint64_t checks = 0;
    uint64_t misplaced = 0;
};

TEST_F(AcquisitionStressTest, EveryBufferStaysInOnePlaceAndNoFrameIsDeliveredTwice)
{
    const uint64_t target_frames = env_number("VNGTL_STRESS_FRAMES", 100000);
    const uint64_t seconds_set = env_number("VNGTL_STRESS_SECONDS", 0);
    const double limit_seconds = seconds_set > 0 ? static_cast<double>(seconds_set) : default_seconds;

    auto& pool = pool_of(*acquisition);
    auto& event = *new_buffer_event;
    ASSERT_EQ(acquisition->make_ready(board_buffers, {}), VNAcquisition::Ready);
    const std::vector<BufferHandle*> buffers = queue_buffers(buffer_count, frame_size);
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(event.register_event(), GC_ERR_SUCCESS);
    ASSERT_EQ(acquisition->start(GENTL_INFINITE), VNAcquisition::Running);

    // Consumers take a shared hold of `phase` for each buffer they handle; the checker takes it alone.
    std::shared_mutex phase;
    std::atomic<bool> checker_waiting{false};
    std::atomic<bool> done{false};
    std::mutex ledger_lock;
    std::set<BufferHandle*> held;  // buffers the consumer side holds, guarded by ledger_lock
    std::mutex ids_lock;
    std::unordered_set<uint64_t> delivered_ids;  // guarded by ids_lock
    std::atomic<uint64_t> filled_deliveries{0}, empty_deliveries{0}, duplicates{0}, bad_stamps{0},
        delivered_while_held{0}, requeue_failures{0}, unexpected_results{0}, counter_reads{0}, counter_sum{0};

    auto consume = [&](int index) {
        std::minstd_rand random(static_cast<uint32_t>(index + 1));
        while (!done) {
            if (checker_waiting) {
                std::this_thread::yield();
                continue;
            }
            std::shared_lock phase_guard(phase);
            EVENT_NEW_BUFFER_DATA record{};
            size_t size = sizeof record;
            const GC_ERROR result = event.data(&record, &size, 2);
            if (result == GC_ERR_TIMEOUT || result == GC_ERR_ABORT) {
                continue;
            }
            if (result != GC_ERR_SUCCESS) {
                ++unexpected_results;
                continue;
            }
            auto* buffer = vngtl::from_handle<BufferHandle>(record.BufferHandle);
            {
                std::lock_guard guard(ledger_lock);
                if (!held.insert(buffer).second) {
                    ++delivered_while_held;
                }
            }
            const uint64_t filled = size_info(*buffer, BUFFER_INFO_SIZE_FILLED);
            const uint64_t frame_id = u64_info(*buffer, BUFFER_INFO_FRAMEID);
            if (filled > 0) {
                // The copy holds this frame, or a later one that the board wrote into the same buffer.
                const uint64_t stamp = vnsim_frame_stamp(buffer->data(), filled);
                if (stamp < frame_id || (stamp - frame_id) % board_buffers != 0) {
                    ++bad_stamps;
                }
                std::lock_guard guard(ids_lock);
                if (!delivered_ids.insert(frame_id).second) {
                    ++duplicates;
                }
                ++filled_deliveries;
            } else {
                ++empty_deliveries;  // moved to the output queue by a flush, never filled
            }
            if (random() % 8 == 0) {
                // Deliberately slow now and then: a consumer holds on to its buffer for a while.
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            {
                std::lock_guard guard(ledger_lock);
                held.erase(buffer);
            }
            if (pool.queue_to_input(buffer) != GC_ERR_SUCCESS) {
                ++requeue_failures;
            }
        }
    };
    auto read_counters = [&] {
        while (!done) {
            const uint64_t sum = pool.delivered_count() + pool.output_discarded_count() + pool.queued_count() +
                                 pool.output_count() + acquisition->started_count() + ring_of(*acquisition).pending() +
                                 static_cast<uint64_t>(acquisition->status()) + u64_info(event, EVENT_NUM_FIRED) +
                                 size_info(event, EVENT_NUM_IN_QUEUE);
            counter_sum.store(sum, std::memory_order_relaxed);
            ++counter_reads;
            // The reader's pace: counters are read between the other threads' steps, not instead of them.
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    };

    std::vector<std::jthread> threads;
    for (int i = 0; i < consumers; ++i) {
        threads.emplace_back(consume, i);
    }
    threads.emplace_back(read_counters);

    const auto begin = std::chrono::steady_clock::now();
    const auto seconds = [&begin] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    };
    std::minstd_rand random(42);
    VnsimFrameStats stats{};
    uint64_t flushes[6] = {};
    for (;;) {
        ASSERT_EQ(vnsim_frame_stats(0, &stats), 0);
        const double elapsed = seconds();
        if ((stats.generated >= target_frames && elapsed >= minimum_seconds) || elapsed >= limit_seconds) {
            break;
        }
        // The checker's pace: the board and the consumers run on between two checks.
        std::this_thread::sleep_for(std::chrono::milliseconds(3));

        checker_waiting = true;
        std::unique_lock phase_guard(phase);
        checker_waiting = false;
        std::lock_guard guard(ledger_lock);
        // One of the five flushes, or (operation 5) only the check.
        const auto operation = random() % 6;
        ++flushes[operation];
        if (operation < 5) {
            (pool.*flush_operations[operation])();
        }
        if (operation == 1) {  // the buffers of the output queue come back to the consumer
            std::copy_if(buffers.begin(), buffers.end(), std::inserter(held, held.end()),
                         [](BufferHandle* buffer) { return buffer->state() == BufferState::Announced; });
        } else if (operation == 2 || operation == 3) {
            held.clear();
        } else if (operation == 4) {
            held.insert(buffers.begin(), buffers.end());
        }
        check_places(held);
        for (auto* buffer : held) {
            if (pool.queue_to_input(buffer) != GC_ERR_SUCCESS) {
                ++requeue_failures;
            }
        }
        held.clear();
    }
    done = true;
    threads.clear();
    const double elapsed = seconds();
    ASSERT_EQ(vnsim_frame_stats(0, &stats), 0);

    EXPECT_EQ(acquisition->stop(), VNAcquisition::Ready);
    check_places(held);
    EXPECT_EQ(pool.flush_all_discard(), GC_ERR_SUCCESS);
    for (auto* buffer : buffers) {
        EXPECT_EQ(pool.revoke_buffer(buffer, nullptr, nullptr), GC_ERR_SUCCESS);
    }
    EXPECT_EQ(acquisition->teardown(), VNAcquisition::NotConfigured);

    std::cout << "[ stress   ] " << stats.generated << " frames in " << elapsed << " s; " << filled_deliveries
              << " buffers filled and delivered, " << empty_deliveries << " delivered unfilled; " << checks
              << " checks; flushes 0-4: " << flushes[0] << " " << flushes[1] << " " << flushes[2] << " " << flushes[3]
              << " " << flushes[4] << "; " << counter_reads << " counter reads\n";
    // The frame target is a goal, not a speed test: a busy machine may not reach it within the time limit,
    // but the run must still have pushed a substantial number of frames through the engine.
    EXPECT_GE(stats.generated, std::min<uint64_t>(target_frames, 2000u)) << "the engine barely ran";
    EXPECT_EQ(misplaced, 0u);
    EXPECT_EQ(duplicates, 0u);
    EXPECT_EQ(delivered_while_held, 0u);
    EXPECT_EQ(bad_stamps, 0u);
    EXPECT_EQ(requeue_failures, 0u);
    EXPECT_EQ(unexpected_results, 0u);
    EXPECT_GT(checks, 100u);
    EXPECT_GT(filled_deliveries, 1000u);
}
