// Helpers the fuzz targets share: the input cut into the pieces a target
// needs, and plain host file reads and writes for setting up a scratch
// machine and checking it afterwards.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace fuzz {

// Takes pieces off the front of the input; past its end every piece is empty
// and every byte 0, so any input decodes to some case.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size)
      : m_rest(reinterpret_cast<const char*>(data), size) {}

  std::string_view take(std::size_t n) {
    n = n < m_rest.size() ? n : m_rest.size();
    const std::string_view piece = m_rest.substr(0, n);
    m_rest.remove_prefix(n);
    return piece;
  }
  unsigned byte() {
    const std::string_view b = take(1);
    return b.empty() ? 0u : static_cast<unsigned char>(b[0]);
  }
  // A name of up to 255 bytes, its length in the byte before it; like a C
  // string it ends at a zero.
  std::string cString() {
    const std::string_view piece = take(byte());
    return std::string(piece.substr(0, piece.find('\0')));
  }
  std::string_view rest() const { return m_rest; }

 private:
  std::string_view m_rest;
};

// Writes `bytes` to `path` with `mode`; false when the file cannot be made.
inline bool writeHostFile(const std::filesystem::path& path, std::string_view bytes,
                          mode_t mode = 0644) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  const bool closed = std::fclose(out) == 0;
  return written && closed && ::chmod(path.c_str(), mode) == 0;
}

// The bytes of `path`, or "(missing)" when it cannot be opened.
inline std::string readHostFile(const std::filesystem::path& path) {
  std::string bytes;
  FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return "(missing)";
  char chunk[256];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) bytes.append(chunk, n);
  std::fclose(in);
  return bytes;
}

}  // namespace fuzz
