// vngtl: a command-line GenTL consumer of VNGTL.cti. It loads the producer with dlopen exactly as any consumer
// would, resolves every GenTL function, and reports what the producer shows.
#include "Camera.h"
#include "Grab.h"
#include "Producer.h"

#include <gentl/GenTL.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

using namespace GenTL;

namespace {

// The producer to load: VNGTL_CTI; else the one beside this program, in the build tree (../lib) or as
// installed (../lib/gentl); else the first VNGTL.cti in a directory of GENICAM_GENTL64_PATH.
std::string default_cti_path(const char* argv0)
{
    if (const char* env = std::getenv("VNGTL_CTI"); env != nullptr && *env != '\0') {
        return env;
    }
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        self = argv0;
    }
    const std::filesystem::path prefix = self.parent_path().parent_path();
    for (const auto& candidate : {prefix / "lib" / "gentl" / "VNGTL.cti", prefix / "lib" / "VNGTL.cti"}) {
        if (std::filesystem::exists(candidate, ec)) {
            return candidate.string();
        }
    }
    if (const char* path = std::getenv("GENICAM_GENTL64_PATH"); path != nullptr) {
        std::string directories = path;
        for (size_t start = 0; start <= directories.size();) {
            size_t end = directories.find(':', start);
            if (end == std::string::npos) {
                end = directories.size();
            }
            const std::filesystem::path candidate =
                std::filesystem::path(directories.substr(start, end - start)) / "VNGTL.cti";
            if (end > start && std::filesystem::exists(candidate, ec)) {
                return candidate.string();
            }
            start = end + 1;
        }
    }
    return (prefix / "lib" / "VNGTL.cti").string();
}

// Without GENICAM_CACHE_V2_4 the producer has nowhere to keep the camera's XML files; a directory in the
// build tree beside the producer's lib directory keeps a fresh machine working.
void use_default_xml_cache(const std::string& cti)
{
    if (std::getenv("GENICAM_CACHE_V2_4") != nullptr) {
        return;
    }
    std::error_code ec;
    const auto directory = std::filesystem::absolute(cti, ec).parent_path().parent_path() / "xml-cache";
    std::filesystem::create_directories(directory, ec);
    setenv("GENICAM_CACHE_V2_4", directory.c_str(), 1);
}

int usage()
{
    std::fputs("usage: vngtl [--cti PATH] [status | list | info MODULE | features MODULE | camera [N] | grab [OPTIONS]]\n"
               "  status        load the producer, initialise it, show the boards found and the last error\n"
               "  list          every interface and its devices with their info values\n"
               "  info MODULE   one module's info values and XML URL; MODULE is system, interface N or\n"
               "                device N (the device of interface N)\n"
               "  features MODULE  the module's features and their values, from its XML description as the\n"
               "                reference GenApi reads it (Python with the genicam package: VNGTL_PYTHON,\n"
               "                default python3); MODULE is system, or interface, device, stream or camera\n"
               "                with the interface's index N (0)\n"
               "  camera [N]    the camera of interface N (0): its remote port's info values, XML URLs and\n"
               "                bootstrap strings\n"
               "  grab          acquire frames and write the last one as a PNG file; options:\n"
               "                --device N|ID (interface index or ID, default 0), --count N (default 100),\n"
               "                --buffers N (default 8), --out FILE.png (default vngtl-grab.png),\n"
               "                --width N, --height N (set on the camera first), --images FOLDER (the\n"
               "                simulated cameras play the folder's images; see docs/guide.md)\n"
               "The producer is VNGTL_CTI, else VNGTL.cti in ../lib/gentl or ../lib beside this program, else\n"
               "the first VNGTL.cti in a directory of GENICAM_GENTL64_PATH. The camera's XML files\n"
               "are cached in GENICAM_CACHE_V2_4, or in xml-cache beside the producer's lib directory.\n",
               stderr);
    return 2;
}

// One info query of a module: (command, type, buffer, size) -> code.
using InfoQuery = std::function<GC_ERROR(int32_t, INFO_DATATYPE*, void*, size_t*)>;

struct InfoName {
    int32_t command;
    const char* name;
};

// An info value as text, whatever its type; a failed query shows its code.
std::string info_value(const InfoQuery& query, int32_t command)
{
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    size_t size = 0;
    GC_ERROR code = query(command, &type, nullptr, &size);
    std::vector<unsigned char> bytes(size + 1, 0);
    if (code == GC_ERR_SUCCESS) {
        code = query(command, &type, bytes.data(), &size);
    }
    if (code != GC_ERR_SUCCESS) {
        return "(error " + std::to_string(code) + ")";
    }
    const auto number = [&](auto zero) {
        decltype(zero) value = zero;
        std::memcpy(&value, bytes.data(), std::min(sizeof value, size));
        return std::to_string(value);
    };
    switch (type) {
    case INFO_DATATYPE_STRING:
        return reinterpret_cast<const char*>(bytes.data());
    case INFO_DATATYPE_INT32:
        return number(int32_t{0});
    case INFO_DATATYPE_UINT32:
        return number(uint32_t{0});
    case INFO_DATATYPE_UINT64:
    case INFO_DATATYPE_SIZET:
        return number(uint64_t{0});
    case INFO_DATATYPE_BOOL8:
        return bytes[0] != 0 ? "true" : "false";
    default: {
        std::string hex;
        char digits[4];
        for (size_t i = 0; i < size; ++i) {
            std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
            hex += digits;
        }
        return "0x" + hex;
    }
    }
}

void print_info(const InfoQuery& query, const std::vector<InfoName>& names, const char* indent)
{
    for (const InfoName& entry : names) {
        std::printf("%s%-24s %s\n", indent, entry.name, info_value(query, entry.command).c_str());
    }
}

const std::vector<InfoName> system_info = {
    {TL_INFO_ID, "ID"}, {TL_INFO_VENDOR, "vendor"}, {TL_INFO_MODEL, "model"}, {TL_INFO_VERSION, "version"},
    {TL_INFO_TLTYPE, "TL type"}, {TL_INFO_NAME, "name"}, {TL_INFO_PATHNAME, "path"},
    {TL_INFO_DISPLAYNAME, "display name"}, {TL_INFO_CHAR_ENCODING, "character encoding"},
    {TL_INFO_GENTL_VER_MAJOR, "GenTL version major"}, {TL_INFO_GENTL_VER_MINOR, "GenTL version minor"},
};
const std::vector<InfoName> interface_info = {
    {INTERFACE_INFO_ID, "ID"}, {INTERFACE_INFO_DISPLAYNAME, "display name"}, {INTERFACE_INFO_TLTYPE, "TL type"},
};
const std::vector<InfoName> device_info = {
    {DEVICE_INFO_ID, "ID"}, {DEVICE_INFO_DISPLAYNAME, "display name"}, {DEVICE_INFO_VENDOR, "vendor"},
    {DEVICE_INFO_MODEL, "model"}, {DEVICE_INFO_TLTYPE, "TL type"}, {DEVICE_INFO_ACCESS_STATUS, "access status"},
    {DEVICE_INFO_VERSION, "version"}, {DEVICE_INFO_USER_DEFINED_NAME, "user-defined name"},
    {DEVICE_INFO_SERIAL_NUMBER, "serial number"}, {DEVICE_INFO_TIMESTAMP_FREQUENCY, "timestamp frequency"},
};
const std::vector<InfoName> device_list_info = {
    {DEVICE_INFO_ID, "ID"}, {DEVICE_INFO_DISPLAYNAME, "display name"}, {DEVICE_INFO_VENDOR, "vendor"},
    {DEVICE_INFO_MODEL, "model"}, {DEVICE_INFO_TLTYPE, "TL type"}, {DEVICE_INFO_ACCESS_STATUS, "access status"},
};

// The IDs of the system's interfaces, after refreshing the list.
std::vector<std::string> interface_ids(Producer& producer, TL_HANDLE system)
{
    std::vector<std::string> ids;
    producer.TLUpdateInterfaceList(system, nullptr, 1000);
    uint32_t count = 0;
    if (producer.TLGetNumInterfaces(system, &count) != GC_ERR_SUCCESS) {
        return ids;
    }
    for (uint32_t index = 0; index < count; ++index) {
        ids.push_back(text_of([&](char* text, size_t* size) {
            return producer.TLGetInterfaceID(system, index, text, size);
        }));
    }
    return ids;
}

std::vector<std::string> device_ids(Producer& producer, IF_HANDLE iface)
{
    std::vector<std::string> ids;
    producer.IFUpdateDeviceList(iface, nullptr, 1000);
    uint32_t count = 0;
    if (producer.IFGetNumDevices(iface, &count) != GC_ERR_SUCCESS) {
        return ids;
    }
    for (uint32_t index = 0; index < count; ++index) {
        ids.push_back(text_of([&](char* text, size_t* size) {
            return producer.IFGetDeviceID(iface, index, text, size);
        }));
    }
    return ids;
}

void print_url(Producer& producer, void* port, const char* indent)
{
    const std::string url = text_of([&](char* text, size_t* size) { return producer.GCGetPortURL(port, text, size); });
    std::printf("%s%-24s %s\n", indent, "XML URL", url.empty() ? "(none)" : url.c_str());
}

int list(Producer& producer, TL_HANDLE system)
{
    const std::vector<std::string> interfaces = interface_ids(producer, system);
    std::printf("%zu interface%s\n", interfaces.size(), interfaces.size() == 1 ? "" : "s");
    for (size_t i = 0; i < interfaces.size(); ++i) {
        const std::string& id = interfaces[i];
        std::printf("interface %zu\n", i);
        print_info([&](int32_t command, INFO_DATATYPE* type, void* buffer, size_t* size) {
            return producer.TLGetInterfaceInfo(system, id.c_str(), command, type, buffer, size);
        }, interface_info, "  ");
        IF_HANDLE iface = nullptr;
        if (producer.TLOpenInterface(system, id.c_str(), &iface) != GC_ERR_SUCCESS) {
            std::printf("  cannot open: %s\n", producer.last_error().c_str());
            continue;
        }
        const std::vector<std::string> devices = device_ids(producer, iface);
        if (devices.empty()) {
            std::printf("  no device\n");
        }
        for (size_t d = 0; d < devices.size(); ++d) {
            std::printf("  device %zu\n", d);
            print_info([&](int32_t command, INFO_DATATYPE* type, void* buffer, size_t* size) {
                return producer.IFGetDeviceInfo(iface, devices[d].c_str(), command, type, buffer, size);
            }, device_list_info, "    ");
        }
        producer.IFClose(iface);
    }
    return 0;
}

int info(Producer& producer, TL_HANDLE system, const std::vector<std::string>& args)
{
    const std::string kind = args.size() > 1 ? args[1] : "";
    if (kind == "system") {
        print_info([&](int32_t command, INFO_DATATYPE* type, void* buffer, size_t* size) {
            return producer.TLGetInfo(system, command, type, buffer, size);
        }, system_info, "");
        print_url(producer, system, "");
        return 0;
    }
    if ((kind != "interface" && kind != "device") || args.size() < 3) {
        return usage();
    }
    const std::vector<std::string> interfaces = interface_ids(producer, system);
    char* end = nullptr;
    const unsigned long index = std::strtoul(args[2].c_str(), &end, 10);
    if (end == args[2].c_str() || *end != '\0' || index >= interfaces.size()) {
        std::fprintf(stderr, "vngtl: there is no interface %s (%zu found)\n", args[2].c_str(), interfaces.size());
        return 1;
    }
    IF_HANDLE iface = nullptr;
    if (producer.TLOpenInterface(system, interfaces[index].c_str(), &iface) != GC_ERR_SUCCESS) {
        std::fprintf(stderr, "vngtl: cannot open interface %lu: %s\n", index, producer.last_error().c_str());
        return 1;
    }
    int result = 0;
    if (kind == "interface") {
        print_info([&](int32_t command, INFO_DATATYPE* type, void* buffer, size_t* size) {
            return producer.IFGetInfo(iface, command, type, buffer, size);
        }, interface_info, "");
        print_url(producer, iface, "");
    } else {
        const std::vector<std::string> devices = device_ids(producer, iface);
        if (devices.empty()) {
            std::fprintf(stderr, "vngtl: interface %lu has no device\n", index);
            result = 1;
        } else {
            // The values as listed (the device stays closed), then its port's URL, which needs it open.
            print_info([&](int32_t command, INFO_DATATYPE* type, void* buffer, size_t* size) {
                return producer.IFGetDeviceInfo(iface, devices[0].c_str(), command, type, buffer, size);
            }, device_info, "");
            DEV_HANDLE device = nullptr;
            if (producer.IFOpenDevice(iface, devices[0].c_str(), DEVICE_ACCESS_READONLY, &device) == GC_ERR_SUCCESS) {
                print_url(producer, device, "");
                producer.DevClose(device);
            } else {
                std::printf("%-24s (cannot open the device: %s)\n", "XML URL", producer.last_error().c_str());
            }
        }
    }
    producer.IFClose(iface);
    return result;
}

// `features`: the reader is vngtl_features.py (share/vngtl beside an installed tool, or beside the build's
// bin directory), run by VNGTL_PYTHON or python3; it needs the genicam package. Only returns on failure.
int features(const char* argv0, const std::string& cti, const std::vector<std::string>& args)
{
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        self = argv0;
    }
    const std::filesystem::path script = self.parent_path().parent_path() / "share" / "vngtl" / "vngtl_features.py";
    if (!std::filesystem::exists(script, ec)) {
        std::fprintf(stderr, "vngtl: the feature reader %s is missing\n", script.c_str());
        return 1;
    }
    const char* python = std::getenv("VNGTL_PYTHON");
    if (python == nullptr || *python == '\0') {
        python = "python3";
    }
    std::vector<std::string> words = {python, script.string(), "--cti", cti};
    words.insert(words.end(), args.begin() + 1, args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    execvp(python, argv.data());
    std::fprintf(stderr, "vngtl: cannot run %s: %s\n", python, std::strerror(errno));
    return 1;
}

int status(Producer& producer)
{
    // The producer sees the boards that its board SDK enumerates; ask the SDK it was linked against.
    using Enumerate = int32_t (*)(uint32_t, uint32_t*);
    auto enumerate = reinterpret_cast<Enumerate>(dlsym(producer.library, "VcSysBrdEnum"));
    uint32_t boards = 0;
    if (enumerate != nullptr && enumerate(208, &boards) == 0) {
        std::printf("board SDK: %u board%s\n", boards, boards == 1 ? "" : "s");
    } else {
        std::printf("board SDK: board enumeration failed\n");
    }

    uint32_t interfaces = 0;
    TL_HANDLE system = nullptr;
    if (producer.TLOpen(&system) == GC_ERR_SUCCESS) {
        if (producer.TLGetNumInterfaces(system, &interfaces) == GC_ERR_SUCCESS) {
            std::printf("interfaces: %u\n", interfaces);
        }
        producer.TLClose(system);
    } else {
        std::printf("system module: not available yet\n");
    }
    std::printf("last error: %s\n", producer.last_error().c_str());
    return 0;
}

// Whether the simulated cameras play the folder that --images named: the simulated board SDK, loaded with the
// producer, says why it could not (a missing folder, a file it cannot read). Asked once the system is open.
bool images_in_use(const Producer& producer)
{
    using LastError = const char* (*)();
    const auto last_error = reinterpret_cast<LastError>(dlsym(producer.library, "vnsim_last_error"));
    if (last_error == nullptr) {
        std::fprintf(stderr, "vngtl: --images needs the simulated boards, and this producer does not use them\n");
        return false;
    }
    const std::string why = last_error();
    static constexpr std::string_view prefix = "VNSIM_IMAGES: ";
    if (why.starts_with(prefix)) {
        std::fprintf(stderr, "vngtl: --images: %s\n", why.c_str() + prefix.size());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string cti;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--cti" && i + 1 < argc) {
            cti = argv[++i];
        } else if (arg == "-h" || arg == "--help") {
            return usage();
        } else {
            args.push_back(arg);
        }
    }
    if (cti.empty()) {
        cti = default_cti_path(argv[0]);
    }
    const std::string command = args.empty() ? "status" : args[0];
    if (command != "status" && command != "list" && command != "info" && command != "grab" && command != "camera" &&
        command != "features") {
        return usage();
    }
    GrabOptions grab_options;
    if (command == "grab" && !parse_grab_options(static_cast<int>(args.size()) - 1, args.data() + 1, grab_options)) {
        return usage();
    }

    use_default_xml_cache(cti);
    if (!grab_options.images.empty()) {
        // Read by the simulated board SDK when the producer loads it.
        setenv("VNSIM_IMAGES", grab_options.images.c_str(), 1);
    }
    if (command == "features") {
        if (args.size() < 2) {
            return usage();
        }
        std::fflush(stdout);
        return features(argv[0], cti, args);
    }

    Producer producer;
    if (!producer.load(cti)) {
        return 1;
    }
    std::printf("producer: %s\n", cti.c_str());
    const GC_ERROR init = producer.GCInitLib();
    if (init != GC_ERR_SUCCESS) {
        std::printf("GCInitLib failed with %d\n", init);
        return 1;
    }
    int result = 0;
    if (command == "status") {
        result = status(producer);
    } else {
        TL_HANDLE system = nullptr;
        if (producer.TLOpen(&system) != GC_ERR_SUCCESS) {
            std::printf("TLOpen failed: %s\n", producer.last_error().c_str());
            result = 1;
        } else {
            if (command == "grab" && !grab_options.images.empty() && !images_in_use(producer)) {
                result = 1;
            } else if (command == "grab") {
                result = grab(producer, system, grab_options);
            } else {
                result = command == "list"     ? list(producer, system)
                         : command == "camera" ? camera(producer, system, args.size() > 1 ? args[1] : "0")
                                               : info(producer, system, args);
            }
            producer.TLClose(system);
        }
    }
    const GC_ERROR close = producer.GCCloseLib();
    std::printf("GCCloseLib: %s\n", close == GC_ERR_SUCCESS ? "ok" : "failed");
    return result;
}
