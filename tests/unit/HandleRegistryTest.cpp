// The live-handle table on its own: which values it takes as live, kinds, and that the end of a handle waits
// for the calls of other threads that found it, but not for the ending thread's own.
#include "core/HandleRegistry.h"

#include <gtest/gtest.h>

#include <array>
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

TEST(HandleRegistryTest, OnlyTheTokensEnteredAreLiveAndOnlyForTheirKind)
{
    HandleRegistry& registry = HandleRegistry::instance();
    const uintptr_t a = registry.enter(&object_a, vngtl::kind_stream);
    const uintptr_t b = registry.enter(&object_b, vngtl::kind_buffer);
    EXPECT_NE(a, b);
    EXPECT_EQ(a & 1u, 1u);  // never an object's address
    EXPECT_TRUE(registry.is_live(a));
    EXPECT_EQ(registry.object(a), &object_a);
    EXPECT_EQ(registry.object(b), &object_b);

    HandleRegistry::Pinned pinned;
    EXPECT_EQ(registry.pin(a, vngtl::kind_buffer, pinned), HandleRegistry::PinResult::wrong_kind);
    ASSERT_EQ(registry.pin(a, vngtl::kind_ports, pinned), HandleRegistry::PinResult::pinned);
    EXPECT_EQ(pinned.object, &object_a);
    EXPECT_EQ(pinned.kind, static_cast<uint32_t>(vngtl::kind_stream));
    registry.unpin(pinned.slot);

    for (const uintptr_t foreign : {uintptr_t{0}, uintptr_t{1}, uintptr_t{0xdeadbeef}, a + 2, a ^ (uintptr_t{1} << 40),
                                    reinterpret_cast<uintptr_t>(&object_a), ~uintptr_t{0}}) {
        EXPECT_FALSE(registry.is_live(foreign)) << std::hex << foreign;
        EXPECT_EQ(registry.pin(foreign, vngtl::kind_ports | vngtl::kind_event, pinned),
                  HandleRegistry::PinResult::not_live)
            << std::hex << foreign;
        EXPECT_EQ(registry.object(foreign), nullptr);
    }

    EXPECT_TRUE(registry.revoke(a));
    EXPECT_FALSE(registry.revoke(a));
    EXPECT_FALSE(registry.is_live(a));
    EXPECT_EQ(registry.pin(a, vngtl::kind_stream, pinned), HandleRegistry::PinResult::not_live);
    // The slot is used again, under another token: the old one stays dead.
    const uintptr_t c = registry.enter(&object_a, vngtl::kind_stream);
    EXPECT_NE(c, a);
    EXPECT_FALSE(registry.is_live(a));
    EXPECT_TRUE(registry.is_live(c));
    // Revoking all ends every live token.
    registry.revoke_all();
    EXPECT_FALSE(registry.is_live(b));
    EXPECT_FALSE(registry.is_live(c));
}

TEST(HandleRegistryTest, DrainWaitsForAnotherThreadsPinButNotForTheCallersOwn)
{
    HandleRegistry& registry = HandleRegistry::instance();
    // The caller's own pin does not hold its drain up (a call that revokes the handle it was given).
    const uintptr_t mine = registry.enter(&object_a, vngtl::kind_buffer);
    HandleRegistry::Pinned own;
    ASSERT_EQ(registry.pin(mine, vngtl::kind_buffer, own), HandleRegistry::PinResult::pinned);
    ASSERT_TRUE(registry.revoke(mine));
    registry.drain(mine);
    registry.unpin(own.slot);

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

TEST(HandleRegistryTest, RevokedSlotsAreReusedOnceNoPinIsLeftSoTheTableStaysBounded)
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

    // Entering and revoking a few handles at a time, as every open and close does, uses the same slots
    // over and over: ten thousand rounds leave the table as large as the first round made it.
    const auto round = [&registry] {
        std::array<uintptr_t, 3> tokens{};
        for (uintptr_t& token : tokens) {
            token = registry.enter(&object_a, vngtl::kind_stream);
        }
        for (const uintptr_t token : tokens) {
            registry.revoke(token);
            registry.drain(token);
        }
    };
    round();
    const size_t after_first = registry.slot_count();
    const size_t live = registry.live_count();
    for (int i = 0; i < 10000; ++i) {
        round();
    }
    EXPECT_EQ(registry.slot_count(), after_first);
    EXPECT_EQ(registry.live_count(), live);
}
