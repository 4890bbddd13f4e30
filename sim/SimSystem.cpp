#include "SimSystem.h"

#include "SdkCodes.h"
#include "SimConfig.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace vnsim {

namespace {

// Handle values are never reused within a process, so a stale handle is never taken for a new one.
constexpr uintptr_t handle_base = 0x564E0000;
constexpr uintptr_t handle_step = 0x10;

}  // namespace

SimSystem& SimSystem::instance()
{
    static SimSystem* const system = new SimSystem;
    return *system;
}

SimSystem::SimSystem()
{
    nlohmann::json document = SimConfig::default_document();
    const char* path = std::getenv("VNSIM_CONFIG");
    if (path != nullptr && *path != '\0') {
        try {
            std::ifstream in(path);
            if (!in) {
                throw std::runtime_error(std::string("cannot read the configuration file \"") + path + "\"");
            }
            document = nlohmann::json::parse(in);
            SimConfig::parse(document);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "vnsim: %s; using the built-in default configuration\n", e.what());
            last_error_ = std::string("VNSIM_CONFIG: ") + e.what();
            document = SimConfig::default_document();
        }
    }
    // VNSIM_IMAGES: a folder of images that every board's camera plays, unless its configuration names one.
    const char* images = std::getenv("VNSIM_IMAGES");
    if (images != nullptr && *images != '\0' && document.contains("boards") && document.at("boards").is_array()) {
        nlohmann::json with_images = document;
        for (auto& board : with_images.at("boards")) {
            if (board.is_object() && !(board.contains("frame_source") && board.at("frame_source").contains("images"))) {
                board["frame_source"]["images"] = images;
            }
        }
        try {
            configure(with_images);
            return;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "vnsim: VNSIM_IMAGES: %s; the cameras show their test pattern\n", e.what());
            last_error_ = std::string("VNSIM_IMAGES: ") + e.what();
        }
    }
    configure(document);
}

void SimSystem::configure(const nlohmann::json& document)
{
    SystemConfig config = SimConfig::parse(document);
    std::vector<std::shared_ptr<SimBoard>> boards;
    for (size_t i = 0; i < config.boards.size(); ++i) {
        boards.push_back(std::make_shared<SimBoard>(static_cast<uint32_t>(i), std::move(config.boards[i])));
    }
    {
        std::lock_guard guard(lock_);
        boards_.swap(boards);
        handles_.clear();
        serials_.clear();
        enumeration_fails_ = config.enumeration_fails;
    }
    for (const auto& old : boards) {
        old->shutdown();
    }
}

void SimSystem::reset_to_default()
{
    configure(SimConfig::default_document());
}

void SimSystem::set_last_error(std::string text)
{
    std::lock_guard guard(lock_);
    last_error_ = std::move(text);
}

const char* SimSystem::last_error() const
{
    std::lock_guard guard(lock_);
    return last_error_.c_str();
}

int32_t SimSystem::enumerate_boards(uint32_t* count) const
{
    if (count == nullptr) {
        return code::vb_bad_argument;
    }
    std::lock_guard guard(lock_);
    if (enumeration_fails_) {
        return code::vb_no_board;
    }
    uint32_t present = 0;
    for (const auto& board : boards_) {
        present += board->present() ? 1 : 0;
    }
    *count = present;
    return 0;
}

void SimSystem::set_enumeration_fails(bool fails)
{
    std::lock_guard guard(lock_);
    enumeration_fails_ = fails;
}

std::shared_ptr<SimBoard> SimSystem::board(int index) const
{
    std::lock_guard guard(lock_);
    if (index < 0 || static_cast<size_t>(index) >= boards_.size()) {
        return nullptr;
    }
    return boards_[static_cast<size_t>(index)];
}

std::shared_ptr<SimBoard> SimSystem::board_by_number(uint32_t number) const
{
    std::lock_guard guard(lock_);
    uint32_t seen = 0;
    for (const auto& board : boards_) {
        if (board->present()) {
            if (seen == number) {
                return board;
            }
            ++seen;
        }
    }
    return nullptr;
}

std::vector<std::shared_ptr<SimBoard>> SimSystem::present_boards() const
{
    std::lock_guard guard(lock_);
    std::vector<std::shared_ptr<SimBoard>> present;
    for (const auto& board : boards_) {
        if (board->present()) {
            present.push_back(board);
        }
    }
    return present;
}

VN_HANDLE SimSystem::add_handle(std::shared_ptr<SimBoard> board, bool acquisition)
{
    std::lock_guard guard(lock_);
    const uintptr_t value = handle_base + handle_step * next_id_++;
    handles_[value] = Handle{std::move(board), acquisition};
    return reinterpret_cast<VN_HANDLE>(value);
}

std::optional<SimSystem::Handle> SimSystem::find(VN_HANDLE handle) const
{
    std::lock_guard guard(lock_);
    const auto found = handles_.find(reinterpret_cast<uintptr_t>(handle));
    if (found == handles_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<SimSystem::Handle> SimSystem::remove(VN_HANDLE handle)
{
    std::lock_guard guard(lock_);
    const auto found = handles_.find(reinterpret_cast<uintptr_t>(handle));
    if (found == handles_.end()) {
        return std::nullopt;
    }
    Handle removed = std::move(found->second);
    handles_.erase(found);
    std::erase_if(serials_, [&](const auto& entry) {
        return entry.second.reference && entry.second.owner == reinterpret_cast<uintptr_t>(handle);
    });
    return removed;
}

void* SimSystem::add_serial(VN_HANDLE owner, std::shared_ptr<SimBoard> board, bool reference)
{
    std::lock_guard guard(lock_);
    const uintptr_t value = handle_base + handle_step * next_id_++;
    serials_[value] = Serial{std::move(board), reference, reinterpret_cast<uintptr_t>(owner)};
    return reinterpret_cast<void*>(value);
}

std::shared_ptr<SimBoard> SimSystem::find_serial(void* serial, bool reference) const
{
    std::lock_guard guard(lock_);
    const auto found = serials_.find(reinterpret_cast<uintptr_t>(serial));
    if (found == serials_.end() || found->second.reference != reference) {
        return nullptr;
    }
    return found->second.board;
}

bool SimSystem::remove_serial(void* serial)
{
    std::lock_guard guard(lock_);
    const auto found = serials_.find(reinterpret_cast<uintptr_t>(serial));
    if (found == serials_.end() || found->second.reference) {
        return false;
    }
    serials_.erase(found);
    return true;
}

}  // namespace vnsim
