// Opens the default sound device for a stand-in window and prints what it
// found: the smallest complete client of mivo.
#include <cstdio>

#include "mivo.h"

int main() {
    // On POSIX a window is any non-null value that names the client's window.
    static int window_tag = 0;
    CdsObject sound(reinterpret_cast<HWND>(&window_tag), nullptr);
    std::printf("construction status: %d\n", static_cast<int>(sound.InitStatus));
    if (sound.InitializationSuccessful() == 0) {
        std::printf("no sound device\n");
        return 1;
    }
    int32_t speakers = 0;
    if (sound.GetNumberOfSystemSpeakerConfig(&speakers) == 1) {
        std::printf("speakers: %d\n", static_cast<int>(speakers));
    }
    return 0;
}
