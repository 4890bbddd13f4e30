// The system (transport-layer) module, root of the module tree: one per loaded library, created by the
// library manager on first use and handed the board table then. Its children are the interface modules,
// one per board of that table; its register space holds its info values and the features of its XML
// description, and it hands the values every port shares (SystemValues) down to its children.
//
// Ownership: shares the board table with the manager; held by the manager through a shared pointer.
//
// Thread safety: the port, its info values and the description's registers are set up once, by prepare(),
// under `setup_lock_`, a leaf lock taken only there. The manager prepares the module before it hands it to
// anyone, so that no query (GCGetInfo runs without an open) reads the register map while it is being filled;
// open prepares it too, for a module built by other means. Everything else is as BaseModule.
#pragma once

#include "modules/BaseModule.h"
#include "modules/RegisterMapPort.h"
#include "modules/SystemValues.h"

#include <memory>
#include <mutex>
#include <string>

namespace VNBoards {
class BoardTable;
}

namespace vngtl {

class TLModule : public BaseModule, public std::enable_shared_from_this<TLModule> {
public:
    // Build it with make_shared: it hands itself to its children as their parent.
    explicit TLModule(std::shared_ptr<VNBoards::BoardTable> boards);
    ~TLModule() override;

    uint32_t handle_kind() const noexcept override;

    GenTL::GC_ERROR valid_child_ids(std::vector<std::string>& list_out) override;
    GenTL::GC_ERROR make_new_child(std::shared_ptr<BaseModule>& child_out, size_t index,
                                   const std::string& id) override;
    // Sets up the port, its info values and the description, once; later calls do nothing.
    void prepare();
    // Prepares the module, then opens as every module does.
    GenTL::GC_ERROR open(int32_t flags) override;
    // The shared pointer that owns this module; empty when none does.
    std::shared_ptr<BaseModule> shared_self() override;
    // This module's values that the ports below it share.
    SystemValues system_values() const;

    // The version text of TL_INFO_VERSION for a file version: each number in lower-case hex, dot-separated.
    static std::string version_text(uint32_t major, uint32_t minor, uint32_t subminor, uint32_t build);

private:
    // Places the "TLSystem" description and adds its registers (the register table).
    void setup_xml_file();
    // The computed registers of the description, by their info command.
    GenTL::GC_ERROR pre_read(int32_t command, RegisterMap::Entry& entry, uint8_t* data);

    const std::shared_ptr<VNBoards::BoardTable> boards_;
    RegisterMapPort port_;
    std::mutex setup_lock_;
};

}  // namespace vngtl
