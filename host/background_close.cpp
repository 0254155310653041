#include "background_close.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "vyxhost/plugin_gate.h"

namespace vyxhost {

namespace {

struct Closing {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
};

}  // namespace

bool closeInBackground(std::shared_ptr<const Plugin> plugin, unsigned int id,
                       const std::string& address, std::chrono::milliseconds wait,
                       std::function<void(unsigned int)> failed) {
  auto closing = std::make_shared<Closing>();
  std::thread([plugin = std::move(plugin), id, address, closing, failed = std::move(failed)] {
    const auto start = std::chrono::steady_clock::now();
    int code = VYX_OK;
    {
      const PluginGate::Shared gate;
      code = plugin->api().vyxpDeinitPlugin(id);
    }
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (took >= 1.0) {
      std::fprintf(stderr, "vyxhost: closing the camera at %s took %.1f s%s\n", address.c_str(),
                   took, code == VYX_OK ? "" : ": it did not answer, the plug-in gave up waiting");
    }
    if (code != VYX_OK && failed) failed(id);
    {
      const std::lock_guard<std::mutex> lock(closing->mutex);
      closing->finished = true;
    }
    closing->done.notify_all();
  }).detach();
  std::unique_lock<std::mutex> lock(closing->mutex);
  const bool finished = closing->done.wait_for(lock, wait, [&] { return closing->finished; });
  if (!finished && wait >= std::chrono::seconds(1)) {
    std::fprintf(stderr,
                 "vyxhost: the camera at %s does not answer its closing; it is closed in the "
                 "background within the plug-in's 10 s bound\n",
                 address.c_str());
  }
  return finished;
}

}  // namespace vyxhost
