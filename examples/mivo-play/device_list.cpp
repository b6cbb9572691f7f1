#include "device_list.h"

#include <dlfcn.h>

#include <cstdio>
#include <new>

#include "guid_text.h"

namespace {

constexpr const char* kPlatformLibrary = "libmivo-dsound.so";
// What Windows calls its default output.
constexpr const char* kDefaultDescription = "Primary Sound Driver";
// libmivo exports only CdsObject's members, and a member function's address
// cannot be taken as a plain pointer; its linker name can be looked up.
constexpr const char* kMivoSymbol = "_ZNK9CdsObject24InitializationSuccessfulEv";

// The folder libmivo.so was loaded from, with its trailing slash, or "":
// the library looks for the platform there first, and so does this list.
std::string MivoFolder() {
    void* symbol = dlsym(RTLD_DEFAULT, kMivoSymbol);
    Dl_info info{};
    if (symbol == nullptr || dladdr(symbol, &info) == 0 || info.dli_fname == nullptr) return {};
    const std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void* OpenPlatform() {
    const std::string folder = MivoFolder();
    void* handle = nullptr;
    if (!folder.empty())
        handle = dlopen((folder + kPlatformLibrary).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) handle = dlopen(kPlatformLibrary, RTLD_NOW | RTLD_LOCAL);
    return handle;
}

BOOL AddOutput(GUID* guid, LPCSTR description, LPCSTR module, LPVOID context) {
    auto& outputs = *static_cast<std::vector<OutputDevice>*>(context);
    // Nothing may be thrown through the platform's frames.
    try {
        outputs.push_back({guid != nullptr ? *guid : GUID{},
                           description != nullptr ? description : "",
                           module != nullptr ? module : ""});
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
    return TRUE;
}

std::string Hex(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(result));
    return text;
}

}  // namespace

DeviceList ListOutputDevices() {
    DeviceList list;
    void* platform = OpenPlatform();
    if (platform == nullptr) {
        const char* why = dlerror();
        list.limitation = std::string("cannot load ") + kPlatformLibrary + " (" +
                          (why != nullptr ? why : "unknown reason") + ")";
    } else {
        const auto enumerate =
            reinterpret_cast<LPDIRECTSOUNDENUMERATEA>(dlsym(platform, "DirectSoundEnumerateA"));
        if (enumerate == nullptr) {
            list.limitation =
                "output enumeration is not available: the sound platform has no "
                "DirectSoundEnumerateA";
        } else if (const HRESULT result = enumerate(&AddOutput, &list.outputs); result < 0) {
            list.outputs.clear();
            list.limitation =
                "the sound platform's output enumeration failed (" + Hex(result) + ")";
        }
        dlclose(platform);
    }
    // DirectSound names the default output first, with no GUID; a platform
    // that leaves it out still has one.
    if (list.outputs.empty() || !IsNullGuid(list.outputs.front().guid)) {
        list.outputs.insert(list.outputs.begin(), {GUID{}, kDefaultDescription, ""});
    }
    return list;
}
