#include "modules/DynamicResourceDepot.h"

#include "core/ErrorReport.h"
#include "resources/EmbeddedResource.h"
#include "resources/VersionNote.h"

#include <dlfcn.h>
#include <elf.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

namespace vngtl {

namespace {

using GenTL::GC_ERR_ERROR;
using GenTL::GC_ERR_INVALID_PARAMETER;

const EmbeddedResource* find_embedded(std::string_view type, uint32_t id)
{
    for (size_t i = 0; i < embedded_resource_count; ++i) {
        if (embedded_resources[i].id == id && type == embedded_resources[i].type) {
            return &embedded_resources[i];
        }
    }
    return nullptr;
}

// Where a file keeps the descriptor of the version note, and its declared size.
struct NoteLocation {
    uint64_t offset = 0;
    uint64_t size = 0;
};

template <typename T>
bool read_at(std::ifstream& file, uint64_t offset, T& out)
{
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(reinterpret_cast<char*>(&out), sizeof out);
    return static_cast<size_t>(file.gcount()) == sizeof out;
}

// Walks the notes of one note section for the version note; its descriptor may extend past the section
// or the file, which the caller finds when it reads it.
std::optional<NoteLocation> find_note_in_section(std::ifstream& file, const Elf64_Shdr& section)
{
    constexpr uint64_t owner_size = sizeof version_note_owner;
    uint64_t at = 0;
    while (at + sizeof(Elf64_Nhdr) <= section.sh_size) {
        Elf64_Nhdr header{};
        if (!read_at(file, section.sh_offset + at, header)) {
            return std::nullopt;
        }
        const uint64_t owner_at = at + sizeof header;
        const uint64_t descriptor_at = owner_at + note_padded(header.n_namesz);
        if (header.n_namesz == owner_size && header.n_type == version_note_type) {
            char owner[owner_size];
            if (read_at(file, section.sh_offset + owner_at, owner) &&
                std::memcmp(owner, version_note_owner, owner_size) == 0) {
                return NoteLocation{section.sh_offset + descriptor_at, header.n_descsz};
            }
        }
        at = descriptor_at + note_padded(header.n_descsz);
    }
    return std::nullopt;
}

// The version note of a 64-bit little-endian ELF file, found through its section headers.
std::optional<NoteLocation> find_version_note(std::ifstream& file)
{
    Elf64_Ehdr elf{};
    if (!read_at(file, 0, elf) || std::memcmp(elf.e_ident, ELFMAG, SELFMAG) != 0 ||
        elf.e_ident[EI_CLASS] != ELFCLASS64 || elf.e_ident[EI_DATA] != ELFDATA2LSB || elf.e_shoff == 0 ||
        elf.e_shentsize != sizeof(Elf64_Shdr)) {
        return std::nullopt;
    }
    uint64_t count = elf.e_shnum;
    if (count == 0) {  // more sections than the header can count: the first section header holds the number
        Elf64_Shdr first{};
        if (!read_at(file, elf.e_shoff, first)) {
            return std::nullopt;
        }
        count = first.sh_size;
    }
    for (uint64_t i = 0; i < count; ++i) {
        Elf64_Shdr section{};
        if (!read_at(file, elf.e_shoff + i * sizeof section, section)) {
            return std::nullopt;
        }
        if (section.sh_type == SHT_NOTE) {
            if (const auto found = find_note_in_section(file, section)) {
                return found;
            }
        }
    }
    return std::nullopt;
}

// "a, b, c, d": four decimal numbers separated by a comma and a space, nothing else.
bool parse_version(std::string_view text, uint32_t (&numbers)[4])
{
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (end - at < 2 || at[0] != ',' || at[1] != ' ') {
                return false;
            }
            at += 2;
        }
        const auto [next, error] = std::from_chars(at, end, numbers[i]);
        if (error != std::errc{} || next == at) {
            return false;
        }
        at = next;
    }
    return at == end;
}

}  // namespace

const std::map<std::string, DynamicResourceDepot::Resource, std::less<>>& DynamicResourceDepot::resources()
{
    static const std::map<std::string, Resource, std::less<>> table{
        {"Resources\\TLSystem.xml", {115, "Vantrel_VNGTL2_TLSystem.xml"}},
        {"Resources\\TLInterface.xml", {116, "Vantrel_VNGTL2_TLInterface.xml"}},
        {"Resources\\TLDevice.xml", {118, "Vantrel_VNGTL2_TLDevice.xml"}},
        {"Resources\\TLBuffer.xml", {120, "Vantrel_VNGTL2_TLBuffer.xml"}},
        {"Resources\\TLDatastream.xml", {121, "Vantrel_VNGTL2_TLDatastream.xml"}},
    };
    return table;
}

std::string DynamicResourceDepot::resource_type(std::string_view name)
{
    std::string type(name);
    for (char& c : type) {
        const auto byte = static_cast<unsigned char>(c);
        c = std::isalnum(byte) != 0 ? static_cast<char>(std::toupper(byte)) : '_';
    }
    return type;
}

const uint8_t* DynamicResourceDepot::Get(std::string_view name, size_t* size_out)
{
    constexpr std::string_view function = "DynamicResourceDepot::Get";
    if (size_out == nullptr) {
        report_error(function, GC_ERR_INVALID_PARAMETER, "The buffer size pointer is invalid (null).");
        return nullptr;
    }
    const auto& table = resources();
    const auto entry = table.find(name);
    if (entry == table.end()) {
        report_error(function, GC_ERR_ERROR,
                     "The Resource Depot has no resource called \"" + std::string(name) + "\".");
        return nullptr;
    }
    // Resources are stored by type and numeric ID, as a resource section would hold them.
    const EmbeddedResource* resource = find_embedded(resource_type(name), entry->second.id);
    if (resource == nullptr) {
        report_error(function, GC_ERR_ERROR,
                     "Unable to find the \"" + std::string(name) + "\" resources. Error was " +
                         std::to_string(ENOENT));
        return nullptr;
    }
    if (resource->bytes == nullptr) {
        report_error(function, GC_ERR_ERROR,
                     "Unable to load the \"" + std::string(name) + "\" resources. Error was " +
                         std::to_string(ENODATA));
        return nullptr;
    }
    if (resource->size == 0) {
        report_error(function, GC_ERR_ERROR, "Unable to lock the \"" + std::string(name) + "\" resource");
        return nullptr;
    }
    *size_out = resource->size;
    return resource->bytes;
}

bool DynamicResourceDepot::FileVersion(const std::string& path, uint32_t* major_out, uint32_t* minor_out,
                                       uint32_t* subminor_out, uint32_t* build_out)
{
    constexpr std::string_view function = "DynamicResourceDepot::FileVersion";
    try {
        std::ifstream file(path, std::ios::binary);
        const auto note = file ? find_version_note(file) : std::nullopt;
        if (!note || note->size == 0) {
            report_error(function, GC_ERR_ERROR, "GetFileVersionInfoSize returned a null size.");
            return false;
        }
        file.clear();
        file.seekg(0, std::ios::end);
        const auto file_size = static_cast<uint64_t>(file.tellg());
        if (note->offset > file_size || note->size > file_size - note->offset) {
            report_error(function, GC_ERR_ERROR, "Failure on call to GetFileVersionInfo.");
            return false;
        }
        std::string descriptor(note->size, '\0');
        file.clear();
        file.seekg(static_cast<std::streamoff>(note->offset));
        file.read(descriptor.data(), static_cast<std::streamsize>(descriptor.size()));
        if (static_cast<uint64_t>(file.gcount()) != note->size) {
            report_error(function, GC_ERR_ERROR, "Failure on call to GetFileVersionInfo.");
            return false;
        }
        const auto end = descriptor.find('\0');
        if (end == std::string::npos) {
            report_error(function, GC_ERR_ERROR, "Failure on call to VerQueryValueA retrieving the file version.");
            return false;
        }
        uint32_t numbers[4] = {};
        if (!parse_version(std::string_view(descriptor).substr(0, end), numbers)) {
            report_error(function, GC_ERR_ERROR, "Unable to retrieve the system version information for the library.");
            return false;
        }
        for (auto [out, value] : {std::pair{major_out, numbers[0]}, std::pair{minor_out, numbers[1]},
                                  std::pair{subminor_out, numbers[2]}, std::pair{build_out, numbers[3]}}) {
            if (out != nullptr) {
                *out = value;
            }
        }
        return true;
    } catch (...) {
        report_error(function, GC_ERR_ERROR, "Unable to retrieve the system version information for the library.");
        return false;
    }
}

std::string DynamicResourceDepot::LibraryPath()
{
    Dl_info info{};
    if (dladdr(&version_note, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
        return {};
    }
    std::error_code error;
    std::filesystem::path path = info.dli_fname;
    // For the main program the loader answers its argv[0], which names no file when the program was
    // found through PATH; the kernel knows the program's file then.
    if (std::strcmp(info.dli_fname, program_invocation_name) == 0 && !std::filesystem::exists(path, error)) {
        path = std::filesystem::read_symlink("/proc/self/exe", error);
        if (error) {
            return {};
        }
    }
    path = std::filesystem::absolute(path, error);
    return error ? std::string() : path.lexically_normal().string();
}

}  // namespace vngtl
