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
  static constexpr size_t kMaxHeaderBytes = size_t{8} << 10;
  // The XML of an answer; the largest real one, the nine front-end integers,
  // is well under 2 KiB.
  static constexpr size_t kMaxBodyBytes = size_t{1} << 20;
  // Nested elements and arrays plus structs in one answer; real answers have
  // eight levels and one array or struct.
  static constexpr size_t kMaxDepth = 64;
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

// Why the XML of an answer is not handed to the library's parser, or null
// when it may be. A linear scan that refuses
//  - tags that are not properly nested and closed: the library's parser loses
//    the values it has built when a closing tag is missing;
//  - more than kMaxDepth levels of elements;
//  - more than kMaxContainers array and struct openings in all. Closings are
//    not subtracted here: the library's parser skips text while it searches
//    for some tags, so a closing tag in the text does not prove that its
//    recursion has left a level.
const char* refusedXml(const std::string& xml);

// The value of the last "Content-length:" field in `header` (the text before
// the blank line), or -1 when there is none, it is not a decimal number, or it
// exceeds `limit`.
long contentLength(const std::string& header, size_t limit);

}  // namespace lvt

#endif
