#include "CameraAcquisition.h"

namespace vnsim {

bool CameraAcquisition::set_mode(uint32_t mode)
{
    if (mode > acq::mode_multi_frame) {
        return false;
    }
    mode_ = mode;
    if (mode != acq::mode_continuous) {
        // A counted acquisition begins with the next AcquisitionStart, not in the middle of a running one.
        stop();
    }
    return true;
}

bool CameraAcquisition::set_frame_count(uint32_t count)
{
    if (count < 1 || count > acq::frame_count_max) {
        return false;
    }
    frame_count_ = count;
    return true;
}

bool CameraAcquisition::set_trigger_selector(uint32_t selector)
{
    return selector == acq::trigger_selector_frame_start;
}

bool CameraAcquisition::set_trigger_mode(uint32_t mode)
{
    if (mode > acq::trigger_mode_on) {
        return false;
    }
    trigger_on_ = mode == acq::trigger_mode_on;
    owed_ = 0;
    return true;
}

bool CameraAcquisition::set_trigger_source(uint32_t source)
{
    if (source > acq::trigger_source_line0) {
        return false;
    }
    trigger_source_ = source;
    return true;
}

bool CameraAcquisition::set_trigger_activation(uint32_t activation)
{
    if (activation > acq::trigger_activation_any_edge) {
        return false;
    }
    trigger_activation_ = activation;
    return true;
}

void CameraAcquisition::start()
{
    streaming_ = true;
    owed_ = 0;
    remaining_ = mode_ == acq::mode_single_frame ? 1 : mode_ == acq::mode_multi_frame ? frame_count_ : 0;
}

void CameraAcquisition::stop()
{
    streaming_ = false;
    owed_ = 0;
    remaining_ = 0;
}

bool CameraAcquisition::software_trigger()
{
    if (!streaming_ || !trigger_on_ || trigger_source_ != acq::trigger_source_software) {
        return false;
    }
    ++owed_;
    return true;
}

bool CameraAcquisition::line_changed(bool level)
{
    if (!streaming_ || !trigger_on_ || trigger_source_ != acq::trigger_source_line0) {
        return false;
    }
    const bool wanted = trigger_activation_ == acq::trigger_activation_any_edge ||
                        (trigger_activation_ == acq::trigger_activation_rising_edge) == level;
    if (wanted) {
        ++owed_;
    }
    return wanted;
}

bool CameraAcquisition::frame_sent()
{
    bool changed = false;
    if (trigger_on_ && owed_ > 0) {
        changed = --owed_ == 0;
    }
    if (remaining_ > 0 && --remaining_ == 0) {
        stop();
        changed = true;
    }
    return changed;
}

}  // namespace vnsim
