// Small library objects for tests of the module tree and the exported call frame: a module whose children,
// generator, clock and failures the test controls, a port over a register map, and an event that records
// what it was asked.
#pragma once

#include "GenTLFixture.h"

#include "modules/BaseEvent.h"
#include "core/ErrorReport.h"
#include "modules/BaseModule.h"
#include "core/BasePort.h"
#include "core/RegisterMap.h"
#include "core/RegisterMapHelpers.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A fixture with the library initialised, so that records are stored for last_error().
class InitialisedTest : public GenTLTest {
protected:
    void SetUp() override
    {
        GenTLTest::SetUp();
        ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    }
};

// Whether `record` is the one-line record of `code_name` written in `file` by `function` with `message`.
inline ::testing::AssertionResult is_record(const std::string& record, const std::string& code_name,
                                            const std::string& file, const std::string& function,
                                            const std::string& message)
{
    const std::string head = code_name + " @ " + file + "[";
    const std::string tail = "], " + function + ": " + message + "\n";
    if (record.size() >= head.size() + tail.size() && record.starts_with(head) && record.ends_with(tail)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "record: " << record << "expected: " << head << "<line>" << tail;
}

// A port over its own register map; counts its accesses.
class TestPort : public vngtl::BasePort {
public:
    vngtl::RegisterMap map;
    std::atomic<int> accesses{0};

    GC_ERROR read(uint64_t address, void* buffer, size_t* size) override
    {
        ++accesses;
        return map.read(address, buffer, *size);
    }
    GC_ERROR write(uint64_t address, const void* buffer, size_t* size) override
    {
        ++accesses;
        return map.write(address, buffer, *size);
    }
    // No test reads this port's URLs.
    GC_ERROR num_urls(uint32_t*) override { return GC_ERR_NOT_IMPLEMENTED; }
    GC_ERROR url_info(uint32_t, URL_INFO_CMD, INFO_DATATYPE*, void*, size_t*) override
    {
        return GC_ERR_NOT_IMPLEMENTED;
    }
};

// An event that remembers its last request.
class TestEvent : public vngtl::BaseEvent {
public:
    uint64_t last_timeout = 0;
    int flushes = 0;
    bool last_kill_immediate = false;

    GC_ERROR data(void* buffer, size_t* size, uint64_t timeout_ms) override
    {
        last_timeout = timeout_ms;
        INFO_DATATYPE type = 0;
        return copy_info_string("event", &type, buffer, size);
    }
    GC_ERROR data_info(const void*, size_t in_size, int32_t, INFO_DATATYPE* type, void* buffer, size_t* size) override
    {
        return copy_info_int32(static_cast<int32_t>(in_size), type, buffer, size);
    }
    GC_ERROR flush() override
    {
        ++flushes;
        return GC_ERR_SUCCESS;
    }
    GC_ERROR kill(bool immediate) override
    {
        last_kill_immediate = immediate;
        return GC_ERR_ABORT;
    }
    // Answers every command with its own number.
    GC_ERROR info(int32_t command, INFO_DATATYPE* type, void* buffer, size_t* size) override
    {
        return copy_info_int32(command, type, buffer, size);
    }
};

// A module whose wanted children, generator failures, clock and thrown exceptions the test sets. Its
// children are TestModules too. Settings are guarded so that tests may change them while other threads
// update the module.
class TestModule : public vngtl::BaseModule {
public:
    TestModule(std::string id, std::weak_ptr<BaseModule> parent, vngtl::BasePort* port = nullptr)
        : BaseModule(std::move(id), std::move(parent), port)
    {
    }

    // As every module does: no call finds it through its handle once its destruction has begun.
    ~TestModule() override { retire_handle(); }

    // A root module (no parent) that can still hand out shared pointers to itself.
    static std::shared_ptr<TestModule> make_root(std::string id, vngtl::BasePort* port = nullptr)
    {
        auto root = std::make_shared<TestModule>(std::move(id), std::weak_ptr<BaseModule>{}, port);
        root->self_ = root;
        return root;
    }

    void want(std::vector<std::string> ids)
    {
        std::lock_guard guard(lock_);
        wanted_ = std::move(ids);
    }
    // The generator fails for this ID with GC_ERR_IO (empty: never).
    void fail_generating(std::string id)
    {
        std::lock_guard guard(lock_);
        failing_id_ = std::move(id);
    }
    // The generator names the child `actual` when asked for `asked`.
    void rename_generated(std::string asked, std::string actual)
    {
        std::lock_guard guard(lock_);
        renamed_from_ = std::move(asked);
        renamed_to_ = std::move(actual);
    }
    // The clock reads 0 for this many reads, then far beyond any deadline (negative: the real clock).
    void expire_clock_after(int reads) { clock_reads_left_ = reads; }
    // Sets the open flag without running open or close.
    void force_open_state(bool open) { set_open(open); }
    // close() throws what `thrower` throws.
    std::function<void()> thrower;
    // The kind its handle is entered with (set before it is first handed out): a root stands for an
    // interface, its children for devices, theirs for data streams.
    uint32_t kind = vngtl::kind_interface;
    uint32_t handle_kind() const noexcept override { return kind; }

    GC_ERROR valid_child_ids(std::vector<std::string>& list) override
    {
        std::lock_guard guard(lock_);
        list = wanted_;
        return GC_ERR_SUCCESS;
    }
    GC_ERROR make_new_child(std::shared_ptr<BaseModule>& child, size_t, const std::string& id) override
    {
        std::string name = id;
        {
            std::lock_guard guard(lock_);
            if (id == failing_id_) {
                return vngtl::report_error("TestModule::make_new_child", GC_ERR_IO, "Generator failed.");
            }
            if (id == renamed_from_) {
                name = renamed_to_;
            }
        }
        auto made = std::make_shared<TestModule>(name, shared_self());
        made->kind = kind == vngtl::kind_interface ? vngtl::kind_device
                     : kind == vngtl::kind_device  ? vngtl::kind_stream
                                                   : kind;
        child = std::move(made);
        return GC_ERR_SUCCESS;
    }
    GC_ERROR close() override
    {
        if (thrower) {
            thrower();
        }
        return BaseModule::close();
    }
    std::shared_ptr<BaseModule> shared_self() override
    {
        if (auto self = self_.lock()) {
            return self;
        }
        return BaseModule::shared_self();
    }

protected:
    uint64_t monotonic_ns() const override
    {
        const int left = clock_reads_left_.load();
        if (left < 0) {
            return BaseModule::monotonic_ns();
        }
        if (left == 0) {
            return uint64_t{1} << 62;
        }
        --clock_reads_left_;
        return 0;
    }

private:
    std::mutex lock_;
    std::vector<std::string> wanted_;
    std::string failing_id_;
    std::string renamed_from_;
    std::string renamed_to_;
    mutable std::atomic<int> clock_reads_left_{-1};
    std::weak_ptr<BaseModule> self_;
};
