#pragma once
// The registration records of the codec library's transforms, in table order.

#include "RegistrationInfo.h"

#include <vector>

namespace kiv::mfcodec {

std::vector<RegistrationInfo> CodecTable();

} // namespace kiv::mfcodec
