#include "tests/e2e/machine_snapshot.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/registry/registry_store.h"

namespace e2e {

namespace fs = std::filesystem;

namespace {

std::string readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace

Snapshot snapshotMachine(const fs::path& dir) {
  Snapshot snapshot;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string relative = fs::relative(it->path(), dir).string();
    if (relative == "backups") {
      it.disable_recursion_pending();
      continue;
    }
    struct stat st {};
    ::lstat(it->path().c_str(), &st);
    std::string entry = "mode " + std::to_string(st.st_mode & 07777) + "\n";
    if (it->is_directory()) {
      snapshot[relative + "/"] = entry;
      continue;
    }
    std::string bytes = readBytes(it->path());
    if (relative == "registry.reg") {
      auto store = RegistryStore::fromText(bytes, "registry.reg");
      bytes = store ? store.value()->toText() : "unreadable: " + store.error();
    }
    snapshot[relative] = entry + bytes;
  }
  return snapshot;
}

std::string firstDifference(const Snapshot& expected, const Snapshot& actual) {
  for (const auto& [path, content] : expected) {
    const auto it = actual.find(path);
    if (it == actual.end()) return path + " is missing";
    if (it->second != content) return path + " differs";
  }
  for (const auto& [path, content] : actual)
    if (!expected.count(path)) return path + " is new";
  return {};
}

void copyMachine(const fs::path& from, const fs::path& to) {
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

fs::path newestCompleteBackup(const fs::path& machine_dir) {
  std::vector<fs::path> folders;
  std::error_code ec;
  // A folder still under its temporary name is no backup yet.
  for (const auto& entry : fs::directory_iterator(machine_dir / "backups", ec))
    if (entry.path().filename().string().rfind("uinq76-", 0) == 0) folders.push_back(entry.path());
  std::sort(folders.begin(), folders.end());
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    if (readBytes(*it / "manifest.txt").find("\ncomplete\n") != std::string::npos) return *it;
  }
  return {};
}

}  // namespace e2e
