// Shared helpers for tests that drive the plug-in through the host loader.
#ifndef VYX_TESTS_PLUGIN_FIXTURE_H
#define VYX_TESTS_PLUGIN_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "descriptors.h"
#include "vyxhost/vyxhost.h"

namespace vyxtest {

// A freshly loaded private copy of the plug-in: empty registries, no error
// slots, data identifiers at 1.
inline std::unique_ptr<vyxhost::Plugin> freshPlugin() {
  return std::make_unique<vyxhost::Plugin>(VYX_PLUGIN_PATH, vyxhost::Plugin::Mode::Private);
}

// The text the plug-in stores for a handle, read with a roomy buffer;
// "<no text: CODE>" when vyxpGetLastError refuses the handle.
inline std::string lastError(const vyxhost::Plugin& p, unsigned int id) {
  char text[256];
  std::memset(text, 'X', sizeof text);
  const int code = p->vyxpGetLastError(id, text, sizeof text);
  if (code != VYX_OK) return "<no text: " + std::to_string(code) + ">";
  return text;
}

}  // namespace vyxtest

#endif
