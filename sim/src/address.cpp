#include "lvtsim/address.h"

#include <arpa/inet.h>

namespace lvtsim {

bool isLoopbackAddress(const std::string& address) {
  in_addr a{};
  if (inet_pton(AF_INET, address.c_str(), &a) != 1) return false;
  return (ntohl(a.s_addr) >> 24) == 127;
}

}  // namespace lvtsim
