#include "vyxhost/vyxhost.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

#include "plugin_file_check.h"

namespace vyxhost {

namespace {

// Copies the object to a private temporary file so that dlopen maps a new
// object with fresh static state; the file is removed once it is mapped.
class PrivateCopy {
 public:
  explicit PrivateCopy(const std::string& path) {
    char dirTemplate[] = "/tmp/vyxhost-XXXXXX";
    if (::mkdtemp(dirTemplate) == nullptr)
      throw LoadError("cannot create a private copy of " + path);
    dir_ = dirTemplate;
    copy_ = dir_ + "/" + path.substr(path.find_last_of('/') + 1);
    std::ifstream in(path, std::ios::binary);
    std::ofstream out(copy_, std::ios::binary);
    out << in.rdbuf();
    if (!in || !out) {
      cleanUp();
      throw LoadError("cannot copy " + path);
    }
  }
  ~PrivateCopy() { cleanUp(); }
  const std::string& path() const { return copy_; }

 private:
  void cleanUp() {
    ::unlink(copy_.c_str());
    ::rmdir(dir_.c_str());
  }
  std::string dir_;
  std::string copy_;
};

}  // namespace

const std::vector<std::string>& entryPointNames() {
  static const std::vector<std::string> names = {
#define VYXHOST_NAME(name) #name,
      VYXHOST_ENTRY_POINTS(VYXHOST_NAME)
#undef VYXHOST_NAME
  };
  return names;
}

Plugin::Plugin(const std::string& path, Mode mode) : path_(path) {
  checkPluginFile(path);
  if (mode == Mode::Private) {
    PrivateCopy copy(path);
    handle_ = ::dlopen(copy.path().c_str(), RTLD_NOW | RTLD_LOCAL);
  } else {
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (handle_ == nullptr) {
    const char* why = ::dlerror();
    throw LoadError("cannot load " + path + ": " + (why ? why : "unknown reason"));
  }
  try {
    auto resolve = [this](const char* name) {
      ::dlerror();
      void* symbol = ::dlsym(handle_, name);
      if (symbol == nullptr) {
        const char* why = ::dlerror();
        throw LoadError(path_ + " does not export " + name + (why ? std::string(": ") + why : ""));
      }
      return symbol;
    };
#define VYXHOST_RESOLVE(name) api_.name = reinterpret_cast<decltype(api_.name)>(resolve(#name));
    VYXHOST_ENTRY_POINTS(VYXHOST_RESOLVE)
#undef VYXHOST_RESOLVE
    api_.pidOk = reinterpret_cast<decltype(api_.pidOk)>(resolve("pidOk"));
    const unsigned int version = api_.vyxpInterfaceVersion();
    if (version != VYX_INTERFACE_VERSION) {
      throw LoadError(path_ + " implements interface version " + std::to_string(version) +
                      ", this host needs " + std::to_string(VYX_INTERFACE_VERSION));
    }
  } catch (...) {
    ::dlclose(handle_);
    throw;
  }
}

Plugin::~Plugin() { ::dlclose(handle_); }

std::string Plugin::lastError(unsigned int id) const {
  char text[256] = {};
  if (api_.vyxpGetLastError(id, text, sizeof text) != VYX_OK) return std::string();
  return text;
}

void Plugin::check(int code, const char* call, unsigned int textId) const {
  if (code != VYX_OK) throw CallError(call, code, lastError(textId));
}

SourceInstance::SourceInstance(const Plugin& plugin, unsigned int id, const std::string& address)
    : plugin_(plugin), id_(id) {
  // A failed opening leaves its text under handle 0.
  plugin_.check(plugin_->vyxpInitRawDataPlugin(id, address.c_str()), "vyxpInitRawDataPlugin", 0);
  open_ = true;
}

SourceInstance::~SourceInstance() { close(); }

int SourceInstance::close() {
  if (!open_) return VYX_OK;
  const int code = plugin_->vyxpDeinitPlugin(id_);
  if (code == VYX_OK) open_ = false;
  return code;
}

void SourceInstance::update() { plugin_.check(plugin_->vyxpUpdate(id_), "vyxpUpdate", id_); }

size_t SourceInstance::rawSize() const {
  size_t size = 0;
  plugin_.check(plugin_->vyxpGetRawDataSize(id_, &size), "vyxpGetRawDataSize", id_);
  return size;
}

void SourceInstance::rawData(std::vector<uint8_t>& out) const {
  out.resize(rawSize());
  if (out.empty()) return;
  plugin_.check(plugin_->vyxpGetRawData(id_, out.data()), "vyxpGetRawData", id_);
}

VYXDataDescription SourceInstance::description() const {
  VYXDataDescription d{};
  plugin_.check(plugin_->vyxpGetRawDataDescription(id_, &d), "vyxpGetRawDataDescription", id_);
  return d;
}

unsigned int SourceInstance::integrationTime(unsigned int idx) const {
  unsigned int us = 0;
  plugin_.check(plugin_->vyxpGetIntegrationTime(id_, &us, idx), "vyxpGetIntegrationTime", id_);
  return us;
}

void SourceInstance::setIntegrationTime(unsigned int idx, unsigned int microseconds) {
  plugin_.check(plugin_->vyxpSetIntegrationTime(id_, idx, microseconds), "vyxpSetIntegrationTime",
                id_);
}

std::string SourceInstance::command(const std::string& cmd) {
  char answer[256] = {};
  const int code = plugin_->vyxpPlatformCommand(id_, answer, sizeof answer, cmd.c_str());
  if (code != VYX_OK) {
    // Some refusals answer in the buffer rather than in the stored text.
    std::string text = plugin_.lastError(id_);
    throw CallError("vyxpPlatformCommand", code, text.empty() ? answer : text);
  }
  return answer;
}

std::string SourceInstance::info(const std::string& key) const {
  char answer[256] = {};
  plugin_.check(plugin_->vyxpGetInfo(id_, answer, sizeof answer, key.c_str()), "vyxpGetInfo", id_);
  return answer;
}

ProcessingInstance::ProcessingInstance(const Plugin& plugin, unsigned int id)
    : plugin_(plugin), id_(id) {
  plugin_.check(plugin_->vyxpInitProcessingPlugin(id, ""), "vyxpInitProcessingPlugin", 0);
}

ProcessingInstance::~ProcessingInstance() { plugin_->vyxpDeinitPlugin(id_); }

int ProcessingInstance::canProcess(uint32_t outputType, const VYXDataDescription& raw) const {
  int bytes = -1;
  VYXDataDescription in = raw;
  plugin_.check(plugin_->vyxpCanProcess(id_, &bytes, outputType, 1, &in), "vyxpCanProcess", id_);
  return bytes;
}

VYXDataDescription ProcessingInstance::process(uint32_t outputType, const VYXDataDescription& raw,
                                               const void* rawBytes, void* out,
                                               size_t outBytes) const {
  VYXDataDescription in = raw;
  VYXDataDescription result{};
  result.type = outputType;
  result.size = static_cast<uint32_t>(outBytes);
  void* input = const_cast<void*>(rawBytes);
  plugin_.check(plugin_->vyxpProcess(id_, 1, &result, &out, 1, &in, &input), "vyxpProcess", id_);
  return result;
}

}  // namespace vyxhost
