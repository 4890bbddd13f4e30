#include "FrameTestObjects.h"

#include "modules/DynamicResourceDepot.h"
#include "modules/RegisterAddresses.h"
#include "resources/FileVersion.h"

#include <elf.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace {

using vngtl::DynamicResourceDepot;
using Depot = GenTLTest;

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

using Nodes = std::vector<std::pair<const char*, uint64_t>>;

// Every register node of each description (that no other is: test_module_xml.py) lies at its constant's address.
void expect_addresses(const char* resource, const Nodes& nodes)
{
    size_t size = 0;
    const auto* bytes = reinterpret_cast<const char*>(DynamicResourceDepot::Get(resource, &size));
    ASSERT_NE(bytes, nullptr) << resource;
    const std::string xml(bytes, size);
    for (const auto& [name, address] : nodes) {
        SCOPED_TRACE(std::string(resource) + " " + name);
        EXPECT_EQ(xml_address(xml, name), std::optional<uint64_t>(address));
    }
}

#define N(name) std::pair<const char*, uint64_t>{#name, name}

// Each description is the stored file byte for byte. (Its declaration, line ends, schema and file versions,
// vendor and model and its port, as the reference GenApi reads them: test_module_xml.py.)
TEST_F(Depot, EachDescriptionIsTheStoredFileWithTheRegisterAddressesOfTheCodeAndOtherNamesAreRefused)
{
    // Each source file, its resource ID and its type; it is stored as "Resources\<file>" and written out as
    // "Vantrel_VNGTL2_<file>".
    for (const auto& [file, id, type] : {std::tuple{"TLSystem.xml", 115u, "RESOURCES_TLSYSTEM_XML"},
                                         {"TLInterface.xml", 116u, "RESOURCES_TLINTERFACE_XML"},
                                         {"TLDevice.xml", 118u, "RESOURCES_TLDEVICE_XML"},
                                         {"TLBuffer.xml", 120u, "RESOURCES_TLBUFFER_XML"},
                                         {"TLDatastream.xml", 121u, "RESOURCES_TLDATASTREAM_XML"}}) {
        const std::string name = std::string("Resources\\") + file;
        SCOPED_TRACE(name);
        size_t size = 0;
        const uint8_t* bytes = DynamicResourceDepot::Get(name.c_str(), &size);
        ASSERT_NE(bytes, nullptr);
        const std::string text(reinterpret_cast<const char*>(bytes), size);
        std::ifstream source(std::string(VNGTL_SOURCE_DIR) + "/resources/" + file, std::ios::binary);
        EXPECT_EQ(text, std::string(std::istreambuf_iterator<char>(source), std::istreambuf_iterator<char>()));

        // The bytes are handed out, not copied.
        size_t again = 0;
        EXPECT_EQ(DynamicResourceDepot::Get(name.c_str(), &again), bytes);
        EXPECT_EQ(again, size);

        const auto entry = DynamicResourceDepot::resources().find(name);
        ASSERT_NE(entry, DynamicResourceDepot::resources().end());
        EXPECT_EQ(entry->second.id, id);
        EXPECT_EQ(entry->second.module_file, std::string("Vantrel_VNGTL2_") + file);
        EXPECT_EQ(DynamicResourceDepot::resource_type(name), type);
    }
    EXPECT_EQ(DynamicResourceDepot::resources().size(), 5u);

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

    // Every register node lies at its constant's address.
    expect_addresses("Resources\\TLSystem.xml", [] {
        using namespace vngtl::reg::system;
        return Nodes{N(Reg_TLID), N(Reg_TLVendorName), N(Reg_TLModelName), N(Reg_TLVersion), N(Reg_TLPath),
                     N(Reg_TLType), N(Reg_GenTLVersionMajor), N(Reg_GenTLVersionMinor), N(Reg_InterfaceUpdateList),
                     N(Reg_InterfaceSelector), N(Reg_InterfaceCount), N(Reg_InterfaceID)};
    }());
    expect_addresses("Resources\\TLInterface.xml", [] {
        using namespace vngtl::reg::interface;
        return Nodes{N(Reg_InterfaceID), N(Reg_InterfaceType), N(Reg_DeviceUpdateList), N(Reg_DeviceSelector),
                     N(Reg_DeviceCount), N(Reg_DeviceID), N(Reg_DeviceVendorName), N(Reg_DeviceModelName),
                     N(Reg_DeviceAccessStatus), N(Reg_CurrentCameraFile), N(Reg_CameraFileSettable),
                     N(Reg_BoardRegisterIndex), N(Reg_BoardRegisterIndex_Cnt), N(Reg_BoardRegisterName),
                     N(Reg_BoardRegisterValue), N(Reg_BoardRegisterValid), N(Reg_DeviceOpen)};
    }());
    expect_addresses("Resources\\TLDevice.xml", [] {
        using namespace vngtl::reg::device;
        return Nodes{N(Reg_DeviceID), N(Reg_DeviceVendorName), N(Reg_DeviceModelName), N(Reg_DeviceType),
                     N(Reg_StreamSelector), N(Reg_StreamCount), N(Reg_StreamID), N(Reg_CacheExternalXmlFile),
                     N(Reg_DeleteSelectedXmlCacheEntry), N(Reg_XmlUrlSelector), N(Reg_XmlUrlPath), N(Reg_XmlFileCount),
                     N(Reg_SyncCacheWithCamera)};
    }());
    expect_addresses("Resources\\TLDatastream.xml", [] {
        using namespace vngtl::reg::datastream;
        return Nodes{N(Reg_StreamID), N(Reg_StreamDeliveredFrameCount), N(Reg_StreamLostFrameCount),
                     N(Reg_StreamAnnouncedBufferCount), N(Reg_StreamInputBufferCount), N(Reg_StreamOutputBufferCount),
                     N(Reg_StreamStartedFrameCount), N(Reg_PayloadSize), N(Reg_StreamIsGrabbing),
                     N(Reg_StreamChunkCountMaximum), N(Reg_StreamAnnounceBufferMinimum), N(Reg_StreamBufferAlignment),
                     N(Reg_SizeofSizeT), N(Reg_StreamType), N(Reg_GrabberBufferCountDesired),
                     N(Reg_GrabberBufferCountAllocated), N(Reg_GrabberBufferCountMinimum),
                     N(Reg_GrabberBufferCopyOffset), N(Reg_OffsetX), N(Reg_OffsetY), N(Reg_Width), N(Reg_Height),
                     N(Reg_WidthMax), N(Reg_HeightMax)};
    }());
    expect_addresses("Resources\\TLBuffer.xml", [] {
        using namespace vngtl::reg::buffer;
        return Nodes{N(Reg_BufferSize), N(Reg_BufferDataSize), N(Reg_BufferUserData), N(Reg_BufferTimeStamp),
                     N(Reg_BufferNewData), N(Reg_BufferIsQueued), N(Reg_BufferIsAcquiring), N(Reg_BufferIsIncomplete),
                     N(Reg_BufferSizeFilled), N(Reg_BufferWidth), N(Reg_BufferHeight), N(Reg_BufferXOffset),
                     N(Reg_BufferYOffset), N(Reg_BufferXPadding), N(Reg_BufferYPadding), N(Reg_BufferFrameID),
                     N(Reg_BufferImagePresent), N(Reg_BufferImageOffset), N(Reg_BufferPayloadType),
                     N(Reg_BufferPixelFormat), N(Reg_BufferDeliveredImageHeight), N(Reg_SizeofSizeT), N(BufferData)};
    }());
}


#undef N

// ---- The version note of a library file.


using FileVersion = GenTLTest;

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

// The file holding the code carries the project version, and a note is found behind others. (The built
// VNGTL.cti's version, as the system module answers it to the reference consumer: test_modules.py.)
TEST_F(FileVersion, TheNoteIsFoundAmongOthersAndFilesWithoutAReadableOneHaveNoVersion)
{
    ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    // A directory of the case's own for the files it writes, removed when the case ends.
    struct Directory {
        std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("vngtl-version-" + std::to_string(::getpid()));
        ~Directory()
        {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } dir;
    std::filesystem::create_directories(dir.path);
    const auto write_file = [&](const std::string& name, const std::vector<char>& bytes) {
        const auto file = (dir.path / name).string();
        std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    };
    // Here the producer's code is linked into the test program, so that is the file LibraryPath names.
    const std::string path = DynamicResourceDepot::LibraryPath();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(std::filesystem::path(path).is_absolute()) << path;
    EXPECT_TRUE(std::filesystem::equivalent(path, std::filesystem::read_symlink("/proc/self/exe"))) << path;
    std::array<uint32_t, 4> numbers{};
    const auto read = [&](const std::string& file) {
        return DynamicResourceDepot::FileVersion(file, &numbers[0], &numbers[1], &numbers[2], &numbers[3]);
    };
    ASSERT_TRUE(read(path)) << last_error();
    EXPECT_EQ(numbers, std::to_array(vngtl::file_version));
    // Every output may be left out.
    EXPECT_TRUE(DynamicResourceDepot::FileVersion(path, nullptr, nullptr, nullptr, nullptr));

    // Other notes before it are skipped, whatever their sizes.
    ASSERT_TRUE(read(write_file("found.so", elf_with_notes({{"GNU", 3, "abcdefg", 7},
                                                            {"VNGT", 1, "1", 1},
                                                            version("10, 20, 4294967295, 0")}))))
        << last_error();
    EXPECT_EQ(numbers, (std::array<uint32_t, 4>{10, 20, 4294967295u, 0}));

    // A file without the note, or whose note holds no good text, has no version; the outputs are left alone.
    const std::string none = "GetFileVersionInfoSize returned a null size.";
    std::vector<std::pair<std::string, std::string>> rows = {  // the file and the record's message
        {VNSIM_PATH, none},
        {write_file("plain.txt", {'2', ',', ' ', '0', '\n'}), none},
        {write_file("short.so", {'\x7f', 'E', 'L', 'F', 2, 1, 1}), none},
        {write_file("other.so", elf_with_notes({{"GNU", 1, "2, 0, 750, 13366", 17}, {"VNGTLX", 1, "1, 2, 3, 4", 11}})),
         none},
        {write_file("type.so", elf_with_notes({{"VNGTL", 2, "1, 2, 3, 4", 11}})), none},
        {write_file("empty.so", elf_with_notes({{"VNGTL", 1, "", 0}})), none},
        {(dir.path / "missing.so").string(), none},
        {"", none},
        // A descriptor that claims more bytes than the file holds, and one without a terminating zero.
        {write_file("cut.so", elf_with_notes({{"VNGTL", 1, "1, 2", 400}})), "Failure on call to GetFileVersionInfo."},
        {write_file("unterminated.so", elf_with_notes({{"VNGTL", 1, "1, 2, 3, 4", 10}})),
         "Failure on call to VerQueryValueA retrieving the file version."},
    };
    // The text must be four decimal numbers separated by a comma and a space.
    for (const char* bad : {"2, 0, 750", "2,0,750,13366", "2, 0, 750, 13366, 1", "2, 0, x, 13366",
                            "2, 0, 750, 4294967296", "2, 0, 750, 13366 ", "-2, 0, 750, 13366", ""}) {
        rows.emplace_back(write_file(std::string("text ") + bad + ".so", elf_with_notes({version(bad)})),
                          "Unable to retrieve the system version information for the library.");
    }
    for (const auto& [file, message] : rows) {
        SCOPED_TRACE(file);
        numbers = {9, 9, 9, 9};
        EXPECT_FALSE(read(file));
        EXPECT_TRUE(is_record(last_error(), "GC_ERR_ERROR", "DynamicResourceDepot.cpp",
                              "DynamicResourceDepot::FileVersion", message));
        EXPECT_EQ(numbers, (std::array<uint32_t, 4>{9, 9, 9, 9})) << "untouched";
    }
}

}  // namespace
