#include "kernels/SNFn.h"

namespace sn {

CSNFn::~CSNFn() = default;

}  // namespace sn
