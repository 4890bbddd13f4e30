#include "remote/VNCxpBootstrap.h"

#include "core/ErrorReport.h"
#include "gcbase/UrlCoding.h"
#include "remote/CxpCameraPort.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <source_location>
#include <vector>

namespace vngtl {

namespace {

// The bootstrap reader has always reported under the XML cache's source-file name, and the records keep
// that name; the line is the one in this file.
bool fail(std::string_view function, const std::string& message,
          std::source_location where = std::source_location::current())
{
    report_error_at("VNCxpXmlCacheInterface.cpp", where.line(), function, GenTL::GC_ERR_IO, message);
    return false;
}

bool is_hex_digit(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool parse_hex(const std::string& text, size_t begin, size_t end, uint64_t& value)
{
    value = 0;
    if (end <= begin) {
        return false;
    }
    const auto result = std::from_chars(text.data() + begin, text.data() + end, value, 16);
    return result.ec == std::errc() && result.ptr == text.data() + end;
}

// The characters that file names cannot hold become "_" and their code in decimal.
std::string escape_device_part(const std::string& text)
{
    std::string result;
    for (const char c : text) {
        if (std::strchr("\\/:*?\"<>|", c) != nullptr && c != '\0') {
            result += '_';
            result += std::to_string(static_cast<int>(static_cast<unsigned char>(c)));
        } else {
            result += c;
        }
    }
    return result;
}

}  // namespace

bool VNCxpBootstrap::readBootstrapReg(CxpCameraPort& port, uint32_t address, uint32_t& value)
{
    uint32_t read = 0;
    if (port.read_register(address, read) != GenTL::GC_ERR_SUCCESS) {
        loaded[address] = false;
        return fail("VNCxpBootstrap::readBootstrapReg",
                    "CXP Bootstrap register read failure at 4-byte register, address " + hex(address) + ".");
    }
    value = read;
    loaded[address] = true;
    return true;
}

bool VNCxpBootstrap::readBootstrapReg(CxpCameraPort& port, uint32_t address, uint64_t& value)
{
    uint8_t bytes[8] = {};
    size_t size = sizeof bytes;
    if (port.read_block(address, bytes, &size) != GenTL::GC_ERR_SUCCESS || size != sizeof bytes) {
        loaded[address] = false;
        return fail("VNCxpBootstrap::readBootstrapReg",
                    "CXP Bootstrap register read failure at 8-byte register, address " + hex(address) + ".");
    }
    // The most significant word lies at the lower address, each word big-endian.
    uint64_t result = 0;
    for (const uint8_t byte : bytes) {
        result = (result << 8) | byte;
    }
    value = result;
    loaded[address] = true;
    return true;
}

std::string VNCxpBootstrap::readStr(CxpCameraPort& port, uint32_t address, uint32_t length)
{
    std::vector<char> buffer(size_t{length} + 1, '\0');
    size_t size = length;
    if (port.read_block(address, buffer.data(), &size) != GenTL::GC_ERR_SUCCESS) {
        fail("VNCxpBootstrap::readStr", "CXP Bootstrap read failure at range [" + hex(address) + ", " +
                                            hex(uint64_t{address} + length) + ").");
        return {};
    }
    buffer[std::min<size_t>(size, length)] = '\0';
    return std::string(buffer.data());
}

std::string VNCxpBootstrap::readBootstrapStr(CxpCameraPort& port, uint32_t address, uint32_t length)
{
    std::string text = readStr(port, address, length);
    loaded[address] = !text.empty();
    if (text.empty()) {
        fail("VNCxpBootstrap::readBootstrapStr", "CXP Bootstrap string read failure.");
    }
    return text;
}

void VNCxpBootstrap::updateValues(CxpCameraPort& port)
{
    if (!readBootstrapReg(port, standard_address, standard)) {
        fail("VNCxpBootstrap::updateValues",
             "Unable to access the CXP bootstrap Standard register. The link may be bad.");
        return;
    }
    readBootstrapReg(port, revision_address, revision);
    readBootstrapReg(port, xml_manifest_size_address, xml_manifest_size);
    readBootstrapReg(port, xml_manifest_selector_address, xml_manifest_selector);
    readBootstrapReg(port, xml_version_address, xml_version);
    readBootstrapReg(port, xml_schema_version_address, xml_schema_version);
    readBootstrapReg(port, xml_url_address_address, xml_url_address);
    readBootstrapReg(port, iidc_pointer_address, iidc_pointer);

    vendor_name = readBootstrapStr(port, vendor_name_address, 32);
    model_name = readBootstrapStr(port, model_name_address, 32);
    manufacturer_info = readBootstrapStr(port, manufacturer_info_address, 48);
    device_version = readBootstrapStr(port, device_version_address, 32);
    device_id = readBootstrapStr(port, device_id_address, 16);
    device_user_id = readBootstrapStr(port, device_user_id_address, 16);

    const bool extended = is_loaded(revision_address) && revision >= revision_1_1;
    if (extended) {
        for (uint32_t i = 0; i < 8; ++i) {
            readBootstrapReg(port, pointer_block_address + 4 * i, pointer_block[i]);
        }
    }
    for (uint32_t i = 0; i < 9; ++i) {
        readBootstrapReg(port, 0x4004 + 4 * i, link_registers[i]);
    }
    if (extended) {
        readBootstrapReg(port, 0x4028, test_packet_count_tx);
        readBootstrapReg(port, 0x4030, test_packet_count_rx);
        readBootstrapReg(port, 0x4038, electrical_compliance_test);
        readBootstrapReg(port, 0x403C, capabilities);
    }
}

void VNCxpBootstrap::updateManifestEntry(CxpCameraPort& port)
{
    readBootstrapReg(port, xml_manifest_size_address, xml_manifest_size);
    readBootstrapReg(port, xml_manifest_selector_address, xml_manifest_selector);
    readBootstrapReg(port, xml_version_address, xml_version);
    readBootstrapReg(port, xml_schema_version_address, xml_schema_version);
    readBootstrapReg(port, xml_url_address_address, xml_url_address);
}

bool VNCxpBootstrap::is_loaded(uint32_t address) const
{
    const auto it = loaded.find(address);
    return it != loaded.end() && it->second;
}

std::string VNCxpBootstrap::retrieveManifestUrl(CxpCameraPort& port)
{
    static constexpr const char* function = "VNCxpBootstrap::retrieveManifestUrl";
    if (!is_loaded(xml_url_address_address)) {
        fail(function, "The CXP Bootstrap XML_URL_ADDRESS register has not been loaded, so reading the URL is "
                       "not currently possible.");
        return {};
    }
    if (xml_url_address < manufacturer_space) {
        fail(function, "The CXP Bootstrap XML_URL_ADDRESS register points to an address not within the "
                       "manufacturer register space (" + hex(xml_url_address) + ").");
        return {};
    }
    std::string text;
    uint32_t offset = 0;
    int failures = 0;
    for (;;) {
        if (offset > 1024) {
            fail(function, "The length of an XML URL is excessively long, or the null-terminating character is "
                           "missing.");
            return {};
        }
        char chunk[4] = {};
        size_t size = sizeof chunk;
        if (port.read_block(uint64_t{xml_url_address} + offset, chunk, &size) != GenTL::GC_ERR_SUCCESS) {
            if (++failures >= 6) {
                fail(function, "Aborting URL retrieval operation after " + std::to_string(failures) +
                                   " failed register read operations.");
                return {};
            }
            continue;
        }
        const size_t got = std::min(size, sizeof chunk);
        const auto* zero = static_cast<const char*>(std::memchr(chunk, '\0', got));
        if (zero != nullptr) {
            text.append(chunk, static_cast<size_t>(zero - chunk));
            return text;
        }
        text.append(chunk, got);
        offset += static_cast<uint32_t>(got == 0 ? sizeof chunk : got);
    }
}

std::string VNCxpBootstrap::generateXmlFileName(int64_t seed) const
{
    static constexpr const char* function = "VNCxpBootstrap::generateXmlFileName";
    if (seed != wildcard_seed && !(is_loaded(xml_schema_version_address) && is_loaded(xml_version_address))) {
        fail(function, "Unable to generate an XML file name, because the CXP bootstrap couldn't load the XML "
                       "version registers.");
        return {};
    }
    if (!(is_loaded(vendor_name_address) && is_loaded(model_name_address) && is_loaded(device_version_address))) {
        fail(function, "Unable to generate an XML file name, because the CXP bootstrap couldn't load the device "
                       "information registers.");
        return {};
    }
    const std::string device = escape_device_part(vendor_name + "#" + model_name + "#" + device_version + "@");
    if (seed == wildcard_seed) {
        return "SchemaVersion.*.*@" + device + "XMLVersion.*.*.*" + ".xml";
    }
    const auto field = [](uint32_t value, int shift) { return std::to_string((value >> shift) & 0xFF); };
    std::string name = "SchemaVersion." + field(xml_schema_version, 16) + "." + field(xml_schema_version, 8) +
                       "@" + device + "XMLVersion." + field(xml_version, 16) + "." + field(xml_version, 8) + "." +
                       field(xml_version, 0);
    if (seed >= 0) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, static_cast<uint64_t>(seed), 16).ptr;
        name += "#" + std::string(digits, end);
    }
    return name + ".xml";
}

std::string VNCxpBootstrap::UrlFileName(const std::string& url)
{
    static constexpr const char* function = "VNCxpBootstrap::UrlFileName";
    const std::string low = lower(url);
    if (!(low.starts_with("local") || low.starts_with("file") || low.starts_with("http"))) {
        fail(function, "Unrecognized locale in URL \"" + url + "\".");
        return {};
    }
    const size_t xml = low.rfind(".xml");
    const size_t zip = low.rfind(".zip");
    const size_t extension = std::min(xml, zip);  // npos is the largest value
    const size_t slash = extension == std::string::npos ? std::string::npos : low.rfind('/', extension);
    if (extension == std::string::npos || slash == std::string::npos) {
        fail(function, "Unable to determine the filename of URL \"" + url + "\".");
        return {};
    }
    // The name becomes a path in the cache directory: an escaped separator or zero byte ("%2F", "%5C",
    // "%00") from the camera would put it elsewhere, or cut it short.
    std::string name = GenICam::UrlDecode(url.substr(slash + 1, extension + 4 - slash - 1));
    if (name.find_first_of(std::string("/\\\0", 3)) != std::string::npos) {
        fail(function, "Unable to determine the filename of URL \"" + url + "\".");
        return {};
    }
    return name;
}

bool VNCxpBootstrap::LocalUrlDelimiters(const std::string& url, Positions& positions)
{
    static constexpr const char* function = "VNCxpBootstrap::LocalUrlDelimiters";
    const size_t colon = url.find(':');
    if (colon == std::string::npos) {
        return fail(function, "Unable to locate a Filename in the URL, \"" + url + "\".");
    }
    const size_t semicolon = url.find(';', colon + 1);
    if (semicolon == std::string::npos) {
        return fail(function, "Unable to locate an Address value in the URL, \"" + url + "\".");
    }
    size_t address_end = semicolon + 1;
    while (address_end < url.size() && is_hex_digit(url[address_end])) {
        ++address_end;
    }
    if (address_end == url.size()) {
        return fail(function, "Unable to locate a Data Length value in the URL, \"" + url + "\".");
    }
    if (url[address_end] != ';') {
        return fail(function, "Malformed Address value in the URL, \"" + url + "\".");
    }
    size_t length_end = address_end + 1;
    while (length_end < url.size() && is_hex_digit(url[length_end])) {
        ++length_end;
    }
    if (length_end != url.size() && url.compare(length_end, 15, "?SchemaVersion=") != 0) {
        return fail(function, "Malformed Data Length value or Schema prefix in the URL, \"" + url + "\".");
    }
    positions = {colon, semicolon, address_end, length_end};
    return true;
}

bool VNCxpBootstrap::LocalUrlAddressAndLength(const std::string& url, uint64_t& address, uint64_t& length)
{
    Positions positions;
    if (!LocalUrlDelimiters(url, positions)) {
        return false;
    }
    // Empty or over-long numbers read as 0 or saturate; the download's coherence check refuses them.
    if (!parse_hex(url, positions.first_semicolon + 1, positions.address_end, address)) {
        address = 0;
    }
    if (!parse_hex(url, positions.address_end + 1, positions.length_end, length)) {
        length = 0;
    }
    return true;
}

}  // namespace vngtl
