// How decoded messages are shown: one tab-separated or JSON line each.
#pragma once

#include <string>

#include "decode_stream.h"

namespace cli {

std::string FormatMessage(const Message& m, bool json);

}  // namespace cli
