// Our CLProtocol stand-in's port: a register port onto a Camera Link camera reached over a serial line
// that the host registers. Serial lines are registered process-wide by name; a port connects to one with
// a Device ID, whose driver then turns register reads and writes into the camera's protocol (here the
// built-in GenCP driver, GenCpDriver.h) and lists the camera's description files as XML IDs.
//
// After connecting, the port moves the line to the highest baud rate both the host's line and the
// camera offer, so that loading the description does not take seconds. MakeURLfromXMLID answers a
// "file:///" URL of the description written, unzipped, into the GenICam cache directory: a consumer then
// loads it with no further serial traffic, and later connections to a camera of the same model, version
// and file version find it there instead of reading it over the line again.
//
// Thread safety: the static functions are thread-safe (the registry has its own lock); a port's
// operations are serialised by its own lock, since the camera takes one command at a time.
// Ownership: the registry borrows each registered adapter until it is unregistered; the registrant keeps
// it alive that long. A port checks that its line is still registered before each use.
#pragma once

#include "clprotocol/ClpTypes.h"
#include "clprotocol/GenCpChannel.h"
#include "clprotocol/GenCpDriver.h"
#include "clprotocol/ISerialAdapter.h"

#include <cstdint>
#include <memory>
#include <mutex>

namespace CLProtocol {

class CCLPort {
public:
    CCLPort();
    ~CCLPort();
    CCLPort(const CCLPort&) = delete;
    CCLPort& operator=(const CCLPort&) = delete;

    // Answers "Local#<PortName>"; registering a name again replaces its adapter.
    static GenICam::gcstring RegisterSerial(const GenICam::gcstring& PortName, ISerialAdapter* Adapter);
    static void UnRegisterSerial(const GenICam::gcstring& PortID);
    static void GetDeviceIDTemplates(GenICam::gcstring_vector& Templates);
    // The Device ID of the camera on the port when the template's driver finds one matching it; empty
    // otherwise (no answer, another maker).
    static GenICam::gcstring ProbeDevice(const GenICam::gcstring& PortID, const GenICam::gcstring& DeviceIDTemplate,
                                         CLUINT32 SerialTimeout = 500);

    // With the Device ID last connected on that port in this process; false when there is none, or when
    // another camera is on the line now (the remembered ID is then forgotten).
    bool Connect(const GenICam::gcstring& PortID);
    // Throws CLErrException when the port, the driver or the camera is not there.
    void Connect(const GenICam::gcstring& PortID, const GenICam::gcstring& DeviceID);
    void Disconnect();

    // Sorted: higher schema first, then longer template, then higher file version.
    void GetXMLIDs(GenICam::gcstring_vector& XMLIDs);
    GenICam::gcstring MakeURLfromXMLID(GenICam::gcstring& XMLID);
    void SetSerialTimeOut(CLUINT32 TimeOut);
    GenApi::EAccessMode GetAccessMode() const;
    void Read(void* Buffer, int64_t Address, int64_t Length);
    void Write(const void* Buffer, int64_t Address, int64_t Length);

    // The Device ID connected to; empty when not connected.
    GenICam::gcstring GetDeviceID() const;
    // Traffic of the current connection (commands, resends, pending acknowledges).
    GenCpChannel::Stats GetStats() const;
    // The line's baud rate the connection uses.
    CLUINT32 GetBaudRate() const;

private:
    // Requires lock_; throws when not connected or the line was unregistered.
    GenCpChannel& channel_locked();
    void speed_up_locked();

    mutable std::mutex lock_;  // guards every field below
    GenICam::gcstring port_id_;
    GenICam::gcstring device_id_;
    ISerialAdapter* adapter_ = nullptr;
    std::unique_ptr<GenCpChannel> channel_;
    std::vector<GenCpDriver::XmlFile> files_;
    bool files_read_ = false;
    CLUINT32 timeout_ms_ = 500;
};

}  // namespace CLProtocol
