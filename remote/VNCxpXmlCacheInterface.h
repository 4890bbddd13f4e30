// The CoaXPress camera's GenApi XML files in the host's GenICam XML cache directory (GENICAM_CACHE_V2_4):
// fetching every file of the camera's manifest into it (from camera memory, from a host file or over
// HTTP/1.0), unpacking zipped ones, purging them again, and the URL store: the ordered list of cached files
// that belong to the connected camera, which the port publishes as its XML URLs.
//
// Ownership: owned by the CoaXPress port; it holds the camera's bootstrap values and the URL store by value.
// The camera port given to each operation is borrowed for the duration of the call.
//
// Thread safety: every public operation holds `mutex_` (it guards the bootstrap values and the store), so
// consumer threads asking for URLs at the same time see one consistent store. Camera reads made inside take
// the board's state lock through the port: this mutex comes before the board's locks, and nothing calls in
// here while holding them. The cache files themselves are not locked against other processes.
#pragma once

#include "remote/VNCxpBootstrap.h"

#include <gentl/GenTL.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vngtl {

class CxpCameraPort;

class VNCxpXmlCacheInterface {
public:
    struct UrlRecord {
        std::string url;  // full path of the cached file
        int32_t schema_major = -1;
        int32_t schema_minor = -1;
        int32_t schema_subminor = -1;
        int32_t file_major = -1;
        int32_t file_minor = -1;
        int32_t file_subminor = -1;
    };

    // The cache directory from GENICAM_CACHE_V2_4 when it names an existing directory, else empty.
    std::string xmlCacheDirectory() const;
    // The expanded GENICAM_CACHE_V2_4 whether or not the directory exists; empty when it is not set. Records
    // nothing.
    static std::string configured_directory();

    // Rebuilds the URL store from the cache directory and the camera's manifest.
    bool updateStore(CxpCameraPort& port);
    // Fetches every manifest file into the cache; a single failing entry is recorded and skipped.
    bool downloadFiles(CxpCameraPort& port);
    // Removes the cached files of every manifest entry.
    bool purgeManifestFiles(CxpCameraPort& port);
    // One URL record; `for_consumer` turns the stored path into the "file:///" URL shown to consumers.
    GenTL::GC_ERROR xml_properties(UrlRecord& record_out, uint32_t index, bool for_consumer);
    size_t store_size() const;

    // Extracts the first entry of a ZIP archive beside it with the extension ".xml".
    bool doUnzip(const std::string& zip_path) const;
    bool downloadLocalFile(const std::string& url, CxpCameraPort& port, UrlRecord& record_out);
    bool downloadFileFile(const std::string& url, UrlRecord& record_out);
    bool downloadHttpFile(const std::string& url, UrlRecord& record_out);
    // The same within the time left until `deadline` (the downloads of one manifest walk share 5 s).
    bool downloadHttpFile(const std::string& url, UrlRecord& record_out, std::chrono::steady_clock::time_point deadline);

    // Bootstrap work done under the store's lock: reloading the values and forming a cache file name.
    void update_bootstrap(CxpCameraPort& port);
    std::string generate_xml_file_name(int64_t seed) const;

    // The host path that a "file:" URL names: "file:///a/b" is "/a/b", "file:///C:/a" keeps its drive
    // letter ("C:/a"), "file:a" is "a".
    static std::string file_url_path(const std::string& url);

private:
    enum class Walk { store, download, purge };
    // The preconditions of a manifest walk after reloading the bootstrap; false (recorded) when unmet.
    bool walk_preconditions(CxpCameraPort& port, Walk walk, const char* function);
    // Selects manifest entry `index` and reloads its registers; false (recorded) when the selector write fails.
    bool select_entry(CxpCameraPort& port, uint32_t index, const char* function);
    // Visits the URL of each manifest entry whose scheme is "local", "file" or "http"; any other is recorded
    // and skipped. False (recorded) when an entry cannot be selected.
    bool walk_known_urls(CxpCameraPort& port, const char* function,
                         const std::function<void(const std::string&)>& visit);
    bool download_entry(const std::string& url, CxpCameraPort& port, UrlRecord& record_out,
                        std::chrono::steady_clock::time_point http_deadline);
    std::string directory_with_separator() const;
    // The cache path a download of `name` writes: empty (recorded under `function`) when the name's
    // extension is neither .xml nor .zip, there is no cache directory, or the file is cached already.
    std::string new_cache_target(const char* function, const std::string& name) const;

    mutable std::recursive_mutex mutex_;
    VNCxpBootstrap bootstrap_;
    std::vector<UrlRecord> store_;
};

}  // namespace vngtl
