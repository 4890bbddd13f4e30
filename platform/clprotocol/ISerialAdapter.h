// The host's serial line as CLProtocol's ports take it: ISerial plus a port check, a close, the turning
// of a Camera Link code into a CLErrException, and the line's current baud rate. Slot order after
// ISerial's four: SerialInit, SerialClose, CheckError, GetBaudRate.
#pragma once

#include "clprotocol/ISerial.h"

namespace CLProtocol {

class ISerialAdapter : public ISerial {
public:
    // 0 when the line is usable, else a Camera Link code.
    virtual CLINT32 SerialInit() = 0;
    virtual void SerialClose() = 0;
    // Returns for 0; throws CLErrException with a readable text for any other code.
    virtual void CheckError(CLINT32 code) = 0;
    // The line's baud rate in bits per second.
    virtual CLINT32 GetBaudRate(CLUINT32* baudRate) = 0;

protected:
    ~ISerialAdapter() = default;
};

}  // namespace CLProtocol
