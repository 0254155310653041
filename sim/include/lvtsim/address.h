// The simulator only ever serves on loopback addresses.
#pragma once

#include <string>

namespace lvtsim {

// True for a dotted IPv4 address inside 127.0.0.0/8.
bool isLoopbackAddress(const std::string& address);

}  // namespace lvtsim
