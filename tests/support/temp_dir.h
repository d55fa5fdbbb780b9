// A private temporary directory for one test, removed with everything in it
// when the object goes. A test that fails an ASSERT_* returns normally, so the
// directory goes then too; read-only files and folders the test left behind
// are made writable first.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace test_support {

class TempDir final {
 public:
  // A new, empty directory under the system's temporary folder, named after
  // `prefix` and a random suffix, readable only by its owner. Throws
  // std::runtime_error if none can be made.
  explicit TempDir(std::string_view prefix = "uinq76-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  std::filesystem::path operator/(const std::filesystem::path& relative) const {
    return m_path / relative;
  }

 private:
  std::filesystem::path m_path;
};

// The whole content of a file, or an empty text if it cannot be read.
std::string readFile(const std::filesystem::path& path);

// Writes `bytes` as the whole file, making its parent folders.
void writeFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace test_support
