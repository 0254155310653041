// Writes the seed inputs of the fuzz targets into DIR/<target>/: data-port
// streams and raw frames as the simulated camera sends them, taken through
// the plug-in, and a few command sequences. Run by hand when an input format
// changes: make_fuzz_seeds fuzz/corpus
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "control_answers.h"
#include "fuzz_support.h"
#include "lvtwire/frame_format.h"
#include "sim_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

void writeFile(const std::string& dir, const std::string& name, const Bytes& bytes) {
  ::mkdir(dir.c_str(), 0755);
  const std::string path = dir + "/" + name;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
  std::printf("%s: %zu bytes\n", path.c_str(), bytes.size());
}

// One frame as the camera answered it: the 'd' image block and the 'i' one.
struct CameraFrame {
  Bytes first, second;
  VYXDataDescription description{};
};

CameraFrame grab(const lvtsim::CameraConfig& cfg) {
  auto camera = vyxtest::startCamera(cfg);
  vyxhost::SourceInstance source(vyxfuzz::plugin(), 1, camera->config().address);
  source.update();
  CameraFrame frame;
  frame.first = camera->lastAnswer('d');
  frame.second = camera->lastAnswer('i');
  frame.description = source.description();
  return frame;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The block with its validity word (15) set to -1.0, big-endian.
Bytes rejected(Bytes block) {
  const uint8_t minusOne[4] = {0xBF, 0x80, 0x00, 0x00};
  std::memcpy(&block[60], minusOne, 4);
  return block;
}

void putU32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// fuzz_process input: one description per entry of types (0 = 50003 and
// 1 = 50004 raw, 6 = output type 10001), 64 x 50 images over the whole frame,
// output type index outType with exactly the capacity it needs.
Bytes processInput(const std::vector<uint8_t>& types, uint32_t subType, uint8_t outType,
                   const Bytes& frame) {
  Bytes in;
  in.push_back(static_cast<uint8_t>(types.size()));
  for (uint8_t type : types) {
    in.push_back(type);
    if (type == 6) in.push_back(0);
    putU32(in, subType);
    in.push_back(0);  // 64 x 50
    in.push_back(0);  // size: the whole frame
    putU32(in, 0);
  }
  in.push_back(0);  // output type from the table
  in.push_back(outType);
  in.push_back(0);  // one output block
  in.push_back(0);  // exactly the capacity needed
  putU32(in, 0);
  in.push_back(0);  // vyxpCanProcess asks for the same type
  in.push_back(outType);
  in.insert(in.end(), frame.begin(), frame.end());
  return in;
}

// fuzz_commands operation: op (0 command, 1 info, 2 configure), buffer
// length, then the text with its length first.
void textCall(Bytes& out, uint8_t op, uint8_t buffer, const std::string& text) {
  out.push_back(op);
  out.push_back(buffer);
  out.push_back(static_cast<uint8_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}

// The simulated camera's answer to one control call, byte for byte as it
// came over the wire (header and body), read through a socket of our own.
std::string askCamera(const std::string& address, const std::string& method,
                      const std::string& params) {
  const std::string body = "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>" + method +
                           "</methodName>\r\n<params>" + params + "</params></methodCall>\r\n";
  const std::string request =
      "POST /RPC2 HTTP/1.1\r\nHost: " + address +
      ":8080\r\nContent-Type: text/xml\r\nContent-length: " + std::to_string(body.size()) +
      "\r\n\r\n" + body;
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(8080);
  ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size())) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot ask the simulated camera " + method);
  }
  std::string answer;
  char buffer[4096];
  for (;;) {
    const size_t end = answer.find("\r\n\r\n");
    if (end != std::string::npos) {
      const size_t field = answer.find("Content-length: ");
      const size_t length = std::strtoul(answer.c_str() + field + 16, nullptr, 10);
      if (field != std::string::npos && answer.size() >= end + 4 + length) break;
    }
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    answer.append(buffer, size_t(n));
  }
  ::close(fd);
  return answer;
}

std::string intParam(int v) {
  return "<param><value><i4>" + std::to_string(v) + "</i4></value></param>";
}

// fuzz_control inputs: the entry points' arguments (integration time 1500 for
// time 0, text buffers of 40 bytes, 20 frames per second), then one answer per
// control call of an instance's life as the simulated camera gives it.
void controlSeeds(const std::string& dir) {
  auto camera = vyxtest::startCamera();
  const std::string address = camera->config().address;
  const std::string connect = "<param><value>192.168.0.1</value></param>" + intParam(1);
  std::string frontend;
  for (int v : {0, 0, 0, 0, 1000, 2000, 0, 20, 0}) frontend += intParam(v);
  auto lifeOf = [&](const std::string& name) {
    Bytes in = {0xDC, 0x05, 0, 39, 19, 39, 39, 39, 39, 39};
    vyxfuzz::appendRawAnswer(in, askCamera(address, "MDAXMLConnectCP", connect));
    vyxfuzz::appendRawAnswer(in, askCamera(address, "MDAXMLSetWorkingMode", intParam(1)));
    vyxfuzz::appendRawAnswer(in, askCamera(address, "MDAXMLSetTrigger", intParam(0) + intParam(3)));
    in.push_back(vyxfuzz::Normal);  // the port: the fake camera's own
    vyxfuzz::appendRawAnswer(in, askCamera(address, "MDAXMLGetFrontendData", ""));
    vyxfuzz::appendRawAnswer(in, askCamera(address, "MDAXMLSetFrontendData", frontend));
    vyxfuzz::appendRawAnswer(in, askCamera(address, "MDAXMLSetFrontendData", frontend));
    vyxfuzz::appendRawAnswer(in, askCamera(address, "MDAXMLGetFrontendData", ""));
    vyxfuzz::appendRawAnswer(
        in, askCamera(address, "MDAXMLDisconnectCP", "<param><value>192.168.0.2</value></param>"));
    writeFile(dir, name, in);
  };
  lifeOf("seed-real-answers");
  camera->setRpcFault("MDAXMLSetFrontendData", lvtsim::RpcFault::Fault);
  camera->setRpcFault("MDAXMLDisconnectCP", lvtsim::RpcFault::Fault);
  lifeOf("seed-real-faults");
  camera->setRpcFault("MDAXMLSetFrontendData", lvtsim::RpcFault::None);
  camera->setRpcFault("MDAXMLDisconnectCP", lvtsim::RpcFault::None);
  camera->setRpcFault("MDAXMLGetFrontendData", lvtsim::RpcFault::WrongShape);
  lifeOf("seed-real-wrong-shape");
  camera->setRpcFault("MDAXMLGetFrontendData", lvtsim::RpcFault::ShortArray);
  lifeOf("seed-real-short-array");

  // The answers that once took the host down, to the first call.
  const Bytes arguments(10, 0);
  auto firstAnswer = [&](const std::string& name, Bytes record) {
    Bytes in = arguments;
    in.insert(in.end(), record.begin(), record.end());
    writeFile(dir, name, in);
  };
  firstAnswer("regress-huge-length", {vyxfuzz::Stream, 1, 0});
  firstAnswer("seed-length-2147483647-and-2-mib", {vyxfuzz::Length, 4, 0, 0x21});
  firstAnswer("regress-endless-header", {vyxfuzz::Stream, 0, 40});
  // Depths read the same either way round: 11822 structs, 50115 arrays.
  firstAnswer("regress-deep-structs", {vyxfuzz::Nesting, 0x2E, 0x2E, 2});
  firstAnswer("regress-deep-arrays", {vyxfuzz::Nesting, 0xC3, 0xC3, 1});
}

int makeSeeds(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const std::string root = argv[1];

  lvtsim::CameraConfig small;  // tiny images: short streams for the acquisition fuzzer
  small.columns = 4;
  small.rows = 2;
  const CameraFrame tiny = grab(small);
  lvtsim::CameraConfig longHeaders = small;
  longHeaders.headerSize = lvtwire::kLongHeader.bytes;
  const CameraFrame tinyLong = grab(longHeaders);
  const CameraFrame full = grab({});
  lvtsim::CameraConfig fullLongConfig;
  fullLongConfig.headerSize = lvtwire::kLongHeader.bytes;
  const CameraFrame fullLong = grab(fullLongConfig);

  const std::string stream = root + "/fuzz_update_stream";
  writeFile(stream, "seed-empty", {});
  writeFile(stream, "seed-frame", concat({full.first, full.second}));
  writeFile(stream, "seed-tiny-two-frames",
            concat({tiny.first, tiny.second, tiny.first, tiny.second}));
  writeFile(stream, "seed-tiny-long-headers", concat({tinyLong.first, tinyLong.second}));
  writeFile(stream, "seed-tiny-rejected-first",
            concat({rejected(tiny.first), tiny.first, tiny.second}));

  const std::string process = root + "/fuzz_process";
  const uint32_t bits = full.description.std.subType;
  writeFile(process, "seed-second-image",
            processInput({0}, bits, 1, concat({full.first, full.second})));
  writeFile(process, "seed-one-image", processInput({0}, bits, 0, full.first));
  writeFile(process, "seed-long-headers", processInput({1}, bits, 0, fullLong.first));
  writeFile(process, "seed-float-then-raw", processInput({6, 0}, bits, 3, tiny.first));

  const std::string commands = root + "/fuzz_commands";
  Bytes setRate;
  textCall(setRate, 0, 64, "SetFPS 25");
  textCall(setRate, 1, 64, "FPS");
  writeFile(commands, "seed-set-rate", setRate);
  Bytes fixed;
  textCall(fixed, 0, 2, "  testcommand ");
  textCall(fixed, 1, 4, "AspectRatio");
  textCall(fixed, 1, 0xF0, "SerialNumber");
  writeFile(commands, "seed-fixed-answers", fixed);
  Bytes refused;
  refused.push_back(4);  // the next front-end write fails: an XML-RPC fault
  refused.push_back(1);
  textCall(refused, 0, 16, "SetFPS   30abc");
  refused.push_back(3);  // the instance's text
  refused.push_back(64);
  refused.push_back(1);
  textCall(refused, 0, 64, "SetFPS 0");
  textCall(refused, 2, 8, "anything");
  refused.push_back(3);  // the error slot, one byte of room
  refused.push_back(1);
  refused.push_back(0);
  writeFile(commands, "seed-refusals", refused);
  Bytes narrow;
  narrow.push_back(4);  // the camera takes only 10 to 12 frames per second
  narrow.push_back(0);
  narrow.push_back(10);
  narrow.push_back(2);
  textCall(narrow, 0, 64, "SetFPS 20");
  textCall(narrow, 1, 8, "FPS");
  textCall(narrow, 0, 64, "SetFPS 4294967296");
  writeFile(commands, "seed-narrow-rates", narrow);

  controlSeeds(root + "/fuzz_control");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A camera that cannot be started or a file that cannot be written throws:
  // say so and fail rather than leave the corpus half written without a word.
  try {
    return makeSeeds(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_fuzz_seeds: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "make_fuzz_seeds: unknown error\n");
  }
  return 1;
}
