#include "clprotocol/CCLPort.h"

#include "clprotocol/CLErrException.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

namespace CLProtocol {

namespace {

// The registered serial lines and the Device IDs last connected on each, process-wide.
struct Registry {
    std::mutex lock;
    std::map<std::string, ISerialAdapter*> ports;
    std::map<std::string, std::string> remembered;
    // The Device ID a probe found on a port just now, so that connecting right after it need not read the
    // camera's strings over the line a second time.
    struct Probe {
        std::string device_id;
        std::chrono::steady_clock::time_point when;
    };
    std::map<std::string, Probe> probed;
};

constexpr auto probe_fresh = std::chrono::seconds(2);

Registry& registry()
{
    static Registry instance;
    return instance;
}

ISerialAdapter* find_adapter(const std::string& port_id)
{
    auto& r = registry();
    std::lock_guard guard(r.lock);
    const auto found = r.ports.find(port_id);
    return found == r.ports.end() ? nullptr : found->second;
}

ISerialAdapter& adapter_or_throw(const std::string& port_id)
{
    ISerialAdapter* adapter = find_adapter(port_id);
    if (adapter == nullptr) {
        throw CLErrException(cl_err_invalid_reference, "No serial port \"" + port_id + "\" is registered.", __FILE__,
                             __LINE__);
    }
    return *adapter;
}

constexpr uint32_t rates[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};

uint32_t highest_bit(uint32_t bits)
{
    for (int i = 7; i >= 0; --i) {
        if (bits & (1u << i)) {
            return 1u << i;
        }
    }
    return 0;
}

uint32_t baud_of_bit(uint32_t bit)
{
    for (uint32_t i = 0; i < 8; ++i) {
        if (bit == 1u << i) {
            return rates[i];
        }
    }
    return 0;
}

uint32_t line_baud(ISerialAdapter& adapter)
{
    CLUINT32 baud = 0;
    return adapter.GetBaudRate(&baud) == cl_err_no_err && baud > 0 ? baud : 9600;
}

size_t template_length(const std::string& xml_id)
{
    const auto first = xml_id.find('@');
    const auto last = xml_id.rfind('@');
    return first == std::string::npos || last == first ? 0 : last - first - 1;
}

}  // namespace

CCLPort::CCLPort() = default;

CCLPort::~CCLPort() = default;

GenICam::gcstring CCLPort::RegisterSerial(const GenICam::gcstring& PortName, ISerialAdapter* Adapter)
{
    if (Adapter == nullptr || PortName.empty()) {
        throw CLErrException(cl_err_invalid_reference, "A serial port needs a name and an adapter.", __FILE__,
                             __LINE__);
    }
    const std::string port_id = "Local#" + PortName;
    auto& r = registry();
    std::lock_guard guard(r.lock);
    r.ports[port_id] = Adapter;
    return port_id;
}

void CCLPort::UnRegisterSerial(const GenICam::gcstring& PortID)
{
    auto& r = registry();
    std::lock_guard guard(r.lock);
    r.ports.erase(PortID);
    r.probed.erase(PortID);
}

void CCLPort::GetDeviceIDTemplates(GenICam::gcstring_vector& Templates)
{
    Templates = GenCpDriver::templates();
}

GenICam::gcstring CCLPort::ProbeDevice(const GenICam::gcstring& PortID, const GenICam::gcstring& DeviceIDTemplate,
                                       CLUINT32 SerialTimeout)
{
    ISerialAdapter& adapter = adapter_or_throw(PortID);
    if (GenCpDriver::short_id(DeviceIDTemplate).empty()) {
        return {};  // another driver's template: none is installed
    }
    GenCpChannel channel(adapter, PortID);
    channel.set_timeout(SerialTimeout);
    channel.set_baud(line_baud(adapter));
    try {
        const std::string device_id = GenCpDriver::device_id(GenCpDriver::identity(channel));
        if (!GenCpDriver::matches(device_id, DeviceIDTemplate)) {
            return {};
        }
        auto& r = registry();
        std::lock_guard guard(r.lock);
        r.probed[PortID] = Registry::Probe{device_id, std::chrono::steady_clock::now()};
        return device_id;
    } catch (const CLErrException& e) {
        if (e.GetErrorCode() == cl_err_timeout) {
            return {};  // nothing answers on this line
        }
        throw;
    }
}

bool CCLPort::Connect(const GenICam::gcstring& PortID)
{
    std::string device_id;
    {
        auto& r = registry();
        std::lock_guard guard(r.lock);
        const auto found = r.remembered.find(PortID);
        if (found == r.remembered.end()) {
            return false;
        }
        device_id = found->second;
    }
    try {
        Connect(PortID, device_id);
    } catch (const CLErrException& e) {
        if (e.GetErrorCode() != cl_err_no_device_found) {
            throw;
        }
        // Another camera on the line now: forget the old one, so the caller probes for this one.
        auto& r = registry();
        std::lock_guard guard(r.lock);
        r.remembered.erase(PortID);
        return false;
    }
    return true;
}

void CCLPort::Connect(const GenICam::gcstring& PortID, const GenICam::gcstring& DeviceID)
{
    std::lock_guard guard(lock_);
    ISerialAdapter& adapter = adapter_or_throw(PortID);
    if (DeviceID.empty()) {
        throw CLErrException(cl_err_no_device_found,
                             "No camera was found on \"" + PortID + "\": there is no Device ID to connect to.",
                             __FILE__, __LINE__);
    }
    if (GenCpDriver::short_id(DeviceID).empty()) {
        throw CLErrException(cl_err_invalid_deviceid, "\"" + DeviceID + "\" is not a Device ID of an installed driver.",
                             __FILE__, __LINE__);
    }
    auto channel = std::make_unique<GenCpChannel>(adapter, PortID);
    channel->set_timeout(timeout_ms_);
    channel->set_baud(line_baud(adapter));
    std::string found;
    {
        auto& r = registry();
        std::lock_guard registry_guard(r.lock);
        const auto probe = r.probed.find(PortID);
        if (probe != r.probed.end() && probe->second.device_id == DeviceID &&
            std::chrono::steady_clock::now() - probe->second.when < probe_fresh) {
            found = probe->second.device_id;
        }
        r.probed.erase(PortID);
    }
    if (found.empty()) {
        found = GenCpDriver::device_id(GenCpDriver::identity(*channel));
    }
    if (!GenCpDriver::matches(found, DeviceID)) {
        throw CLErrException(cl_err_no_device_found,
                             "The camera on \"" + PortID + "\" is \"" + found + "\", not \"" + DeviceID + "\".",
                             __FILE__, __LINE__);
    }
    port_id_ = PortID;
    device_id_ = found;
    adapter_ = &adapter;
    channel_ = std::move(channel);
    files_.clear();
    files_read_ = false;
    speed_up_locked();
    auto& r = registry();
    std::lock_guard registry_guard(r.lock);
    r.remembered[PortID] = DeviceID;
}

void CCLPort::speed_up_locked()
{
    CLUINT32 host = 0;
    if (adapter_->clGetSupportedBaudRates(&host) != cl_err_no_err) {
        return;
    }
    uint32_t camera = 0;
    try {
        camera = channel_->read_u32(GenCpDriver::baud_rates_supported);
    } catch (const GenICam::GenericException&) {
        return;  // a camera that does not say keeps the power-up rate
    }
    const uint32_t bit = highest_bit(host & camera & 0xFF);
    const uint32_t baud = baud_of_bit(bit);
    if (baud <= channel_->baud()) {
        return;
    }
    // The camera acknowledges at the old rate and listens at the new one afterwards.
    channel_->write_u32(GenCpDriver::baud_rate, bit);
    if (adapter_->clSetBaudRate(bit) == cl_err_no_err) {
        channel_->set_baud(baud);
    }
}

void CCLPort::Disconnect()
{
    std::lock_guard guard(lock_);
    channel_.reset();
    adapter_ = nullptr;
    device_id_.clear();
    files_.clear();
    files_read_ = false;
}

GenCpChannel& CCLPort::channel_locked()
{
    if (!channel_) {
        throw GenICam::GenericException("The CLProtocol port is not connected.", __FILE__, __LINE__,
                                        "AccessException");
    }
    if (find_adapter(port_id_) != adapter_) {
        throw CLErrException(cl_err_invalid_reference,
                             "The serial port \"" + port_id_ + "\" is no longer registered.", __FILE__, __LINE__);
    }
    channel_->set_timeout(timeout_ms_);
    return *channel_;
}

void CCLPort::GetXMLIDs(GenICam::gcstring_vector& XMLIDs)
{
    std::lock_guard guard(lock_);
    GenCpChannel& channel = channel_locked();
    if (!files_read_) {
        files_ = GenCpDriver::xml_files(channel, device_id_);
        files_read_ = true;
    }
    auto sorted = files_;
    std::stable_sort(sorted.begin(), sorted.end(), [](const GenCpDriver::XmlFile& a, const GenCpDriver::XmlFile& b) {
        if ((a.schema_version >> 16) != (b.schema_version >> 16)) {
            return (a.schema_version >> 16) > (b.schema_version >> 16);
        }
        if (template_length(a.xml_id) != template_length(b.xml_id)) {
            return template_length(a.xml_id) > template_length(b.xml_id);
        }
        return a.file_version > b.file_version;
    });
    XMLIDs.clear();
    for (const auto& file : sorted) {
        XMLIDs.push_back(file.xml_id);
    }
}

GenICam::gcstring CCLPort::MakeURLfromXMLID(GenICam::gcstring& XMLID)
{
    std::lock_guard guard(lock_);
    GenCpChannel& channel = channel_locked();
    if (!files_read_) {
        files_ = GenCpDriver::xml_files(channel, device_id_);
        files_read_ = true;
    }
    const auto file = std::find_if(files_.begin(), files_.end(),
                                   [&](const GenCpDriver::XmlFile& f) { return f.xml_id == XMLID; });
    if (file == files_.end()) {
        throw CLErrException(cl_err_no_xmldescription_found,
                             "The camera on \"" + port_id_ + "\" has no description \"" + XMLID + "\".", __FILE__,
                             __LINE__);
    }
    const std::filesystem::path path = GenCpDriver::cache_path(device_id_, *file);
    std::error_code error;
    if (!std::filesystem::exists(path, error) || std::filesystem::file_size(path, error) == 0) {
        const std::string text = GenCpDriver::fetch(channel, *file);
        std::filesystem::create_directories(path.parent_path(), error);
        // Written beside its final name and renamed, so that another process never reads half a file.
        const auto partial = path.string() + ".part" + std::to_string(getpid());
        {
            std::ofstream out(partial, std::ios::binary | std::ios::trunc);
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
            if (!out) {
                throw CLErrException(cl_err_no_xmldescription_found,
                                     "The description could not be written to \"" + partial + "\".", __FILE__,
                                     __LINE__);
            }
        }
        std::filesystem::rename(partial, path, error);
        if (error) {
            std::filesystem::remove(partial, error);
            throw CLErrException(cl_err_no_xmldescription_found,
                                 "The description could not be stored as \"" + path.string() + "\".", __FILE__,
                                 __LINE__);
        }
    }
    return "file://" + path.string();
}

void CCLPort::SetSerialTimeOut(CLUINT32 TimeOut)
{
    std::lock_guard guard(lock_);
    timeout_ms_ = TimeOut;
}

GenApi::EAccessMode CCLPort::GetAccessMode() const
{
    std::lock_guard guard(lock_);
    return channel_ ? GenApi::RW : GenApi::NI;
}

void CCLPort::Read(void* Buffer, int64_t Address, int64_t Length)
{
    std::lock_guard guard(lock_);
    if (Buffer == nullptr || Address < 0 || Length < 0) {
        throw GenICam::GenericException("A read needs a buffer, an address and a length.", __FILE__, __LINE__,
                                        "InvalidArgumentException");
    }
    channel_locked().read(static_cast<uint64_t>(Address), Buffer, static_cast<uint64_t>(Length));
}

void CCLPort::Write(const void* Buffer, int64_t Address, int64_t Length)
{
    std::lock_guard guard(lock_);
    if (Buffer == nullptr || Address < 0 || Length < 0) {
        throw GenICam::GenericException("A write needs a buffer, an address and a length.", __FILE__, __LINE__,
                                        "InvalidArgumentException");
    }
    channel_locked().write(static_cast<uint64_t>(Address), Buffer, static_cast<uint64_t>(Length));
}

GenICam::gcstring CCLPort::GetDeviceID() const
{
    std::lock_guard guard(lock_);
    return device_id_;
}

GenCpChannel::Stats CCLPort::GetStats() const
{
    std::lock_guard guard(lock_);
    return channel_ ? channel_->stats() : GenCpChannel::Stats{};
}

CLUINT32 CCLPort::GetBaudRate() const
{
    std::lock_guard guard(lock_);
    return channel_ ? channel_->baud() : 0;
}

}  // namespace CLProtocol
