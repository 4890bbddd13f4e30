// The GenTL functions of a producer library, loaded with dlopen and resolved by name as any consumer does.
#pragma once

#include <gentl/GenTL.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

using namespace GenTL;

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

// A text the producer answers through the two-call size protocol of `query` (ask the size with a null
// buffer, then fill); empty when either call fails.
inline std::string text_of(const std::function<GC_ERROR(char*, size_t*)>& query)
{
    size_t size = 0;
    if (query(nullptr, &size) != GC_ERR_SUCCESS || size == 0) {
        return {};
    }
    std::string text(size, '\0');
    if (query(text.data(), &size) != GC_ERR_SUCCESS) {
        return {};
    }
    text.resize(std::strlen(text.c_str()));
    return text;
}
