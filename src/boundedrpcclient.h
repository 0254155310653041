// The XML-RPC client of every control call: the library's client with its
// reading bounded, so that a camera answering badly costs the host a failed
// call and never its memory, its stack or an unbounded wait.
#ifndef LVT_BOUNDEDRPCCLIENT_H
#define LVT_BOUNDEDRPCCLIENT_H

#include <XmlRpc.h>

#include <chrono>
#include <cstddef>
#include <string>

namespace lvt {

class BoundedRpcClient : public XmlRpc::XmlRpcClient {
 public:
  // The HTTP header of an answer (with whatever part of the body came with it).
  static constexpr size_t kMaxHeaderBytes = 8 * 1024;
  // The XML of an answer; the largest real one, the nine front-end integers,
  // is well under 2 KiB.
  static constexpr size_t kMaxBodyBytes = size_t{1} << 20;
  // Arrays and structs in one answer (real answers hold one).
  static constexpr size_t kMaxContainers = 64;

  // callSeconds bounds each call from sending the request to the last byte
  // of the answer, however the bytes arrive.
  BoundedRpcClient(const char* host, int port, double callSeconds);

 protected:
  bool generateRequest(const char* method, XmlRpc::XmlRpcValue const& params) override;
  bool readHeader() override;
  bool parseHeader() override;
  bool readResponse() override;
  bool parseResponse(XmlRpc::XmlRpcValue& result) override;

 private:
  enum class Received { WouldBlock, Closed, Failed };

  // Appends what the socket holds, up to `limit` bytes in total in `into`.
  Received receive(std::string& into, size_t limit) const;
  bool pastDeadline() const;
  // Ends the call as failed: the connection is closed, the answer dropped.
  bool refuse(const char* why);

  std::chrono::steady_clock::duration callLimit_;
  std::chrono::steady_clock::time_point deadline_;
};

// True when the XML holds at most `limit` array and struct openings. Closing
// tags are not subtracted: the library's parser skips text while it searches
// for some tags, so a closing tag in the text does not prove that the parse
// has left a level. A linear scan, run before the library's recursive parse.
bool containersWithin(const std::string& xml, size_t limit);

// The value of the last "Content-length:" field in `header` (the text before
// the blank line), or -1 when there is none, it is not a decimal number, or it
// exceeds `limit`.
long contentLength(const std::string& header, size_t limit);

}  // namespace lvt

#endif
