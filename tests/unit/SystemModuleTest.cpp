#include "ModuleFixture.h"

#include "modules/RegisterAddresses.h"

#include <vector>

namespace {

namespace sys = vngtl::reg::system;

using SystemModuleTest = ModuleTest;

// The system module's identity, its description and the interface walk through its features are read by the
// reference consumer in test_modules.py; here what a consumer meets beside those.
TEST_F(SystemModuleTest, InfoPortAndInterfaceSelectorAnswersBesideTheIdentity)
{
    const TL_HANDLE system = open_system();
    EXPECT_EQ(info_text([&](INFO_DATATYPE* t, void* b, size_t* s) {
                  return TLGetInfo(system, TL_INFO_DISPLAYNAME, t, b, s);
              }),
              "VNGTL");
    INFO_DATATYPE type = 0;
    int32_t encoding = -1;
    size_t size = sizeof encoding;
    EXPECT_EQ(TLGetInfo(system, TL_INFO_CHAR_ENCODING, &type, &encoding, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(encoding, 0);
    // The command register is not readable, so neither is its info command.
    size = 4;
    EXPECT_EQ(TLGetInfo(system, 1003, &type, &encoding, &size), GC_ERR_ACCESS_DENIED);

    // A string register holds the text and zero bytes after it.
    std::vector<char> vendor(256, '\x7f');
    size = vendor.size();
    ASSERT_EQ(GCReadPort(system, sys::Reg_TLVendorName, vendor.data(), &size), GC_ERR_SUCCESS);
    std::vector<char> expected(256, '\0');
    std::string("Vantrel, Inc.").copy(expected.data(), 13);
    EXPECT_EQ(vendor, expected);

    // The URL GCGetPortURL answers is the one announced; the description cannot be written.
    char url[256] = {};
    size = sizeof url;
    ASSERT_EQ(GCGetPortURL(system, url, &size), GC_ERR_SUCCESS);
    char announced[256] = {};
    size = sizeof announced;
    ASSERT_EQ(GCGetPortURLInfo(system, 0, URL_INFO_URL, &type, announced, &size), GC_ERR_SUCCESS);
    EXPECT_STREQ(url, announced);
    uint32_t word = 0;
    size = sizeof word;
    EXPECT_EQ(GCWritePort(system, sys::xml_file, &word, &size), GC_ERR_ACCESS_DENIED);

    // The port's info leaves the values shared from the system module unbound.
    for (const PORT_INFO_CMD command : {PORT_INFO_VENDOR, PORT_INFO_MODEL, PORT_INFO_VERSION, PORT_INFO_TLTYPE}) {
        EXPECT_EQ(GCGetPortInfo(system, command, &type, nullptr, &size), GC_ERR_NOT_IMPLEMENTED) << command;
    }
    uint8_t readable = 0;
    size = 1;
    EXPECT_EQ(GCGetPortInfo(system, PORT_INFO_ACCESS_READ, &type, &readable, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(readable, 1);

    // The interface selector bounds the interface tables; the update command takes only its command value.
    std::string id;
    ASSERT_EQ(write_u32(system, sys::Reg_InterfaceSelector, 2), GC_ERR_SUCCESS);
    EXPECT_EQ(read_text(system, sys::Reg_InterfaceID, 256, id), GC_ERR_INVALID_INDEX);

    ASSERT_EQ(write_u32(system, sys::Reg_InterfaceUpdateList, 1), GC_ERR_SUCCESS);
    EXPECT_EQ(u32(system, sys::Reg_InterfaceCount), 2u);
    EXPECT_EQ(write_u32(system, sys::Reg_InterfaceUpdateList, 2), GC_ERR_IO);
    EXPECT_TRUE(recorded("GC_ERR_IO", "RegisterMapHelpers.cpp", "CommandEntry::post_write",
                         "Command node can only be written with the command value, 1, but received value 2."));
    uint32_t command = 0;
    EXPECT_EQ(read_u32(system, sys::Reg_InterfaceUpdateList, command), GC_ERR_ACCESS_DENIED);  // write-only

    // (Interfaces answered from their tables while closed: InterfaceModuleTest; their display names and types as
    // the reference consumer reads them: test_modules.py.)
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
