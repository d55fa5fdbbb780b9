// How the Windows 9x registry file scales: opening SYSTEM.DAT as the program
// opens it (lock, read, check, key tree, the store) and flushing it after an
// uninstall's removals (finding them, writing them, checking the result, the
// durable replace, and the store brought in line with the new file), against
// copying the same file, at about 1.2 MB and 10 MB.
//
// The goal is that of the REGEDIT4 store, and the copy is timed as
// bench_registry times it: a plain copy of the file, and a copy flushed to
// disk, as a save is. Copy, load and save take turns within each round, so
// that a busy machine slows them alike; the medians of 15 rounds are
// compared.
//
//   bench_creg                 the benchmark
//   bench_creg --once 1.2|10   one load and save of that file, for counting
//                              instructions: valgrind --tool=callgrind
//                              --toggle-collect='*loadAndSave*' bench_creg --once 10
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/registry/registry_store.h"
#include "platform/systemdat/system_dat_file.h"
#include "tools/creg/creg_generator.h"

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "bench_creg: %s\n", what.c_str());
  std::exit(1);
}

// HKLM\Enum\GroupNN\KeyNNNN with a description, a driver and a flag each, and
// the three hardware profiles' settings.
std::vector<std::uint8_t> generate(int groups, int keysPerGroup) {
  RegistryTree tree;
  const KeyId hklm = RegistryTree::rootKey(RootKey::LocalMachine);
  const KeyId enumKey = tree.findOrAddSubkey(hklm, "Enum");
  char name[64], data[96];
  for (int g = 0; g < groups; ++g) {
    std::snprintf(name, sizeof name, "Group%02d", g);
    const KeyId group = tree.findOrAddSubkey(enumKey, name);
    for (int k = 0; k < keysPerGroup; ++k) {
      std::snprintf(name, sizeof name, "Key%04d", k);
      const KeyId key = tree.findOrAddSubkey(group, name);
      std::snprintf(data, sizeof data, "Northwind Wavetable Device %02d-%04d", g, k);
      tree.setValue(key, "DeviceDesc", REG_SZ, std::string_view(data, std::strlen(data) + 1));
      std::snprintf(data, sizeof data, "snd%02d%04d.drv", g, k);
      tree.setValue(key, "Driver", REG_SZ, std::string_view(data, std::strlen(data) + 1));
      tree.setValue(key, "ConfigFlags", REG_BINARY, std::string_view("\0\0\0\0", 4));
    }
  }
  const KeyId config = tree.findOrAddSubkey(hklm, "Config");
  for (const char* profile : {"0001", "0002", "0003"}) {
    const KeyId display = tree.findOrAddSubkey(tree.findOrAddSubkey(config, profile), "Display");
    tree.setValue(display, "Resolution", REG_SZ, std::string_view("640,480", 8));
  }
  auto file = creg_gen::generate(tree, hklm, {});
  if (!file) die(file.error());
  return std::move(file).value();
}

// Temporary, write, flush, rename, folder flush.
void writeDurably(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  const auto temporary = path.string() + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
      ::fsync(fd) != 0 || ::close(fd) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0)
    die("cannot write " + path.string());
  const int dir = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

// The copy bench_registry times: the file copied, and with `flushed` the copy
// flushed to disk too.
void copyFile(const std::filesystem::path& from, const std::filesystem::path& to, bool flushed) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  if (!flushed) return;
  const int fd = ::open(to.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) die("cannot flush the copy");
  ::close(fd);
}

// The uninstall's share: one group of keys and a profile setting.
void removeSome(creg::SystemDatFile& file) {
  RegistryStore& store = file.store();
  RegistryTree& tree = store.tree();
  const KeyId hklm = RegistryTree::rootKey(RootKey::LocalMachine);
  const KeyId group = tree.findSubkey(tree.findSubkey(hklm, "Enum"), "Group00");
  std::vector<KeyId> keys;
  tree.forEachSubkey(group, [&](KeyId k) { keys.push_back(k); });
  for (const KeyId k : keys) tree.removeSubkey(k);
  tree.removeSubkey(group);
  tree.removeValue(tree.findSubkey(RegistryTree::rootKey(RootKey::CurrentConfig), "Display"),
                   "Resolution");
  store.markDirty();
}

struct Times {
  Clock::time_point opened, removed, flushed;
};

// Open, remove, flush and close, as a run does; kept out of line so that an
// instruction count can be limited to it.
[[gnu::noinline]] Times loadAndSave(const std::filesystem::path& path) {
  auto opened = creg::SystemDatFile::open(path);
  if (!opened) die(opened.error());
  Times times;
  times.opened = Clock::now();
  removeSome(*opened.value());
  times.removed = Clock::now();
  if (auto flushed = opened.value()->flush(); !flushed) die(flushed.error());
  times.flushed = Clock::now();
  if (auto closed = opened.value()->close(); !closed) die(closed.error());
  return times;
}

double median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

struct Size {
  const char* label;
  int groups;
  int keysPerGroup;
};
constexpr Size kSizes[] = {{"1.2 MB", 10, 700}, {"10 MB", 50, 1160}};

void measure(const std::filesystem::path& dir, const Size& size) {
  const auto file = dir / "SYSTEM.DAT";
  const auto copy = dir / "COPY.DAT";
  const auto bytes = generate(size.groups, size.keysPerGroup);
  const auto ms = [](Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
  };
  std::vector<double> copyMs, flushedCopyMs, loadMs, saveMs;
  for (int round = 0; round < 15; ++round) {
    writeDurably(file, bytes);  // The flush below replaced it.
    const auto t0 = Clock::now();
    copyFile(file, copy, false);
    const auto t1 = Clock::now();
    const Times times = loadAndSave(file);
    const auto t2 = Clock::now();
    copyFile(file, copy, true);
    const auto t3 = Clock::now();
    copyMs.push_back(ms(t1 - t0));
    loadMs.push_back(ms(times.opened - t1));
    saveMs.push_back(ms(times.flushed - times.removed));
    flushedCopyMs.push_back(ms(t3 - t2));
  }
  const double both = median(loadMs) + median(saveMs);
  std::printf(
      "%-6s %9zu bytes  load %7.2f ms  save %7.2f ms  copy %6.2f ms  flushed copy %6.2f ms"
      "  (load+save) / copy %5.1f, / flushed copy %4.1f\n",
      size.label, bytes.size(), median(loadMs), median(saveMs), median(copyMs),
      median(flushedCopyMs), both / median(copyMs), both / median(flushedCopyMs));
}

}  // namespace

int main(int argc, char** argv) {
  std::string pattern = (std::filesystem::temp_directory_path() / "uinq-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  const std::filesystem::path dir = pattern;
  if (argc == 3 && std::strcmp(argv[1], "--once") == 0) {
    const auto* size = std::find_if(std::begin(kSizes), std::end(kSizes), [&](const Size& s) {
      return std::string(s.label) == std::string(argv[2]) + " MB";
    });
    if (size == std::end(kSizes)) die("--once takes 1.2 or 10");
    writeDurably(dir / "SYSTEM.DAT", generate(size->groups, size->keysPerGroup));
    loadAndSave(dir / "SYSTEM.DAT");
  } else {
    std::printf("medians of 15 rounds; load average %s", [] {
      std::ifstream in("/proc/loadavg");
      std::string line;
      std::getline(in, line);
      return (line + "\n");
    }().c_str());
    for (const Size& size : kSizes) measure(dir, size);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
