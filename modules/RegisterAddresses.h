// Register addresses of the five module descriptions (resources/TL*.xml), and of the info values that the
// modules keep in the same register maps (Info_*, read through the info functions rather than named by a
// description). The XML files name the Reg_* addresses and each module inserts a register-map entry at
// exactly each of them, so the modules, the descriptions and the tests share this one list; module code
// writes no address of its own. A length of "size" means the byte width of a size value
// (Reg_SizeofSizeT, 8 in this library).
#pragma once

#include <cstdint>

namespace vngtl::reg {

inline constexpr uint32_t string_length = 256;  // string registers
inline constexpr uint32_t path_length = 260;    // file names and paths
inline constexpr uint32_t size_length = 8;      // size values (Reg_SizeofSizeT)

// System module, port "TLPort".
namespace system {
inline constexpr uint64_t xml_file = 0xA000;
inline constexpr uint64_t Reg_TLID = 0x0000;
inline constexpr uint64_t Reg_TLVendorName = 0x0100;
inline constexpr uint64_t Reg_TLModelName = 0x0200;
inline constexpr uint64_t Reg_TLVersion = 0x0300;
inline constexpr uint64_t Info_TLType = 0x0400;
inline constexpr uint64_t Info_TLName = 0x0500;
inline constexpr uint64_t Reg_TLPath = 0x0600;
inline constexpr uint64_t Info_TLDisplayName = 0x0704;
inline constexpr uint64_t Info_TLCharEncoding = 0x0804;
inline constexpr uint64_t Info_GenTLVersionMajor = 0x0808;
inline constexpr uint64_t Info_GenTLVersionMinor = 0x080C;
inline constexpr uint64_t Reg_TLType = 0x5000;
inline constexpr uint64_t Reg_GenTLVersionMajor = 0x5004;
inline constexpr uint64_t Reg_GenTLVersionMinor = 0x5008;
inline constexpr uint64_t Reg_InterfaceUpdateList = 0x500C;
inline constexpr uint64_t Reg_InterfaceSelector = 0x5010;
inline constexpr uint64_t Reg_InterfaceCount = 0x5014;
inline constexpr uint64_t Reg_InterfaceID = 0x5018;
}  // namespace system

// Interface module, port "TLInterface".
namespace interface {
inline constexpr uint64_t xml_file = 0x1000;
inline constexpr uint64_t Reg_InterfaceID = 0x0000;
inline constexpr uint64_t Info_InterfaceTLType = 0x0200;
inline constexpr uint64_t Reg_InterfaceType = 0x0500;
inline constexpr uint64_t Reg_DeviceUpdateList = 0x0504;
inline constexpr uint64_t Reg_DeviceSelector = 0x0508;
inline constexpr uint64_t Reg_DeviceCount = 0x050C;
inline constexpr uint64_t Reg_DeviceID = 0x0510;
inline constexpr uint64_t Reg_DeviceVendorName = 0x0610;
inline constexpr uint64_t Reg_DeviceModelName = 0x0710;
inline constexpr uint64_t Reg_DeviceAccessStatus = 0x0810;
inline constexpr uint64_t Reg_CurrentCameraFile = 0x0910;   // path_length
inline constexpr uint64_t Reg_CameraFileSettable = 0x0A14;
inline constexpr uint64_t Reg_BoardRegisterIndex = 0x0A18;
inline constexpr uint64_t Reg_BoardRegisterIndex_Cnt = 0x0A1C;
inline constexpr uint64_t Reg_BoardRegisterName = 0x0A20;
inline constexpr uint64_t Reg_BoardRegisterValue = 0x0B20;
inline constexpr uint64_t Reg_BoardRegisterValid = 0x0B24;
inline constexpr uint64_t Reg_DeviceOpen = 0x0B28;          // the selected device is open (1) or not (0)
}  // namespace interface

// Device module, port "DevicePort".
namespace device {
inline constexpr uint64_t xml_file = 0xA000;
inline constexpr uint64_t Reg_DeviceID = 0x0000;
inline constexpr uint64_t Reg_DeviceVendorName = 0x0100;
inline constexpr uint64_t Reg_DeviceModelName = 0x0200;
inline constexpr uint64_t Info_DeviceTLType = 0x0300;
inline constexpr uint64_t Info_DeviceDisplayName = 0x0400;
inline constexpr uint64_t Info_DeviceAccessStatus = 0x0500;
inline constexpr uint64_t Info_DeviceUserDefinedName = 0x0504;
inline constexpr uint64_t Info_DeviceSerialNumber = 0x0604;
inline constexpr uint64_t Info_DeviceVersion = 0x0704;
inline constexpr uint64_t Info_DeviceTimestampFrequency = 0x0804;
inline constexpr uint64_t Reg_DeviceType = 0x5000;
inline constexpr uint64_t Reg_StreamSelector = 0x5004;
inline constexpr uint64_t Reg_StreamCount = 0x5008;
inline constexpr uint64_t Reg_StreamID = 0x500C;
inline constexpr uint64_t Reg_CacheExternalXmlFile = 0x510C;  // path_length
inline constexpr uint64_t Reg_DeleteSelectedXmlCacheEntry = 0x5210;
inline constexpr uint64_t Reg_XmlUrlSelector = 0x5214;
inline constexpr uint64_t Reg_XmlUrlPath = 0x5218;            // path_length
inline constexpr uint64_t Reg_XmlFileCount = 0x531C;
inline constexpr uint64_t Reg_SyncCacheWithCamera = 0x5320;
}  // namespace device

// Data-stream module, port "StreamPort".
namespace datastream {
inline constexpr uint64_t xml_file = 0x1000;
inline constexpr uint64_t Reg_StreamID = 0x0000;
inline constexpr uint64_t Reg_StreamDeliveredFrameCount = 0x0100;
inline constexpr uint64_t Reg_StreamLostFrameCount = 0x0108;
inline constexpr uint64_t Reg_StreamAnnouncedBufferCount = 0x0110;
inline constexpr uint64_t Reg_StreamInputBufferCount = 0x0118;
inline constexpr uint64_t Reg_StreamOutputBufferCount = 0x0120;
inline constexpr uint64_t Reg_StreamStartedFrameCount = 0x0128;
inline constexpr uint64_t Reg_PayloadSize = 0x0130;
inline constexpr uint64_t Reg_StreamIsGrabbing = 0x0138;       // 1 byte
inline constexpr uint64_t Info_StreamDefinesPayloadSize = 0x013C;  // 1 byte
inline constexpr uint64_t Info_StreamTLType = 0x0140;
inline constexpr uint64_t Reg_StreamChunkCountMaximum = 0x0240;
inline constexpr uint64_t Reg_StreamAnnounceBufferMinimum = 0x0248;
inline constexpr uint64_t Reg_StreamBufferAlignment = 0x0250;
// STREAM_INFO_CUSTOM_ID: frames lost because the board overwrote them before or during their copy.
inline constexpr uint64_t Info_StreamOverwrittenFrameCount = 0x0258;
inline constexpr uint64_t Reg_SizeofSizeT = 0x0500;
inline constexpr uint64_t Reg_StreamType = 0x0504;
inline constexpr uint64_t Reg_GrabberBufferCountDesired = 0x0508;
inline constexpr uint64_t Reg_GrabberBufferCountAllocated = 0x0510;
inline constexpr uint64_t Reg_GrabberBufferCountMinimum = 0x0518;
inline constexpr uint64_t Reg_GrabberBufferCopyOffset = 0x0520;
inline constexpr uint64_t Reg_OffsetX = 0x0528;
inline constexpr uint64_t Reg_OffsetY = 0x052C;
inline constexpr uint64_t Reg_Width = 0x0530;
inline constexpr uint64_t Reg_Height = 0x0534;
inline constexpr uint64_t Reg_WidthMax = 0x0538;
inline constexpr uint64_t Reg_HeightMax = 0x053C;
}  // namespace datastream

// Buffer module, port "BufferPort".
namespace buffer {
inline constexpr uint64_t xml_file = 0x10000000;
inline constexpr uint64_t Info_BufferBase = 0x0000;
inline constexpr uint64_t Reg_BufferSize = 0x0008;
inline constexpr uint64_t Reg_BufferDataSize = 0x0008;  // the same register, the length of BufferData
inline constexpr uint64_t Reg_BufferUserData = 0x0010;
inline constexpr uint64_t Reg_BufferTimeStamp = 0x0018;
inline constexpr uint64_t Reg_BufferNewData = 0x0020;       // 1 byte
inline constexpr uint64_t Reg_BufferIsQueued = 0x0024;      // 1 byte
inline constexpr uint64_t Reg_BufferIsAcquiring = 0x0028;   // 1 byte
inline constexpr uint64_t Reg_BufferIsIncomplete = 0x002C;  // 1 byte
inline constexpr uint64_t Info_BufferTLType = 0x0030;        // 64 bytes
inline constexpr uint64_t Reg_BufferSizeFilled = 0x0070;
inline constexpr uint64_t Reg_BufferWidth = 0x0078;
inline constexpr uint64_t Reg_BufferHeight = 0x0080;
inline constexpr uint64_t Reg_BufferXOffset = 0x0088;
inline constexpr uint64_t Reg_BufferYOffset = 0x0090;
inline constexpr uint64_t Reg_BufferXPadding = 0x0098;
inline constexpr uint64_t Reg_BufferYPadding = 0x00A0;
inline constexpr uint64_t Reg_BufferFrameID = 0x00A8;
inline constexpr uint64_t Reg_BufferImagePresent = 0x00B0;  // 1 byte
inline constexpr uint64_t Reg_BufferImageOffset = 0x00B4;
inline constexpr uint64_t Reg_BufferPayloadType = 0x00BC;
inline constexpr uint64_t Reg_BufferPixelFormat = 0x00C4;
inline constexpr uint64_t Info_BufferPixelFormatNamespace = 0x00CC;
inline constexpr uint64_t Reg_BufferDeliveredImageHeight = 0x00D4;
inline constexpr uint64_t Info_BufferPixelEndianness = 0x00DC;
inline constexpr uint64_t Info_BufferDataSize = 0x00E0;
inline constexpr uint64_t Info_BufferTimestampNs = 0x00E8;
inline constexpr uint64_t Info_BufferDataLargerThanBuffer = 0x00F0;  // 1 byte
inline constexpr uint64_t Info_BufferContainsChunkData = 0x00F4;     // 1 byte
inline constexpr uint64_t Reg_SizeofSizeT = 0x0500;
// BUFFER_INFO_CUSTOM_ID + 1 and + 2: when the acquisition thread took the frame from the board and when its
// copy into the buffer was whole (the host's monotonic clock, ns).
inline constexpr uint64_t Info_BufferReceivedNs = 0x0508;
inline constexpr uint64_t Info_BufferCopiedNs = 0x0510;
inline constexpr uint64_t BufferData = 0x20000000;
}  // namespace buffer

}  // namespace vngtl::reg
