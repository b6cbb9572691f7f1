// Suppressions built into the device tests, so that they hold however the
// tests are started (lsan.supp and tsan.supp carry the same entries for the
// scripts that run mivo-play). Only sanitizer runtimes call these.

// SDL keeps a small per-thread record for every thread that calls into it,
// its own audio threads included, and frees none of them when several
// outputs run at once; those stacks end inside SDL, so only the library's
// name can match them. libpulse keeps a few allocations of its connection
// for the life of the process.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libSDL2\n"
           "leak:libpulse.so\n"
           "leak:libpulsecommon\n";
}

// libpulse is not built with ThreadSanitizer: what it does inside itself
// (its own atomics, its memory pools) is left alone. Races are still looked
// for in the device's callbacks, which run on libpulse's thread: the device
// shows the detector what the loop's lock orders.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
    return "called_from_lib:libpulse.so\n"
           "called_from_lib:libpulsecommon\n";
}
