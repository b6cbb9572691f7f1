// Which backend plays. SDL2 serves every sound server and the hardware.
#include "output_backend.h"
#include "sdl_output.h"

namespace mivo_dsound {

std::unique_ptr<OutputBackend> ChooseBackend() { return OpenSdlBackend(); }

}  // namespace mivo_dsound
