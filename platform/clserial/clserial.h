/*
 * Our stand-in for the Camera Link serial standard library: the published names, parameters and codes,
 * with C linkage, so that a real library can take its place. It presents the serial ports of every
 * maker library it knows as one list; here that is the board maker's own serial library (VNSer), linked
 * directly. With one maker library a port reference is that library's own serial reference, so the
 * references the board SDK opens for a board (clVNSerialInitFromBoardHandle) work with these calls too.
 */
#ifndef VNGTL_CLSERIAL_H
#define VNGTL_CLSERIAL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(CLSERIAL_BUILDING)
#define CLSERIAL_API __attribute__((visibility("default")))
#else
#define CLSERIAL_API
#endif

typedef int CLINT32;
typedef unsigned int CLUINT32;
typedef char CLINT8;
typedef int64_t CLINT64;
typedef char BOOL8;
typedef void* hSerRef;

enum {
    CL_ERR_NO_ERR = 0,
    CL_ERR_BUFFER_TOO_SMALL = -10001,
    CL_ERR_MANU_DOES_NOT_EXIST = -10002,
    CL_ERR_PORT_IN_USE = -10003,
    CL_ERR_TIMEOUT = -10004,
    CL_ERR_INVALID_INDEX = -10005,
    CL_ERR_INVALID_REFERENCE = -10006,
    CL_ERR_ERROR_NOT_FOUND = -10007,
    CL_ERR_BAUD_RATE_NOT_SUPPORTED = -10008,
    CL_ERR_OUT_OF_MEMORY = -10009,
    CL_ERR_REGISTRY_KEY_NOT_FOUND = -10010,
    CL_ERR_INVALID_PTR = -10011,
    CL_ERR_IN_USE = -10012,
    CL_ERR_UNABLE_TO_LOAD_DLL = -10098,
    CL_ERR_FUNCTION_NOT_FOUND = -10099
};

enum {
    CL_BAUDRATE_9600 = 0x01,
    CL_BAUDRATE_19200 = 0x02,
    CL_BAUDRATE_38400 = 0x04,
    CL_BAUDRATE_57600 = 0x08,
    CL_BAUDRATE_115200 = 0x10,
    CL_BAUDRATE_230400 = 0x20,
    CL_BAUDRATE_460800 = 0x40,
    CL_BAUDRATE_921600 = 0x80,
    CL_BAUDRATE_AUTOMAX = 0x40000000
};

enum {
    CL_DLL_VERSION_NO_VERSION = 1,
    CL_DLL_VERSION_1_0 = 2,
    CL_DLL_VERSION_1_1 = 3,
    CL_DLL_VERSION_2_0 = 4,
    CL_DLL_VERSION_2_1 = 5
};

CLSERIAL_API CLINT32 clSerialInit(CLUINT32 serialIndex, hSerRef* serialRefPtr);
CLSERIAL_API CLINT32 clSerialRead(hSerRef serialRef, CLINT8* buffer, CLUINT32* bufferSize, CLUINT32 serialTimeout);
CLSERIAL_API CLINT32 clSerialWrite(hSerRef serialRef, CLINT8* buffer, CLUINT32* bufferSize, CLUINT32 serialTimeout);
CLSERIAL_API void clSerialClose(hSerRef serialRef);
CLSERIAL_API CLINT32 clGetNumBytesAvail(hSerRef serialRef, CLUINT32* numBytes);
CLSERIAL_API CLINT32 clFlushPort(hSerRef serialRef);
CLSERIAL_API CLINT32 clGetSupportedBaudRates(hSerRef serialRef, CLUINT32* baudRates);
CLSERIAL_API CLINT32 clSetBaudRate(hSerRef serialRef, CLUINT32 baudRate);
CLSERIAL_API CLINT32 clGetErrorText(const CLINT8* manuName, CLINT32 errorCode, CLINT8* errorText,
                                    CLUINT32* errorTextSize);
CLSERIAL_API CLINT32 clGetNumPorts(CLUINT32* ports);
CLSERIAL_API CLINT32 clGetPortInfo(CLUINT32 serialIndex, CLINT8* manufacturerName, CLUINT32* nameBytes,
                                   CLINT8* portID, CLUINT32* IDBytes, CLUINT32* version);
CLSERIAL_API CLINT32 clGetManufacturerInfo(CLINT8* manufacturerName, CLUINT32* bufferSize, CLUINT32* version);
CLSERIAL_API CLINT32 clGetNumSerialPorts(CLUINT32* numSerialPorts);
CLSERIAL_API CLINT32 clGetSerialPortIdentifier(CLUINT32 serialIndex, CLINT8* portID, CLUINT32* bufferSize);

#ifdef __cplusplus
}
#endif

#endif /* VNGTL_CLSERIAL_H */
