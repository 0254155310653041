// A small blocking TCP client library: an abstract byte stream, the one
// socket class that implements it, and the byte-order helpers for the
// camera's big-endian data. It moves raw bytes and adds no framing.
#ifndef VYXNETWORK_H
#define VYXNETWORK_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// The C library may define these as macros; ours are functions in vyx.
#ifdef htonl
#undef htonl
#endif
#ifdef htons
#undef htons
#endif

namespace vyx {

class NetworkInterface {
 public:
  virtual ~NetworkInterface();
  virtual void connect(std::string host, unsigned short port) = 0;
  virtual void disconnect() = 0;
  virtual bool hasData() = 0;
  virtual bool isConnected() = 0;
  // On entry len is the room in data; on return the count that arrived (>= 1).
  virtual void receive(unsigned& len, void* data) = 0;
  virtual void receive(std::vector<char>& data) = 0;
  virtual void send(unsigned len, const void* data) = 0;
  virtual void send(const std::vector<char>& data) = 0;

  // Reads exactly len bytes (or data.size() bytes) into the caller's buffer.
  void receiveMessage(unsigned len, void* data);
  void receiveMessage(std::vector<char>& data);
};

// Unconditional byte reversal: converts between host order on little-endian
// machines and the camera's big-endian order, in both directions.
inline float htonf(const float& value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bits = __builtin_bswap32(bits);
  float out;
  std::memcpy(&out, &bits, sizeof out);
  return out;
}

inline uint32_t htonl(const uint32_t& value) { return __builtin_bswap32(value); }

inline uint16_t htons(const uint16_t& value) { return __builtin_bswap16(value); }

}  // namespace vyx

#endif
