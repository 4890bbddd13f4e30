/*
 * The board maker's own Camera Link serial library (VNSer), as the simulated SDK provides it: the
 * per-maker entry points that a Camera Link serial standard library routes its calls to. Codes and
 * parameters are those of the Camera Link serial interface (0, or -10001 ... -10012); a serial
 * reference is the opaque value clVNSerialInit or the board SDK's clVNSerialInitFromBoardHandle hands out.
 * Ports are numbered in the order of the configured-device list (VNGetCfgDevicesSorted), counting the
 * devices that carry a serial port.
 */
#ifndef VNSER_H
#define VNSER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(VNSIM_BUILDING)
#define VNSER_API __attribute__((visibility("default")))
#else
#define VNSER_API
#endif

/* Maker name ("Vantrel") with the size protocol of the serial interface, and the interface version. */
VNSER_API int32_t clVNGetManufacturerInfo(char* name, uint32_t* size, uint32_t* version);
VNSER_API int32_t clVNGetNumSerialPorts(uint32_t* count);
/* The port's identifier: the device name of its board. */
VNSER_API int32_t clVNGetSerialPortIdentifier(uint32_t index, char* id, uint32_t* size);
VNSER_API int32_t clVNSerialInit(uint32_t index, void** serial);
VNSER_API int32_t clVNSerialRead(void* serial, char* buffer, uint32_t* size, uint32_t timeout_ms);
VNSER_API int32_t clVNSerialWrite(void* serial, char* buffer, uint32_t* size, uint32_t timeout_ms);
VNSER_API int32_t clVNSerialClose(void* serial);
VNSER_API int32_t clVNFlushPort(void* serial);
VNSER_API int32_t clVNGetNumBytesAvail(void* serial, uint32_t* count);
VNSER_API int32_t clVNGetSupportedBaudRates(void* serial, uint32_t* rates);
VNSER_API int32_t clVNSetBaudRate(void* serial, uint32_t rate);
/* Text of one of the maker's own codes; -10007 for a code it does not know. */
VNSER_API int32_t clVNGetErrorText(int32_t code, char* text, uint32_t* size);

#ifdef __cplusplus
}
#endif

#endif /* VNSER_H */
