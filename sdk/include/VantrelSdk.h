/*
 * The board SDK as the producer calls it: the driver (VN*), buffer (Vb*), camera (Vc*) and Camera Link
 * serial (clVN*) functions, with C linkage. The producer links against a library that exports
 * these names; on a machine without boards that library is the simulated SDK (libvnsim.so), and the
 * maker's SDK can replace it without touching the producer.
 *
 * Result 0 is success for every function except the family queries VNIsCL, VNIsCXP and VNIsOrla (non-zero
 * for that family) and VNRegPeek (the register's value).
 */
#ifndef VNGTL_VANTREL_SDK_H
#define VNGTL_VANTREL_SDK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(VNSIM_BUILDING)
#define VNSDK_API __attribute__((visibility("default")))
#else
#define VNSDK_API
#endif

/* Opaque board handle. */
typedef struct VnBoard* VN_HANDLE;

/* Circular-buffer descriptor, owned by the caller and passed by address to every circular-acquisition
 * call. Its first two words are the number of allocated buffers and the size of one frame in bytes; the
 * rest belongs to the SDK. */
typedef struct VbCircDesc {
    uint32_t buffer_count;
    uint32_t frame_size;
    uint64_t sdk_private[31];
} VB_CIRC_DESC;

/* The 104-byte record of one completed frame. The producer reads the named fields only and hands the
 * whole record back unchanged to VbCirStatusSet. */
typedef struct VbFrameRecord {
    uint64_t data_address;     /* 0: address of the frame in the SDK's circular buffer */
    uint32_t frame_counter;    /* 8: running count of completed frames */
    uint8_t reserved_12[36];
    uint32_t timestamp_us;     /* 48: time stamp in microseconds */
    uint8_t reserved_52[12];
    uint64_t board_timestamp;  /* 64: time stamp in the board's units */
    uint8_t reserved_72[8];
    uint32_t buffer_index;     /* 80: index of the circular buffer that holds the frame */
    uint8_t reserved_84[20];
} VB_FRAME_RECORD;

/* Open, close, inquire (VbLib). */
enum {
    VB_DRIVER_ANY = (int)0xFFFFFFFF,
    VB_OPEN_INSPECT = 1508,        /* level 1: registers and inquiries */
    VB_OPEN_ACQUIRE = 1505,        /* level 2: acquisition */
    VB_OPEN_INSPECT_SHARED = 1516, /* level 1 retry */
    VB_INQ_WIDTH = 0x10001,
    VB_INQ_HEIGHT = 0x10002,
    VB_INQ_BITS_PER_PIXEL = 0x10004,
    VB_INQ_FRAME_BYTES = 0x10007,
    VB_INQ_X_OFFSET = 0x1001E,
    VB_INQ_Y_OFFSET = 0x1001F,
    VB_CIRC_MODE = 3,
    VB_CIRC_FLAGS = 132,
    VB_CIR_START = 0,
    VB_CIR_STOP = 1,
    VB_CIR_ABORT = 4,
    VB_CIR_NO_WAIT = 256,
    VB_CIR_WAIT = 512,
    VB_WAIT_TIMEOUT = 221,
    VB_NOT_CONFIGURED = 218,
    VB_ACQ_STOPPED = 0x10004,
    VB_ACQ_ABORTED = 0x10005,
    VB_TEXT_TRUNCATED = 239,
    VB_TEXT_UNKNOWN_CODE = 240,
    VC_ENUM_BOARDS = 208
};

VNSDK_API int32_t VcSysBrdEnum(uint32_t selector, uint32_t* count);
VNSDK_API int32_t VbBrdOpenEx(uint32_t driver, uint32_t board, VN_HANDLE* handle, uint32_t flags);
VNSDK_API int32_t VbBrdOpenCamEx(uint32_t driver, uint32_t board, VN_HANDLE* handle, const char* camera_file,
                                 uint32_t flags);
VNSDK_API int32_t VbBrdClose(VN_HANDLE handle);
VNSDK_API int32_t VbBrdInquire(VN_HANDLE handle, uint32_t key, uint32_t* value);
VNSDK_API int32_t VbCamGetFileName(VN_HANDLE handle, VB_CIRC_DESC* desc, uint32_t which, char* text,
                                   uint32_t size);
VNSDK_API int32_t VcAqROISet(VN_HANDLE handle, uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                             uint32_t flags);
VNSDK_API int32_t VcBrdCamGetMMM(VN_HANDLE handle, char* make, uint32_t make_size, char* model,
                                 uint32_t model_size, char* mode, uint32_t mode_size);

/* Circular acquisition (VbLib). */
VNSDK_API int32_t VbBufferAllocCam(VN_HANDLE handle, VB_CIRC_DESC* desc, uint32_t count);
VNSDK_API int32_t VbCircAqSetup(VN_HANDLE handle, VB_CIRC_DESC* desc, uint32_t mode, uint32_t flags);
VNSDK_API int32_t VbCirControl(VN_HANDLE handle, VB_CIRC_DESC* desc, uint32_t command, uint32_t flags);
/* Waits up to timeout_ms for the oldest completed frame not yet handed out; a time-out of 0 polls: it answers
   at once, VB_WAIT_TIMEOUT when no frame is waiting. */
VNSDK_API int32_t VbCirWaitDoneFrame(VN_HANDLE handle, VB_CIRC_DESC* desc, uint32_t timeout_ms,
                                     VB_FRAME_RECORD* record);
VNSDK_API int32_t VbCirStatusSet(VN_HANDLE handle, VB_CIRC_DESC* desc, VB_FRAME_RECORD* record, uint32_t flags);
/* The counter of the frame the board last began writing into circular buffer `index` (0: none since the
 * start). The board announces a frame here before it writes the frame's first byte. */
VNSDK_API int32_t VbCirFrameBegun(VN_HANDLE handle, const VB_CIRC_DESC* desc, uint32_t index, uint64_t* counter);
VNSDK_API int32_t VbCircCleanUp(VN_HANDLE handle, VB_CIRC_DESC* desc);
VNSDK_API int32_t VbBufferFree(VN_HANDLE handle, VB_CIRC_DESC* desc);

/* Error stacks. VbErrorTextGet: 0, or 239 with *size set to the needed size; 240 for an unknown code. */
VNSDK_API int32_t VbCirErrorCheck(VN_HANDLE handle, VB_CIRC_DESC* desc);
VNSDK_API int32_t VbErrorTextGet(VN_HANDLE handle, int32_t code, char* text, uint32_t* size);
VNSDK_API int32_t VNErrorGetLast(VN_HANDLE handle, int32_t* code);
VNSDK_API int32_t VNErrorClearLast(VN_HANDLE handle);
VNSDK_API int32_t VNErrorGetMes(VN_HANDLE handle, int32_t code, char* text, uint32_t size);

/* Board family and identity (VNDrv). */
VNSDK_API int32_t VNIsCL(VN_HANDLE handle);
VNSDK_API int32_t VNIsCXP(VN_HANDLE handle);
VNSDK_API int32_t VNIsOrla(VN_HANDLE handle);
VNSDK_API int32_t VNGetBoardStrings(VN_HANDLE handle, char* text_a, uint32_t size_a, char* text_b, uint32_t size_b,
                                    uint32_t* out_1, uint32_t* out_2);

/* Board registers 0 to 3633 (VNDrv). VNRegPeek returns the value. */
VNSDK_API int32_t VNRegName(VN_HANDLE handle, uint32_t number, char* text, uint32_t size);
VNSDK_API uint32_t VNRegPeek(VN_HANDLE handle, uint32_t number);
VNSDK_API int32_t VNRegPoke(VN_HANDLE handle, uint32_t number, uint32_t value);

/* CoaXPress access (VNDrv); the second argument is always 255 (the board's own link). */
VNSDK_API int32_t VNCXPReadReg(VN_HANDLE handle, uint32_t link, uint32_t address, uint32_t* value);
VNSDK_API int32_t VNCXPWriteReg(VN_HANDLE handle, uint32_t link, uint32_t address, uint32_t value);
VNSDK_API int32_t VNCXPReadData(VN_HANDLE handle, uint32_t link, uint32_t address, uint32_t length,
                                uint32_t* bytes_read, void* buffer, uint32_t buffer_size);
VNSDK_API int32_t VNCXPWriteData(VN_HANDLE handle, uint32_t link, uint32_t address, const void* buffer,
                                 uint32_t length);
/* speed_row: the board's link-speed table row (0 Default, 1 1.25 Gb/s, 2 2.5, 3 3.125, 4 5.0, 5 6.25);
 * apply: non-zero applies the change to the camera link at once. */
VNSDK_API int32_t VNCXPConfigureLinkSpeed(VN_HANDLE handle, uint32_t link, uint32_t connections,
                                          uint32_t speed_row, uint32_t apply);
VNSDK_API int32_t VNRegistryBoardGetStringHex(VN_HANDLE handle, const char* key, uint32_t* value);

/* Configured devices, for the Camera Link serial port index. */
typedef struct VnCfgDevice {
    char name[64];
    uint32_t has_serial_port; /* non-zero when the device carries a serial port */
    uint32_t board_number;
} VN_CFG_DEVICE;
VNSDK_API int32_t VNGetCfgDevicesSorted(VN_CFG_DEVICE** devices, uint32_t* count);
VNSDK_API int32_t VNFreeCfgDevices(VN_CFG_DEVICE* devices);
VNSDK_API int32_t VNstrcmp(const char* a, const char* b);
/* The board's configured device name, as it appears in the VNGetCfgDevicesSorted list. */
VNSDK_API int32_t VNGetDeviceName(VN_HANDLE handle, char* text, uint32_t size);

/* Camera Link serial (VNSer); the serial standard library's calls are in platform/clserial/clserial.h. */
VNSDK_API int32_t clVNSerialInitFromBoardHandle(VN_HANDLE handle, void** serial);
VNSDK_API int32_t clVNGetSerialRefFromBoardHandle(VN_HANDLE handle, void** serial_ref);
VNSDK_API int32_t clVNGetBaudRate(void* serial_ref, uint32_t* rate);

/* Debug output: accepts a NUL-terminated text. */
VNSDK_API void VNOutputDebugString(const char* text);

#ifdef __cplusplus
} /* extern "C" */
static_assert(sizeof(VB_FRAME_RECORD) == 104);
static_assert(offsetof(VB_FRAME_RECORD, frame_counter) == 8);
static_assert(offsetof(VB_FRAME_RECORD, timestamp_us) == 48);
static_assert(offsetof(VB_FRAME_RECORD, board_timestamp) == 64);
static_assert(offsetof(VB_FRAME_RECORD, buffer_index) == 80);
static_assert(offsetof(VB_CIRC_DESC, frame_size) == 4);
#endif

#endif /* VNGTL_VANTREL_SDK_H */
