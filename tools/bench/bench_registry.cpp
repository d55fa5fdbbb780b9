// How the registry store scales: loading, saving and removing a key tree on a
// generated registry of about 100,000 keys and 10 MB, next to a plain copy of
// the same file as the floor that any load or save has to meet.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/registry/registry_store.h"
#include "registry/key_removal.h"

namespace {

constexpr int kGroups = 100;
constexpr int kKeysPerGroup = 1000;

std::filesystem::path g_dir;
std::filesystem::path g_file;
std::string g_text;

// HKLM\Bench\GroupNNN\KeyNNNN: 100 groups of 1,000 keys, each with a driver
// name and a flag, as the media entries that the program searches have.
std::string generateRegistry() {
  std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Bench]\r\n\r\n";
  char line[160];
  for (int g = 0; g < kGroups; ++g) {
    std::snprintf(line, sizeof line, "[HKEY_LOCAL_MACHINE\\Bench\\Group%03d]\r\n\r\n", g);
    text += line;
    for (int k = 0; k < kKeysPerGroup; ++k) {
      std::snprintf(line, sizeof line,
                    "[HKEY_LOCAL_MACHINE\\Bench\\Group%03d\\Key%04d]\r\n"
                    "\"Driver\"=\"snd%03d%04d.drv\"\r\n"
                    "\"Flags\"=dword:%08x\r\n\r\n",
                    g, k, g, k, static_cast<unsigned>(g * kKeysPerGroup + k));
      text += line;
    }
  }
  return text;
}

std::unique_ptr<RegistryStore> openOrDie(const std::filesystem::path& path) {
  auto store = RegistryStore::open(path);
  if (!store) {
    std::cerr << store.error() << "\n";
    std::exit(1);
  }
  return std::move(store).value();
}

void BM_CopyFile(benchmark::State& state) {
  const auto target = g_dir / "copy.reg";
  for (auto _ : state) {
    std::filesystem::copy_file(g_file, target, std::filesystem::copy_options::overwrite_existing);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_text.size()));
}
BENCHMARK(BM_CopyFile)->Unit(benchmark::kMillisecond);

// Lock, read and parse; closing writes nothing because nothing changed.
void BM_Load(benchmark::State& state) {
  for (auto _ : state) {
    auto store = openOrDie(g_file);
    benchmark::DoNotOptimize(store.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_text.size()));
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

// Writing the text only, without the file.
void BM_Serialize(benchmark::State& state) {
  auto store = openOrDie(g_file);
  for (auto _ : state) benchmark::DoNotOptimize(store->toText());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_text.size()));
}
BENCHMARK(BM_Serialize)->Unit(benchmark::kMillisecond);

// The whole save: text, temporary file, fsync, rename, directory fsync.
void BM_Save(benchmark::State& state) {
  auto store = openOrDie(g_file);
  for (auto _ : state) {
    if (auto problem = store->save()) state.SkipWithError(problem->c_str());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_text.size()));
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);

// Removing one group: 1,001 keys, each opened, enumerated, closed and deleted.
void BM_DeleteKeyTree1000(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto store = RegistryStore::fromText(g_text);
    SetActiveRegistry(store.value().get());
    state.ResumeTiming();
    if (DeleteKeyTree(HKEY_LOCAL_MACHINE, "Bench\\Group050") != 1) {
      state.SkipWithError("DeleteKeyTree failed");
    }
    state.PauseTiming();
    SetActiveRegistry(nullptr);
    store.value().reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_DeleteKeyTree1000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  std::string pattern = (std::filesystem::temp_directory_path() / "uinq-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  g_dir = pattern;
  g_file = g_dir / "registry.reg";
  g_text = generateRegistry();
  std::ofstream(g_file, std::ios::binary) << g_text;
  std::cerr << "Registry: " << g_file.string() << ", " << g_text.size() << " bytes, "
            << 1 + kGroups * (kKeysPerGroup + 1) << " keys\n";

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (std::getenv("UINQ_BENCH_KEEP") == nullptr) std::filesystem::remove_all(g_dir);
  return 0;
}
