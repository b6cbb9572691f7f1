#pragma once

#include "platform/platform.h"

// A lost buffer answers Lock and Play with an error until it is restored, so
// a failed call gets one Restore (whose result does not matter: the retry
// tells) and exactly one more attempt.
template <typename Call>
bool SucceedsWithOneRestore(IDirectSoundBuffer& buffer, Call call) {
    if (call() == DS_OK) return true;
    buffer.Restore();
    return call() == DS_OK;
}
