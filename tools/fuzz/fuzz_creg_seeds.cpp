// Writes SYSTEM.DAT seeds of the shapes that byte mutations alone never
// reach, for fuzz_creg: key chains just within and just past the 512 levels a
// key path may have (below Software and below a hardware profile, so that
// HKEY_CURRENT_CONFIG takes them over), a key with very many subkeys, and very
// many hardware profiles, each within 64 KiB. tools/fuzz.sh runs it before
// fuzz_creg.
//   fuzz_creg_seeds DIR
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tools/creg/creg_generator.h"
#include "tools/creg/creg_shapes.h"

namespace {

struct Seed {
  const char* name;
  const char* under;  // Below HKEY_LOCAL_MACHINE.
  std::size_t chain, wide, profiles;
  creg_gen::Style style;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_creg_seeds DIR\n");
    return 2;
  }
  const std::vector<Seed> seeds = {
      {"chain-512-software", "Software", 511, 0, 0, creg_gen::Style::Packed},
      {"chain-513-software", "Software", 512, 0, 0, creg_gen::Style::FreeRecords},
      {"chain-510-profile", "Config\\0001", 510, 0, 0, creg_gen::Style::Packed},
      {"chain-600-profile", "Config\\0001", 598, 0, 0, creg_gen::Style::Packed},
      {"wide-600", "Software\\Wide", 0, 600, 0, creg_gen::Style::FreeRecords},
      {"profiles-100", "Config\\0001\\Enum\\Root", 3, 0, 100, creg_gen::Style::Packed},
  };
  for (const Seed& seed : seeds) {
    RegistryTree tree;
    const KeyId hklm = RegistryTree::rootKey(RootKey::LocalMachine);
    KeyId key = hklm;
    for (std::string_view path = seed.under; !path.empty();) {
      const std::size_t cut = path.find('\\');
      key = tree.findOrAddSubkey(key, path.substr(0, cut));
      path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
    }
    tree.setValue(key, "Shape", REG_SZ, std::string_view(seed.name, std::strlen(seed.name) + 1));
    creg_gen::addChain(tree, key, seed.chain);
    creg_gen::addWide(tree, key, seed.wide);
    creg_gen::addProfiles(tree, seed.profiles);
    creg_gen::Options options;
    options.style = seed.style;
    options.checksums = false;
    auto file = creg_gen::generate(tree, hklm, options);
    if (!file) {
      std::fprintf(stderr, "fuzz_creg_seeds: %s: %s\n", seed.name, file.error().c_str());
      return 1;
    }
    const std::string path = std::string(argv[1]) + "/seed-" + seed.name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.value().data()),
              static_cast<std::streamsize>(file.value().size()));
    if (!out.flush()) {
      std::fprintf(stderr, "fuzz_creg_seeds: cannot write %s\n", path.c_str());
      return 1;
    }
    std::printf("%s: %zu bytes\n", path.c_str(), file.value().size());
  }
  return 0;
}
