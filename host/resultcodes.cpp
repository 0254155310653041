#include "vyxhost/vyxhost.h"

namespace vyxhost {

const char* resultName(int code) {
  switch (code) {
    case VYX_OK:
      return "VYX_OK";
    case VYX_RUNTIME_ERROR:
      return "VYX_RUNTIME_ERROR";
    case VYX_INVALID_VALUE:
      return "VYX_INVALID_VALUE";
    case VYX_INVALID_HANDLE:
      return "VYX_INVALID_HANDLE";
    case VYX_NOT_SUPPORTED:
      return "VYX_NOT_SUPPORTED";
    case VYX_BUFFER_TOO_SMALL:
      return "VYX_BUFFER_TOO_SMALL";
    case VYX_COULD_NOT_OPEN:
      return "VYX_COULD_NOT_OPEN";
    case VYX_NOT_AVAILABLE:
      return "VYX_NOT_AVAILABLE";
    default:
      return "unknown result code";
  }
}

CallError::CallError(const std::string& call, int code, std::string text,
                     const std::string& context)
    : std::runtime_error(call + " failed: " + resultName(code) + " (" + std::to_string(code) + ")" +
                         (text.empty() ? std::string() : ": " + text) +
                         (context.empty() ? std::string() : "; " + context)),
      code_(code),
      text_(std::move(text)) {}

}  // namespace vyxhost
