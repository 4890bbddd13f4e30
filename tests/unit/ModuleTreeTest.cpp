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

    std::shared_ptr<TestModule> child(const std::string& id) const
    {
        return std::static_pointer_cast<TestModule>(root->find_child(id));
    }
};

TEST_F(ModuleTreeTest, OpenAndCloseAreRefusedTwiceAndAnOpenModuleAnswersInfoButNotUnknownEvents)
{
    root->add_info_string(0, "root info");
    EXPECT_EQ(root->open(0), GC_ERR_SUCCESS);
    EXPECT_TRUE(root->is_open());
    EXPECT_EQ(root->open(0), GC_ERR_RESOURCE_IN_USE);
    EXPECT_TRUE(recorded("GC_ERR_RESOURCE_IN_USE", "BaseModule::open", "The \"root\" module has already been opened."));

    INFO_DATATYPE type = 0;
    size_t size = 0;
    EXPECT_EQ(root->info(0, &type, nullptr, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(root->register_event(EVENT_NEW_BUFFER, nullptr), GC_ERR_NOT_IMPLEMENTED);
    EXPECT_TRUE(recorded("GC_ERR_NOT_IMPLEMENTED", "BaseModule::register_event",
                         "This module does not implement the given event type (ID 1)."));
    EXPECT_EQ(root->unregister_event(1000), GC_ERR_NOT_IMPLEMENTED);
    EXPECT_TRUE(recorded("GC_ERR_NOT_IMPLEMENTED", "BaseModule::unregister_event",
                         "This module does not implement the given event type (ID 1000)."));

    EXPECT_EQ(root->close(), GC_ERR_SUCCESS);
    EXPECT_FALSE(root->is_open());
    EXPECT_EQ(root->close(), GC_ERR_INVALID_HANDLE);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_HANDLE", "BaseModule::close",
                         "The \"root\" module exists, but is not open, so it cannot be closed."));
}

TEST_F(ModuleTreeTest, OpeningListsTheWantedChildrenInOrder)
{
    root->want({"b", "", "a"});  // empty IDs are skipped
    ASSERT_EQ(root->open(0), GC_ERR_SUCCESS);
    EXPECT_EQ(listed_ids(), (std::vector<std::string>{"b", "a"}));
    uint32_t count = 0;
    EXPECT_EQ(root->num_children(&count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(root->num_children(nullptr), GC_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_PARAMETER", "BaseModule::num_children", "The return variable is a null pointer."));
    // Children start closed and know their parent.
    EXPECT_FALSE(child("a")->is_open());
    EXPECT_EQ(child("a")->shared_self(), root->find_child("a"));
    EXPECT_EQ(root->shared_self(), root);
}

TEST_F(ModuleTreeTest, ChildIdsByIndexWithTheStringProtocol)
{
    root->want({"first", "second"});
    ASSERT_EQ(root->open(0), GC_ERR_SUCCESS);
    size_t size = 0;
    EXPECT_EQ(root->get_child_id(1, nullptr, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 7u);
    std::array<char, 8> text;
    text.fill('x');
    size = 6;
    EXPECT_EQ(root->get_child_id(1, text.data(), &size), GC_ERR_BUFFER_TOO_SMALL);
    EXPECT_TRUE(recorded("GC_ERR_BUFFER_TOO_SMALL", "BaseModule::get_child_id",
                         "Encountered a problem copying data to the output buffer."));
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(root->get_child_id(1, text.data(), &size), GC_ERR_SUCCESS);
    EXPECT_STREQ(text.data(), "second");
    EXPECT_EQ(root->get_child_id(0, text.data(), nullptr), GC_ERR_INVALID_PARAMETER);

    EXPECT_EQ(root->get_child_id(3, text.data(), &size), GC_ERR_INVALID_INDEX);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_INDEX", "BaseModule::get_child_id", "The module has only 2 items. 3 is out of range."));
}

TEST_F(ModuleTreeTest, AClosedModuleRefusesQueriesAndChildOperations)
{
    root->want({"a"});
    ASSERT_EQ(root->open(0), GC_ERR_SUCCESS);
    ASSERT_EQ(root->close(), GC_ERR_SUCCESS);
    const std::string not_open = "Module \"root\" exists, but is not open.";
    uint32_t count = 0;
    size_t size = 0;
    std::shared_ptr<BaseModule> found;
    INFO_DATATYPE type = 0;
    EXPECT_EQ(root->num_children(&count), GC_ERR_INVALID_HANDLE);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_HANDLE", "BaseModule::num_children", not_open));
    EXPECT_EQ(root->get_child_id(0, nullptr, &size), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(root->get_child("a", &found), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(root->open_child("a", &found, 0), GC_ERR_INVALID_HANDLE);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_HANDLE", "BaseModule::open_child", not_open));
    EXPECT_EQ(root->info(0, &type, nullptr, &size), GC_ERR_INVALID_HANDLE);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_HANDLE", "BaseModule::info", not_open));
    EXPECT_EQ(root->register_event(EVENT_NEW_BUFFER, nullptr), GC_ERR_INVALID_HANDLE);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_HANDLE", "BaseModule::register_event", not_open));
    EXPECT_EQ(root->update_children(nullptr, BaseModule::infinite), GC_ERR_INVALID_HANDLE);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_HANDLE", "BaseModule::update_children",
                         "The children of module \"root\" cannot be updated, because the module is not open."));
    EXPECT_EQ(found, nullptr);
    // The children stay listed, closed.
    EXPECT_NE(root->find_child("a"), nullptr);
}

TEST_F(ModuleTreeTest, GetAndOpenChildren)
{
    root->want({"a", "b"});
    ASSERT_EQ(root->open(0), GC_ERR_SUCCESS);
    std::shared_ptr<BaseModule> found;
    EXPECT_EQ(root->get_child(nullptr, &found), GC_ERR_INVALID_ID);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_ID", "BaseModule::get_child", "The child ID string is invalid (null)."));
    EXPECT_EQ(root->get_child("a", nullptr), GC_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_PARAMETER", "BaseModule::get_child", "The module return handle pointer is null."));
    EXPECT_EQ(root->get_child("zz", &found), GC_ERR_INVALID_ID);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_ID", "BaseModule::get_child", "No child exists with the given ID (zz)."));
    EXPECT_EQ(root->get_child("b", &found), GC_ERR_SUCCESS);
    EXPECT_EQ(found, root->find_child("b"));
    EXPECT_FALSE(found->is_open());

    found = nullptr;
    EXPECT_EQ(root->open_child("a", &found, 0), GC_ERR_SUCCESS);
    EXPECT_EQ(found, root->find_child("a"));
    EXPECT_TRUE(found->is_open());
    // A failing open is passed on and leaves the output alone.
    std::shared_ptr<BaseModule> again;
    EXPECT_EQ(root->open_child("a", &again, 0), GC_ERR_RESOURCE_IN_USE);
    EXPECT_EQ(again, nullptr);

    // Closing the parent closes the open children; they stay listed.
    EXPECT_EQ(root->close(), GC_ERR_SUCCESS);
    EXPECT_FALSE(found->is_open());
    EXPECT_EQ(child("a")->closes.load(), 1);
    EXPECT_EQ(child("b")->closes.load(), 0);
}

TEST_F(ModuleTreeTest, ParentsAreReturnedOnlyWhenOpen)
{
    root->want({"a"});
    ASSERT_EQ(root->open(0), GC_ERR_SUCCESS);
    std::shared_ptr<BaseModule> parent;
    EXPECT_EQ(root->get_parent(&parent), GC_ERR_INVALID_HANDLE);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_HANDLE", "BaseModule::get_parent",
                         "Unable to retrieve the parent of module \"root\". Are trying to retrieve the parent of a "
                         "top-level module?"));
    std::shared_ptr<BaseModule> a;
    ASSERT_EQ(root->open_child("a", &a, 0), GC_ERR_SUCCESS);
    EXPECT_EQ(a->get_parent(nullptr), GC_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_PARAMETER", "BaseModule::get_parent",
                         "The parent module handle pointer is invalid (null)."));
    EXPECT_EQ(a->get_parent(&parent), GC_ERR_SUCCESS);
    EXPECT_EQ(parent.get(), root.get());

    // A child kept open while its parent is closed (the parent's close was bypassed).
    root->force_open_state(false);
    parent = nullptr;
    EXPECT_EQ(a->get_parent(&parent), GC_ERR_INVALID_HANDLE);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_HANDLE", "BaseModule::get_parent",
                         "Module \"root\", parent of \"a\", exists, but is not open, so we cannot retrieve it. This is "
                         "most likely a bug."));
    EXPECT_EQ(parent, nullptr);
}

TEST_F(ModuleTreeTest, UpdateRemovesVanishedChildrenAfterClosingThem)
{
    root->want({"a", "b"});
    ASSERT_EQ(root->open(0), GC_ERR_SUCCESS);
    std::shared_ptr<BaseModule> opened;
    ASSERT_EQ(root->open_child("a", &opened, 0), GC_ERR_SUCCESS);
    const auto a = child("a");

    bool8_t changed = true;
    EXPECT_EQ(root->update_children(&changed, BaseModule::infinite), GC_ERR_SUCCESS);
    EXPECT_FALSE(changed);  // nothing to do

    root->want({"b", "c"});
    EXPECT_EQ(root->update_children(&changed, BaseModule::infinite), GC_ERR_SUCCESS);
    EXPECT_TRUE(changed);
    EXPECT_EQ(listed_ids(), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(a->closes.load(), 1);
    EXPECT_FALSE(a->is_open());
    EXPECT_EQ(root->find_child("a"), nullptr);
    EXPECT_EQ(a->shared_self(), nullptr);  // no longer listed by its parent

    root->want({});
    EXPECT_EQ(root->update_children(nullptr, BaseModule::infinite), GC_ERR_SUCCESS);
    EXPECT_TRUE(listed_ids().empty());
}

TEST_F(ModuleTreeTest, AGeneratorFailingHalfWayKeepsWhatWasMadeAndALaterUpdateCompletes)
{
    root->want({"a", "b", "c"});
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
}

TEST_F(ModuleTreeTest, AChildThatCannotBeListedIsRecordedAndTheUpdateGoesOn)
{
    root->want({"a"});
    ASSERT_EQ(root->open(0), GC_ERR_SUCCESS);
    root->want({"a", "x", "y"});
    root->rename_generated("x", "a");  // the generator names "x" like the existing "a"
    bool8_t changed = false;
    EXPECT_EQ(root->update_children(&changed, BaseModule::infinite), GC_ERR_SUCCESS);
    EXPECT_TRUE(changed);
    EXPECT_EQ(listed_ids(), (std::vector<std::string>{"a", "y"}));
    EXPECT_FALSE(root->add_child(root->find_child("a")));
}

TEST_F(ModuleTreeTest, ModulesWithoutAGeneratorCannotMakeChildren)
{
    auto plain = std::make_shared<BaseModule>("plain", std::weak_ptr<BaseModule>{}, nullptr);
    std::shared_ptr<BaseModule> made;
    EXPECT_EQ(plain->make_new_child(made, 0, "x"), GC_ERR_NOT_AVAILABLE);
    EXPECT_TRUE(recorded("GC_ERR_NOT_AVAILABLE", "BaseModule::make_new_child",
                         "The module has not implemented a valid child generator method."));
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(plain->open(0), GC_ERR_SUCCESS);  // no children wanted, nothing to generate
    EXPECT_EQ(plain->get_port(), nullptr);
    EXPECT_EQ(plain->shared_self(), nullptr);
    EXPECT_FALSE(plain->remove_child("x"));
    EXPECT_EQ(plain->child_at(0), nullptr);
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
