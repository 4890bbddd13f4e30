#include "FrameTestObjects.h"

#include "modules/DynamicResourceDepot.h"
#include "modules/RegisterAddresses.h"
#include "resources/FileVersion.h"

#include <elf.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <vector>

namespace {

using vngtl::DynamicResourceDepot;
using Depot = GenTLTest;

struct Description {
    const char* name;
    uint32_t id;
    const char* type;
    const char* module_file;
    const char* source_file;
};

const Description descriptions[] = {
    {"Resources\\TLSystem.xml", 115, "RESOURCES_TLSYSTEM_XML", "Vantrel_VNGTL2_TLSystem.xml", "TLSystem.xml"},
    {"Resources\\TLInterface.xml", 116, "RESOURCES_TLINTERFACE_XML", "Vantrel_VNGTL2_TLInterface.xml",
     "TLInterface.xml"},
    {"Resources\\TLDevice.xml", 118, "RESOURCES_TLDEVICE_XML", "Vantrel_VNGTL2_TLDevice.xml", "TLDevice.xml"},
    {"Resources\\TLBuffer.xml", 120, "RESOURCES_TLBUFFER_XML", "Vantrel_VNGTL2_TLBuffer.xml", "TLBuffer.xml"},
    {"Resources\\TLDatastream.xml", 121, "RESOURCES_TLDATASTREAM_XML", "Vantrel_VNGTL2_TLDatastream.xml",
     "TLDatastream.xml"},
};

std::string read_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Each description is the stored file byte for byte. (Its declaration, line ends, schema and file versions,
// vendor and model and its port, as the reference GenApi reads them: test_module_xml.py.)
TEST_F(Depot, EachDescriptionIsTheStoredFileByteForByteAndOtherNamesAreRefused)
{
    for (const auto& d : descriptions) {
        SCOPED_TRACE(d.name);
        size_t size = 0;
        const uint8_t* bytes = DynamicResourceDepot::Get(d.name, &size);
        ASSERT_NE(bytes, nullptr);
        const std::string text(reinterpret_cast<const char*>(bytes), size);
        EXPECT_EQ(text, read_file(std::string(VNGTL_SOURCE_DIR) + "/resources/" + d.source_file));

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

    ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    // The table is exact: another separator, another case or another file are all unknown.
    for (const char* name : {"Resources/TLSystem.xml", "resources\\tlsystem.xml", "Resources\\TLCamera.xml",
                             "TLSystem.xml", ""}) {
        size_t size = 77;
        EXPECT_EQ(DynamicResourceDepot::Get(name, &size), nullptr) << name;
        EXPECT_EQ(size, 77u);
        EXPECT_TRUE(is_record(last_error(), "GC_ERR_ERROR", "DynamicResourceDepot.cpp", "DynamicResourceDepot::Get",
                              std::string("The Resource Depot has no resource called \"") + name + "\"."));
    }
    EXPECT_EQ(DynamicResourceDepot::Get("Resources\\TLSystem.xml", nullptr), nullptr);
    EXPECT_TRUE(is_record(last_error(), "GC_ERR_INVALID_PARAMETER", "DynamicResourceDepot.cpp",
                          "DynamicResourceDepot::Get", "The buffer size pointer is invalid (null)."));
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
        std::vector<Node> nodes;  // every register node (that no other is: test_module_xml.py)
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
        size_t size = 0;
        const auto* bytes = reinterpret_cast<const char*>(DynamicResourceDepot::Get(file.resource, &size));
        ASSERT_NE(bytes, nullptr) << file.resource;
        const std::string xml(bytes, size);
        for (const Node& node : file.nodes) {
            SCOPED_TRACE(std::string(file.resource) + " " + node.name);
            const auto address = xml_address(xml, node.name);
            ASSERT_TRUE(address.has_value());
            EXPECT_EQ(*address, node.address);
        }
    }
}

// ---- The version note of a library file.


class FileVersion : public GenTLTest {
protected:
    void SetUp() override
    {
        GenTLTest::SetUp();
        ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
        dir_ = std::filesystem::temp_directory_path() /
               ("vngtl-version-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
        GenTLTest::TearDown();
    }

    std::string write_file(const std::string& name, const std::vector<char>& bytes) const
    {
        const auto path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    static ::testing::AssertionResult failed(const std::string& message)
    {
        return is_record(last_error(), "GC_ERR_ERROR", "DynamicResourceDepot.cpp", "DynamicResourceDepot::FileVersion",
                         message);
    }

    std::filesystem::path dir_;
};

struct Note {
    std::string owner;
    uint32_t type;
    std::string descriptor;
    uint32_t declared_size;  // the descriptor size the header claims
};

void append(std::vector<char>& out, const void* data, size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    out.insert(out.end(), bytes, bytes + size);
}

void pad(std::vector<char>& out)
{
    out.resize((out.size() + 3) / 4 * 4, '\0');
}

// A minimal 64-bit ELF file with one note section holding `notes`; the last note may claim a descriptor
// longer than the file.
std::vector<char> elf_with_notes(const std::vector<Note>& notes)
{
    std::vector<char> section;
    for (const auto& note : notes) {
        const Elf64_Nhdr header{static_cast<Elf64_Word>(note.owner.size() + 1), note.declared_size, note.type};
        append(section, &header, sizeof header);
        append(section, note.owner.c_str(), note.owner.size() + 1);
        pad(section);
        append(section, note.descriptor.data(), note.descriptor.size());
        pad(section);
    }
    Elf64_Ehdr elf{};
    std::memcpy(elf.e_ident, ELFMAG, SELFMAG);
    elf.e_ident[EI_CLASS] = ELFCLASS64;
    elf.e_ident[EI_DATA] = ELFDATA2LSB;
    elf.e_ident[EI_VERSION] = EV_CURRENT;
    elf.e_type = ET_DYN;
    elf.e_machine = EM_X86_64;
    elf.e_version = EV_CURRENT;
    elf.e_ehsize = sizeof elf;
    elf.e_shoff = sizeof elf;
    elf.e_shentsize = sizeof(Elf64_Shdr);
    elf.e_shnum = 2;
    Elf64_Shdr empty{};
    Elf64_Shdr note_section{};
    note_section.sh_type = SHT_NOTE;
    note_section.sh_offset = sizeof elf + 2 * sizeof(Elf64_Shdr);
    note_section.sh_size = section.size();
    note_section.sh_addralign = 4;

    std::vector<char> file;
    append(file, &elf, sizeof elf);
    append(file, &empty, sizeof empty);
    append(file, &note_section, sizeof note_section);
    file.insert(file.end(), section.begin(), section.end());
    return file;
}

Note version(const std::string& text)
{
    return {"VNGTL", 1, text + '\0', static_cast<uint32_t>(text.size() + 1)};
}

// The file holding the code carries the project version. (The built VNGTL.cti's version, as the system module
// answers it to the reference consumer: test_modules.py.)
TEST_F(FileVersion, TheFileHoldingTheCodeCarriesTheProjectVersion)
{
    // Here the producer's code is linked into the test program, so that is the file LibraryPath names.
    const std::string path = DynamicResourceDepot::LibraryPath();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(std::filesystem::path(path).is_absolute()) << path;
    EXPECT_TRUE(std::filesystem::equivalent(path, std::filesystem::read_symlink("/proc/self/exe"))) << path;
    uint32_t major = 0, minor = 0, subminor = 0, build = 0;
    ASSERT_TRUE(DynamicResourceDepot::FileVersion(path, &major, &minor, &subminor, &build)) << last_error();
    EXPECT_EQ(major, vngtl::file_version[0]);
    EXPECT_EQ(minor, vngtl::file_version[1]);
    EXPECT_EQ(subminor, vngtl::file_version[2]);
    EXPECT_EQ(build, vngtl::file_version[3]);
    // Every output may be left out.
    EXPECT_TRUE(DynamicResourceDepot::FileVersion(path, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(FileVersion, FilesWithoutTheNoteHaveNoVersion)
{
    const std::string text_file = write_file("plain.txt", {'2', ',', ' ', '0', '\n'});
    const std::string short_elf = write_file("short.so", {'\x7f', 'E', 'L', 'F', 2, 1, 1});
    const std::string other_owner = write_file("other.so", elf_with_notes({{"GNU", 1, "2, 0, 750, 13366", 17},
                                                                           {"VNGTLX", 1, "1, 2, 3, 4", 11}}));
    const std::string other_type = write_file("type.so", elf_with_notes({{"VNGTL", 2, "1, 2, 3, 4", 11}}));
    const std::string empty_note = write_file("empty.so", elf_with_notes({{"VNGTL", 1, "", 0}}));
    for (const std::string& path : {std::string(VNSIM_PATH), text_file, short_elf, other_owner, other_type, empty_note,
                                    (dir_ / "missing.so").string(), std::string()}) {
        SCOPED_TRACE(path);
        uint32_t major = 9, minor = 9, subminor = 9, build = 9;
        EXPECT_FALSE(DynamicResourceDepot::FileVersion(path, &major, &minor, &subminor, &build));
        EXPECT_TRUE(failed("GetFileVersionInfoSize returned a null size."));
        EXPECT_EQ(major + minor + subminor + build, 36u);  // untouched
    }
}

TEST_F(FileVersion, TheNoteIsFoundAmongOthersAndItsTextIsChecked)
{
    uint32_t numbers[4] = {};
    const auto read = [&](const std::string& path) {
        return DynamicResourceDepot::FileVersion(path, &numbers[0], &numbers[1], &numbers[2], &numbers[3]);
    };

    // Other notes before it are skipped, whatever their sizes.
    ASSERT_TRUE(read(write_file("found.so", elf_with_notes({{"GNU", 3, "abcdefg", 7},
                                                            {"VNGT", 1, "1", 1},
                                                            version("10, 20, 4294967295, 0")}))))
        << last_error();
    EXPECT_EQ(numbers[0], 10u);
    EXPECT_EQ(numbers[1], 20u);
    EXPECT_EQ(numbers[2], 4294967295u);
    EXPECT_EQ(numbers[3], 0u);

    // A descriptor that claims more bytes than the file holds cannot be read.
    EXPECT_FALSE(read(write_file("cut.so", elf_with_notes({{"VNGTL", 1, "1, 2", 400}}))));
    EXPECT_TRUE(failed("Failure on call to GetFileVersionInfo."));

    // A descriptor without a terminating zero holds no text.
    EXPECT_FALSE(read(write_file("unterminated.so", elf_with_notes({{"VNGTL", 1, "1, 2, 3, 4", 10}}))));
    EXPECT_TRUE(failed("Failure on call to VerQueryValueA retrieving the file version."));

    // The text must be four decimal numbers separated by a comma and a space.
    for (const char* bad : {"2, 0, 750", "2,0,750,13366", "2, 0, 750, 13366, 1", "2, 0, x, 13366", "2, 0, 750, 4294967296",
                            "2, 0, 750, 13366 ", "-2, 0, 750, 13366", ""}) {
        SCOPED_TRACE(bad);
        numbers[0] = 77;
        EXPECT_FALSE(read(write_file("bad.so", elf_with_notes({version(bad)}))));
        EXPECT_TRUE(failed("Unable to retrieve the system version information for the library."));
        EXPECT_EQ(numbers[0], 77u);
    }
}

}  // namespace
