// A small host for plug-in objects: loads one by path, resolves every entry
// point with its exact type, and offers handle-based instances that close
// themselves. Errors carry the result code, its name and the plug-in's text.
#ifndef VYXHOST_VYXHOST_H
#define VYXHOST_VYXHOST_H

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "vyxplugin.h"

namespace vyxhost {

#define VYXHOST_ENTRY_POINTS(X)      \
  X(vyxpInterfaceVersion)            \
  X(vyxpGetLastError)                \
  X(vyxpDeinitPlugin)                \
  X(vyxpInitRawDataPlugin)           \
  X(vyxpUpdate)                      \
  X(vyxpGetRawDataSize)              \
  X(vyxpGetRawData)                  \
  X(vyxpGetRawDataDescription)       \
  X(vyxpGetIntegrationTime)          \
  X(vyxpSetIntegrationTime)          \
  X(vyxpGetValidIntegrationTime)     \
  X(vyxpGetModulationFrequency)      \
  X(vyxpSetModulationFrequency)      \
  X(vyxpGetValidModulationFrequency) \
  X(vyxpPlatformCommand)             \
  X(vyxpGetInfo)                     \
  X(vyxpInitProcessingPlugin)        \
  X(vyxpConfigureProcess)            \
  X(vyxpCanProcess)                  \
  X(vyxpProcess)

// The entry points, under their own names and with their own types.
struct EntryPoints {
// The argument names the declared member, where parentheses are not allowed.
// NOLINTNEXTLINE(bugprone-macro-parentheses)
#define VYXHOST_DECLARE(name) decltype(&::name) name = nullptr;
  VYXHOST_ENTRY_POINTS(VYXHOST_DECLARE)
#undef VYXHOST_DECLARE
  // Exported beside the entry points: is a processing handle open?
  bool (*pidOk)(unsigned int) = nullptr;
};

// The names of all entry points, in the order above.
const std::vector<std::string>& entryPointNames();

// "VYX_NOT_SUPPORTED" for 2050 and so on; "unknown result code" otherwise.
const char* resultName(int code);

// The object could not be loaded or is not a plug-in of this interface.
class LoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An entry point answered a result code other than VYX_OK.
class CallError : public std::runtime_error {
 public:
  // context, when given, follows the plug-in's text after "; ".
  CallError(const std::string& call, int code, std::string text, const std::string& context = "");
  int code() const { return code_; }
  const std::string& text() const { return text_; }

 private:
  int code_;
  std::string text_;
};

class Plugin {
 public:
  enum class Mode {
    Shared,   // dlopen the file itself; loading it twice shares one object
    Private,  // load a private copy: its own registries, as if freshly loaded
  };

  explicit Plugin(const std::string& path, Mode mode = Mode::Shared);
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  const EntryPoints& api() const { return api_; }
  const EntryPoints* operator->() const { return &api_; }
  const std::string& path() const { return path_; }

  // The stored text for a handle, or "" when the plug-in has none for it.
  std::string lastError(unsigned int id) const;
  // Throws CallError unless code is VYX_OK; the text is read under textId.
  void check(int code, const char* call, unsigned int textId) const;

 private:
  std::string path_;
  void* handle_ = nullptr;
  EntryPoints api_;
};

// An open camera; closed when it goes out of scope.
class SourceInstance {
 public:
  SourceInstance(const Plugin& plugin, unsigned int id, const std::string& address);
  ~SourceInstance();
  SourceInstance(const SourceInstance&) = delete;
  SourceInstance& operator=(const SourceInstance&) = delete;

  unsigned int id() const { return id_; }
  void update();
  size_t rawSize() const;
  // Resizes out to the frame's length and copies the frame into it.
  void rawData(std::vector<uint8_t>& out) const;
  VYXDataDescription description() const;
  unsigned int integrationTime(unsigned int idx) const;
  void setIntegrationTime(unsigned int idx, unsigned int microseconds);
  std::string command(const std::string& cmd);
  std::string info(const std::string& key) const;
  // Closes now; returns the result code. The destructor then does nothing.
  int close();

 private:
  const Plugin& plugin_;
  unsigned int id_;
  bool open_ = false;
};

// A processing instance. Going out of scope calls vyxpDeinitPlugin, which the
// plug-in accepts for a processing handle without closing it: the handle stays
// registered, and opening it again is refused.
class ProcessingInstance {
 public:
  ProcessingInstance(const Plugin& plugin, unsigned int id);
  ~ProcessingInstance();
  ProcessingInstance(const ProcessingInstance&) = delete;
  ProcessingInstance& operator=(const ProcessingInstance&) = delete;

  unsigned int id() const { return id_; }
  // Bytes an output of this type needs from the frame, or -1.
  int canProcess(uint32_t outputType, const VYXDataDescription& raw) const;
  // Converts the frame into out (outBytes of room); returns the output's description.
  VYXDataDescription process(uint32_t outputType, const VYXDataDescription& raw,
                             const void* rawBytes, void* out, size_t outBytes) const;

 private:
  const Plugin& plugin_;
  unsigned int id_;
};

}  // namespace vyxhost

#endif
