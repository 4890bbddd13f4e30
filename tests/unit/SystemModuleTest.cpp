#include "ModuleFixture.h"

#include "cti/CtiManager.h"
#include "modules/DynamicResourceDepot.h"
#include "modules/RegisterAddresses.h"
#include "modules/TLModule.h"

#include <cstdio>
#include <vector>

namespace {

namespace sys = vngtl::reg::system;
using vngtl::DynamicResourceDepot;

using SystemModuleTest = ModuleTest;

TEST_F(SystemModuleTest, InfoValuesAndTheirRegisters)
{
    const TL_HANDLE system = open_system();
    const auto tl_info = [&](TL_INFO_CMD command) {
        return info_text([&](INFO_DATATYPE* type, void* buffer, size_t* size) {
            return TLGetInfo(system, command, type, buffer, size);
        });
    };
    EXPECT_EQ(tl_info(TL_INFO_ID), "VNGTL");
    EXPECT_EQ(tl_info(TL_INFO_VENDOR), "Vantrel, Inc.");
    EXPECT_EQ(tl_info(TL_INFO_MODEL), "VNGTL");
    EXPECT_EQ(tl_info(TL_INFO_TLTYPE), "Mixed");
    EXPECT_EQ(tl_info(TL_INFO_DISPLAYNAME), "VNGTL");
    const std::string path = DynamicResourceDepot::LibraryPath();
    EXPECT_EQ(tl_info(TL_INFO_PATHNAME), path);
    EXPECT_EQ(tl_info(TL_INFO_NAME), path.substr(path.rfind('/') + 1));
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t subminor = 0;
    uint32_t build = 0;
    const bool versioned = DynamicResourceDepot::FileVersion(path, &major, &minor, &subminor, &build);
    EXPECT_EQ(tl_info(TL_INFO_VERSION), versioned ? vngtl::TLModule::version_text(major, minor, subminor, build)
                                                  : "Unable to retrieve the file version.");
    EXPECT_EQ(vngtl::TLModule::version_text(2, 0, 750, 13366), "2.0.2ee.3436");

    INFO_DATATYPE type = 0;
    int32_t encoding = -1;
    size_t size = sizeof encoding;
    EXPECT_EQ(TLGetInfo(system, TL_INFO_CHAR_ENCODING, &type, &encoding, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(encoding, 0);
    // The command register is not readable, so neither is its info command.
    size = 4;
    EXPECT_EQ(TLGetInfo(system, 1003, &type, &encoding, &size), GC_ERR_ACCESS_DENIED);

    // The same values by address: the string registers hold the text and zero bytes after it.
    std::vector<char> vendor(256, '\x7f');
    size = vendor.size();
    ASSERT_EQ(GCReadPort(system, sys::Reg_TLVendorName, vendor.data(), &size), GC_ERR_SUCCESS);
    std::vector<char> expected(256, '\0');
    std::string("Vantrel, Inc.").copy(expected.data(), 13);
    EXPECT_EQ(vendor, expected);
    EXPECT_EQ(text(system, sys::Reg_TLID), "VNGTL");
    EXPECT_EQ(text(system, sys::Reg_TLPath), path);
    EXPECT_EQ(u32(system, sys::Reg_TLType), 5u);
}

TEST_F(SystemModuleTest, ItsDescriptionIsReadThroughItsPortFromTheAnnouncedUrlAndThePortHasItsOwnInfo)
{
    const TL_HANDLE system = open_system();
    size_t xml_size = 0;
    const uint8_t* xml = DynamicResourceDepot::Get("Resources\\TLSystem.xml", &xml_size);
    ASSERT_NE(xml, nullptr);
    char hex_size[32];
    std::snprintf(hex_size, sizeof hex_size, "%zx", xml_size);

    uint32_t urls = 0;
    ASSERT_EQ(GCGetNumPortURLs(system, &urls), GC_ERR_SUCCESS);
    EXPECT_EQ(urls, 1u);
    char url[256] = {};
    size_t size = sizeof url;
    ASSERT_EQ(GCGetPortURL(system, url, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(std::string(url), std::string("local:Vantrel_VNGTL2_TLSystem.xml;a000;") + hex_size);
    INFO_DATATYPE type = 0;
    size = sizeof url;
    ASSERT_EQ(GCGetPortURLInfo(system, 0, URL_INFO_URL, &type, url, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(std::string(url), std::string("local:Vantrel_VNGTL2_TLSystem.xml;a000;") + hex_size);

    std::vector<uint8_t> file(xml_size);
    size = file.size();
    ASSERT_EQ(GCReadPort(system, sys::xml_file, file.data(), &size), GC_ERR_SUCCESS);
    EXPECT_EQ(file, std::vector<uint8_t>(xml, xml + xml_size));
    EXPECT_EQ(GCWritePort(system, sys::xml_file, file.data(), &size), GC_ERR_ACCESS_DENIED);

    // The port's info leaves the values shared from the system module unbound.
    const auto port_info = [&](PORT_INFO_CMD command) {
        return info_text([&](INFO_DATATYPE* t, void* b, size_t* s) { return GCGetPortInfo(system, command, t, b, s); });
    };
    EXPECT_EQ(port_info(PORT_INFO_ID), "VNGTL");
    EXPECT_EQ(port_info(PORT_INFO_MODULE), "TLSystem");
    EXPECT_EQ(port_info(PORT_INFO_PORTNAME), "TLPort");
    for (const PORT_INFO_CMD command : {PORT_INFO_VENDOR, PORT_INFO_MODEL, PORT_INFO_VERSION, PORT_INFO_TLTYPE}) {
        EXPECT_EQ(GCGetPortInfo(system, command, &type, nullptr, &size), GC_ERR_NOT_IMPLEMENTED) << command;
    }
    uint8_t readable = 0;
    size = 1;
    EXPECT_EQ(GCGetPortInfo(system, PORT_INFO_ACCESS_READ, &type, &readable, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(readable, 1);
}

TEST_F(SystemModuleTest, InterfaceRegistersWalkTheBoardsAndRefreshTheList)
{
    // Three boards: the default two and a third of another family.
    ASSERT_EQ(GCCloseLib(), GC_ERR_SUCCESS);
    ASSERT_EQ(vnsim_configure(R"({"boards": [
        {"kind": "CXP", "camera_files": [{"name": "a.cam", "width": 64, "height": 8}]},
        {"kind": "CL", "camera_files": [{"name": "b.cam", "width": 64, "height": 8}]},
        {"kind": "other", "camera_files": [{"name": "c.cam", "width": 64, "height": 8}]}]})"),
              0)
        << vnsim_last_error();
    ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    const TL_HANDLE system = open_system();

    EXPECT_EQ(u32(system, sys::Reg_InterfaceCount), 3u);
    for (uint32_t index = 0; index < 3; ++index) {
        ASSERT_EQ(write_u32(system, sys::Reg_InterfaceSelector, index), GC_ERR_SUCCESS);
        EXPECT_EQ(u32(system, sys::Reg_InterfaceSelector), index);
        EXPECT_EQ(text(system, sys::Reg_InterfaceID), interface_id(system, index));
    }
    EXPECT_NE(interface_id(system, 0), interface_id(system, 2));
    ASSERT_EQ(write_u32(system, sys::Reg_InterfaceSelector, 3), GC_ERR_SUCCESS);
    std::string id;
    EXPECT_EQ(read_text(system, sys::Reg_InterfaceID, 256, id), GC_ERR_INVALID_INDEX);

    ASSERT_EQ(write_u32(system, sys::Reg_InterfaceUpdateList, 1), GC_ERR_SUCCESS);
    EXPECT_EQ(u32(system, sys::Reg_InterfaceCount), 3u);
    EXPECT_EQ(write_u32(system, sys::Reg_InterfaceUpdateList, 2), GC_ERR_IO);
    uint32_t command = 0;
    EXPECT_EQ(read_u32(system, sys::Reg_InterfaceUpdateList, command), GC_ERR_ACCESS_DENIED);  // write-only

    // Interfaces are answered from their tables whether or not they are open.
    const std::string first = interface_id(system, 0);
    const auto interface_info = [&](INTERFACE_INFO_CMD info) {
        return info_text([&](INFO_DATATYPE* type, void* buffer, size_t* size) {
            return TLGetInterfaceInfo(system, first.c_str(), info, type, buffer, size);
        });
    };
    EXPECT_EQ(interface_info(INTERFACE_INFO_ID), first);
    EXPECT_EQ(interface_info(INTERFACE_INFO_DISPLAYNAME), first);
    EXPECT_EQ(interface_info(INTERFACE_INFO_TLTYPE), "CXP");
    INFO_DATATYPE type = 0;
    size_t size = 0;
    EXPECT_EQ(TLGetInterfaceInfo(system, "no such board", INTERFACE_INFO_ID, &type, nullptr, &size), GC_ERR_INVALID_ID);
}

TEST_F(SystemModuleTest, OpensOnceAndClosingKeepsTheModuleAndReopeningAnswersTheSameHandle)
{
    const TL_HANDLE system = open_system();
    TL_HANDLE again = reinterpret_cast<TL_HANDLE>(0x1234);
    EXPECT_EQ(TLOpen(&again), GC_ERR_RESOURCE_IN_USE);
    EXPECT_TRUE(recorded("GC_ERR_RESOURCE_IN_USE", "BaseModule.cpp", "BaseModule::open",
                         "The \"VNGTL\" module has already been opened."));
    EXPECT_EQ(again, reinterpret_cast<TL_HANDLE>(0x1234));  // written only on success
    uint32_t count = 0;
    ASSERT_EQ(TLGetNumInterfaces(system, &count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 2u);
    bool8_t changed = true;
    EXPECT_EQ(TLUpdateInterfaceList(system, &changed, 1000), GC_ERR_SUCCESS);
    EXPECT_FALSE(changed);
    const IF_HANDLE iface = open_interface(system, 0);

    ASSERT_EQ(TLClose(system), GC_ERR_SUCCESS);
    INFO_DATATYPE type = 0;
    size_t size = 0;
    EXPECT_EQ(TLGetInfo(system, 0, &type, nullptr, &size), GC_ERR_INVALID_HANDLE);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_HANDLE", "BaseModule.cpp", "BaseModule::info",
                         "Module \"VNGTL\" exists, but is not open."));
    EXPECT_EQ(TLClose(system), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(IFGetInfo(iface, INTERFACE_INFO_ID, &type, nullptr, &size), GC_ERR_INVALID_HANDLE);  // closed with it

    again = nullptr;
    ASSERT_EQ(TLOpen(&again), GC_ERR_SUCCESS);
    EXPECT_EQ(again, system);
    // The port and description were set up once: still one URL.
    uint32_t urls = 0;
    ASSERT_EQ(GCGetNumPortURLs(system, &urls), GC_ERR_SUCCESS);
    EXPECT_EQ(urls, 1u);
    EXPECT_EQ(u32(system, sys::Reg_InterfaceCount), 2u);
    IF_HANDLE reopened = nullptr;
    ASSERT_EQ(TLOpenInterface(system, interface_id(system, 0).c_str(), &reopened), GC_ERR_SUCCESS);
    EXPECT_EQ(reopened, iface);
}

}  // namespace
