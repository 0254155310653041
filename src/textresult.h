// The one rule for every text answer into a caller's buffer.
#ifndef LVT_TEXTRESULT_H
#define LVT_TEXTRESULT_H

#include <cstddef>
#include <cstring>
#include <string>

namespace lvt {

// Copies like strncpy(buffer, text, maxLen) and then zeroes the last byte, so
// the answer is always terminated and cut, unreported, to maxLen - 1
// characters. A null buffer or maxLen 0 writes nothing.
inline void copyText(char* buffer, size_t maxLen, const char* text) {
  if (buffer == nullptr || maxLen == 0) return;
  std::strncpy(buffer, text, maxLen);
  buffer[maxLen - 1] = '\0';
}

inline void copyText(char* buffer, size_t maxLen, const std::string& text) {
  copyText(buffer, maxLen, text.c_str());
}

}  // namespace lvt

#endif
