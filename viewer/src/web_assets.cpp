#include "web_assets.h"

namespace vyxview {

namespace {

bool endsWith(const std::string& s, const char* suffix) {
  const std::string tail(suffix);
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

const WebAsset* findWebAsset(const std::string& target) {
  // The query string does not choose the file.
  std::string path = target.substr(0, target.find('?'));
  if (path == "/") path = "/index.html";
  for (const WebAsset& asset : webAssets()) {
    if (path == asset.path) return &asset;
  }
  return nullptr;
}

const char* contentType(const std::string& path) {
  if (endsWith(path, ".html")) return "text/html; charset=utf-8";
  if (endsWith(path, ".js")) return "text/javascript; charset=utf-8";
  if (endsWith(path, ".css")) return "text/css; charset=utf-8";
  return "application/octet-stream";
}

}  // namespace vyxview
