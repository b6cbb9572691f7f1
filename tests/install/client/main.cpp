// A client built against an installed mivo, once through find_package(mivo)
// and once through pkg-config. It proves that the installed header compiles
// on its own, that the program links and loads libmivo.so from the installed
// tree, and that the library finds (or, when none was installed, does not
// find) the sound device installed beside it.
//
//   mivo-install-client [--device]
#include <mivo.h>

#include <cstdio>
#include <cstring>

namespace {

int unexpected = 0;

void Expect(const char* what, long got, long expected) {
    std::printf("%-36s %ld\n", what, got);
    if (got != expected) {
        std::printf("   UNEXPECTED, wanted %ld\n", expected);
        ++unexpected;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool deviceInstalled = argc > 1 && std::strcmp(argv[1], "--device") == 0;

    {
        CdsObject windowless(nullptr, nullptr);
        Expect("null window: InitStatus", windowless.InitStatus, CdsStatusNoWindow);
        Expect("null window: InitializationSuccessful", windowless.InitializationSuccessful(), 0);
    }

    static int windowTag = 0;
    CdsObject sound(reinterpret_cast<HWND>(&windowTag), nullptr);
    if (deviceInstalled) {
        // The device library was found and bound; whether a sound output
        // opened depends on the machine.
        const bool bound =
            sound.InitStatus == CdsStatusReady || sound.InitStatus == CdsStatusNoDevice;
        Expect("window: sound device bound", bound ? 1 : 0, 1);
        std::printf("window: InitStatus %ld\n", static_cast<long>(sound.InitStatus));
        if (sound.InitializationSuccessful() == 1) {
            Expect("SetApplicationMode(priority)", sound.SetApplicationMode(CdsModePriority), 1);
            Expect("CreatePrimaryBuffer(2 ch, 16 bit)",
                   sound.CreatePrimaryBuffer(2, 16, 16, 48000, 0), 1);
        }
    } else {
        Expect("window, no sound device: InitStatus", sound.InitStatus, CdsStatusNoLibrary);
    }
    return unexpected == 0 ? 0 : 1;
}
