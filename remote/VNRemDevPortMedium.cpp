#include "remote/VNRemDevPortMedium.h"

#include "board/VNBoards.h"
#include "core/ErrorReport.h"
#include "remote/VNPortCL.h"
#include "remote/VNPortCXP.h"

namespace vngtl {

VNRemDevPortMedium::VNRemDevPortMedium(std::shared_ptr<VNBoards::Board> board) : board_(std::move(board))
{
    static constexpr const char* function = "VNRemDevPortMedium::VNRemDevPortMedium";
    if (!board_) {
        return;
    }
    const std::string number = std::to_string(board_->board_number());
    try {
        board_->check_init(VNBoards::OpenLevel::Inspect);
        // Camera Link is asked first: a board that answers yes to both is a Camera Link board.
        if (board_->is_cl()) {
            auto port = std::make_shared<VNPortCL>(board_);
            port_ = port;
            port->set_medium(this);
            return;
        }
        if (board_->is_cxp()) {
            auto port = std::make_shared<VNPortCXP>(board_);
            port_ = port;
            port->bind(this);
            return;
        }
        report_error(function, GenTL::GC_ERR_ERROR, "Board " + number + " does not support GenTL control.");
    } catch (...) {
        port_.reset();
        report_error(function, GenTL::GC_ERR_ERROR,
                     "Caught an unexpected exception establishing a remote-device port for board " + number + ".");
    }
}

VNRemDevPortMedium::~VNRemDevPortMedium()
{
    retire_handle();
}

BasePort* VNRemDevPortMedium::get_port()
{
    return port_ && port_->good() ? port_.get() : nullptr;
}

const BasePort* VNRemDevPortMedium::get_port() const
{
    return port_ && port_->good() ? port_.get() : nullptr;
}

}  // namespace vngtl
