#include "platform/creg/system_dat_file.h"

#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/registry/regedit4_writer.h"

namespace creg {
namespace {

Result<std::vector<std::uint8_t>> readAll(const LockedFile& file,
                                          const std::filesystem::path& path) {
  auto reader = FileReader::start(file, path);
  if (!reader) return Error{reader.error()};
  std::vector<std::uint8_t> bytes(reader.value().expectedSize());
  std::size_t at = 0;
  for (;;) {
    if (at == bytes.size()) bytes.resize(bytes.size() + 4096);
    auto got = reader.value().read(reinterpret_cast<char*>(bytes.data() + at), bytes.size() - at);
    if (!got) return Error{got.error()};
    if (got.value() == 0) break;
    at += got.value();
  }
  bytes.resize(at);
  return bytes;
}

// Removes from `tree` below `key` what `file` lacks below `in`: the store then
// holds what the file holds, HKEY_CURRENT_CONFIG and the profiles agreeing
// again, as a reading of the file would give them.
void prune(RegistryTree& tree, KeyId key, const RegistryTree& file, KeyId in) {
  std::vector<std::string> values;
  tree.forEachValue(key, [&](const RegistryValue& v) {
    if (!file.findValue(in, v.name)) values.emplace_back(v.name);
  });
  for (const auto& name : values) tree.removeValue(key, name);
  // The keys the file lacks are removed once the loop is done; pruning a
  // subkey changes only the lists below it, so this key's list stays as it is
  // while the loop walks it.
  std::vector<KeyId> gone;
  tree.forEachSubkey(key, [&](KeyId child) {
    const KeyId there = file.findSubkey(in, tree.name(child));
    if (there == kNoKey)
      gone.push_back(child);
    else
      prune(tree, child, file, there);
  });
  for (const KeyId child : gone) {
    std::vector<KeyId> order{child};  // The subtree, children last, removed from the end.
    for (std::size_t i = 0; i < order.size(); ++i)
      tree.forEachSubkey(order[i], [&](KeyId k) { order.push_back(k); });
    for (auto k = order.rbegin(); k != order.rend(); ++k) tree.removeSubkey(*k);
  }
}

// The store of a file's registry. It holds what the file holds, exactly, and
// what its REGEDIT4 text (the form of backups and fingerprints) would hold,
// or the file is not used. A tree whose text reads back as it is becomes the
// store as it is; any other goes through its text, which says what is wrong.
Result<std::unique_ptr<RegistryStore>> storeOf(const RegistryTree& tree,
                                               const std::filesystem::path& path) {
  if (textReadsBack(tree)) return RegistryStore::fromTree(tree, path.string());
  auto store = RegistryStore::fromText(writeRegedit4(tree), path.string());
  if (!store) return Error{path.string() + ": " + store.error()};
  for (const RootKey root : {RootKey::LocalMachine, RootKey::CurrentConfig}) {
    const KeyId key = RegistryTree::rootKey(root);
    if (auto same =
            compareTrees(store.value()->tree(), key, tree, key, std::string(rootKeyName(root)));
        !same)
      return Error{path.string() +
                   ": the registry cannot be held in memory as it is: " + same.error()};
  }
  return store;
}

// The DOS attributes of a file on a FAT drive; nothing elsewhere.
std::optional<std::uint32_t> dosAttributes(int fd) {
  std::uint32_t attributes = 0;
  if (::ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &attributes) != 0) return std::nullopt;
  return attributes;
}

}  // namespace

Result<std::unique_ptr<SystemDatFile>> SystemDatFile::open(const std::filesystem::path& path) {
  auto file = openLocked(path);
  if (!file) return Error{file.error()};
  auto bytes = readAll(file.value(), path);
  if (!bytes) return Error{bytes.error()};
  auto registry = SystemRegistry::read(std::move(bytes).value(), path.string());
  if (!registry) return Error{registry.error()};
  auto store = storeOf(registry.value().tree(), path);
  if (!store) return Error{store.error()};
  return std::unique_ptr<SystemDatFile>(new SystemDatFile(
      path, std::move(file).value(), std::move(registry).value(), std::move(store).value()));
}

SystemDatFile::SystemDatFile(std::filesystem::path path, LockedFile file, SystemRegistry registry,
                             std::unique_ptr<RegistryStore> store)
    : m_path(std::move(path)),
      m_file(std::move(file)),
      m_registry(std::move(registry)),
      m_store(std::move(store)),
      m_onDisk(m_registry.bytes()) {}

SystemDatFile::~SystemDatFile() { (void)close(); }

Result<void> SystemDatFile::flush() {
  if (!m_store || !m_store->dirty()) return {};
  if (!m_file.isOpen())
    return Error{m_path.string() + ": the registry is closed; changes were not saved"};
  if (m_store->damaged())
    return Error{m_path.string() +
                 ": the registry in memory could not be put back as it was after a preview; it "
                 "is not saved, and the file keeps its contents"};
  RegistryTree asRead;
  auto bytes = m_registry.write(m_store->tree(), &asRead);
  if (!bytes) return Error{bytes.error()};
  if (bytes.value() != m_onDisk) {
    const auto attributes = dosAttributes(m_file.fd());
    const auto& content = bytes.value();
    auto replaced = replaceFile(
        m_path,
        [&](const PieceSink& emit) {
          // The bytes go out as they are, without a copy.
          return emit(
              std::string_view(reinterpret_cast<const char*>(content.data()), content.size()));
        },
        m_file, m_fault);
    if (!replaced) return Error{replaced.error()};
    m_file = std::move(replaced.value().file);
    m_onDisk = std::move(bytes).value();
    for (const RootKey root : {RootKey::LocalMachine, RootKey::CurrentConfig}) {
      const KeyId key = RegistryTree::rootKey(root);
      prune(m_store->tree(), key, asRead, key);
    }
    if (!replaced.value().directoryFlush) return replaced.value().directoryFlush;
    if (attributes && ::ioctl(m_file.fd(), FAT_IOCTL_SET_ATTRIBUTES, &*attributes) != 0)
      return Error{m_path.string() + ": the registry was written, but its DOS attributes " +
                   "(read-only, hidden, system) could not be kept: " + std::strerror(errno)};
  }
  return m_store->flush();  // Held in memory: this marks it written.
}

Result<RegistryTree> SystemDatFile::asWritten(const RegistryTree& tree) const {
  RegistryTree asRead;
  if (auto bytes = m_registry.write(tree, &asRead); !bytes) return Error{bytes.error()};
  return asRead;
}

Result<void> SystemDatFile::close() {
  if (!m_file.isOpen()) return {};
  auto flushed = flush();
  m_file.close();
  return flushed;
}

}  // namespace creg
