// The live-handle table on its own, for what no export can show deterministically: the end of a handle waits
// for the calls of other threads that found it, and a slot another thread still pins is not handed out again. (Which values are live, kinds, stale and foreign handles, and that slots
// are reused so that the table stays bounded: through the exports in HandleValidationTest.)
#include "core/HandleRegistry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <exception>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

using vngtl::HandleRegistry;

namespace {

int object_a = 0;
int object_b = 0;

}  // namespace

TEST(HandleRegistryTest, DrainWaitsForAnotherThreadsPin)
{
    HandleRegistry& registry = HandleRegistry::instance();
    // (The caller's own pin does not hold its drain up: every DSRevokeBuffer, DevClose and GCUnregisterEvent
    // ends the handle it was given, in HandleValidationTest.)
    const uintptr_t token = registry.enter(&object_b, vngtl::kind_buffer);
    std::promise<void> pinned_elsewhere;
    std::promise<void> release;
    std::thread user([&] {
        HandleRegistry::Pinned pinned;
        ASSERT_EQ(registry.pin(token, vngtl::kind_buffer, pinned), HandleRegistry::PinResult::pinned);
        pinned_elsewhere.set_value();
        release.get_future().wait();
        registry.unpin(pinned.slot);
    });
    pinned_elsewhere.get_future().wait();
    ASSERT_TRUE(registry.revoke(token));
    auto drained = std::async(std::launch::async, [&] { registry.drain(token); });
    // The other thread still holds its pin: the drain cannot have finished.
    EXPECT_EQ(drained.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    release.set_value();
    drained.get();
    user.join();
}

TEST(HandleRegistryTest, ARevokedSlotIsNotReusedWhileAnotherThreadStillPinsIt)
{
    HandleRegistry& registry = HandleRegistry::instance();
    // A slot whose revoked token another thread still has pinned is not given to a new token. The slots
    // earlier tests freed are taken first, so that the pinned one is the only free slot.
    std::vector<uintptr_t> taken;
    for (const size_t before = registry.slot_count(); registry.slot_count() == before;) {
        taken.push_back(registry.enter(&object_b, vngtl::kind_event));
    }
    const uintptr_t held = registry.enter(&object_a, vngtl::kind_buffer);
    std::promise<uint32_t> pinned_elsewhere;
    std::promise<void> release;
    std::thread user([&] {
        HandleRegistry::Pinned pinned;
        if (registry.pin(held, vngtl::kind_buffer, pinned) != HandleRegistry::PinResult::pinned) {
            pinned_elsewhere.set_exception(std::make_exception_ptr(std::runtime_error("pin failed")));
            return;
        }
        pinned_elsewhere.set_value(pinned.slot);
        release.get_future().wait();
        registry.unpin(pinned.slot);
    });
    const uint32_t held_slot = pinned_elsewhere.get_future().get();
    ASSERT_TRUE(registry.revoke(held));
    const uintptr_t while_pinned = registry.enter(&object_b, vngtl::kind_buffer);
    HandleRegistry::Pinned fresh;
    ASSERT_EQ(registry.pin(while_pinned, vngtl::kind_buffer, fresh), HandleRegistry::PinResult::pinned);
    registry.unpin(fresh.slot);
    EXPECT_NE(fresh.slot, held_slot) << "the pinned slot was handed out again";
    EXPECT_EQ(registry.object(held), nullptr);
    release.set_value();
    user.join();
    ASSERT_TRUE(registry.revoke(while_pinned));
    for (const uintptr_t token : taken) {
        registry.revoke(token);
    }
}
