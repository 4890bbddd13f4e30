#include "ModuleFixture.h"

#include "cti/CtiManager.h"
#include "modules/RegisterMapPort.h"
#include "modules/TLModule.h"

#include <array>
#include <string>
#include <vector>

namespace {

using vngtl::RegisterMap;
using vngtl::RegisterMapPort;

// A module port over a small space: a word at 0x0 holding the bytes 01 02 03 04 and a word at 0x8 whose
// reads are counted, so that a test can tell whether the map was touched.
class PortTest : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        const std::array<uint8_t, 4> word{0x01, 0x02, 0x03, 0x04};
        space.add_info(1000, word.data(), 0x0, 4, INFO_DATATYPE_UINT32, true, true);
        auto* watched = static_cast<vngtl::InfoFuncEntry<1002>*>(space.add_info(
            1002, nullptr, 0x8, 4, INFO_DATATYPE_UINT32, true, true, vngtl::make_info_func_entry<1002>));
        ASSERT_NE(watched, nullptr);
        watched->on_pre_read = [this](RegisterMap::Entry&, uint8_t*, void*, size_t*) {
            ++map_reads;
            return GC_ERR_SUCCESS;
        };
    }

    void bind() { port.bind(&space.info_map(), &space); }

    TestModule space{"space", {}};
    RegisterMapPort port;
    int map_reads = 0;
};

TEST_F(PortTest, AnUnboundPortRefusesAccessAndWordAccessIsBigEndianAndChecksAlignmentBeforeTheMap)
{
    EXPECT_FALSE(port.good());
    uint32_t value = 0;
    size_t size = sizeof value;
    EXPECT_EQ(port.read(0x0, &value, &size), GC_ERR_ACCESS_DENIED);
    EXPECT_TRUE(recorded("GC_ERR_ACCESS_DENIED", "RegisterMapPort.cpp", "RegisterMapPort::read",
                         "The port was not properly initialized, and cannot be accessed."));
    EXPECT_EQ(port.write(0x0, &value, &size), GC_ERR_ACCESS_DENIED);
    EXPECT_FALSE(port.add_xml_url("f.xml", &value, 0x10, 4));

    bind();
    EXPECT_TRUE(port.good());
    EXPECT_EQ(port.read(0x0, &value, nullptr), GC_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_PARAMETER", "RegisterMapPort.cpp", "RegisterMapPort::read",
                         "The size pointer is invalid (null)."));
    EXPECT_EQ(port.read(0x0, &value), GC_ERR_SUCCESS);
    EXPECT_EQ(value, 0x01020304u);

    EXPECT_EQ(port.read(0xA, &value), GC_ERR_INVALID_ADDRESS);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_ADDRESS", "BasePort.cpp", "BasePort::read", "Address 0xa is not word-aligned."));
    EXPECT_EQ(map_reads, 0);
    EXPECT_EQ(port.read(0x8, nullptr), GC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(map_reads, 0);
    EXPECT_EQ(port.read(0x8, &value), GC_ERR_SUCCESS);
    EXPECT_EQ(map_reads, 1);

    ASSERT_EQ(port.write(0x0, 0xA1B2C3D4u), GC_ERR_SUCCESS);
    EXPECT_EQ(port.read(0x0, &value, &size), GC_ERR_SUCCESS);  // the raw bytes
    EXPECT_EQ(value, 0xD4C3B2A1u);  // stored most significant byte first
    EXPECT_EQ(port.write(0x2, 1u), GC_ERR_INVALID_ADDRESS);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_ADDRESS", "BasePort.cpp", "BasePort::write", "Address 0x2 is not word-aligned."));

    port.set_readable(false);
    EXPECT_EQ(port.read(0x0, &value), GC_ERR_ACCESS_DENIED);
    EXPECT_TRUE(recorded("GC_ERR_ACCESS_DENIED", "BasePort.cpp", "BasePort::read", "The port is not readable."));
    EXPECT_EQ(port.read(0x0, &value, &size), GC_ERR_ACCESS_DENIED);
    EXPECT_TRUE(recorded("GC_ERR_ACCESS_DENIED", "RegisterMapPort.cpp", "RegisterMapPort::read",
                         "The port is not readable."));
    port.set_writable(false);
    EXPECT_EQ(port.write(0x0, 1u), GC_ERR_ACCESS_DENIED);
    EXPECT_TRUE(recorded("GC_ERR_ACCESS_DENIED", "BasePort.cpp", "BasePort::write", "The port is not writable."));
}

TEST_F(PortTest, XmlFilesAreAnnouncedWithLocalUrlsAndTheirInfoAndGetUrlAnswersTheFirstHoweverLong)
{
    bind();
    std::array<char, 8> buffer{};
    size_t size = buffer.size();
    EXPECT_EQ(port.get_url(buffer.data(), &size), GC_ERR_INVALID_INDEX);  // no URL yet

    const std::string name(300, 'n');  // longer than get_url's first buffer
    const std::vector<char> xml(0x2f1c, 'x');
    ASSERT_TRUE(port.add_xml_url(name, xml.data(), 0x2408, xml.size()));
    EXPECT_FALSE(port.add_xml_url("G", xml.data(), 0x2408, 4));  // overlaps the first file
    uint32_t count = 0;
    ASSERT_EQ(port.num_urls(&count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(port.num_urls(nullptr), GC_ERR_INVALID_PARAMETER);

    const std::string expected = "local:" + name + ";2408;2f1c";
    size = 0;
    ASSERT_EQ(port.get_url(nullptr, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, expected.size() + 1);
    std::vector<char> url(size);
    ASSERT_EQ(port.get_url(url.data(), &size), GC_ERR_SUCCESS);
    EXPECT_EQ(std::string(url.data()), expected);
    size = expected.size();
    EXPECT_EQ(port.get_url(url.data(), &size), GC_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, expected.size() + 1);

    // (The file's bytes, read-only, and its schema and file versions: SystemModuleTest and test_modules.py.)
    // Too small: the type and size needed are written before the capacity is compared, the value is not.
    INFO_DATATYPE type = 0;
    int32_t small = 0;
    size = 3;
    EXPECT_EQ(port.url_info(0, URL_INFO_FILE_VER_MAJOR, &type, &small, &size), GC_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(type, INFO_DATATYPE_INT32);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(small, 0);
    EXPECT_TRUE(recorded("GC_ERR_BUFFER_TOO_SMALL", "RegisterMapPort.cpp", "RegisterMapPort::url_info",
                         "Could not copy the return data to the output buffer for URL_INFO_CMD 3."));
    EXPECT_EQ(port.url_info(0, URL_INFO_SCHEMA_VER_MAJOR, nullptr, nullptr, &size), GC_ERR_INVALID_PARAMETER);

    EXPECT_EQ(port.url_info(0, URL_INFO_FILE_SHA1_HASH, &type, nullptr, &size), GC_ERR_NOT_IMPLEMENTED);
    EXPECT_TRUE(recorded("GC_ERR_NOT_IMPLEMENTED", "RegisterMapPort.cpp", "RegisterMapPort::url_info",
                         "SHA1 hash of an XML file is not implemented for the producer's virtual register maps."));
    EXPECT_EQ(port.url_info(0, 1234, &type, nullptr, &size), GC_ERR_NOT_IMPLEMENTED);
    EXPECT_TRUE(recorded("GC_ERR_NOT_IMPLEMENTED", "RegisterMapPort.cpp", "RegisterMapPort::url_info",
                         "Unknown info command with ID 1234."));
    EXPECT_EQ(port.url_info(1, URL_INFO_URL, &type, nullptr, &size), GC_ERR_INVALID_INDEX);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_INDEX", "RegisterMapPort.cpp", "RegisterMapPort::url_info",
                         "The URL index (1) is invalid given the URL count (1)."));
}

TEST_F(PortTest, PortInfoSharesTheSystemValuesOnlyWhenSetUpOnABoundPort)
{
    // The values the system module hands down the tree.
    auto& system = *vngtl::get_manager()->get()->get_tl_module();
    const vngtl::SystemValues shared = system.system_values();

    // Set up before binding: the shared values and the name fallbacks stay unbound.
    port.setup_port_info("early", "", "", shared);
    INFO_DATATYPE type = 0;
    size_t size = 0;
    for (const int32_t command : {PORT_INFO_VENDOR, PORT_INFO_MODEL, PORT_INFO_VERSION, PORT_INFO_TLTYPE,
                                  PORT_INFO_MODULE, PORT_INFO_PORTNAME}) {
        EXPECT_EQ(port.info(command, &type, nullptr, &size), GC_ERR_NOT_IMPLEMENTED) << command;
    }
    // The flags' values in the order asked.
    const auto flags = [&](std::initializer_list<int32_t> commands) {
        std::vector<uint8_t> values;
        for (const int32_t command : commands) {
            uint8_t value = 0xff;
            size = 1;
            EXPECT_EQ(port.info(command, &type, &value, &size), GC_ERR_SUCCESS) << command;
            EXPECT_EQ(type, INFO_DATATYPE_BOOL8) << command;
            values.push_back(value);
        }
        return values;
    };
    using Flags = std::vector<uint8_t>;
    EXPECT_EQ(flags({PORT_INFO_LITTLE_ENDIAN, PORT_INFO_BIG_ENDIAN, PORT_INFO_ACCESS_NI}), (Flags{1, 0, 0}));
    // The access values follow the port's state at each query.
    EXPECT_EQ(flags({PORT_INFO_ACCESS_READ, PORT_INFO_ACCESS_NA}), (Flags{0, 1})) << "unbound";
    bind();
    EXPECT_EQ(flags({PORT_INFO_ACCESS_READ, PORT_INFO_ACCESS_WRITE, PORT_INFO_ACCESS_NA}), (Flags{1, 1, 0}));
    port.set_writable(false);
    EXPECT_EQ(flags({PORT_INFO_ACCESS_WRITE, PORT_INFO_ACCESS_NA}), (Flags{0, 0})) << "not writable";
    port.set_readable(false);
    EXPECT_EQ(flags({PORT_INFO_ACCESS_READ, PORT_INFO_ACCESS_NA}), (Flags{0, 1})) << "neither";
    // Set up once bound, the module and port names fall back to the ID. (The values shared from the system
    // module: test_modules.py::test_the_device_modules, through the device port.)
    RegisterMapPort bound;
    bound.bind(&space.info_map(), &space);
    bound.setup_port_info("late", "", "", shared);
    for (const int32_t command : {PORT_INFO_ID, PORT_INFO_MODULE, PORT_INFO_PORTNAME}) {
        std::string value;
        EXPECT_EQ(bound.info_string(command, value), GC_ERR_SUCCESS) << command;
        EXPECT_EQ(value, "late") << command;
    }
}

}  // namespace
