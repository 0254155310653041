// The page's files, built into the program (see embed_web.cmake).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vyxview {

struct WebAsset {
  const char* path;  // "/index.html", "/viewer.js", ...
  const unsigned char* bytes;
  size_t size;
};

const std::vector<WebAsset>& webAssets();

// The asset served for a request target ("/" is the page itself), or nullptr.
const WebAsset* findWebAsset(const std::string& target);

// "text/html; charset=utf-8" and so on, from the file's extension.
const char* contentType(const std::string& path);

}  // namespace vyxview
