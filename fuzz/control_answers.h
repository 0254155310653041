// The input format of fuzz_control: one record per control call, in the
// order the calls arrive, each turned into what the fake camera sends. Past
// the end of the input every call gets the well-formed answer, so an instance
// can always be opened and closed again.
//
// A record is a kind byte and its fields:
//   Normal                       the well-formed answer
//   Raw     u16 length, bytes    sent as they are, then the connection closes
//   Body    text (2 KiB)         as the body of a correct HTTP answer
//   Value   text (1 KiB)         as the value of a correct methodResponse
//   Fault   u32 code, text       a fault response
//   Length  how, byte, filler    the well-formed body under a wrong, missing
//                                or huge Content-length, then up to 16 MiB more
//   Nesting u16 depth, style     arrays or structs nested depth deep
//   Big     how, byte            a long string or a huge number in an answer
//   Stream  how, byte            an endless header or body, a close before or
//                                during the answer, silence, single bytes
#ifndef VYX_FUZZ_CONTROL_ANSWERS_H
#define VYX_FUZZ_CONTROL_ANSWERS_H

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "control_peer.h"
#include "fuzz_support.h"

namespace vyxfuzz {

enum ControlAnswerKind : uint8_t { Normal, Raw, Body, Value, Fault, Length, Nesting, Big, Stream };
constexpr uint8_t kControlAnswerKinds = 9;

// The longest silence of the fake camera: far below the plug-in's 10 s per
// call, so that a call lasting much longer waited on something else.
constexpr std::chrono::milliseconds kMaxSilence{200};

inline std::string repeatedText(const std::string& text, size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

// The body of the well-formed answer to method.
inline std::string normalBody(const vyxtest::ControlPeer& peer, const std::string& method) {
  const std::string http = peer.normalReply(method).bytes;
  return http.substr(http.find("\r\n\r\n") + 4);
}

inline vyxtest::ControlReply lengthReply(ByteReader& in, const std::string& body) {
  const uint8_t how = in.byte();
  const uint8_t amount = in.byte();
  const uint8_t filler = in.byte();
  const std::string size = std::to_string(body.size());
  const std::string declared[] = {std::to_string(body.size() + amount),
                                  std::to_string(body.size() - amount % body.size()),
                                  "",
                                  "-" + size,
                                  "2147483647",
                                  "99999999999999999999",
                                  "1048577",
                                  "0",
                                  "abc",
                                  " +00000000000000000000" + size,
                                  "4294967296" + size};
  constexpr size_t kMissing = 2;
  const size_t choice = how % (sizeof declared / sizeof declared[0]);
  const std::string& value = declared[choice];
  vyxtest::ControlReply reply;
  reply.bytes = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n";
  if (choice != kMissing) reply.bytes += "Content-length: " + value + "\r\n";
  reply.bytes += "\r\n" + body;
  // Several MiB of more body, now and then.
  if ((filler & 1) != 0) reply.bytes += std::string(size_t(filler >> 1) << 17, 'x');
  reply.close = true;
  return reply;
}

inline vyxtest::ControlReply nestingReply(ByteReader& in) {
  const size_t depth = in.u16();
  const uint8_t style = in.byte();
  const bool arrays = (style & 1) != 0;
  const std::string open =
      arrays ? "<value><array><data>" : "<value><struct><member><name>m</name>";
  const std::string close = arrays ? "</data></array></value>" : "</member></struct></value>";
  std::string value = repeatedText(open, depth) + "<value><i4>1</i4></value>";
  if ((style & 2) != 0) value += repeatedText(close, depth);
  vyxtest::ControlReply reply;
  reply.bytes = vyxtest::httpAnswer(vyxtest::methodResponse(value));
  return reply;
}

// The usual shape of a port answer, [0, digits], with digits as they are.
inline std::string numberPair(const std::string& digits) {
  return "<value><array><data><value><i4>0</i4></value><value><i4>" + digits +
         "</i4></value></data></array></value>";
}

inline vyxtest::ControlReply bigReply(ByteReader& in) {
  const uint8_t how = in.byte();
  const size_t amount = in.byte();
  std::string value;
  switch (how % 4) {
    case 0:  // a string of up to 4 MiB in an answer of the usual shape
      value = "<value><array><data><value><i4>0</i4></value><value><string>" +
              std::string(amount << 14, 'A') + "</string></value></data></array></value>";
      break;
    case 1:  // an integer of many digits
      value = numberPair(std::string(amount * 8 + 10, '9'));
      break;
    case 2:  // a double of many digits
      value = "<value><double>" + std::string(amount * 64 + 1, '7') + ".5e" +
              std::to_string(amount * 40) + "</double></value>";
      break;
    default:  // an integer just outside 32 bits
      value = numberPair(amount % 2 != 0 ? "-2147483649" : "4294967296");
      break;
  }
  vyxtest::ControlReply reply;
  reply.bytes = vyxtest::httpAnswer(vyxtest::methodResponse(value));
  return reply;
}

inline vyxtest::ControlReply streamReply(ByteReader& in, const vyxtest::ControlReply& normal) {
  const uint8_t how = in.byte();
  const uint8_t amount = in.byte();
  vyxtest::ControlReply reply;
  switch (how % 6) {
    case 0:  // a header that never ends
      reply.bytes = "HTTP/1.1 200 OK\r\n";
      reply.repeat = repeatedText("X-Padding: " + std::string(amount, 'p') + "\r\n", 64);
      break;
    case 1:  // a body that never ends
      reply.bytes = "HTTP/1.1 200 OK\r\nContent-length: 2147483647\r\n\r\n";
      reply.repeat = repeatedText("<value><i4>1</i4></value>", 256);
      break;
    case 2:  // closed without an answer
      reply.close = true;
      break;
    case 3:  // closed in the middle of the answer
      reply.bytes = normal.bytes.substr(0, amount % normal.bytes.size());
      reply.close = true;
      break;
    case 4:  // silence, then closed
      reply.stall = std::chrono::milliseconds(amount % (kMaxSilence.count() + 1));
      reply.close = true;
      break;
    default:  // the well-formed answer a few bytes at a time
      reply = normal;
      reply.pieceBytes = 1 + amount % 16;
      break;
  }
  return reply;
}

// The fake camera's answer to method, read off the front of the input.
inline vyxtest::ControlReply decodeControlAnswer(ByteReader& in, const vyxtest::ControlPeer& peer,
                                                 const std::string& method) {
  vyxtest::ControlReply normal = peer.normalReply(method);  // not const: returned by move
  if (in.remaining() == 0) return normal;
  vyxtest::ControlReply reply;
  switch (in.byte() % kControlAnswerKinds) {
    case Raw: {
      const size_t length = in.u16() % 8193;
      const uint8_t* at = in.rest();
      const size_t taken = length < in.remaining() ? length : in.remaining();
      reply.bytes.assign(reinterpret_cast<const char*>(at), taken);
      for (size_t i = 0; i < taken; ++i) in.byte();
      reply.close = true;
      return reply;
    }
    case Body:
      reply.bytes = vyxtest::httpAnswer(in.text(2048));
      return reply;
    case Value:
      reply.bytes = vyxtest::httpAnswer(vyxtest::methodResponse(in.text(1024)));
      return reply;
    case Fault: {
      const int32_t code = static_cast<int32_t>(in.u32());
      reply.bytes = vyxtest::httpAnswer(
          "<?xml version=\"1.0\"?>\r\n<methodResponse><fault>\r\n\t<value><struct>"
          "<member><name>faultCode</name><value><i4>" +
          std::to_string(code) + "</i4></value></member><member><name>faultString</name>" +
          "<value>" + in.text(64) + "</value></member></struct></value>\r\n" +
          "</fault></methodResponse>\r\n");
      return reply;
    }
    case Length:
      return lengthReply(in, normalBody(peer, method));
    case Nesting:
      return nestingReply(in);
    case Big:
      return bigReply(in);
    case Stream:
      return streamReply(in, normal);
    default:
      return normal;
  }
}

// A record of kind Raw, as the seed writer stores a real camera's answer.
inline void appendRawAnswer(std::vector<uint8_t>& input, const std::string& answer) {
  input.push_back(Raw);
  input.push_back(static_cast<uint8_t>(answer.size() & 0xFF));
  input.push_back(static_cast<uint8_t>(answer.size() >> 8));
  input.insert(input.end(), answer.begin(), answer.end());
}

}  // namespace vyxfuzz

#endif
