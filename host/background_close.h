// Closing camera instances without making the caller wait for a camera that no longer answers.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "vyxhost/vyxhost.h"

namespace vyxhost {

// Closes instance id on a thread of its own and waits up to `wait` for it. A closing still
// under way after a second says so on stderr, naming the camera; it finishes within the
// plug-in's own bound, and the process may end meanwhile (plugin_gate.h). A closing the plug-in
// refuses leaves the instance open (its camera could not be told); failed, when given, then
// gets the id on the closing thread, so that the caller may try again later. Returns whether the
// closing finished within `wait`.
bool closeInBackground(std::shared_ptr<const Plugin> plugin, unsigned int id,
                       const std::string& address, std::chrono::milliseconds wait,
                       std::function<void(unsigned int)> failed = nullptr);

}  // namespace vyxhost
