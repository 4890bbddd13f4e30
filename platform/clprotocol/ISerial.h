// A serial line as CLProtocol uses it: the four calls of the Camera Link serial interface, on a line the
// host has already opened. The slot order is fixed (a host's object is called through it); objects are
// never destroyed through this interface, hence the protected destructor.
#pragma once

#include "clprotocol/ClpTypes.h"

class ISerial {
public:
    virtual CLINT32 clSerialRead(CLINT8* buffer, CLUINT32* bufferSize, CLUINT32 serialTimeOut) = 0;
    virtual CLINT32 clSerialWrite(CLINT8* buffer, CLUINT32* bufferSize, CLUINT32 serialTimeOut) = 0;
    virtual CLINT32 clGetSupportedBaudRates(CLUINT32* baudRates) = 0;
    virtual CLINT32 clSetBaudRate(CLUINT32 baudRate) = 0;

protected:
    ~ISerial() = default;
};
