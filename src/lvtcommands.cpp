// The free-text command and information channels.
#include <cctype>
#include <cstdio>
#include <sstream>

#include "lvtinternal.h"
#include "textresult.h"
#include "vyxplugin.h"

// Removes leading white space of any kind and trailing blanks (only 0x20).
std::string stripString(std::string s) {
  size_t start = 0;
  while (start < s.size() && std::isspace(static_cast<unsigned char>(s[start]))) ++start;
  s.erase(0, start);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

namespace {

constexpr const char* kSetFps = "SetFPS ";
constexpr size_t kSetFpsLength = 7;

// The frame rate after "SetFPS ", or 0 when there is none usable: no number,
// 0, a negative number, or one the camera's signed 32-bit setting cannot hold.
uint32_t parseFrameRate(const std::string& rest) {
  std::istringstream conv(rest);
  conv >> std::ws;
  if (conv.peek() == '-') return 0;  // would otherwise wrap to a huge rate
  unsigned long long fps = 0;
  conv >> fps;
  if (conv.fail() || fps > static_cast<unsigned long long>(INT32_MAX)) return 0;
  return static_cast<uint32_t>(fps);
}

int setFrameRate(unsigned int id, vyxlvt::PluginData& dat, char* result, size_t maxLen,
                 const std::string& rest) {
  const uint32_t fps = parseFrameRate(rest);
  if (fps == 0) {
    lvt::copyText(result, maxLen, "invalid framerate");
    dat.errorMessage.clear();
    return VYX_INVALID_VALUE;
  }
  dat.frontendData[lvtwire::frontend::kFps] = static_cast<int32_t>(fps);
  try {
    vyxlvt::setFrontendData(id);
    vyxlvt::getFrontendData(id);
  } catch (...) {
    dat.errorMessage = "setting failed";
    return VYX_RUNTIME_ERROR;
  }
  if (dat.frontendData[lvtwire::frontend::kFps] != static_cast<int32_t>(fps)) {
    lvt::copyText(result, maxLen, "setting failed");
    dat.errorMessage.clear();
    return VYX_INVALID_VALUE;
  }
  lvt::copyText(result, maxLen, "OK");
  return VYX_OK;
}

}  // namespace

extern "C" int vyxpPlatformCommand(unsigned int id, char* result, size_t maxLen, const char* cmd) {
  return vyxlvt::sourceGuarded(id, [&]() -> int {
    vyxlvt::PluginData& dat = vyxlvt::cameraOf(id);
    lvt::requireArgument(cmd);
    const std::string command = stripString(cmd);
    if (command.compare(0, kSetFpsLength, kSetFps) == 0) {
      return setFrameRate(id, dat, result, maxLen, command.substr(kSetFpsLength));
    }
    if (command == "testcommand") {
      lvt::copyText(result, maxLen, "OK");
      return VYX_OK;
    }
    lvt::refuse(VYX_NOT_SUPPORTED, "command not available");
  });
}

extern "C" int vyxpGetInfo(unsigned int id, char* result, size_t maxLen, const char* key) {
  return vyxlvt::withSourceRecord(id, key, [&](vyxlvt::PluginData& dat) {
    const std::string skey = stripString(key);
    if (skey == "AspectRatio") {
      const float ar = 0.75f;
      char infoBuf[32];
      std::snprintf(infoBuf, sizeof infoBuf, "%f", static_cast<double>(ar));
      lvt::copyText(result, maxLen, infoBuf);
      return VYX_OK;
    }
    if (skey == "SerialNumber") {
      const char* sn = "unknown";
      lvt::copyText(result, maxLen, sn);
      return VYX_OK;
    }
    if (skey == "FPS") {
      char fpsBuf[32];
      std::snprintf(fpsBuf, sizeof fpsBuf, "%d",
                    static_cast<int>(dat.frontendData[lvtwire::frontend::kFps]));
      lvt::copyText(result, maxLen, fpsBuf);
      return VYX_OK;
    }
    lvt::refuse(VYX_NOT_AVAILABLE, "unknown identifier");
  });
}
