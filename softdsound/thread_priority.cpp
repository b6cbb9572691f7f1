#include "thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace mivo_dsound {

void RaiseAudioThreadPriority() {
    [[maybe_unused]] const int raised =
        setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), -20);
}

}  // namespace mivo_dsound
