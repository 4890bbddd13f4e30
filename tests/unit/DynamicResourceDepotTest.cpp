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
    struct Node {
        const char* name;
        uint64_t address;
    };
    struct File {
        const char* resource;
        std::vector<Node> nodes;  // every register node of the description
    };
#define NODE(module, name) Node{#name, vngtl::reg::module::name}
    const File files[] = {
        {"Resources\\TLSystem.xml",
         {NODE(system, Reg_TLID), NODE(system, Reg_TLVendorName), NODE(system, Reg_TLModelName),
          NODE(system, Reg_TLVersion), NODE(system, Reg_TLPath), NODE(system, Reg_TLType),
          NODE(system, Reg_GenTLVersionMajor), NODE(system, Reg_GenTLVersionMinor),
          NODE(system, Reg_InterfaceUpdateList), NODE(system, Reg_InterfaceSelector),
          NODE(system, Reg_InterfaceCount), NODE(system, Reg_InterfaceID)}},
        {"Resources\\TLInterface.xml",
         {NODE(interface, Reg_InterfaceID), NODE(interface, Reg_InterfaceType), NODE(interface, Reg_DeviceUpdateList),
          NODE(interface, Reg_DeviceSelector), NODE(interface, Reg_DeviceCount), NODE(interface, Reg_DeviceID),
          NODE(interface, Reg_DeviceVendorName), NODE(interface, Reg_DeviceModelName),
          NODE(interface, Reg_DeviceAccessStatus), NODE(interface, Reg_CurrentCameraFile),
          NODE(interface, Reg_CameraFileSettable), NODE(interface, Reg_BoardRegisterIndex),
          NODE(interface, Reg_BoardRegisterIndex_Cnt), NODE(interface, Reg_BoardRegisterName),
          NODE(interface, Reg_BoardRegisterValue), NODE(interface, Reg_BoardRegisterValid),
          NODE(interface, Reg_DeviceOpen)}},
        {"Resources\\TLDevice.xml",
         {NODE(device, Reg_DeviceID), NODE(device, Reg_DeviceVendorName), NODE(device, Reg_DeviceModelName),
          NODE(device, Reg_DeviceType), NODE(device, Reg_StreamSelector), NODE(device, Reg_StreamCount),
          NODE(device, Reg_StreamID), NODE(device, Reg_CacheExternalXmlFile),
          NODE(device, Reg_DeleteSelectedXmlCacheEntry), NODE(device, Reg_XmlUrlSelector),
          NODE(device, Reg_XmlUrlPath), NODE(device, Reg_XmlFileCount), NODE(device, Reg_SyncCacheWithCamera)}},
        {"Resources\\TLDatastream.xml",
         {NODE(datastream, Reg_StreamID), NODE(datastream, Reg_StreamDeliveredFrameCount),
          NODE(datastream, Reg_StreamLostFrameCount), NODE(datastream, Reg_StreamAnnouncedBufferCount),
          NODE(datastream, Reg_StreamInputBufferCount), NODE(datastream, Reg_StreamOutputBufferCount),
          NODE(datastream, Reg_StreamStartedFrameCount), NODE(datastream, Reg_PayloadSize),
          NODE(datastream, Reg_StreamIsGrabbing), NODE(datastream, Reg_StreamChunkCountMaximum),
          NODE(datastream, Reg_StreamAnnounceBufferMinimum), NODE(datastream, Reg_StreamBufferAlignment),
          NODE(datastream, Reg_SizeofSizeT), NODE(datastream, Reg_StreamType),
          NODE(datastream, Reg_GrabberBufferCountDesired), NODE(datastream, Reg_GrabberBufferCountAllocated),
          NODE(datastream, Reg_GrabberBufferCountMinimum), NODE(datastream, Reg_GrabberBufferCopyOffset),
          NODE(datastream, Reg_OffsetX), NODE(datastream, Reg_OffsetY), NODE(datastream, Reg_Width),
          NODE(datastream, Reg_Height), NODE(datastream, Reg_WidthMax), NODE(datastream, Reg_HeightMax)}},
        {"Resources\\TLBuffer.xml",
         {NODE(buffer, Reg_BufferSize), NODE(buffer, Reg_BufferDataSize), NODE(buffer, Reg_BufferUserData),
          NODE(buffer, Reg_BufferTimeStamp), NODE(buffer, Reg_BufferNewData), NODE(buffer, Reg_BufferIsQueued),
          NODE(buffer, Reg_BufferIsAcquiring), NODE(buffer, Reg_BufferIsIncomplete),
          NODE(buffer, Reg_BufferSizeFilled), NODE(buffer, Reg_BufferWidth), NODE(buffer, Reg_BufferHeight),
          NODE(buffer, Reg_BufferXOffset), NODE(buffer, Reg_BufferYOffset), NODE(buffer, Reg_BufferXPadding),
          NODE(buffer, Reg_BufferYPadding), NODE(buffer, Reg_BufferFrameID), NODE(buffer, Reg_BufferImagePresent),
          NODE(buffer, Reg_BufferImageOffset), NODE(buffer, Reg_BufferPayloadType),
          NODE(buffer, Reg_BufferPixelFormat), NODE(buffer, Reg_BufferDeliveredImageHeight),
          NODE(buffer, Reg_SizeofSizeT), NODE(buffer, BufferData)}},
    };
#undef NODE
    for (const File& file : files) {
        const auto xml = get_text(file.resource);
        ASSERT_FALSE(xml.empty()) << file.resource;
        for (const Node& node : file.nodes) {
            SCOPED_TRACE(std::string(file.resource) + " " + node.name);
            const auto address = xml_address(xml, node.name);
            ASSERT_TRUE(address.has_value());
            EXPECT_EQ(*address, node.address);
        }
        size_t nodes = 0;
        for (const char* kind : {"<IntReg Name=", "<StringReg Name=", "<Register Name="}) {
            for (auto at = xml.find(kind); at != std::string::npos; at = xml.find(kind, at + 1)) {
                ++nodes;
            }
        }
        EXPECT_EQ(nodes, file.nodes.size()) << file.resource;
    }
}

}  // namespace
