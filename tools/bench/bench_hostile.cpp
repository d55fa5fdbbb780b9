// SYSTEM.DAT files of about 10 MB in the shapes a hostile user may hand the
// program, opened as the program opens them (lock, read, strict check, key
// tree, the store) and closed: a chain of nested keys below a hardware
// profile and below Software, deeper than a key path may be (refused), the
// deepest chain a key path may have, a key with very many subkeys, and very
// many hardware profiles. Beside the time, each reports its file's size, how
// far one open in a fresh process raises the peak memory above one open of a
// small file, also as a multiple of the file's size, and whether the file was
// refused.
//   bench_hostile [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/systemdat/system_dat_file.h"
#include "tools/creg/creg_generator.h"
#include "tools/creg/creg_shapes.h"

namespace {

namespace fs = std::filesystem;

// A machine's HKEY_LOCAL_MACHINE in small: devices, three profiles of a few
// keys each, some software.
RegistryTree baseTree() {
  RegistryTree tree;
  const KeyId hklm = RegistryTree::rootKey(RootKey::LocalMachine);
  for (const char* path : {"Enum\\ROOT\\OPT0930MEDIA\\0000", "Enum\\ROOT\\*PNP0C01\\0000",
                           "System\\CurrentControlSet\\Services\\Class\\MEDIA\\0000",
                           "Software\\Microsoft\\Windows\\CurrentVersion"}) {
    KeyId key = hklm;
    for (std::string_view rest = path; !rest.empty();) {
      const std::size_t cut = rest.find('\\');
      key = tree.findOrAddSubkey(key, rest.substr(0, cut));
      rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    }
    tree.setValue(key, "DeviceDesc", REG_SZ, std::string_view("Kivra Q76 Audio", 16));
  }
  const KeyId config = tree.findOrAddSubkey(hklm, "Config");
  for (const char* profile : {"0001", "0002", "0003"}) {
    const KeyId p = tree.findOrAddSubkey(config, profile);
    const KeyId device = tree.findOrAddSubkey(
        tree.findOrAddSubkey(tree.findOrAddSubkey(tree.findOrAddSubkey(p, "Enum"), "ROOT"),
                             "OPT0930MEDIA"),
        "0000");
    tree.setValue(device, "CSConfigFlags", REG_BINARY, std::string_view("\0\0\0\0", 4));
    const KeyId display = tree.findOrAddSubkey(tree.findOrAddSubkey(p, "Display"), "Settings");
    tree.setValue(display, "Resolution", REG_SZ, std::string_view("640,480", 8));
  }
  return tree;
}

enum class Shape { ChainInProfile, ChainInSoftware, DeepestChain, Wide, Profiles };

// The file of `shape`, about 10 MB (the deepest chain aside, which a key
// path's limit keeps small; a wide key fills the rest).
std::vector<std::uint8_t> hostileFile(Shape shape) {
  RegistryTree tree = baseTree();
  switch (shape) {
    case Shape::ChainInProfile:
      creg_gen::addChain(tree, creg_gen::makePath(tree, "Config\\0001\\Enum"), 190000);
      break;
    case Shape::ChainInSoftware:
      creg_gen::addChain(tree, creg_gen::makePath(tree, "Software"), 190000);
      break;
    case Shape::DeepestChain:
      creg_gen::addChain(tree, creg_gen::makePath(tree, "Config\\0001"), 510);
      creg_gen::addWide(tree, creg_gen::makePath(tree, "Software\\Wide"), 115000);
      break;
    case Shape::Wide:
      creg_gen::addWide(tree, creg_gen::makePath(tree, "Software\\Wide"), 120000);
      break;
    case Shape::Profiles:
      creg_gen::addProfiles(tree, 17000);
      break;
  }
  auto file = creg_gen::generate(tree, RegistryTree::rootKey(RootKey::LocalMachine), {});
  if (!file) {
    std::fprintf(stderr, "bench_hostile: %s\n", file.error().c_str());
    std::exit(1);
  }
  return std::move(file).value();
}

fs::path writeTemp(const std::vector<std::uint8_t>& bytes) {
  std::string pattern = (fs::temp_directory_path() / "uinq-hostile-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::exit(1);
  const fs::path path = fs::path(pattern) / "SYSTEM.DAT";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
      ::close(fd) != 0)
    std::exit(1);
  return path;
}

// Opens and closes the file: true when it was read, false when refused.
bool openAndClose(const fs::path& path) {
  auto opened = creg::SystemDatFile::open(path);
  if (!opened) return false;
  (void)opened.value()->close();
  return true;
}

// The peak resident memory, in bytes, of a fresh process (this program
// again) that opens and closes `path` once.
double peakOfOneOpen(const fs::path& path) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl("/proc/self/exe", "bench_hostile", "--open-once", path.c_str(),
            static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) > 1)
    return -1;
  return static_cast<double>(usage.ru_maxrss) * 1024;
}

// How far one open of `path` raises the peak memory above that of one open of
// the small file without the hostile shape.
double growthOfOneOpen(const fs::path& path) {
  static const double base = [] {
    RegistryTree tree = baseTree();
    auto file = creg_gen::generate(tree, RegistryTree::rootKey(RootKey::LocalMachine), {});
    if (!file) std::exit(1);
    const fs::path small = writeTemp(file.value());
    const double peak = peakOfOneOpen(small);
    fs::remove_all(small.parent_path());
    return peak;
  }();
  return peakOfOneOpen(path) - base;
}

void BM_OpenHostile(benchmark::State& state, Shape shape) {
  const auto bytes = hostileFile(shape);
  const fs::path path = writeTemp(bytes);
  bool read = false;
  for (auto _ : state) read = openAndClose(path);
  const double peak = growthOfOneOpen(path);
  state.counters["file_MB"] = static_cast<double>(bytes.size()) / 1e6;
  state.counters["peak_MB"] = peak / 1e6;
  state.counters["peak_per_file_byte"] = peak / static_cast<double>(bytes.size());
  state.counters["refused"] = read ? 0 : 1;
  fs::remove_all(path.parent_path());
}

BENCHMARK_CAPTURE(BM_OpenHostile, chain_in_profile, Shape::ChainInProfile)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenHostile, chain_in_software, Shape::ChainInSoftware)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenHostile, deepest_chain, Shape::DeepestChain)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenHostile, wide_key, Shape::Wide)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenHostile, many_profiles, Shape::Profiles)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--open-once") return openAndClose(argv[2]) ? 0 : 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
