#include "remote/VNCxpXmlCacheInterface.h"

#include "core/ErrorReport.h"
#include "gcbase/EnvironmentVariables.h"
#include "gcbase/FileListing.h"
#include "gcbase/UrlCoding.h"
#include "remote/CxpCameraPort.h"
#include "remote/HttpGetClient.h"

#include <minizip/unzip.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

namespace vngtl {

namespace fs = std::filesystem;

namespace {

constexpr const char* cache_variable = "GENICAM_CACHE_V2_4";

// The value of a "Content-Length: <digits>" header line (the name in any case); none for any other line.
std::optional<uint64_t> content_length(const std::string& line)
{
    static constexpr std::string_view name = "content-length:";
    if (line.size() <= name.size()) {
        return std::nullopt;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(line[i])) != name[i]) {
            return std::nullopt;
        }
    }
    size_t at = line.find_first_not_of(" \t", name.size());
    const size_t end = line.find_last_not_of(" \t");
    if (at == std::string::npos || end - at >= 19) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (; at <= end; ++at) {
        if (!std::isdigit(static_cast<unsigned char>(line[at]))) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint64_t>(line[at] - '0');
    }
    return value;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool starts_with_nocase(const std::string& text, std::string_view prefix)
{
    return text.size() >= prefix.size() && lower(text.substr(0, prefix.size())) == prefix;
}

bool ends_with_nocase(const std::string& text, std::string_view suffix)
{
    return text.size() >= suffix.size() && lower(text.substr(text.size() - suffix.size())) == suffix;
}

bool is_xml_or_zip(const std::string& name)
{
    return ends_with_nocase(name, ".zip") || ends_with_nocase(name, ".xml");
}

std::string scheme_of(const std::string& url)
{
    const size_t colon = url.find(':');
    return colon == std::string::npos ? std::string() : lower(url.substr(0, colon));
}

bool exists(const std::string& path)
{
    std::error_code error;
    return fs::exists(path, error);
}

bool is_regular_file(const std::string& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// Removes a partial file; a failure is recorded with `prefix` and the system's text.
void remove_partial(const std::string& path, const char* function, const std::string& prefix)
{
    std::error_code error;
    fs::remove(path, error);
    if (error) {
        report_error(function, GenTL::GC_ERR_ERROR, prefix + error.message());
    }
}

std::string with_extension(const std::string& path, const char* extension)
{
    return fs::path(path).replace_extension(extension).string();
}

// Closes a minizip archive however the extraction ends.
struct ZipCloser {
    void operator()(void* archive) const { unzClose(archive); }
};

std::string minizip_text(int code)
{
    switch (code) {
    case UNZ_CRCERROR: return "the entry's checksum does not match its data";
    case UNZ_BADZIPFILE: return "the archive is damaged";
    case UNZ_ERRNO: return "a file read failed";
    case UNZ_INTERNALERROR: return "internal error of the unzip library";
    default: return "unzip error " + std::to_string(code);
    }
}

}  // namespace

std::string VNCxpXmlCacheInterface::xmlCacheDirectory() const
{
    static constexpr const char* function = "VNCxpXmlCacheInterface::xmlCacheDirectory";
    if (!GenICam::DoesEnvironmentVariableExist(cache_variable)) {
        report_error(function, GenTL::GC_ERR_IO,
                     "The GenICam cache directory has not been set in the local environment, or cannot be accessed.");
        return {};
    }
    const std::string path = GenICam::ReplaceEnvironmentVariables(std::string("$(") + cache_variable + ")");
    std::error_code error;
    if (path.empty() || !fs::is_directory(path, error)) {
        report_error(function, GenTL::GC_ERR_IO, "Could not access GenICam cache directory, \"" + path + "\".");
        return {};
    }
    return path;
}

std::string VNCxpXmlCacheInterface::configured_directory()
{
    if (!GenICam::DoesEnvironmentVariableExist(cache_variable)) {
        return {};
    }
    return GenICam::ReplaceEnvironmentVariables(std::string("$(") + cache_variable + ")");
}

std::string VNCxpXmlCacheInterface::directory_with_separator() const
{
    std::string directory = xmlCacheDirectory();
    if (!directory.empty() && directory.back() != '/') {
        directory += '/';
    }
    return directory;
}

std::string VNCxpXmlCacheInterface::new_cache_target(const char* function, const std::string& name) const
{
    if (!is_xml_or_zip(name)) {
        report_error(function, GenTL::GC_ERR_ERROR,
                     "Unknown URL extension \"" + fs::path(name).extension().string() + "\".");
        return {};
    }
    const std::string directory = directory_with_separator();
    if (directory.empty()) {
        return {};
    }
    std::string target = directory + name;
    if (exists(target)) {
        report_error(function, GenTL::GC_ERR_ERROR, "The file (" + target + ") has already been cached.");
        return {};
    }
    return target;
}

bool VNCxpXmlCacheInterface::walk_preconditions(CxpCameraPort& port, Walk walk, const char* function)
{
    bootstrap_.updateValues(port);
    if (!bootstrap_.is_loaded(VNCxpBootstrap::standard_address)) {
        report_error(function, GenTL::GC_ERR_IO,
                     "Could not retrieve the CXP Standard bootstrap register value. The camera may need to be "
                     "powered, or reset.");
        return false;
    }
    if (bootstrap_.standard != VNCxpBootstrap::standard_value) {
        report_error(function, GenTL::GC_ERR_IO,
                     walk == Walk::store ? "Camera did not return the correct CXP Standard bootstrap register value. "
                                           "The camera may need to be powered, or reset."
                                         : "Camera did not return the correct CXP Standard register value.");
        return false;
    }
    if (!bootstrap_.is_loaded(VNCxpBootstrap::xml_manifest_size_address)) {
        report_error(function, GenTL::GC_ERR_IO,
                     "Could not retrieve the CXP XML Manifest Size bootstrap register value.");
        return false;
    }
    return true;
}

bool VNCxpXmlCacheInterface::select_entry(CxpCameraPort& port, uint32_t index, const char* function)
{
    if (port.write_register(VNCxpBootstrap::xml_manifest_selector_address, index) != GenTL::GC_ERR_SUCCESS) {
        report_error(function, GenTL::GC_ERR_IO,
                     "Unable to set the CXP Boostrap manifest selector. XML file search routine exiting prematurely.");
        return false;
    }
    bootstrap_.updateManifestEntry(port);
    return true;
}

bool VNCxpXmlCacheInterface::updateStore(CxpCameraPort& port)
{
    static constexpr const char* function = "VNCxpXmlCacheInterface::updateStore";
    std::lock_guard lock(mutex_);
    store_.clear();
    const std::string directory = directory_with_separator();
    if (directory.empty()) {
        return false;
    }
    if (!walk_preconditions(port, Walk::store, function)) {
        return false;
    }
    if (const std::string pattern = bootstrap_.generateXmlFileName(VNCxpBootstrap::wildcard_seed); !pattern.empty()) {
        for (const std::string& path : GenICam::GetFiles(directory + pattern)) {
            if (is_regular_file(path)) {
                store_.push_back(UrlRecord{path});
            }
        }
    }
    const uint32_t entries = bootstrap_.xml_manifest_size;
    for (uint32_t i = 0; i < entries; ++i) {
        if (!select_entry(port, i, function)) {
            return false;
        }
        const std::string url = bootstrap_.retrieveManifestUrl(port);
        if (url.empty()) {
            report_error(function, GenTL::GC_ERR_IO,
                         "Encountered an error retrieving device manifest URL " + std::to_string(i) + ".");
            continue;
        }
        const std::string name = VNCxpBootstrap::UrlFileName(url);
        if (name.empty()) {
            continue;
        }
        const std::string xml_path = with_extension(directory + name, ".xml");
        const std::string zip_path = with_extension(directory + name, ".zip");
        if (!exists(xml_path) && !(exists(zip_path) && doUnzip(zip_path))) {
            continue;
        }
        UrlRecord record{xml_path};
        if (bootstrap_.is_loaded(VNCxpBootstrap::xml_schema_version_address)) {
            record.schema_major = static_cast<int32_t>((bootstrap_.xml_schema_version >> 16) & 0xFF);
            record.schema_minor = static_cast<int32_t>((bootstrap_.xml_schema_version >> 8) & 0xFF);
        }
        store_.push_back(record);
    }
    std::sort(store_.begin(), store_.end(), [](const UrlRecord& a, const UrlRecord& b) { return a.url < b.url; });
    return true;
}

bool VNCxpXmlCacheInterface::download_entry(const std::string& url, CxpCameraPort& port, UrlRecord& record_out,
                                            std::chrono::steady_clock::time_point http_deadline)
{
    const std::string scheme = scheme_of(url);
    if (scheme == "local") {
        return downloadLocalFile(url, port, record_out);
    }
    if (scheme == "file") {
        return downloadFileFile(url, record_out);
    }
    return downloadHttpFile(url, record_out, http_deadline);
}

bool VNCxpXmlCacheInterface::walk_known_urls(CxpCameraPort& port, const char* function,
                                             const std::function<void(const std::string&)>& visit)
{
    const uint32_t entries = bootstrap_.xml_manifest_size;
    for (uint32_t i = 0; i < entries; ++i) {
        if (!select_entry(port, i, function)) {
            return false;
        }
        const std::string url = bootstrap_.retrieveManifestUrl(port);
        const std::string scheme = scheme_of(url);
        if (scheme != "local" && scheme != "file" && scheme != "http") {
            report_error(function, GenTL::GC_ERR_ERROR,
                         "Unknown locale in bootstrap URL \"" + url + "\". Skipping download.");
            continue;
        }
        visit(url);
    }
    return true;
}

bool VNCxpXmlCacheInterface::downloadFiles(CxpCameraPort& port)
{
    static constexpr const char* function = "VNCxpXmlCacheInterface::downloadFiles";
    std::lock_guard lock(mutex_);
    if (!walk_preconditions(port, Walk::download, function)) {
        return false;
    }
    const auto http_deadline = HttpGetClient::Clock::now() + HttpGetClient::download_budget;
    return walk_known_urls(port, function, [&](const std::string& url) {
        UrlRecord record;
        if (!download_entry(url, port, record, http_deadline)) {
            report_error(function, GenTL::GC_ERR_ERROR, "Download failed for the XML at URL \"" + url + "\".");
            return;
        }
        if (ends_with_nocase(record.url, ".zip") && !doUnzip(record.url)) {
            std::error_code ignored;
            fs::remove(record.url, ignored);
            report_error(function, GenTL::GC_ERR_ERROR,
                         "Unable to extract the XML file archive downloaded for the URL, \"" + url + "\".");
        }
    });
}

bool VNCxpXmlCacheInterface::purgeManifestFiles(CxpCameraPort& port)
{
    static constexpr const char* function = "VNCxpXmlCacheInterface::purgeManifestFiles";
    std::lock_guard lock(mutex_);
    const std::string directory = directory_with_separator();
    if (!walk_preconditions(port, Walk::purge, function)) {
        return false;
    }
    return walk_known_urls(port, function, [&](const std::string& url) {
        const std::string name = VNCxpBootstrap::UrlFileName(url);
        if (name.empty() || directory.empty()) {
            return;
        }
        std::vector<std::string> paths{directory + name};
        if (ends_with_nocase(name, ".zip")) {
            paths.push_back(with_extension(directory + name, ".xml"));
        }
        for (const std::string& path : paths) {
            std::error_code error;
            if (fs::exists(path, error) && !fs::remove(path, error)) {
                report_error(function, GenTL::GC_ERR_ERROR,
                             "Failed to purge the \"" + path + "\" cached file: " + error.message());
            }
        }
    });
}

GenTL::GC_ERROR VNCxpXmlCacheInterface::xml_properties(UrlRecord& record_out, uint32_t index, bool for_consumer)
{
    std::lock_guard lock(mutex_);
    if (index >= store_.size()) {
        return report_error("VNCxpXmlCacheInterface::xml_properties", GenTL::GC_ERR_INVALID_INDEX,
                            "The XML URL index is out of range.");
    }
    record_out = store_[index];
    if (for_consumer) {
        std::string path = record_out.url;
        std::replace(path.begin(), path.end(), '\\', '/');
        std::string url = "file:///";
        if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
            url += path.substr(0, 2);
            path.erase(0, 2);
        } else if (!path.empty() && path.front() == '/') {
            // An absolute path's leading slash is the URL's third one.
            path.erase(0, 1);
        }
        record_out.url = url + GenICam::UrlEncode(path);
    }
    return GenTL::GC_ERR_SUCCESS;
}

size_t VNCxpXmlCacheInterface::store_size() const
{
    std::lock_guard lock(mutex_);
    return store_.size();
}

bool VNCxpXmlCacheInterface::doUnzip(const std::string& zip_path) const
{
    static constexpr const char* function = "VNCxpXmlCacheInterface::doUnzip";
    if (!ends_with_nocase(zip_path, ".zip")) {
        report_error(function, GenTL::GC_ERR_ERROR,
                     "The input file (" + zip_path + ") cannot be extracted because it is not a ZIP file.");
        return false;
    }
    if (!is_regular_file(zip_path)) {
        report_error(function, GenTL::GC_ERR_ERROR,
                     "The input file specified (" + zip_path + ") is not a regular file, or may not exist.");
        return false;
    }
    const std::unique_ptr<void, ZipCloser> archive(unzOpen64(zip_path.c_str()));
    if (!archive || unzGoToFirstFile(archive.get()) != UNZ_OK) {
        report_error(function, GenTL::GC_ERR_ERROR, "Unable to open a file for unzipping: " + zip_path);
        return false;
    }
    const std::string target = with_extension(zip_path, ".xml");
    if (exists(target)) {
        report_error(function, GenTL::GC_ERR_ERROR, "File already exists in the cache.");
        return false;
    }
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) {
        report_error(function, GenTL::GC_ERR_ERROR,
                     "Unable to open a file output stream to unzip an XML file: " + target);
        return false;
    }
    std::string problem;
    if (const int opened = unzOpenCurrentFile(archive.get()); opened != UNZ_OK) {
        problem = minizip_text(opened);
    } else {
        char chunk[512];
        for (;;) {
            const int got = unzReadCurrentFile(archive.get(), chunk, sizeof chunk);
            if (got < 0) {
                problem = minizip_text(got);
                break;
            }
            if (got == 0) {
                break;
            }
            if (!out.write(chunk, got)) {
                problem = "writing " + target + " failed";
                break;
            }
        }
        // Closing the entry is where a checksum mismatch shows.
        if (const int closed = unzCloseCurrentFile(archive.get()); problem.empty() && closed != UNZ_OK) {
            problem = minizip_text(closed);
        }
    }
    out.close();
    if (problem.empty() && !out) {
        problem = "writing " + target + " failed";
    }
    if (!problem.empty()) {
        report_error(function, GenTL::GC_ERR_ERROR, "A problem occured unzipping an XML file: " + problem);
        remove_partial(target, function, "Error cleaning up the failed XML unzip: ");
        return false;
    }
    return true;
}

bool VNCxpXmlCacheInterface::downloadLocalFile(const std::string& url, CxpCameraPort& port, UrlRecord& record_out)
{
    static constexpr const char* function = "VNCxpXmlCacheInterface::downloadLocalFile";
    if (!starts_with_nocase(url, "local:")) {
        report_error(function, GenTL::GC_ERR_ERROR, "Locale of URL \"" + url + "\" is not \"local\".");
        return false;
    }
    const std::string name = VNCxpBootstrap::UrlFileName(url);
    if (name.empty()) {
        return false;
    }
    const std::string target = new_cache_target(function, name);
    if (target.empty()) {
        return false;
    }
    uint64_t address = 0;
    uint64_t length = 0;
    if (!VNCxpBootstrap::LocalUrlAddressAndLength(url, address, length)) {
        return false;
    }
    if (address < VNCxpBootstrap::manufacturer_space || length == 0 || address + length > 0xFFFFFFFFull) {
        report_error(function, GenTL::GC_ERR_ERROR,
                     "Address and data length values specified in the URL \"" + url + "\" are incoherent.");
        return false;
    }
    std::vector<char> bytes((length + 3) & ~uint64_t{3});
    size_t size = bytes.size();
    if (port.read_block(address, bytes.data(), &size) != GenTL::GC_ERR_SUCCESS || size < length) {
        report_error(function, GenTL::GC_ERR_IO,
                     "Register read failure downloading an XML/ZIP file for the URL \"" + url + "\".");
        return false;
    }
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) {
        report_error(function, GenTL::GC_ERR_ERROR, "Could not open the XML/ZIP file \"" + target +
                                                        "\" for writing. Check that the path is not read-only.");
        return false;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(length));
    out.close();
    if (!out) {
        report_error(function, GenTL::GC_ERR_ERROR, "XML/ZIP file output failed.");
        remove_partial(target, function, "Failed to cleanup from the failed file write: ");
        return false;
    }
    record_out = UrlRecord{target};
    return true;
}

std::string VNCxpXmlCacheInterface::file_url_path(const std::string& url)
{
    if (starts_with_nocase(url, "file:///")) {
        std::string rest = url.substr(8);
        const bool drive = rest.size() >= 2 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':';
        return drive ? rest : "/" + rest;
    }
    if (starts_with_nocase(url, "file:")) {
        return url.substr(5);
    }
    return url;
}

bool VNCxpXmlCacheInterface::downloadFileFile(const std::string& url, UrlRecord& record_out)
{
    static constexpr const char* function = "VNCxpXmlCacheInterface::downloadFileFile";
    if (!starts_with_nocase(url, "file:")) {
        report_error(function, GenTL::GC_ERR_ERROR, "Locale of URL \"" + url + "\" is not \"file\".");
        return false;
    }
    UrlRecord record;
    std::string location = url;
    if (const size_t query = location.find("?SchemaVersion"); query != std::string::npos) {
        int major = -1;
        int minor = -1;
        int subminor = -1;
        if (std::sscanf(location.c_str() + query, "?SchemaVersion=%d.%d.%d", &major, &minor, &subminor) >= 1) {
            record.schema_major = major;
            record.schema_minor = minor;
            record.schema_subminor = subminor;
        }
        location.resize(query);
    }
    const std::string source = file_url_path(location);
    if (!exists(source)) {
        report_error(function, GenTL::GC_ERR_ERROR, "No such file in the local filesystem, \"" + source + "\".");
        return false;
    }
    if (!is_regular_file(source) || !is_xml_or_zip(source)) {
        report_error(function, GenTL::GC_ERR_ERROR,
                     "Only ZIP and XML files may be copied into the cache, and the specied path, \"" + url +
                         "\", is neither.");
        return false;
    }
    const std::string directory = directory_with_separator();
    if (directory.empty()) {
        return false;
    }
    const std::string target = directory + fs::path(source).filename().string();
    std::error_code error;
    if (fs::exists(target, error) && fs::equivalent(source, target, error)) {
        report_error(function, GenTL::GC_ERR_ERROR, "Cannot replace a cache file with itself (copying \"" + source +
                                                        "\" to \"" + target + "\").");
        return false;
    }
    if (exists(target)) {
        report_error(function, GenTL::GC_ERR_ERROR, "The file (" + target + ") has already been cached.");
        return false;
    }
    if (!fs::copy_file(source, target, fs::copy_options::none, error)) {
        report_error(function, GenTL::GC_ERR_ERROR,
                     "Unable to copy a file (" + source + ") to the local cache: " + error.message());
        return false;
    }
    record.url = target;
    record_out = record;
    return true;
}

bool VNCxpXmlCacheInterface::downloadHttpFile(const std::string& url, UrlRecord& record_out)
{
    return downloadHttpFile(url, record_out, HttpGetClient::Clock::now() + HttpGetClient::download_budget);
}

bool VNCxpXmlCacheInterface::downloadHttpFile(const std::string& url, UrlRecord& record_out,
                                              std::chrono::steady_clock::time_point deadline)
{
    static constexpr const char* function = "VNCxpXmlCacheInterface::downloadHttpFile";
    if (!starts_with_nocase(url, "http:")) {
        report_error(function, GenTL::GC_ERR_ERROR, "Locale of URL \"" + url + "\" is not \"http\".");
        return false;
    }
    const std::string rest = url.size() > 7 ? url.substr(7) : std::string();
    const size_t slash = rest.find('/');
    const std::string host = rest.substr(0, slash);
    std::string path = slash == std::string::npos ? std::string("/") : rest.substr(slash);
    if (const size_t query = path.find("?SchemaVersion"); query != std::string::npos) {
        path.resize(query);
    }
    const std::string name = path.substr(path.rfind('/') + 1);
    const std::string target = new_cache_target(function, name);
    if (target.empty()) {
        return false;
    }
    const auto client_failed = [&](const std::error_code& error) {
        report_error(function, GenTL::GC_ERR_ERROR, "Error downloading the URL \"" + url +
                                                        "\". Client message was \"" + error.message() + "\".");
        return false;
    };

    HttpGetClient client(deadline);
    if (const auto error = client.connect(host)) {
        return client_failed(error);
    }
    const std::string request = "GET " + path + " HTTP/1.0\r\n" + "Host: " + host + "\r\n" + "Accept: */*\r\n" +
                                "Connection: close\r\n\r\n";
    if (const auto error = client.send(request)) {
        return client_failed(error);
    }
    std::string status_line;
    if (const auto error = client.read_until("\r\n", status_line)) {
        return client_failed(error);
    }
    std::istringstream status(status_line);
    std::string version;
    unsigned int code = 0;
    status >> version >> code;
    if (!status || !version.starts_with("HTTP/")) {
        report_error(function, GenTL::GC_ERR_ERROR, "Invalid server response downloading the URL \"" + url + "\".");
        return false;
    }
    if (code != 200) {
        report_error(function, GenTL::GC_ERR_ERROR, "Response returned with status code " + std::to_string(code) +
                                                        " downloading the URL \"" + url + "\".");
        return false;
    }
    // The header lines, up to the empty one, go to standard output for whoever watches the download. A
    // Content-Length the server declares is held against the body, so that a cut connection is no file.
    std::optional<uint64_t> declared;
    for (;;) {
        std::string line;
        if (const auto error = client.read_until("\r\n", line)) {
            return client_failed(error);
        }
        if (line == "\r\n") {
            break;
        }
        line.resize(line.size() - 2);
        std::cout << line << '\n';
        if (const auto length = content_length(line)) {
            declared = length;
        }
    }
    std::cout << '\n' << std::flush;

    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) {
        report_error(function, GenTL::GC_ERR_ERROR, "Could not open the XML/ZIP file \"" + target +
                                                        "\" for writing. Check that the path is not read-only.");
        return false;
    }
    const auto body_failed = [&](const std::string& text) {
        out.close();
        report_error(function, GenTL::GC_ERR_ERROR,
                     "Error downloading the URL \"" + url + "\"; Message was \"" + text + "\".");
        remove_partial(target, function, "Failed to cleanup from the failed file write: ");
        return false;
    };
    const std::string pending = client.take_pending();
    out.write(pending.data(), static_cast<std::streamsize>(pending.size()));
    uint64_t received = pending.size();
    for (bool finished = false; !finished;) {
        std::string chunk;
        if (const auto error = client.read_some(chunk, finished)) {
            return body_failed(error.message());
        }
        out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        received += chunk.size();
        if (!out) {
            return body_failed("writing " + target + " failed");
        }
    }
    out.close();
    if (!out) {
        return body_failed("writing " + target + " failed");
    }
    if (declared && received != *declared) {
        return body_failed("the body has " + std::to_string(received) + " bytes, but the server announced " +
                           std::to_string(*declared));
    }
    record_out = UrlRecord{target};
    return true;
}

void VNCxpXmlCacheInterface::update_bootstrap(CxpCameraPort& port)
{
    std::lock_guard lock(mutex_);
    bootstrap_.updateValues(port);
}

std::string VNCxpXmlCacheInterface::generate_xml_file_name(int64_t seed) const
{
    std::lock_guard lock(mutex_);
    return bootstrap_.generateXmlFileName(seed);
}

}  // namespace vngtl
