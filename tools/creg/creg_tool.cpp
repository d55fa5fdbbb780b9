// uinq76-creg: Windows 9x registry files for the demo and the tests.
//
//   uinq76-creg generate [--style packed|records] [--checksums|--no-checksums]
//                        [--block-size BYTES] REGEDIT4-FILE OUT
//   uinq76-creg check FILE
//   uinq76-creg dump FILE
//   uinq76-creg remove FILE OUT [-k KEY-PATH]... [-v KEY-PATH VALUE-NAME]...
//   uinq76-creg grow FILE OUT [--chain N KEY-PATH]... [--wide N KEY-PATH]...
//                             [--profiles N]
//
// `generate` writes HKEY_LOCAL_MACHINE of a REGEDIT4 file as a registry file;
// `dump` lists a file's keys and values in the form the tests compare with
// other readers' listings; `remove` deletes keys and values (paths below the
// file's root) through the same writer the program uses; `grow` writes the
// file again with hostile shapes added: a chain of N nested keys or N
// subkeys below a key (made if missing), or N more hardware profiles.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/creg/creg_tree.h"
#include "platform/creg/creg_writer.h"
#include "platform/registry/registry_store.h"
#include "tools/creg/creg_generator.h"
#include "tools/creg/creg_shapes.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: uinq76-creg generate [--style packed|records] [--checksums|--no-checksums]\n"
               "                            [--block-size BYTES] REGEDIT4-FILE OUT\n"
               "       uinq76-creg check FILE\n"
               "       uinq76-creg dump FILE\n"
               "       uinq76-creg remove FILE OUT [-k KEY-PATH]... [-v KEY-PATH VALUE-NAME]...\n"
               "       uinq76-creg grow FILE OUT [--chain N KEY-PATH]... [--wide N KEY-PATH]...\n"
               "                                 [--profiles N]\n");
  return 2;
}

bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

// Bytes outside printable ASCII, and the two marks themselves, as %XX.
std::string escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7F && c != '%' && c != '\\') {
      out += c;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", byte);
      out += hex;
    }
  }
  return out;
}

void dumpKey(const RegistryTree& tree, KeyId key, const std::string& path) {
  std::printf("K %s\n", path.c_str());
  std::vector<RegistryValue> values;
  tree.forEachValue(key, [&](const RegistryValue& value) { values.push_back(value); });
  std::sort(values.begin(), values.end(),
            [](const RegistryValue& a, const RegistryValue& b) { return a.name < b.name; });
  for (const auto& value : values) {
    std::string hex;
    for (char c : value.data) {
      char digits[3];
      std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(c));
      hex += digits;
    }
    std::printf("V %s %u %s\n", escape(value.name).c_str(), static_cast<unsigned>(value.type),
                hex.c_str());
  }
  std::vector<KeyId> children;
  tree.forEachSubkey(key, [&](KeyId child) { children.push_back(child); });
  std::sort(children.begin(), children.end(),
            [&](KeyId a, KeyId b) { return tree.name(a) < tree.name(b); });
  for (KeyId child : children) dumpKey(tree, child, path + "\\" + escape(tree.name(child)));
}

// The key at `path` (names separated by \) below HKEY_LOCAL_MACHINE.
KeyId findPath(const RegistryTree& tree, std::string_view path) {
  KeyId key = RegistryTree::rootKey(RootKey::LocalMachine);
  while (!path.empty() && key != kNoKey) {
    const std::size_t cut = path.find('\\');
    key = tree.findSubkey(key, path.substr(0, cut));
    path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
  }
  return key;
}

void removeSubtree(RegistryTree& tree, KeyId key) {
  std::vector<KeyId> children;
  tree.forEachSubkey(key, [&](KeyId child) { children.push_back(child); });
  for (KeyId child : children) removeSubtree(tree, child);
  tree.removeSubkey(key);
}

int generate(int argc, char** argv) {
  creg_gen::Options options;
  int i = 2;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const std::string option = argv[i];
    if (option == "--style" && i + 1 < argc) {
      const std::string style = argv[++i];
      if (style != "packed" && style != "records") return usage();
      options.style = style == "packed" ? creg_gen::Style::Packed : creg_gen::Style::FreeRecords;
    } else if (option == "--checksums" || option == "--no-checksums") {
      options.checksums = option == "--checksums";
    } else if (option == "--block-size" && i + 1 < argc) {
      options.blockSize = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 0));
    } else {
      return usage();
    }
  }
  if (argc - i != 2) return usage();
  std::vector<std::uint8_t> text;
  if (!readFile(argv[i], text)) {
    std::fprintf(stderr, "uinq76-creg: cannot read %s\n", argv[i]);
    return 1;
  }
  auto store = RegistryStore::fromText(
      std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), argv[i]);
  if (!store) {
    std::fprintf(stderr, "uinq76-creg: %s\n", store.error().c_str());
    return 1;
  }
  const RegistryTree& tree = store.value()->tree();
  auto file = creg_gen::generate(tree, RegistryTree::rootKey(RootKey::LocalMachine), options);
  if (!file) {
    std::fprintf(stderr, "uinq76-creg: %s\n", file.error().c_str());
    return 1;
  }
  if (!writeFile(argv[i + 1], file.value())) {
    std::fprintf(stderr, "uinq76-creg: cannot write %s\n", argv[i + 1]);
    return 1;
  }
  return 0;
}

int remove(int argc, char** argv, const std::vector<std::uint8_t>& bytes,
           creg::LoadedFile& loaded) {
  if (argc < 4) return usage();
  std::vector<TreeRemoval> log;
  loaded.tree.recordRemovals(&log);
  for (int i = 4; i < argc; ++i) {
    const std::string option = argv[i];
    if ((option != "-k" || i + 1 >= argc) && (option != "-v" || i + 2 >= argc)) return usage();
    const KeyId key = findPath(loaded.tree, argv[i + 1]);
    if (key == kNoKey) {
      std::fprintf(stderr, "uinq76-creg: no key %s\n", argv[i + 1]);
      return 1;
    }
    if (option == "-k") {
      removeSubtree(loaded.tree, key);
      i += 1;
    } else {
      if (!loaded.tree.removeValue(key, argv[i + 2])) {
        std::fprintf(stderr, "uinq76-creg: no value %s in %s\n", argv[i + 2], argv[i + 1]);
        return 1;
      }
      i += 2;
    }
  }
  loaded.tree.recordRemovals(nullptr);
  auto out = creg::writeRemovals(bytes, loaded.checked, loaded.map, loaded.tree,
                                 RegistryTree::rootKey(RootKey::LocalMachine), log, argv[2]);
  if (!out) {
    std::fprintf(stderr, "uinq76-creg: %s\n", out.error().c_str());
    return 1;
  }
  if (!writeFile(argv[3], out.value())) {
    std::fprintf(stderr, "uinq76-creg: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}

int grow(int argc, char** argv, creg::LoadedFile& loaded) {
  if (argc < 4) return usage();
  for (int i = 4; i < argc; ++i) {
    const std::string option = argv[i];
    const bool withPath = option == "--chain" || option == "--wide";
    if ((!withPath && option != "--profiles") || i + (withPath ? 2 : 1) >= argc) return usage();
    const std::size_t count = std::strtoul(argv[i + 1], nullptr, 10);
    if (option == "--profiles") {
      creg_gen::addProfiles(loaded.tree, count);
      i += 1;
      continue;
    }
    const KeyId key = creg_gen::makePath(loaded.tree, argv[i + 2]);
    if (option == "--chain")
      creg_gen::addChain(loaded.tree, key, count);
    else
      creg_gen::addWide(loaded.tree, key, count);
    i += 2;
  }
  auto file = creg_gen::generate(loaded.tree, RegistryTree::rootKey(RootKey::LocalMachine),
                                 creg_gen::Options());
  if (!file) {
    std::fprintf(stderr, "uinq76-creg: %s\n", file.error().c_str());
    return 1;
  }
  if (!writeFile(argv[3], file.value())) {
    std::fprintf(stderr, "uinq76-creg: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  const std::string command = argv[1];
  if (command == "generate") return generate(argc, argv);
  if (command != "check" && command != "dump" && command != "remove" && command != "grow")
    return usage();
  std::vector<std::uint8_t> bytes;
  if (!readFile(argv[2], bytes)) {
    std::fprintf(stderr, "uinq76-creg: cannot read %s\n", argv[2]);
    return 1;
  }
  auto loaded = creg::loadFile(bytes, argv[2]);
  if (!loaded) {
    std::fprintf(stderr, "uinq76-creg: %s\n", loaded.error().c_str());
    return 1;
  }
  if (command == "check") {
    std::printf("%s: sound, %zu keys in %zu blocks\n", argv[2],
                loaded.value().checked.entries.size(), loaded.value().checked.blocks.size());
    return 0;
  }
  if (command == "dump") {
    dumpKey(loaded.value().tree, RegistryTree::rootKey(RootKey::LocalMachine), "");
    return 0;
  }
  if (command == "grow") return grow(argc, argv, loaded.value());
  return remove(argc, argv, bytes, loaded.value());
}
