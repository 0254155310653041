#include "vyxnetwork.h"

namespace vyx {

NetworkInterface::~NetworkInterface() = default;

void NetworkInterface::receiveMessage(unsigned len, void* data) {
  auto* bytes = static_cast<char*>(data);
  unsigned received = 0;
  while (received < len) {
    unsigned want = len - received;
    receive(want, bytes + received);
    received += want;
  }
}

void NetworkInterface::receiveMessage(std::vector<char>& data) {
  receiveMessage(static_cast<unsigned>(data.size()), data.data());
}

}  // namespace vyx
