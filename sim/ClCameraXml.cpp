// The Camera Link camera's GenApi description (schema 1.1) and its zipped form. The addresses in the text
// are tokens ("{Width}") replaced from the register table of ClCameraRegisters.h, so the description and
// the camera cannot disagree.
#include "ClCamera.h"

#include "ClCameraRegisters.h"

#include <zlib.h>

#include <cstdio>
#include <stdexcept>

namespace vnsim {

namespace {

constexpr const char* xml_template = R"(<?xml version="1.0" encoding="utf-8"?>
<RegisterDescription ModelName="SimCamCL" VendorName="Vantrel" ToolTip="Simulated Camera Link camera"
  StandardNameSpace="None" SchemaMajorVersion="1" SchemaMinorVersion="1" SchemaSubMinorVersion="0"
  MajorVersion="1" MinorVersion="0" SubMinorVersion="0"
  ProductGuid="5C1A9E3B-2F0D-4B6E-8A7C-1D2E3F405162" VersionGuid="6D2B0F4C-3E1A-4C7F-9B8D-2E3F40516273"
  xmlns="http://www.genicam.org/GenApi/Version_1_1" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"
  xsi:schemaLocation="http://www.genicam.org/GenApi/Version_1_1 http://www.genicam.org/GenApi/GenApiSchema_Version_1_1.xsd">

  <Category Name="Root" NameSpace="Standard">
    <pFeature>DeviceControl</pFeature>
    <pFeature>ImageFormatControl</pFeature>
    <pFeature>AcquisitionControl</pFeature>
    <pFeature>TransportLayerControl</pFeature>
  </Category>

  <Category Name="DeviceControl" NameSpace="Standard">
    <pFeature>DeviceVendorName</pFeature>
    <pFeature>DeviceModelName</pFeature>
    <pFeature>DeviceFamilyName</pFeature>
    <pFeature>DeviceVersion</pFeature>
    <pFeature>DeviceManufacturerInfo</pFeature>
    <pFeature>DeviceSerialNumber</pFeature>
    <pFeature>DeviceUserID</pFeature>
  </Category>
  <StringReg Name="DeviceVendorName" NameSpace="Standard">
    <Address>{ManufacturerName}</Address><Length>64</Length><AccessMode>RO</AccessMode><pPort>Device</pPort>
  </StringReg>
  <StringReg Name="DeviceModelName" NameSpace="Standard">
    <Address>{ModelName}</Address><Length>64</Length><AccessMode>RO</AccessMode><pPort>Device</pPort>
  </StringReg>
  <StringReg Name="DeviceFamilyName" NameSpace="Standard">
    <Address>{FamilyName}</Address><Length>64</Length><AccessMode>RO</AccessMode><pPort>Device</pPort>
  </StringReg>
  <StringReg Name="DeviceVersion" NameSpace="Standard">
    <Address>{DeviceVersion}</Address><Length>64</Length><AccessMode>RO</AccessMode><pPort>Device</pPort>
  </StringReg>
  <StringReg Name="DeviceManufacturerInfo" NameSpace="Standard">
    <Address>{ManufacturerInfo}</Address><Length>64</Length><AccessMode>RO</AccessMode><pPort>Device</pPort>
  </StringReg>
  <StringReg Name="DeviceSerialNumber" NameSpace="Standard">
    <Address>{SerialNumber}</Address><Length>64</Length><AccessMode>RO</AccessMode><pPort>Device</pPort>
  </StringReg>
  <StringReg Name="DeviceUserID" NameSpace="Standard">
    <Address>{UserDefinedName}</Address><Length>64</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable>
  </StringReg>

  <Category Name="ImageFormatControl" NameSpace="Standard">
    <pFeature>Width</pFeature>
    <pFeature>Height</pFeature>
    <pFeature>WidthMax</pFeature>
    <pFeature>HeightMax</pFeature>
    <pFeature>PixelFormat</pFeature>
    <pFeature>PayloadSize</pFeature>
    <pFeature>TestPattern</pFeature>
  </Category>
  <Integer Name="Width" NameSpace="Standard">
    <pIsLocked>TLParamsLocked</pIsLocked>
    <pValue>WidthReg</pValue>
    <Min>1</Min>
    <pMax>WidthMax</pMax>
    <Inc>1</Inc>
  </Integer>
  <IntReg Name="WidthReg">
    <Address>{Width}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <Integer Name="Height" NameSpace="Standard">
    <pIsLocked>TLParamsLocked</pIsLocked>
    <pValue>HeightReg</pValue>
    <Min>1</Min>
    <pMax>HeightMax</pMax>
    <Inc>1</Inc>
  </Integer>
  <IntReg Name="HeightReg">
    <Address>{Height}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <IntReg Name="WidthMax" NameSpace="Standard">
    <Address>{WidthMax}</Address><Length>4</Length><AccessMode>RO</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <IntReg Name="HeightMax" NameSpace="Standard">
    <Address>{HeightMax}</Address><Length>4</Length><AccessMode>RO</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <Enumeration Name="PixelFormat" NameSpace="Standard">
    <pIsLocked>TLParamsLocked</pIsLocked>
    <EnumEntry Name="Mono8" NameSpace="Standard"><Value>0x01080001</Value></EnumEntry>
    <EnumEntry Name="Mono10" NameSpace="Standard"><Value>0x01100003</Value></EnumEntry>
    <EnumEntry Name="Mono12" NameSpace="Standard"><Value>0x01100005</Value></EnumEntry>
    <EnumEntry Name="Mono16" NameSpace="Standard"><Value>0x01100007</Value></EnumEntry>
    <pValue>PixelFormatReg</pValue>
  </Enumeration>
  <IntReg Name="PixelFormatReg">
    <Address>{PixelFormat}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <IntReg Name="PayloadSize" NameSpace="Standard">
    <Address>{PayloadSize}</Address><Length>4</Length><AccessMode>RO</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <Enumeration Name="TestPattern" NameSpace="Standard">
    <EnumEntry Name="Off" NameSpace="Standard"><Value>0</Value></EnumEntry>
    <EnumEntry Name="Benchmark"><Value>1</Value></EnumEntry>
    <pValue>TestPatternReg</pValue>
  </Enumeration>
  <IntReg Name="TestPatternReg">
    <Address>{TestPattern}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>

  <Category Name="AcquisitionControl" NameSpace="Standard">
    <pFeature>AcquisitionMode</pFeature>
    <pFeature>AcquisitionStart</pFeature>
    <pFeature>AcquisitionStop</pFeature>
    <pFeature>AcquisitionStatus</pFeature>
    <pFeature>AcquisitionFrameCount</pFeature>
    <pFeature>TriggerSelector</pFeature>
    <pFeature>TriggerMode</pFeature>
    <pFeature>TriggerSource</pFeature>
    <pFeature>TriggerSoftware</pFeature>
    <pFeature>TriggerActivation</pFeature>
    <pFeature>AcquisitionFrameRate</pFeature>
    <pFeature>ExposureTime</pFeature>
  </Category>
  <Enumeration Name="AcquisitionMode" NameSpace="Standard">
    <EnumEntry Name="Continuous" NameSpace="Standard"><Value>0</Value></EnumEntry>
    <EnumEntry Name="SingleFrame" NameSpace="Standard"><Value>1</Value></EnumEntry>
    <EnumEntry Name="MultiFrame" NameSpace="Standard"><Value>2</Value></EnumEntry>
    <pValue>AcquisitionModeReg</pValue>
  </Enumeration>
  <IntReg Name="AcquisitionModeReg">
    <Address>{AcquisitionMode}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <Command Name="AcquisitionStart" NameSpace="Standard">
    <pValue>AcquisitionStartReg</pValue>
    <CommandValue>1</CommandValue>
  </Command>
  <IntReg Name="AcquisitionStartReg">
    <Address>{AcquisitionStart}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <Command Name="AcquisitionStop" NameSpace="Standard">
    <pValue>AcquisitionStopReg</pValue>
    <CommandValue>1</CommandValue>
  </Command>
  <IntReg Name="AcquisitionStopReg">
    <Address>{AcquisitionStop}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <IntReg Name="AcquisitionStatus" NameSpace="Standard">
    <Address>{AcquisitionStatus}</Address><Length>4</Length><AccessMode>RO</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <Float Name="AcquisitionFrameRate" NameSpace="Standard">
    <pValue>AcquisitionFrameRateReg</pValue>
    <Min>0</Min>
    <Max>100000</Max>
    <Unit>Hz</Unit>
  </Float>
  <FloatReg Name="AcquisitionFrameRateReg">
    <Address>{AcquisitionFrameRate}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Endianess>LittleEndian</Endianess>
  </FloatReg>
  <Integer Name="AcquisitionFrameCount" NameSpace="Standard">
    <pValue>AcquisitionFrameCountReg</pValue>
    <Min>1</Min>
    <Max>16777215</Max>
  </Integer>
  <IntReg Name="AcquisitionFrameCountReg">
    <Address>{AcquisitionFrameCount}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <Enumeration Name="TriggerSelector" NameSpace="Standard">
    <EnumEntry Name="FrameStart" NameSpace="Standard"><Value>0</Value></EnumEntry>
    <pValue>TriggerSelectorReg</pValue>
    <pSelected>TriggerMode</pSelected>
    <pSelected>TriggerSource</pSelected>
    <pSelected>TriggerSoftware</pSelected>
    <pSelected>TriggerActivation</pSelected>
  </Enumeration>
  <IntReg Name="TriggerSelectorReg">
    <Address>{TriggerSelector}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <Enumeration Name="TriggerMode" NameSpace="Standard">
    <EnumEntry Name="Off" NameSpace="Standard"><Value>0</Value></EnumEntry>
    <EnumEntry Name="On" NameSpace="Standard"><Value>1</Value></EnumEntry>
    <pValue>TriggerModeReg</pValue>
  </Enumeration>
  <IntReg Name="TriggerModeReg">
    <Address>{TriggerMode}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <Enumeration Name="TriggerSource" NameSpace="Standard">
    <EnumEntry Name="Software" NameSpace="Standard"><Value>0</Value></EnumEntry>
    <EnumEntry Name="Line0" NameSpace="Standard"><Value>1</Value></EnumEntry>
    <pValue>TriggerSourceReg</pValue>
  </Enumeration>
  <IntReg Name="TriggerSourceReg">
    <Address>{TriggerSource}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <Command Name="TriggerSoftware" NameSpace="Standard">
    <pValue>TriggerSoftwareReg</pValue>
    <CommandValue>1</CommandValue>
  </Command>
  <IntReg Name="TriggerSoftwareReg">
    <Address>{TriggerSoftware}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <Enumeration Name="TriggerActivation" NameSpace="Standard">
    <pIsAvailable>TriggerFromLine</pIsAvailable>
    <EnumEntry Name="RisingEdge" NameSpace="Standard"><Value>0</Value></EnumEntry>
    <EnumEntry Name="FallingEdge" NameSpace="Standard"><Value>1</Value></EnumEntry>
    <EnumEntry Name="AnyEdge" NameSpace="Standard"><Value>2</Value></EnumEntry>
    <pValue>TriggerActivationReg</pValue>
  </Enumeration>
  <IntReg Name="TriggerActivationReg">
    <Address>{TriggerActivation}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>
  <IntSwissKnife Name="TriggerFromLine">
    <Visibility>Invisible</Visibility>
    <pVariable Name="SRC">TriggerSourceReg</pVariable>
    <Formula>SRC = 1</Formula>
  </IntSwissKnife>
  <Float Name="ExposureTime" NameSpace="Standard">
    <pValue>ExposureTimeReg</pValue>
    <Min>10</Min>
    <Max>1000000</Max>
    <Unit>us</Unit>
  </Float>
  <FloatReg Name="ExposureTimeReg">
    <Address>{ExposureTime}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Endianess>LittleEndian</Endianess>
  </FloatReg>

  <Category Name="TransportLayerControl" NameSpace="Standard">
    <pFeature>TLParamsLocked</pFeature>
  </Category>
  <Integer Name="TLParamsLocked" NameSpace="Standard">
    <Visibility>Invisible</Visibility>
    <pValue>TLParamsLockedReg</pValue>
    <Min>0</Min>
    <Max>1</Max>
  </Integer>
  <IntReg Name="TLParamsLockedReg">
    <Address>{TLParamsLocked}</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
    <Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess>
  </IntReg>

  <Port Name="Device" NameSpace="Standard"/>
</RegisterDescription>
)";

std::string make_xml()
{
    std::string text = xml_template;
    for (const auto& feature : clcam::features) {
        const std::string token = "{" + std::string(feature.token) + "}";
        char address[16];
        std::snprintf(address, sizeof address, "0x%X", feature.address);
        for (size_t at = text.find(token); at != std::string::npos; at = text.find(token, at)) {
            text.replace(at, token.size(), address);
        }
    }
    if (text.find('{') != std::string::npos) {
        throw std::logic_error("the Camera Link camera's description names an address without a constant");
    }
    return text;
}

void put16(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// A zip archive of one deflated file, written with zlib alone (local header, data, central directory,
// end record).
std::vector<uint8_t> make_zip(const std::string& name, const std::string& text)
{
    z_stream stream{};
    if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    std::vector<uint8_t> packed(deflateBound(&stream, static_cast<uLong>(text.size())));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = packed.data();
    stream.avail_out = static_cast<uInt>(packed.size());
    const int result = deflate(&stream, Z_FINISH);
    packed.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        throw std::runtime_error("deflate failed");
    }
    const auto crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(text.data()),
                                                 static_cast<uInt>(text.size())));
    const auto size = static_cast<uint32_t>(text.size());
    const auto packed_size = static_cast<uint32_t>(packed.size());
    const uint32_t dos_time = 0, dos_date = (2026 - 1980) << 9 | 1 << 5 | 1;
    std::vector<uint8_t> zip;
    put32(zip, 0x04034B50);
    put16(zip, 20);
    put16(zip, 0);
    put16(zip, 8);
    put16(zip, dos_time);
    put16(zip, dos_date);
    put32(zip, crc);
    put32(zip, packed_size);
    put32(zip, size);
    put16(zip, static_cast<uint32_t>(name.size()));
    put16(zip, 0);
    zip.insert(zip.end(), name.begin(), name.end());
    zip.insert(zip.end(), packed.begin(), packed.end());
    const auto directory = static_cast<uint32_t>(zip.size());
    put32(zip, 0x02014B50);
    put16(zip, 20);
    put16(zip, 20);
    put16(zip, 0);
    put16(zip, 8);
    put16(zip, dos_time);
    put16(zip, dos_date);
    put32(zip, crc);
    put32(zip, packed_size);
    put32(zip, size);
    put16(zip, static_cast<uint32_t>(name.size()));
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, 0);
    put32(zip, 0);
    put32(zip, 0);
    zip.insert(zip.end(), name.begin(), name.end());
    const auto directory_size = static_cast<uint32_t>(zip.size()) - directory;
    put32(zip, 0x06054B50);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, 1);
    put16(zip, 1);
    put32(zip, directory_size);
    put32(zip, directory);
    put16(zip, 0);
    return zip;
}

}  // namespace

const std::string& ClCamera::xml()
{
    static const std::string text = make_xml();
    return text;
}

const std::vector<uint8_t>& ClCamera::xml_zip()
{
    static const std::vector<uint8_t> zip = make_zip("SimCamCL.xml", xml());
    return zip;
}

}  // namespace vnsim
