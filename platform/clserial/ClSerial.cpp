// The Camera Link serial standard library stand-in: each call is routed to the maker library that owns
// the port. There is one maker library (VNSer), so a port index and a port reference are its own.
#include "clserial/clserial.h"

#include <vnser.h>

#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view maker = "Vantrel";

struct Text {
    CLINT32 code;
    const char* text;
};

// Texts of the standard codes, answered before any maker library is asked.
constexpr Text standard_texts[] = {
    {CL_ERR_NO_ERR, "No error."},
    {CL_ERR_BUFFER_TOO_SMALL, "The buffer is too small for the answer."},
    {CL_ERR_MANU_DOES_NOT_EXIST, "No serial library of that manufacturer is installed."},
    {CL_ERR_PORT_IN_USE, "The serial port is in use."},
    {CL_ERR_TIMEOUT, "The serial operation timed out."},
    {CL_ERR_INVALID_INDEX, "There is no serial port with that index."},
    {CL_ERR_INVALID_REFERENCE, "The serial port reference is not valid."},
    {CL_ERR_ERROR_NOT_FOUND, "There is no text for that error code."},
    {CL_ERR_BAUD_RATE_NOT_SUPPORTED, "The serial port does not support that baud rate."},
    {CL_ERR_OUT_OF_MEMORY, "Out of memory."},
    {CL_ERR_REGISTRY_KEY_NOT_FOUND, "The serial library's registry key was not found."},
    {CL_ERR_INVALID_PTR, "A pointer argument is null."},
    {CL_ERR_IN_USE, "The serial library is in use."},
    {CL_ERR_UNABLE_TO_LOAD_DLL, "A manufacturer's serial library could not be loaded."},
    {CL_ERR_FUNCTION_NOT_FOUND, "A manufacturer's serial library lacks a required function."},
};

CLINT32 copy_sized(std::string_view text, CLINT8* out, CLUINT32* size)
{
    if (size == nullptr) {
        return CL_ERR_INVALID_PTR;
    }
    const auto needed = static_cast<CLUINT32>(text.size() + 1);
    if (out == nullptr || *size < needed) {
        *size = needed;
        return CL_ERR_BUFFER_TOO_SMALL;
    }
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    *size = needed;
    return CL_ERR_NO_ERR;
}

}  // namespace

extern "C" {

CLINT32 clSerialInit(CLUINT32 serialIndex, hSerRef* serialRefPtr)
{
    return clVNSerialInit(serialIndex, serialRefPtr);
}

CLINT32 clSerialRead(hSerRef serialRef, CLINT8* buffer, CLUINT32* bufferSize, CLUINT32 serialTimeout)
{
    return clVNSerialRead(serialRef, buffer, bufferSize, serialTimeout);
}

CLINT32 clSerialWrite(hSerRef serialRef, CLINT8* buffer, CLUINT32* bufferSize, CLUINT32 serialTimeout)
{
    return clVNSerialWrite(serialRef, buffer, bufferSize, serialTimeout);
}

void clSerialClose(hSerRef serialRef)
{
    clVNSerialClose(serialRef);
}

CLINT32 clGetNumBytesAvail(hSerRef serialRef, CLUINT32* numBytes)
{
    return clVNGetNumBytesAvail(serialRef, numBytes);
}

CLINT32 clFlushPort(hSerRef serialRef)
{
    return clVNFlushPort(serialRef);
}

CLINT32 clGetSupportedBaudRates(hSerRef serialRef, CLUINT32* baudRates)
{
    return clVNGetSupportedBaudRates(serialRef, baudRates);
}

CLINT32 clSetBaudRate(hSerRef serialRef, CLUINT32 baudRate)
{
    return clVNSetBaudRate(serialRef, baudRate);
}

CLINT32 clGetErrorText(const CLINT8* manuName, CLINT32 errorCode, CLINT8* errorText, CLUINT32* errorTextSize)
{
    for (const auto& entry : standard_texts) {
        if (entry.code == errorCode) {
            return copy_sized(entry.text, errorText, errorTextSize);
        }
    }
    if (manuName == nullptr || maker != manuName) {
        return CL_ERR_MANU_DOES_NOT_EXIST;
    }
    return clVNGetErrorText(errorCode, errorText, errorTextSize);
}

CLINT32 clGetNumPorts(CLUINT32* ports)
{
    return clVNGetNumSerialPorts(ports);
}

CLINT32 clGetPortInfo(CLUINT32 serialIndex, CLINT8* manufacturerName, CLUINT32* nameBytes, CLINT8* portID,
                      CLUINT32* IDBytes, CLUINT32* version)
{
    if (nameBytes == nullptr || IDBytes == nullptr || version == nullptr) {
        return CL_ERR_INVALID_PTR;
    }
    CLUINT32 ports = 0;
    if (const CLINT32 result = clVNGetNumSerialPorts(&ports); result != CL_ERR_NO_ERR) {
        return result;
    }
    if (serialIndex >= ports) {
        return CL_ERR_INVALID_INDEX;
    }
    CLUINT32 ignored = 0;
    if (const CLINT32 result = clVNGetManufacturerInfo(nullptr, &ignored, version);
        result != CL_ERR_BUFFER_TOO_SMALL && result != CL_ERR_NO_ERR) {
        return result;
    }
    const CLINT32 name = copy_sized(maker, manufacturerName, nameBytes);
    const CLINT32 id = clVNGetSerialPortIdentifier(serialIndex, portID, IDBytes);
    return name != CL_ERR_NO_ERR ? name : id;
}

CLINT32 clGetManufacturerInfo(CLINT8* manufacturerName, CLUINT32* bufferSize, CLUINT32* version)
{
    return clVNGetManufacturerInfo(manufacturerName, bufferSize, version);
}

CLINT32 clGetNumSerialPorts(CLUINT32* numSerialPorts)
{
    return clVNGetNumSerialPorts(numSerialPorts);
}

CLINT32 clGetSerialPortIdentifier(CLUINT32 serialIndex, CLINT8* portID, CLUINT32* bufferSize)
{
    return clVNGetSerialPortIdentifier(serialIndex, portID, bufferSize);
}

}  // extern "C"
