// A point cloud as a binary little-endian PLY file: one vertex per valid pixel with float x, y, z
// (metres; x right, y down, z forward) and float amplitude. Point-cloud tools (Open3D, MeshLab)
// open it as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vyxrec {

// xyz holds 3 floats per pixel, amplitude one (may be null: written as 0); a pixel is written when
// valid[i] is not 0 (valid may be null: every pixel whose x, y and z are finite). Returns the
// number of points written. Throws std::runtime_error naming the file; a failed write leaves no
// file behind.
size_t writePly(const std::string& path, const float* xyz, const float* amplitude,
                const uint8_t* valid, size_t pixels);

}  // namespace vyxrec
