// The module tree on its own, for what the exports cannot set up: the children a generator makes, updates
// that drop or fail, the time-out checks and concurrent updates. What the tree refuses and records through the
// exported functions: CallFrameTest (ModuleFrameTest) and SystemModuleTest.
#include "FrameTestObjects.h"

#include <array>
#include <thread>

namespace {

using vngtl::BaseModule;

class ModuleTreeTest : public InitialisedTest {
protected:
    std::shared_ptr<TestModule> root = TestModule::make_root("root");

    static ::testing::AssertionResult recorded(const std::string& code, const std::string& function,
                                               const std::string& message)
    {
        return is_record(last_error(), code, "BaseModule.cpp", function, message);
    }

    std::vector<std::string> listed_ids() const
    {
        std::vector<std::string> ids;
        for (size_t index = 0;; ++index) {
            const auto child = root->child_at(index);
            if (!child) {
                return ids;
            }
            ids.push_back(child->id());
        }
    }
};

TEST_F(ModuleTreeTest, AChildOpenUnderAClosedParentCannotReturnItAndModulesWithoutAGeneratorMakeNoChildren)
{
    // A state no export reaches (closing a parent closes its children): the parent's close was bypassed.
    // (A top-level module: ModuleFrameTest through IFGetParentTL; the open parent: ConsumerFirstStepsTest through
    // DevGetParentIF.)
    root->want({"a"});
    ASSERT_EQ(root->open(0), GC_ERR_SUCCESS);
    std::shared_ptr<BaseModule> a;
    ASSERT_EQ(root->open_child("a", &a, 0), GC_ERR_SUCCESS);
    root->force_open_state(false);
    std::shared_ptr<BaseModule> parent;
    EXPECT_EQ(a->get_parent(&parent), GC_ERR_INVALID_HANDLE);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_HANDLE", "BaseModule::get_parent",
                         "Module \"root\", parent of \"a\", exists, but is not open, so we cannot retrieve it. This is "
                         "most likely a bug."));
    EXPECT_EQ(parent, nullptr);

    // Another state no export reaches: a module without a generator makes no children.
    auto plain = std::make_shared<BaseModule>("plain", std::weak_ptr<BaseModule>{}, nullptr);
    std::shared_ptr<BaseModule> made;
    EXPECT_EQ(plain->make_new_child(made, 0, "x"), GC_ERR_NOT_AVAILABLE);
    EXPECT_TRUE(recorded("GC_ERR_NOT_AVAILABLE", "BaseModule::make_new_child",
                         "The module has not implemented a valid child generator method."));
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(plain->open(0), GC_ERR_SUCCESS);  // no children wanted, nothing to generate
    EXPECT_EQ(plain->child_at(0), nullptr);
}

TEST_F(ModuleTreeTest, AGeneratorFailingHalfWayKeepsWhatWasMadeALaterUpdateCompletesAndUnlistableChildrenAreLeftOut)
{
    root->want({"a", "", "b", "c"});  // empty IDs are skipped
    root->fail_generating("b");
    bool8_t changed = false;
    ASSERT_EQ(root->open(0), GC_ERR_SUCCESS);  // open ignores the update's failure
    EXPECT_EQ(listed_ids(), (std::vector<std::string>{"a"}));

    EXPECT_EQ(root->update_children(&changed, BaseModule::infinite), GC_ERR_IO);
    EXPECT_TRUE(is_record(last_error(), "GC_ERR_IO", "FrameTestObjects.h", "TestModule::make_new_child", "Generator failed."));
    EXPECT_FALSE(changed);

    root->fail_generating("");
    EXPECT_EQ(root->update_children(&changed, BaseModule::infinite), GC_ERR_SUCCESS);
    EXPECT_TRUE(changed);
    EXPECT_EQ(listed_ids(), (std::vector<std::string>{"a", "b", "c"}));

    // A child that cannot be listed is left out and the update goes on.
    root->want({"a", "x", "y"});
    root->rename_generated("x", "a");  // the generator names "x" like the existing "a"
    changed = false;
    EXPECT_EQ(root->update_children(&changed, BaseModule::infinite), GC_ERR_SUCCESS);
    EXPECT_TRUE(changed);
    EXPECT_EQ(listed_ids(), (std::vector<std::string>{"a", "y"}));
    EXPECT_FALSE(root->add_child(root->find_child("a")));
}

TEST_F(ModuleTreeTest, EachTimeOutCheckStopsTheUpdateWithItsMessage)
{
    // A time-out of zero fails at the first check, on the real clock.
    root->want({"a"});
    ASSERT_EQ(root->open(0), GC_ERR_SUCCESS);
    root->want({"b"});
    bool8_t changed = true;
    EXPECT_EQ(root->update_children(&changed, 0), GC_ERR_TIMEOUT);
    EXPECT_TRUE(recorded("GC_ERR_TIMEOUT", "BaseModule::update_children", "Timed out waiting for access to the CTI manager."));
    EXPECT_FALSE(changed);
    EXPECT_EQ(listed_ids(), (std::vector<std::string>{"a"}));

    // The clock is read once for the deadline, then once per check; it runs out after `reads` reads.
    struct Case {
        int reads;
        const char* message;
        std::vector<std::string> listed_after;
    };
    const std::vector<Case> cases = {
        {1, "Timed out waiting for access to the CTI manager.", {"a"}},
        {2, "Timed out retrieving the extant child list.", {"a"}},
        {3, "Timed out while generating a list of new children.", {"a"}},
        {4, "Timed out while coalescing the lists of new and extant children.", {"a"}},
        {5, "Timed out while coalescing the lists of new and extant children.", {}},  // after the removals
        {6, "Timed out after generating a new interface with ID \"b\".", {"b"}},
    };
    for (const Case& c : cases) {
        root = TestModule::make_root("root");
        root->want({"a"});
        ASSERT_EQ(root->open(0), GC_ERR_SUCCESS);
        root->want({"b", "c"});
        root->expire_clock_after(c.reads);
        EXPECT_EQ(root->update_children(nullptr, 10), GC_ERR_TIMEOUT) << c.message;
        EXPECT_TRUE(recorded("GC_ERR_TIMEOUT", "BaseModule::update_children", c.message));
        EXPECT_EQ(listed_ids(), c.listed_after) << c.message;
    }
    // Without a limit the clock is never consulted after the start.
    root->expire_clock_after(1);
    EXPECT_EQ(root->update_children(nullptr, BaseModule::infinite), GC_ERR_SUCCESS);
    EXPECT_EQ(listed_ids(), (std::vector<std::string>{"b", "c"}));
}

TEST_F(ModuleTreeTest, ConcurrentUpdatesAndQueriesKeepTheListsConsistent)
{
    root->want({"a", "b"});
    ASSERT_EQ(root->open(0), GC_ERR_SUCCESS);
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                root->want(i % 2 == 0 ? std::vector<std::string>{"a", "c"} : std::vector<std::string>{"b"});
                root->update_children(nullptr, BaseModule::infinite);
                uint32_t count = 0;
                EXPECT_EQ(root->num_children(&count), GC_ERR_SUCCESS) << t;
                EXPECT_LE(count, 3u);
                std::array<char, 8> id{};
                size_t size = id.size();
                root->get_child_id(0, id.data(), &size);
                root->close_children();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    root->want({"z"});
    EXPECT_EQ(root->update_children(nullptr, BaseModule::infinite), GC_ERR_SUCCESS);
    EXPECT_EQ(listed_ids(), (std::vector<std::string>{"z"}));
}

}  // namespace
