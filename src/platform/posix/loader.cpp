#include "loader.h"

#include <dlfcn.h>
#include <strings.h>

#include <string>

namespace {

constexpr const char* kSoundLibraryStandIn = "libmivo-dsound.so";

// The folder of the shared object that holds this code, with its trailing
// slash, or "" when it cannot be told.
std::string OwnFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LoadLibraryA), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void* Open(const std::string& file) { return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL); }

}  // namespace

HMODULE LoadLibraryA(const char* name) {
    if (name == nullptr) return nullptr;
    void* handle = nullptr;
    if (strcasecmp(name, "dsound.dll") == 0) {
        const std::string folder = OwnFolder();
        if (!folder.empty()) handle = Open(folder + kSoundLibraryStandIn);
        if (handle == nullptr) handle = Open(kSoundLibraryStandIn);
    } else {
        handle = Open(name);
    }
    return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<FARPROC>(dlsym(module, name));
}

int FreeLibrary(HMODULE module) {
    if (module == nullptr) return 0;
    return dlclose(module) == 0 ? 1 : 0;
}
