#include "engine/DspState.h"

namespace sn {

constinit DspState Dsp;

}  // namespace sn
