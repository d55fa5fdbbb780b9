#include "tests/support/temp_dir.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace test_support {
namespace {

std::string randomSuffix() {
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::random_device device;
  std::uniform_int_distribution<int> pick(0, sizeof kDigits - 2);
  std::string suffix(12, '0');
  for (char& c : suffix) c = kDigits[pick(device)];
  return suffix;
}

// Gives the owner every right on the folder and on the folders below it, so
// that what a test made read-only can be removed.
void makeRemovable(const fs::path& folder) {
  std::error_code ec;
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ec);
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) makeRemovable(it->path());
  }
}

}  // namespace

TempDir::TempDir(std::string_view prefix) {
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  if (ec) throw std::runtime_error("no temporary folder: " + ec.message());
  // A name taken by someone else is never reused: create_directory reports
  // whether it made the folder.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name(prefix);
    name += '-';
    name += randomSuffix();
    const fs::path candidate = base / name;
    if (fs::create_directory(candidate, ec)) {
      fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace, ec);
      m_path = candidate;
      return;
    }
    if (ec) break;
  }
  std::string message = "cannot make a temporary folder in ";
  message += base.string();
  if (ec) {
    message += ": ";
    message += ec.message();
  }
  throw std::runtime_error(message);
}

TempDir::~TempDir() {
  makeRemovable(m_path);
  std::error_code ec;
  fs::remove_all(m_path, ec);
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, std::string_view bytes) {
  std::error_code ec;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace test_support
