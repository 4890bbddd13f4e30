#include "GenTLFixture.h"

#include "modules/DynamicResourceDepot.h"
#include "resources/FileVersion.h"

#include <elf.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

using vngtl::DynamicResourceDepot;

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

    // The record of the last failure without its line number, which moves with the source.
    static std::string failure()
    {
        const std::string record = last_error();
        const auto open = record.find('[');
        const auto close = record.find("], ");
        return open == std::string::npos || close == std::string::npos ? record
                                                                       : record.substr(0, open) + record.substr(close + 1);
    }

    static std::string record_of(const std::string& message)
    {
        return "GC_ERR_ERROR @ DynamicResourceDepot.cpp, DynamicResourceDepot::FileVersion: " + message + "\n";
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

TEST_F(FileVersion, TheBuiltLibraryAndTheFileHoldingTheCodeCarryTheProjectVersion)
{
    uint32_t major = 0, minor = 0, subminor = 0, build = 0;
    ASSERT_TRUE(DynamicResourceDepot::FileVersion(VNGTL_CTI_PATH, &major, &minor, &subminor, &build)) << last_error();
    EXPECT_EQ(major, 2u);
    EXPECT_EQ(minor, 0u);
    EXPECT_EQ(subminor, 750u);
    EXPECT_EQ(build, 13366u);
    EXPECT_EQ(major, vngtl::file_version[0]);
    EXPECT_EQ(build, vngtl::file_version[3]);

    // Every output may be left out.
    EXPECT_TRUE(DynamicResourceDepot::FileVersion(VNGTL_CTI_PATH, nullptr, nullptr, nullptr, nullptr));

    // Here the producer's code is linked into the test program, so that is the file LibraryPath names.
    const std::string path = DynamicResourceDepot::LibraryPath();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(std::filesystem::path(path).is_absolute()) << path;
    EXPECT_TRUE(std::filesystem::equivalent(path, std::filesystem::read_symlink("/proc/self/exe"))) << path;
    build = 0;
    EXPECT_TRUE(DynamicResourceDepot::FileVersion(path, nullptr, nullptr, nullptr, &build));
    EXPECT_EQ(build, 13366u);
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
        EXPECT_EQ(failure(), record_of("GetFileVersionInfoSize returned a null size."));
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
    EXPECT_EQ(failure(), record_of("Failure on call to GetFileVersionInfo."));

    // A descriptor without a terminating zero holds no text.
    EXPECT_FALSE(read(write_file("unterminated.so", elf_with_notes({{"VNGTL", 1, "1, 2, 3, 4", 10}}))));
    EXPECT_EQ(failure(), record_of("Failure on call to VerQueryValueA retrieving the file version."));

    // The text must be four decimal numbers separated by a comma and a space.
    for (const char* bad : {"2, 0, 750", "2,0,750,13366", "2, 0, 750, 13366, 1", "2, 0, x, 13366", "2, 0, 750, 4294967296",
                            "2, 0, 750, 13366 ", "-2, 0, 750, 13366", ""}) {
        SCOPED_TRACE(bad);
        numbers[0] = 77;
        EXPECT_FALSE(read(write_file("bad.so", elf_with_notes({version(bad)}))));
        EXPECT_EQ(failure(), record_of("Unable to retrieve the system version information for the library."));
        EXPECT_EQ(numbers[0], 77u);
    }
}

}  // namespace
