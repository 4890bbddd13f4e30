#include "GenTLFixture.h"

#include "modules/DynamicResourceDepot.h"
#include "modules/RegisterAddresses.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

namespace {

using vngtl::DynamicResourceDepot;
using Depot = GenTLTest;

struct Description {
    const char* name;
    uint32_t id;
    const char* type;
    const char* module_file;
    const char* source_file;
    const char* port;
};

const Description descriptions[] = {
    {"Resources\\TLSystem.xml", 115, "RESOURCES_TLSYSTEM_XML", "Vantrel_VNGTL2_TLSystem.xml", "TLSystem.xml", "TLPort"},
    {"Resources\\TLInterface.xml", 116, "RESOURCES_TLINTERFACE_XML", "Vantrel_VNGTL2_TLInterface.xml",
     "TLInterface.xml", "TLInterface"},
    {"Resources\\TLDevice.xml", 118, "RESOURCES_TLDEVICE_XML", "Vantrel_VNGTL2_TLDevice.xml", "TLDevice.xml",
     "DevicePort"},
    {"Resources\\TLBuffer.xml", 120, "RESOURCES_TLBUFFER_XML", "Vantrel_VNGTL2_TLBuffer.xml", "TLBuffer.xml",
     "BufferPort"},
    {"Resources\\TLDatastream.xml", 121, "RESOURCES_TLDATASTREAM_XML", "Vantrel_VNGTL2_TLDatastream.xml",
     "TLDatastream.xml", "StreamPort"},
};

std::string get_text(const char* name)
{
    size_t size = 0;
    const uint8_t* bytes = DynamicResourceDepot::Get(name, &size);
    return bytes == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(bytes), size);
}

std::string read_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The record's text without the reporting line number, which moves with the source.
std::string without_line(const std::string& record)
{
    const auto open = record.find('[');
    const auto close = record.find("], ");
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return record;
    }
    return record.substr(0, open) + record.substr(close + 1);
}

TEST_F(Depot, EachDescriptionIsTheStoredFileByteForByte)
{
    for (const auto& d : descriptions) {
        SCOPED_TRACE(d.name);
        size_t size = 0;
        const uint8_t* bytes = DynamicResourceDepot::Get(d.name, &size);
        ASSERT_NE(bytes, nullptr);
        const std::string text(reinterpret_cast<const char*>(bytes), size);
        EXPECT_EQ(text, read_file(std::string(VNGTL_SOURCE_DIR) + "/resources/" + d.source_file));

        // UTF-8 declaration, CRLF line ends throughout, ASCII content, no terminating zero counted.
        EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n", 0), 0u);
        EXPECT_TRUE(text.ends_with("</RegisterDescription>\r\n"));
        size_t lone_line_feeds = 0;
        size_t crlf = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            EXPECT_LT(static_cast<unsigned char>(text[i]), 0x80u) << "at byte " << i;
            if (text[i] == '\n') {
                (i > 0 && text[i - 1] == '\r') ? ++crlf : ++lone_line_feeds;
            }
        }
        EXPECT_EQ(lone_line_feeds, 0u);
        EXPECT_GT(crlf, 50u);

        // Schema 1.1.0, file version 1.0.0, and the module file name is the vendor and model of the file.
        for (const char* attribute : {"SchemaMajorVersion=\"1\"", "SchemaMinorVersion=\"1\"", "SchemaSubMinorVersion=\"0\"",
                                      "MajorVersion=\"1\"", "MinorVersion=\"0\"", "SubMinorVersion=\"0\""}) {
            EXPECT_NE(text.find(std::string("\r\n  ") + attribute + "\r\n"), std::string::npos) << attribute;
        }
        const std::string file_name = d.module_file;
        const auto model = file_name.substr(8, file_name.size() - 8 - 4);  // between "Vantrel_" and ".xml"
        EXPECT_NE(text.find("VendorName=\"Vantrel\""), std::string::npos);
        EXPECT_NE(text.find("ModelName=\"" + model + "\""), std::string::npos) << model;
        EXPECT_NE(text.find(std::string("<Port Name=\"") + d.port + "\""), std::string::npos);

        // The bytes are handed out, not copied.
        size_t again = 0;
        EXPECT_EQ(DynamicResourceDepot::Get(d.name, &again), bytes);
        EXPECT_EQ(again, size);

        const auto entry = DynamicResourceDepot::resources().find(d.name);
        ASSERT_NE(entry, DynamicResourceDepot::resources().end());
        EXPECT_EQ(entry->second.id, d.id);
        EXPECT_EQ(entry->second.module_file, d.module_file);
        EXPECT_EQ(DynamicResourceDepot::resource_type(d.name), d.type);
    }
    EXPECT_EQ(DynamicResourceDepot::resources().size(), std::size(descriptions));
}

TEST_F(Depot, RefusesUnknownNamesAndANullSizePointer)
{
    ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    // The table is exact: another separator, another case or another file are all unknown.
    for (const char* name : {"Resources/TLSystem.xml", "resources\\tlsystem.xml", "Resources\\TLCamera.xml",
                             "TLSystem.xml", ""}) {
        size_t size = 77;
        EXPECT_EQ(DynamicResourceDepot::Get(name, &size), nullptr) << name;
        EXPECT_EQ(size, 77u);
        GC_ERROR code = 0;
        EXPECT_EQ(without_line(last_error(&code)),
                  std::string("GC_ERR_ERROR @ DynamicResourceDepot.cpp, DynamicResourceDepot::Get: "
                              "The Resource Depot has no resource called \"") +
                      name + "\".\n");
        EXPECT_EQ(code, GC_ERR_ERROR);
    }

    EXPECT_EQ(DynamicResourceDepot::Get("Resources\\TLSystem.xml", nullptr), nullptr);
    GC_ERROR code = 0;
    EXPECT_EQ(without_line(last_error(&code)),
              "GC_ERR_INVALID_PARAMETER @ DynamicResourceDepot.cpp, DynamicResourceDepot::Get: "
              "The buffer size pointer is invalid (null).\n");
    EXPECT_EQ(code, GC_ERR_INVALID_PARAMETER);
}

TEST_F(Depot, ResourceTypeUpperCasesLettersAndReplacesOtherCharacters)
{
    EXPECT_EQ(DynamicResourceDepot::resource_type("Resources\\TLSystem.xml"), "RESOURCES_TLSYSTEM_XML");
    EXPECT_EQ(DynamicResourceDepot::resource_type("a-b c/9\xC3\xA9"), "A_B_C_9__");
    EXPECT_EQ(DynamicResourceDepot::resource_type(""), "");
}

// The address the description gives the named register node ("<IntReg Name=\"Reg_X\">" ... "<Address>").
std::optional<uint64_t> xml_address(const std::string& xml, const std::string& node)
{
    const auto at = xml.find(" Name=\"" + node + "\"");
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const auto address = xml.find("<Address>", at);
    const auto node_end = xml.find("</", xml.find("<pPort>", at));
    if (address == std::string::npos || address > node_end) {
        return std::nullopt;
    }
    return std::strtoull(xml.c_str() + address + 9, nullptr, 16);
}

TEST_F(Depot, RegisterAddressConstantsAreTheAddressesOfTheDescriptions)
{
    namespace reg = vngtl::reg;
    struct Expect {
        const char* resource;
        const char* node;
        uint64_t address;
    };
    const Expect expected[] = {
        {"Resources\\TLSystem.xml", "Reg_TLID", reg::system::Reg_TLID},
        {"Resources\\TLSystem.xml", "Reg_TLVendorName", reg::system::Reg_TLVendorName},
        {"Resources\\TLSystem.xml", "Reg_TLModelName", reg::system::Reg_TLModelName},
        {"Resources\\TLSystem.xml", "Reg_TLVersion", reg::system::Reg_TLVersion},
        {"Resources\\TLSystem.xml", "Reg_TLPath", reg::system::Reg_TLPath},
        {"Resources\\TLSystem.xml", "Reg_TLType", reg::system::Reg_TLType},
        {"Resources\\TLSystem.xml", "Reg_GenTLVersionMajor", reg::system::Reg_GenTLVersionMajor},
        {"Resources\\TLSystem.xml", "Reg_GenTLVersionMinor", reg::system::Reg_GenTLVersionMinor},
        {"Resources\\TLSystem.xml", "Reg_InterfaceUpdateList", reg::system::Reg_InterfaceUpdateList},
        {"Resources\\TLSystem.xml", "Reg_InterfaceSelector", reg::system::Reg_InterfaceSelector},
        {"Resources\\TLSystem.xml", "Reg_InterfaceCount", reg::system::Reg_InterfaceCount},
        {"Resources\\TLSystem.xml", "Reg_InterfaceID", reg::system::Reg_InterfaceID},
        {"Resources\\TLInterface.xml", "Reg_InterfaceID", reg::interface::Reg_InterfaceID},
        {"Resources\\TLInterface.xml", "Reg_InterfaceType", reg::interface::Reg_InterfaceType},
        {"Resources\\TLInterface.xml", "Reg_DeviceUpdateList", reg::interface::Reg_DeviceUpdateList},
        {"Resources\\TLInterface.xml", "Reg_DeviceSelector", reg::interface::Reg_DeviceSelector},
        {"Resources\\TLInterface.xml", "Reg_DeviceCount", reg::interface::Reg_DeviceCount},
        {"Resources\\TLInterface.xml", "Reg_DeviceID", reg::interface::Reg_DeviceID},
        {"Resources\\TLInterface.xml", "Reg_DeviceVendorName", reg::interface::Reg_DeviceVendorName},
        {"Resources\\TLInterface.xml", "Reg_DeviceModelName", reg::interface::Reg_DeviceModelName},
        {"Resources\\TLInterface.xml", "Reg_DeviceAccessStatus", reg::interface::Reg_DeviceAccessStatus},
        {"Resources\\TLInterface.xml", "Reg_CurrentCameraFile", reg::interface::Reg_CurrentCameraFile},
        {"Resources\\TLInterface.xml", "Reg_CameraFileSettable", reg::interface::Reg_CameraFileSettable},
        {"Resources\\TLInterface.xml", "Reg_BoardRegisterIndex", reg::interface::Reg_BoardRegisterIndex},
        {"Resources\\TLInterface.xml", "Reg_BoardRegisterIndex_Cnt", reg::interface::Reg_BoardRegisterIndex_Cnt},
        {"Resources\\TLInterface.xml", "Reg_BoardRegisterName", reg::interface::Reg_BoardRegisterName},
        {"Resources\\TLInterface.xml", "Reg_BoardRegisterValue", reg::interface::Reg_BoardRegisterValue},
        {"Resources\\TLInterface.xml", "Reg_BoardRegisterValid", reg::interface::Reg_BoardRegisterValid},
        {"Resources\\TLInterface.xml", "Reg_DeviceOpen", reg::interface::Reg_DeviceOpen},
        {"Resources\\TLDevice.xml", "Reg_DeviceID", reg::device::Reg_DeviceID},
        {"Resources\\TLDevice.xml", "Reg_DeviceVendorName", reg::device::Reg_DeviceVendorName},
        {"Resources\\TLDevice.xml", "Reg_DeviceModelName", reg::device::Reg_DeviceModelName},
        {"Resources\\TLDevice.xml", "Reg_DeviceType", reg::device::Reg_DeviceType},
        {"Resources\\TLDevice.xml", "Reg_StreamSelector", reg::device::Reg_StreamSelector},
        {"Resources\\TLDevice.xml", "Reg_StreamCount", reg::device::Reg_StreamCount},
        {"Resources\\TLDevice.xml", "Reg_StreamID", reg::device::Reg_StreamID},
        {"Resources\\TLDevice.xml", "Reg_CacheExternalXmlFile", reg::device::Reg_CacheExternalXmlFile},
        {"Resources\\TLDevice.xml", "Reg_DeleteSelectedXmlCacheEntry", reg::device::Reg_DeleteSelectedXmlCacheEntry},
        {"Resources\\TLDevice.xml", "Reg_XmlUrlSelector", reg::device::Reg_XmlUrlSelector},
        {"Resources\\TLDevice.xml", "Reg_XmlUrlPath", reg::device::Reg_XmlUrlPath},
        {"Resources\\TLDevice.xml", "Reg_XmlFileCount", reg::device::Reg_XmlFileCount},
        {"Resources\\TLDevice.xml", "Reg_SyncCacheWithCamera", reg::device::Reg_SyncCacheWithCamera},
        {"Resources\\TLDatastream.xml", "Reg_StreamID", reg::datastream::Reg_StreamID},
        {"Resources\\TLDatastream.xml", "Reg_StreamDeliveredFrameCount", reg::datastream::Reg_StreamDeliveredFrameCount},
        {"Resources\\TLDatastream.xml", "Reg_StreamLostFrameCount", reg::datastream::Reg_StreamLostFrameCount},
        {"Resources\\TLDatastream.xml", "Reg_StreamAnnouncedBufferCount", reg::datastream::Reg_StreamAnnouncedBufferCount},
        {"Resources\\TLDatastream.xml", "Reg_StreamInputBufferCount", reg::datastream::Reg_StreamInputBufferCount},
        {"Resources\\TLDatastream.xml", "Reg_StreamOutputBufferCount", reg::datastream::Reg_StreamOutputBufferCount},
        {"Resources\\TLDatastream.xml", "Reg_StreamStartedFrameCount", reg::datastream::Reg_StreamStartedFrameCount},
        {"Resources\\TLDatastream.xml", "Reg_PayloadSize", reg::datastream::Reg_PayloadSize},
        {"Resources\\TLDatastream.xml", "Reg_StreamIsGrabbing", reg::datastream::Reg_StreamIsGrabbing},
        {"Resources\\TLDatastream.xml", "Reg_StreamChunkCountMaximum", reg::datastream::Reg_StreamChunkCountMaximum},
        {"Resources\\TLDatastream.xml", "Reg_StreamAnnounceBufferMinimum", reg::datastream::Reg_StreamAnnounceBufferMinimum},
        {"Resources\\TLDatastream.xml", "Reg_StreamBufferAlignment", reg::datastream::Reg_StreamBufferAlignment},
        {"Resources\\TLDatastream.xml", "Reg_SizeofSizeT", reg::datastream::Reg_SizeofSizeT},
        {"Resources\\TLDatastream.xml", "Reg_StreamType", reg::datastream::Reg_StreamType},
        {"Resources\\TLDatastream.xml", "Reg_GrabberBufferCountDesired", reg::datastream::Reg_GrabberBufferCountDesired},
        {"Resources\\TLDatastream.xml", "Reg_GrabberBufferCountAllocated", reg::datastream::Reg_GrabberBufferCountAllocated},
        {"Resources\\TLDatastream.xml", "Reg_GrabberBufferCountMinimum", reg::datastream::Reg_GrabberBufferCountMinimum},
        {"Resources\\TLDatastream.xml", "Reg_GrabberBufferCopyOffset", reg::datastream::Reg_GrabberBufferCopyOffset},
        {"Resources\\TLDatastream.xml", "Reg_OffsetX", reg::datastream::Reg_OffsetX},
        {"Resources\\TLDatastream.xml", "Reg_OffsetY", reg::datastream::Reg_OffsetY},
        {"Resources\\TLDatastream.xml", "Reg_Width", reg::datastream::Reg_Width},
        {"Resources\\TLDatastream.xml", "Reg_Height", reg::datastream::Reg_Height},
        {"Resources\\TLDatastream.xml", "Reg_WidthMax", reg::datastream::Reg_WidthMax},
        {"Resources\\TLDatastream.xml", "Reg_HeightMax", reg::datastream::Reg_HeightMax},
        {"Resources\\TLBuffer.xml", "Reg_BufferSize", reg::buffer::Reg_BufferSize},
        {"Resources\\TLBuffer.xml", "Reg_BufferDataSize", reg::buffer::Reg_BufferDataSize},
        {"Resources\\TLBuffer.xml", "Reg_BufferUserData", reg::buffer::Reg_BufferUserData},
        {"Resources\\TLBuffer.xml", "Reg_BufferTimeStamp", reg::buffer::Reg_BufferTimeStamp},
        {"Resources\\TLBuffer.xml", "Reg_BufferNewData", reg::buffer::Reg_BufferNewData},
        {"Resources\\TLBuffer.xml", "Reg_BufferIsQueued", reg::buffer::Reg_BufferIsQueued},
        {"Resources\\TLBuffer.xml", "Reg_BufferIsAcquiring", reg::buffer::Reg_BufferIsAcquiring},
        {"Resources\\TLBuffer.xml", "Reg_BufferIsIncomplete", reg::buffer::Reg_BufferIsIncomplete},
        {"Resources\\TLBuffer.xml", "Reg_BufferSizeFilled", reg::buffer::Reg_BufferSizeFilled},
        {"Resources\\TLBuffer.xml", "Reg_BufferWidth", reg::buffer::Reg_BufferWidth},
        {"Resources\\TLBuffer.xml", "Reg_BufferHeight", reg::buffer::Reg_BufferHeight},
        {"Resources\\TLBuffer.xml", "Reg_BufferXOffset", reg::buffer::Reg_BufferXOffset},
        {"Resources\\TLBuffer.xml", "Reg_BufferYOffset", reg::buffer::Reg_BufferYOffset},
        {"Resources\\TLBuffer.xml", "Reg_BufferXPadding", reg::buffer::Reg_BufferXPadding},
        {"Resources\\TLBuffer.xml", "Reg_BufferYPadding", reg::buffer::Reg_BufferYPadding},
        {"Resources\\TLBuffer.xml", "Reg_BufferFrameID", reg::buffer::Reg_BufferFrameID},
        {"Resources\\TLBuffer.xml", "Reg_BufferImagePresent", reg::buffer::Reg_BufferImagePresent},
        {"Resources\\TLBuffer.xml", "Reg_BufferImageOffset", reg::buffer::Reg_BufferImageOffset},
        {"Resources\\TLBuffer.xml", "Reg_BufferPayloadType", reg::buffer::Reg_BufferPayloadType},
        {"Resources\\TLBuffer.xml", "Reg_BufferPixelFormat", reg::buffer::Reg_BufferPixelFormat},
        {"Resources\\TLBuffer.xml", "Reg_BufferDeliveredImageHeight", reg::buffer::Reg_BufferDeliveredImageHeight},
        {"Resources\\TLBuffer.xml", "Reg_SizeofSizeT", reg::buffer::Reg_SizeofSizeT},
        {"Resources\\TLBuffer.xml", "BufferData", reg::buffer::BufferData},
    };
    std::map<std::string, size_t> registers_per_file;
    for (const auto& e : expected) {
        SCOPED_TRACE(std::string(e.resource) + " " + e.node);
        const auto xml = get_text(e.resource);
        ASSERT_FALSE(xml.empty());
        const auto address = xml_address(xml, e.node);
        ASSERT_TRUE(address.has_value());
        EXPECT_EQ(*address, e.address);
        ++registers_per_file[e.resource];
    }
    // Every register node of each description is in the list above.
    for (const auto& [resource, count] : registers_per_file) {
        const auto xml = get_text(resource.c_str());
        size_t nodes = 0;
        for (const char* kind : {"<IntReg Name=", "<StringReg Name=", "<Register Name="}) {
            for (auto at = xml.find(kind); at != std::string::npos; at = xml.find(kind, at + 1)) {
                ++nodes;
            }
        }
        EXPECT_EQ(nodes, count) << resource;
    }
}

}  // namespace
