#include "boundedrpcclient.h"

#include <XmlRpcUtil.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

namespace lvt {

namespace {

// What one recv() may take at most.
constexpr size_t kChunkBytes = size_t{16} << 10;  // on the host's stack

bool startsWithNoCase(const std::string& text, size_t at, const char* prefix) {
  const size_t n = std::strlen(prefix);
  if (text.size() - at < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[at + i])) != prefix[i]) return false;
  }
  return true;
}

}  // namespace

const char* refusedXml(const std::string& xml) {
  std::vector<std::string> open;  // the names of the elements the scan is inside
  size_t containers = 0;
  for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
    const size_t end = xml.find('>', at);
    if (end == std::string::npos) return "a tag is not closed";
    if (xml[at + 1] == '?' || xml[at + 1] == '!') continue;  // declaration or comment
    if (startsWithNoCase(xml, at + 1, "array") || startsWithNoCase(xml, at + 1, "struct")) {
      if (++containers > BoundedRpcClient::kMaxContainers) return "too many arrays and structs";
    }
    const bool closing = xml[at + 1] == '/';
    const size_t nameStart = at + (closing ? 2 : 1);
    size_t nameEnd = nameStart;
    while (nameEnd < end && xml[nameEnd] != '/' &&
           std::isspace(static_cast<unsigned char>(xml[nameEnd])) == 0) {
      ++nameEnd;
    }
    const std::string name = xml.substr(nameStart, nameEnd - nameStart);
    if (closing) {
      if (open.empty() || open.back() != name) return "the tags are not properly nested";
      open.pop_back();
    } else if (xml[end - 1] != '/') {
      open.push_back(name);
      if (open.size() > BoundedRpcClient::kMaxDepth) return "the answer nests too deeply";
    }
    at = end;
  }
  return open.empty() ? nullptr : "an element is not closed";
}

long contentLength(const std::string& header, size_t limit) {
  static const char kField[] = "content-length:";
  size_t field = std::string::npos;
  for (size_t at = 0; at < header.size(); ++at) {
    if (startsWithNoCase(header, at, kField)) field = at;
  }
  if (field == std::string::npos) return -1;
  size_t at = field + sizeof kField - 1;
  while (at < header.size() && (header[at] == ' ' || header[at] == '\t')) ++at;
  if (at < header.size() && header[at] == '+') ++at;
  size_t value = 0;
  size_t digits = 0;
  for (; at < header.size() && std::isdigit(static_cast<unsigned char>(header[at])); ++at) {
    value = value * 10 + static_cast<size_t>(header[at] - '0');
    if (value > limit) return -1;  // refused before anything of the body is read
    ++digits;
  }
  return digits > 0 ? static_cast<long>(value) : -1;
}

BoundedRpcClient::BoundedRpcClient(const char* host, int port, double callSeconds)
    : XmlRpc::XmlRpcClient(host, port, nullptr),
      callLimit_(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(callSeconds))) {}

bool BoundedRpcClient::generateRequest(const char* method, XmlRpc::XmlRpcValue const& params) {
  // Called once per call, right before the request goes out.
  deadline_ = std::chrono::steady_clock::now() + callLimit_;
  return XmlRpc::XmlRpcClient::generateRequest(method, params);
}

bool BoundedRpcClient::pastDeadline() const { return std::chrono::steady_clock::now() > deadline_; }

bool BoundedRpcClient::refuse(const char* why) {
  XmlRpc::XmlRpcUtil::error("Error in BoundedRpcClient: %s; answer refused.", why);
  _header.clear();
  _response.clear();
  close();
  return false;
}

BoundedRpcClient::Received BoundedRpcClient::receive(std::string& into, size_t limit) const {
  char buffer[kChunkBytes];
  while (into.size() < limit) {
    const size_t want = std::min(sizeof buffer, limit - into.size());
    const ssize_t n = ::recv(getfd(), buffer, want, MSG_DONTWAIT);
    if (n > 0) {
      into.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      return Received::Closed;
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      return Received::WouldBlock;
    } else {
      return Received::Failed;
    }
  }
  return Received::WouldBlock;  // the limit is reached; the caller decides
}

bool BoundedRpcClient::readHeader() {
  if (pastDeadline()) return refuse("the call took too long");
  const Received got = receive(_header, kMaxHeaderBytes);
  if (got != Received::WouldBlock && _header.empty()) {
    // Closed before a byte of the answer: the library's own handling, which
    // opens the connection once more when it was kept open between calls.
    // The socket is at its end, so the library's read takes nothing more.
    return XmlRpc::XmlRpcClient::readHeader();
  }
  if (got == Received::Failed) return refuse("the connection failed during the header");
  _eof = got == Received::Closed;
  return parseHeader();
}

bool BoundedRpcClient::parseHeader() {
  const size_t crlf = _header.find("\r\n\r\n");
  const size_t lf = _header.find("\n\n");
  const size_t end = std::min(crlf, lf);
  if (end == std::string::npos) {
    if (_header.size() >= kMaxHeaderBytes) return refuse("the header is too long");
    if (_eof) return refuse("the connection closed during the header");
    return true;  // keep reading
  }
  const size_t bodyStart = end + (end == crlf ? 4 : 2);
  const long length = contentLength(_header.substr(0, end), kMaxBodyBytes);
  if (length <= 0) return refuse("no usable Content-length up to the limit");
  _contentLength = static_cast<int>(length);
  _response = _header.substr(bodyStart);
  _header.clear();
  _connectionState = READ_RESPONSE;
  return true;
}

bool BoundedRpcClient::readResponse() {
  if (pastDeadline()) return refuse("the call took too long");
  const size_t wanted = static_cast<size_t>(_contentLength);
  if (_response.size() < wanted) {
    const Received got = receive(_response, wanted);
    _eof = got == Received::Closed;
    if (_response.size() < wanted) {
      if (got == Received::Failed) return refuse("the connection failed during the answer");
      if (got == Received::Closed) return refuse("the connection closed during the answer");
      return true;  // keep reading
    }
  }
  _connectionState = IDLE;
  return false;  // the whole answer is here: the dispatcher stops waiting
}

bool BoundedRpcClient::parseResponse(XmlRpc::XmlRpcValue& result) {
  if (const char* why = refusedXml(_response)) return refuse(why);
  return XmlRpc::XmlRpcClient::parseResponse(result);
}

}  // namespace lvt
