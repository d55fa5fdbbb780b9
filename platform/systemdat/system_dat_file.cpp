#include "platform/systemdat/system_dat_file.h"

#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

#include "platform/durable/durable_file.h"
#include "platform/systemdat/fat_attributes.h"

namespace creg {
namespace {

Result<std::vector<std::uint8_t>> readAll(const LockedFile& file,
                                          const std::filesystem::path& path) {
  auto reader = FileReader::start(file, path);
  if (!reader) return reader.failure();
  std::vector<std::uint8_t> bytes(reader.value().expectedSize());
  std::size_t at = 0;
  for (;;) {
    if (at < bytes.size()) {
      auto got = reader.value().read(reinterpret_cast<char*>(bytes.data() + at), bytes.size() - at);
      if (!got) return got.failure();
      if (got.value() == 0) break;
      at += got.value();
      continue;
    }
    // Full as expected: whatever more there is goes through a small buffer,
    // so that a file of the expected size is held once, not in twice its room.
    char more[4096];
    auto got = reader.value().read(more, sizeof more);
    if (!got) return got.failure();
    if (got.value() == 0) break;
    bytes.insert(bytes.end(), more, more + got.value());
    at += got.value();
  }
  bytes.resize(at);
  return bytes;
}

void removeSubtree(RegistryTree& tree, KeyId key) {
  std::vector<KeyId> order{key};  // The subtree, children last, removed from the end.
  for (std::size_t i = 0; i < order.size(); ++i)
    tree.forEachSubkey(order[i], [&](KeyId k) { order.push_back(k); });
  for (auto k = order.rbegin(); k != order.rend(); ++k) tree.removeSubkey(*k);
}

// Removes from `tree` below `key` what `file` lacks below `in`. Each key is
// done whole (its values, then the subkeys the file lacks) before the keys
// below it, which a list holds rather than the stack: removing a subkey
// changes no list but those below it.
void prune(RegistryTree& tree, KeyId key, const RegistryTree& file, KeyId in) {
  std::vector<std::pair<KeyId, KeyId>> pending{{key, in}};
  std::vector<std::string> values;
  std::vector<KeyId> gone;
  while (!pending.empty()) {
    const KeyId here = pending.back().first;
    const KeyId there = pending.back().second;
    pending.pop_back();
    values.clear();
    tree.forEachValue(here, [&](const RegistryValue& v) {
      if (!file.findValue(there, v.name)) values.emplace_back(v.name);
    });
    for (const auto& name : values) tree.removeValue(here, name);
    gone.clear();
    tree.forEachSubkey(here, [&](KeyId child) {
      const KeyId match = file.findSubkey(there, tree.name(child));
      if (match == kNoKey)
        gone.push_back(child);
      else
        pending.emplace_back(child, match);
    });
    for (const KeyId child : gone) removeSubtree(tree, child);
  }
}

// Brings the store's `tree` in line with `file`, the tree the new file was
// written and checked from: the store then holds what the file holds,
// HKEY_CURRENT_CONFIG and the profiles agreeing again, as a reading of the
// file would give them. The file's HKEY_LOCAL_MACHINE outside Config was
// written with exactly the store's removals, so only the profiles (which lose
// what HKEY_CURRENT_CONFIG lost) and HKEY_CURRENT_CONFIG (which keeps a
// value or key while any profile has it) can differ; only they are walked.
void pruneToFile(RegistryTree& tree, const RegistryTree& file) {
  const KeyId machine = RegistryTree::rootKey(RootKey::LocalMachine);
  const KeyId current = RegistryTree::rootKey(RootKey::CurrentConfig);
  prune(tree, current, file, current);
  const KeyId config = tree.findSubkey(machine, "Config");
  if (config == kNoKey) return;
  const KeyId there = file.findSubkey(machine, tree.name(config));
  if (there == kNoKey)
    removeSubtree(tree, config);
  else
    prune(tree, config, file, there);
}

// The DOS attributes of the file, or the errno of reading them.
struct DosAttributes {
  std::uint32_t value = 0;
  int error = 0;
};
DosAttributes dosAttributes(int fd) {
  DosAttributes read;
  if (::ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &read.value) != 0) read.error = errno;
  return read;
}

std::string readMountinfo() {
  std::ifstream in("/proc/self/mountinfo", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The file system holding `fd`: its kind, and where on it `path` lies
// ("/WINDOWS/SYSTEM.DAT"; the path itself when the mount is not found).
struct Placement {
  FatKind kind = FatKind::NotFat;
  std::string mountType;
  std::string inImage;
};
Placement placementOf(int fd, const std::filesystem::path& path) {
  Placement placed;
  placed.inImage = path.string();
  struct statfs fs {};
  struct stat st {};
  if (::fstatfs(fd, &fs) != 0 || ::fstat(fd, &st) != 0) return placed;
  const auto mount = findMount(readMountinfo(), major(st.st_dev), minor(st.st_dev));
  if (mount) {
    placed.mountType = mount->type;
    std::error_code ec;
    const auto full = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
    const auto relative = full.lexically_relative(mount->mountPoint);
    if (!ec && !relative.empty() && *relative.begin() != "..")
      placed.inImage = (std::filesystem::path("/") / relative).generic_string();
  }
  placed.kind = fatKindOf(static_cast<std::int64_t>(fs.f_type), placed.mountType);
  return placed;
}

}  // namespace

Result<std::unique_ptr<SystemDatFile>> SystemDatFile::open(const std::filesystem::path& path) {
  auto file = openLocked(path);
  if (!file) return file.failure();
  // Refused before anything is read or written: see fat_attributes.h.
  if (const Placement placed = placementOf(file.value().fd(), path); placed.kind == FatKind::Fuse)
    return Error{fuseFatRefusal(path.string(), placed.mountType)};
  auto bytes = readAll(file.value(), path);
  if (!bytes) return bytes.failure();
  auto registry = SystemRegistry::read(std::move(bytes).value(), path.string());
  if (!registry) return registry.failure();
  // The checked tree is the store as it is: the reading refused whatever the
  // store could not hold.
  auto store = RegistryStore::fromTree(registry.value().tree(), path.string());
  return std::unique_ptr<SystemDatFile>(new SystemDatFile(
      path, std::move(file).value(), std::move(registry).value(), std::move(store)));
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
  if (!bytes) return bytes.failure();
  if (bytes.value() != m_onDisk) {
    bool in_place = false;
    auto written = writeFile(std::move(bytes).value(), in_place);
    if (!in_place) return written;
    // In its place, also when only the folder flush or the attributes
    // failed: the store follows the file from now on.
    pruneToFile(m_store->tree(), asRead);
    if (!written) return written;
  }
  return m_store->flush();  // Held in memory: this marks it written.
}

std::vector<std::string> SystemDatFile::takeNotices() { return std::exchange(m_notices, {}); }

Result<void> SystemDatFile::writeFile(std::vector<std::uint8_t> content, bool& in_place) {
  in_place = false;
  // Read before the replace: the new file comes with the attributes its
  // file system gives a new file.
  const DosAttributes attributes = dosAttributes(m_file.fd());
  const Placement placed = placementOf(m_file.fd(), m_path);
  const AttributePlan plan = planAttributes(placed.kind, attributes.error);
  // The attributes go on the new file before it takes the old one's place,
  // so that it never stands there without them, not even after a power cut.
  int set_error = -1;  // not tried
  const BeforeRename set_attributes = [&](int fd) {
    if (plan != AttributePlan::Keep) return;
    set_error = ::ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &attributes.value) == 0 ? 0 : errno;
  };
  auto replaced = replaceLockedFile(
      m_path,
      [&](const PieceSink& emit) {
        // The bytes go out as they are, without a copy.
        return emit(
            std::string_view(reinterpret_cast<const char*>(content.data()), content.size()));
      },
      m_file, set_attributes);
  if (!replaced) return replaced.failure();
  in_place = true;
  m_file = std::move(replaced.value().file);
  m_onDisk = std::move(content);
  // The registry is written either way: a lost attribute is told to the
  // user, with how to set it back, and does not fail the write.
  // (A drive under a FUSE FAT driver never gets here: open() refused it.)
  std::string reason;
  if (plan == AttributePlan::CannotKeep && placed.kind == FatKind::FuseUnnamed)
    reason = "it is on a drive mounted through FUSE (" +
             (placed.mountType.empty() ? std::string("fuse") : placed.mountType) +
             "), which does not tell whether it keeps DOS attributes, and does not let them be "
             "read (" +
             std::strerror(attributes.error) + ")";
  else if (plan == AttributePlan::CannotKeep)
    reason = std::string("its DOS attributes could not be read before the replace (") +
             std::strerror(attributes.error) + ")";
  else if (plan == AttributePlan::Keep && set_error != 0 &&
           ::ioctl(m_file.fd(), FAT_IOCTL_SET_ATTRIBUTES, &attributes.value) != 0)
    reason = std::string("its DOS attributes could not be set again after the replace (") +
             std::strerror(errno) + ")";
  else if (plan == AttributePlan::Keep && set_error != 0)
    (void)durable::flushFile(m_file.fd(), m_path);
  if (!reason.empty() && !m_attributesTold) {
    m_notices.push_back(attributesNotKeptMessage(m_path.string(), placed.inImage, reason));
    m_attributesTold = true;
  }
  return replaced.value().directoryFlush;
}

Result<void> SystemDatFile::replaceWith(std::vector<std::uint8_t> bytes) {
  if (!m_file.isOpen())
    return Error{m_path.string() + ": the registry is closed; it was not replaced"};
  if (m_store->dirty())
    return Error{m_path.string() + ": the registry has changes not saved; it was not replaced"};
  auto registry = SystemRegistry::read(bytes, m_path.string());
  if (!registry) return registry.failure();
  if (bytes == m_onDisk) return {};
  bool in_place = false;
  auto written = writeFile(std::move(bytes), in_place);
  if (in_place) {
    // Later writes start from the file now in place.
    m_registry = std::move(registry).value();
    m_store->tree() = m_registry.tree();
  }
  return written;
}

Result<RegistryTree> SystemDatFile::asWritten(const RegistryTree& tree) const {
  RegistryTree asRead;
  if (auto bytes = m_registry.write(tree, &asRead); !bytes) return bytes.failure();
  return asRead;
}

Result<void> SystemDatFile::close() {
  if (!m_file.isOpen()) return {};
  auto flushed = flush();
  m_file.close();
  return flushed;
}

}  // namespace creg
