// vngtl: a command-line GenTL consumer of VNGTL.cti. It loads the producer with dlopen exactly as any consumer
// would, resolves every GenTL function, and reports what the producer shows.
#include <gentl/GenTL.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace GenTL;

namespace {

struct Producer {
    void* library = nullptr;
#define VNGTL_MEMBER(name, params) P##name name = nullptr;
    VNGTL_GENTL_FUNCTIONS(VNGTL_MEMBER)
#undef VNGTL_MEMBER

    bool load(const std::string& path)
    {
        library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            std::fprintf(stderr, "vngtl: cannot load %s: %s\n", path.c_str(), dlerror());
            return false;
        }
        bool complete = true;
#define VNGTL_RESOLVE(name, params)                                                     \
    name = reinterpret_cast<P##name>(dlsym(library, #name));                            \
    if (name == nullptr) {                                                              \
        std::fprintf(stderr, "vngtl: %s does not export %s\n", path.c_str(), #name);  \
        complete = false;                                                               \
    }
        VNGTL_GENTL_FUNCTIONS(VNGTL_RESOLVE)
#undef VNGTL_RESOLVE
        return complete;
    }

    ~Producer()
    {
        if (library != nullptr) {
            dlclose(library);
        }
    }

    // The calling thread's last error as the producer records it.
    std::string last_error() const
    {
        GC_ERROR code = 0;
        size_t size = 0;
        if (GCGetLastError(&code, nullptr, &size) != GC_ERR_SUCCESS) {
            return "(no last error available)";
        }
        std::string text(size, '\0');
        if (GCGetLastError(&code, text.data(), &size) != GC_ERR_SUCCESS) {
            return "(no last error available)";
        }
        text.resize(size > 0 ? size - 1 : 0);
        while (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        return text;
    }
};

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
    return (self.parent_path().parent_path() / "lib" / "VNGTL.cti").string();
}

int usage()
{
    std::fputs("usage: vngtl [--cti PATH] [status]\n"
               "  status   load the producer, initialise it, show the boards found and the last error\n"
               "The producer is VNGTL_CTI, or ../lib/VNGTL.cti beside this program.\n",
               stderr);
    return 2;
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
    if (command != "status") {
        return usage();
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
    const int result = status(producer);
    const GC_ERROR close = producer.GCCloseLib();
    std::printf("GCCloseLib: %s\n", close == GC_ERR_SUCCESS ? "ok" : "failed");
    return result;
}
