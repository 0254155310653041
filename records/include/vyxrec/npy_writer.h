// Float images as NumPy .npy files (format version 1.0, little-endian float32, C order), so that
// numpy.load gives an array of shape (rows, columns) without any further arguments.
#pragma once

#include <cstddef>
#include <string>

namespace vyxrec {

// The complete file header: magic, version, header length and the padded dictionary, a multiple
// of 64 bytes long so that the data that follows is aligned.
std::string npyHeader(size_t rows, size_t columns);

// Writes rows * columns floats, row after row. Throws std::runtime_error naming the file when it
// cannot be written.
void writeNpyFloat32(const std::string& path, const float* values, size_t rows, size_t columns);

}  // namespace vyxrec
