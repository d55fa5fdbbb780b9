// How the Windows 9x registry file scales: loading SYSTEM.DAT (check, key
// tree, the text the store is loaded from) and saving it after an uninstall's
// removals (finding them, writing them, checking the result, and the durable
// replace), against copying the same file, at about 1.2 MB and 10 MB. The
// goal is that of the REGEDIT4 store: load plus save within four times the
// copy. Copy, load and save take turns, so that a busy machine slows them
// alike; the medians of 15 rounds are compared.
//
//   bench_creg
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/creg/system_registry.h"
#include "platform/registry/regedit4_writer.h"
#include "platform/registry/registry_store.h"
#include "tools/creg/creg_generator.h"

namespace {

using Clock = std::chrono::steady_clock;

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
  if (!file) {
    std::fprintf(stderr, "bench_creg: %s\n", file.error().c_str());
    std::exit(1);
  }
  return std::move(file).value();
}

std::vector<std::uint8_t> readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Temporary, write, flush, rename, folder flush.
void writeDurably(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  const auto temporary = path.string() + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
      ::fsync(fd) != 0 || ::close(fd) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::fprintf(stderr, "bench_creg: cannot write %s\n", path.c_str());
    std::exit(1);
  }
  const int dir = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

double median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

void measure(const std::filesystem::path& dir, const char* label, int groups, int keysPerGroup) {
  const auto file = dir / "SYSTEM.DAT";
  const auto copy = dir / "COPY.DAT";
  const auto bytes = generate(groups, keysPerGroup);
  writeDurably(file, bytes);
  const auto ms = [](Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
  };
  std::vector<double> copyMs, durableCopyMs, loadMs, saveMs;
  for (int round = 0; round < 15; ++round) {
    const auto t0 = Clock::now();
    std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
    const auto t1 = Clock::now();
    auto registry = creg::SystemRegistry::read(readAll(file), "SYSTEM.DAT");
    if (!registry) {
      std::fprintf(stderr, "bench_creg: %s\n", registry.error().c_str());
      std::exit(1);
    }
    auto store = RegistryStore::fromText(writeRegedit4(registry.value().tree()), "SYSTEM.DAT");
    const auto t2 = Clock::now();
    // The uninstall's share: one group of keys and a profile setting.
    RegistryTree& tree = store.value()->tree();
    const KeyId hklm = RegistryTree::rootKey(RootKey::LocalMachine);
    const KeyId group = tree.findSubkey(tree.findSubkey(hklm, "Enum"), "Group00");
    std::vector<KeyId> keys;
    tree.forEachSubkey(group, [&](KeyId k) { keys.push_back(k); });
    for (const KeyId k : keys) tree.removeSubkey(k);
    tree.removeSubkey(group);
    tree.removeValue(tree.findSubkey(RegistryTree::rootKey(RootKey::CurrentConfig), "Display"),
                     "Resolution");
    const auto t3 = Clock::now();
    auto written = registry.value().write(tree);
    if (!written) {
      std::fprintf(stderr, "bench_creg: %s\n", written.error().c_str());
      std::exit(1);
    }
    writeDurably(dir / "SAVED.DAT", written.value());
    const auto t4 = Clock::now();
    writeDurably(copy, bytes);
    const auto t5 = Clock::now();
    copyMs.push_back(ms(t1 - t0));
    loadMs.push_back(ms(t2 - t1));
    saveMs.push_back(ms(t4 - t3));
    durableCopyMs.push_back(ms(t5 - t4));
  }
  const double copyMedian = median(copyMs);
  std::printf(
      "%-8s %9zu bytes  copy %7.2f ms  durable copy %7.2f ms  load %7.2f ms  save %7.2f ms"
      "  (load+save)/copy %5.2f\n",
      label, bytes.size(), copyMedian, median(durableCopyMs), median(loadMs), median(saveMs),
      (median(loadMs) + median(saveMs)) / copyMedian);
}

}  // namespace

int main() {
  std::string pattern = (std::filesystem::temp_directory_path() / "uinq-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  const std::filesystem::path dir = pattern;
  measure(dir, "1.2 MB", 10, 550);
  measure(dir, "10 MB", 50, 900);
  std::filesystem::remove_all(dir);
  return 0;
}
