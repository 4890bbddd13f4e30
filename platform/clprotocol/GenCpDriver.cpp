#include "clprotocol/GenCpDriver.h"

#include "clprotocol/CLErrException.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace CLProtocol {

namespace {

// GenCP bootstrap addresses.
constexpr uint64_t manufacturer_name = 0x0004;
constexpr uint64_t model_name = 0x0044;
constexpr uint64_t family_name = 0x0084;
constexpr uint64_t device_version = 0x00C4;
constexpr uint64_t serial_number = 0x0144;
constexpr uint64_t manifest_table = 0x01D0;
constexpr uint32_t string_length = 64;
constexpr uint32_t manifest_entry_size = 64;
constexpr uint64_t max_manifest_entries = 16;

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) {
        parts.push_back(part);
    }
    if (!text.empty() && text.back() == separator) {
        parts.emplace_back();
    }
    return parts;
}

uint32_t le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24);
}

uint64_t le64(const uint8_t* p)
{
    return le32(p) | uint64_t{le32(p + 4)} << 32;
}

uint16_t le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

[[noreturn]] void bad_zip(const std::string& why)
{
    throw CLErrException(cl_err_no_xmldescription_found, "The camera's zipped description " + why + ".", __FILE__,
                         __LINE__);
}

// The first file of a zip archive, found through its central directory and inflated.
std::string unzip_first(const std::vector<uint8_t>& zip)
{
    if (zip.size() < 22) {
        bad_zip("is too short");
    }
    size_t end = zip.size() - 22;
    while (le32(&zip[end]) != 0x06054B50) {
        if (end == 0 || zip.size() - end > 22 + 0xFFFF) {
            bad_zip("has no end record");
        }
        --end;
    }
    const size_t directory = le32(&zip[end + 16]);
    if (directory + 46 > zip.size() || le32(&zip[directory]) != 0x02014B50) {
        bad_zip("has no central directory");
    }
    const uint16_t method = le16(&zip[directory + 10]);
    const uint32_t packed = le32(&zip[directory + 20]);
    const uint32_t size = le32(&zip[directory + 24]);
    const size_t local = le32(&zip[directory + 42]);
    if (local + 30 > zip.size() || le32(&zip[local]) != 0x04034B50) {
        bad_zip("has no local header");
    }
    const size_t data = local + 30 + le16(&zip[local + 26]) + le16(&zip[local + 28]);
    if (data + packed > zip.size()) {
        bad_zip("is cut short");
    }
    if (method == 0) {
        return std::string(zip.begin() + static_cast<std::ptrdiff_t>(data),
                           zip.begin() + static_cast<std::ptrdiff_t>(data + size));
    }
    if (method != 8) {
        bad_zip("uses an unknown compression method");
    }
    std::string text(size, '\0');
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) {
        bad_zip("cannot be inflated");
    }
    stream.next_in = const_cast<Bytef*>(&zip[data]);
    stream.avail_in = packed;
    stream.next_out = reinterpret_cast<Bytef*>(text.data());
    stream.avail_out = size;
    const int result = inflate(&stream, Z_FINISH);
    const auto produced = stream.total_out;
    inflateEnd(&stream);
    if (result != Z_STREAM_END || produced != size) {
        bad_zip("is damaged");
    }
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size()));
    if (crc != le32(&zip[directory + 16])) {
        bad_zip("fails its checksum");
    }
    return text;
}

}  // namespace

std::string GenCpDriver::identifier(const std::string& text)
{
    std::string out;
    for (const unsigned char c : text) {
        out += std::isalnum(c) || c == '_' ? static_cast<char>(c) : '_';
    }
    if (out.empty() || std::isdigit(static_cast<unsigned char>(out[0]))) {
        out.insert(out.begin(), '_');
    }
    return out;
}

GenICam::gcstring_vector GenCpDriver::templates()
{
    const std::string prefix = std::string(directory) + "#" + file_name + "#";
    GenICam::gcstring_vector list{prefix + "Vantrel"};
    const char* extra = std::getenv("GENICAM_CLPROTOCOL");
    if (extra == nullptr || *extra == '\0') {
        return list;
    }
    std::error_code error;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(extra, error)) {
        if (entry.path().extension() == ".txt") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
        std::ifstream in(path);
        std::string line;
        while (std::getline(in, line)) {
            line.erase(std::remove_if(line.begin(), line.end(), [](unsigned char c) { return std::isspace(c); }),
                       line.end());
            if (!line.empty() && std::find(list.begin(), list.end(), prefix + line) == list.end()) {
                list.push_back(prefix + line);
            }
        }
    }
    return list;
}

GenCpDriver::Identity GenCpDriver::identity(GenCpChannel& channel)
{
    Identity identity;
    identity.manufacturer = channel.read_string(manufacturer_name, string_length);
    identity.family = channel.read_string(family_name, string_length);
    identity.model = channel.read_string(model_name, string_length);
    identity.version = channel.read_string(device_version, string_length);
    identity.serial_number = channel.read_string(serial_number, string_length);
    return identity;
}

std::string GenCpDriver::device_id(const Identity& identity)
{
    return std::string(directory) + "#" + file_name + "#" + identifier(identity.manufacturer) + "#" +
           identifier(identity.family) + "#" + identifier(identity.model) + "#" + identifier(identity.version) + "#" +
           identifier(identity.serial_number);
}

std::string GenCpDriver::short_id(const std::string& device_id)
{
    const std::string prefix = std::string(directory) + "#" + file_name + "#";
    return device_id.rfind(prefix, 0) == 0 ? device_id.substr(prefix.size()) : std::string();
}

bool GenCpDriver::matches(const std::string& device_id, const std::string& template_id)
{
    const auto device = split(device_id, '#');
    const auto wanted = split(template_id, '#');
    if (wanted.size() < 3 || wanted.size() > device.size()) {
        return false;
    }
    return std::equal(wanted.begin(), wanted.end(), device.begin());
}

std::vector<GenCpDriver::XmlFile> GenCpDriver::xml_files(GenCpChannel& channel, const std::string& device_id)
{
    uint8_t pointer[8];
    channel.read(manifest_table, pointer, 8);
    const uint64_t manifest = le64(pointer);
    uint8_t count_bytes[8];
    channel.read(manifest, count_bytes, 8);
    const uint64_t count = std::min(le64(count_bytes), max_manifest_entries);
    std::vector<uint8_t> entries(count * manifest_entry_size);
    if (count > 0) {
        channel.read(manifest + 8, entries.data(), entries.size());
    }
    std::vector<XmlFile> files;
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* entry = &entries[i * manifest_entry_size];
        XmlFile file;
        file.file_version = le32(entry);
        file.schema_version = le32(entry + 4);
        file.address = le64(entry + 8);
        file.size = le64(entry + 16);
        file.zipped = (file.schema_version & 0xFF) == 1;
        file.xml_id = "SchemaVersion." + std::to_string(file.schema_version >> 24) + "." +
                      std::to_string(file.schema_version >> 16 & 0xFF) + "@" + short_id(device_id) +
                      "@DeviceVersion." + std::to_string(file.file_version >> 24) + "." +
                      std::to_string(file.file_version >> 16 & 0xFF) + "." +
                      std::to_string(file.file_version & 0xFFFF);
        const auto same = std::find_if(files.begin(), files.end(), [&](const XmlFile& f) { return f.xml_id == file.xml_id; });
        if (same == files.end()) {
            files.push_back(file);
        } else if (file.zipped && !same->zipped) {
            *same = file;
        }
    }
    return files;
}

std::string GenCpDriver::fetch(GenCpChannel& channel, const XmlFile& file)
{
    if (file.size == 0 || file.size > (64u << 20)) {
        throw CLErrException(cl_err_no_xmldescription_found,
                             "The camera's manifest gives the description a size of " + std::to_string(file.size) +
                                 " bytes.",
                             __FILE__, __LINE__);
    }
    std::vector<uint8_t> bytes(file.size);
    channel.read(file.address, bytes.data(), bytes.size());
    if (file.zipped) {
        return unzip_first(bytes);
    }
    return std::string(bytes.begin(), bytes.end());
}

std::string GenCpDriver::cache_path(const std::string& device_id, const XmlFile& file)
{
    std::filesystem::path directory_path;
    if (const char* cache = std::getenv("GENICAM_CACHE_V2_4"); cache != nullptr && *cache != '\0') {
        directory_path = cache;
    } else {
        directory_path = std::filesystem::temp_directory_path() / ("vngtl-genicam-cache-" + std::to_string(getuid()));
    }
    // One file per camera model, version and file version; serial numbers do not change descriptions.
    const auto fields = split(device_id, '#');
    std::string name = "CLProtocol";
    for (size_t i = 2; i < fields.size() && i < 6; ++i) {
        if (i != 3) {
            name += "_" + fields[i];
        }
    }
    name += "_" + std::to_string(file.file_version >> 24) + "_" + std::to_string(file.file_version >> 16 & 0xFF) +
            "_" + std::to_string(file.file_version & 0xFFFF) + ".xml";
    return std::filesystem::absolute(directory_path / name).string();
}

}  // namespace CLProtocol
