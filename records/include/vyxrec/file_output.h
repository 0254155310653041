// Plain file output with errors that name the file and the reason.
#pragma once

#include <cstddef>
#include <string>

namespace vyxrec {

// Writes the bytes to path, replacing the file. Throws std::runtime_error on any failure.
void writeFile(const std::string& path, const void* bytes, size_t size);

// Creates the directory and its missing parents; an existing directory is fine. Throws
// std::runtime_error when it cannot be created or the path is not a directory.
void makeDirectories(const std::string& path);

}  // namespace vyxrec
