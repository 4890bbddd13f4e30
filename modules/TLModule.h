// The system (transport-layer) module, root of the module tree: one per loaded library, created by the
// library manager on first use. Its children are the interface modules, one per board of the manager's
// board table; its register space holds its info values and the features of its XML description.
//
// Thread safety: the port, its info values and the description's registers are set up on the first open,
// under `setup_lock_`, a leaf lock taken only there. Everything else is as BaseModule.
#pragma once

#include "modules/BaseModule.h"
#include "modules/RegisterMapPort.h"

#include <mutex>
#include <string>

namespace vngtl {

class TLModule : public BaseModule {
public:
    TLModule();
    ~TLModule() override;

    GenTL::GC_ERROR valid_child_ids(std::vector<std::string>& list_out) override;
    GenTL::GC_ERROR make_new_child(std::shared_ptr<BaseModule>& child_out, size_t index,
                                   const std::string& id) override;
    // Sets up the port and the description on the first open, then opens as every module does.
    GenTL::GC_ERROR open(int32_t flags) override;
    // The manager's pointer to the system module when this is it; empty otherwise.
    std::shared_ptr<BaseModule> shared_self() override;

    // The version text of TL_INFO_VERSION for a file version: each number in lower-case hex, dot-separated.
    static std::string version_text(uint32_t major, uint32_t minor, uint32_t subminor, uint32_t build);

private:
    // Places the "TLSystem" description at 0xA000 and adds its registers.
    void setup_xml_file();

    RegisterMapPort port_;
    std::mutex setup_lock_;
};

}  // namespace vngtl
