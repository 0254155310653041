// The least a client can do to fetch a frame over the data port: a plain
// blocking POSIX socket that sends the request byte and reads the header and
// the image with exact-length receives. The physical limit the plug-in's
// acquisition is compared with.
#ifndef VYX_BENCH_BARE_CLIENT_H
#define VYX_BENCH_BARE_CLIENT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace vyxbench {

class BareClient {
 public:
  // Connects to address:port (IPv4, dotted); throws std::runtime_error.
  BareClient(const std::string& address, uint16_t port);
  ~BareClient();
  BareClient(const BareClient&) = delete;
  BareClient& operator=(const BareClient&) = delete;

  // Sends `request`, then reads exactly headerBytes into header and exactly
  // dataBytes into data. False when the connection fails.
  bool exchange(char request, void* header, size_t headerBytes, void* data, size_t dataBytes);

 private:
  bool readExactly(void* into, size_t bytes);
  int fd_ = -1;
};

}  // namespace vyxbench

#endif
