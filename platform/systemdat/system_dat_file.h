// The SYSTEM.DAT of a Windows 95 drive as the registry of the Reg*A
// functions: locked while it is open, read strictly, and presented as an
// in-memory store holding HKEY_LOCAL_MACHINE and HKEY_CURRENT_CONFIG (see
// system_registry.h). A flush writes what the store lost into the file by
// deletion only and replaces the file atomically: the new file is written
// beside it, flushed, locked and renamed over it, so that a crash leaves the
// old file or the new one. The file keeps its mode, owner and, on a FAT drive
// mounted by the kernel's FAT driver, its DOS attributes (read-only, hidden,
// system) and short name; a replace that cannot set them again still writes
// the registry and leaves a notice saying what may be lost and how to set it
// back. A FAT drive under FUSE (fusefat) is refused (see fat_attributes.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/creg/system_registry.h"
#include "platform/registry/registry_file.h"
#include "platform/registry/registry_store.h"
#include "platform/result/result.h"

namespace creg {

class SystemDatFile final {
 public:
  // Locks and reads `path`. Fails, having changed nothing, when the file is
  // missing, held by another program, on a FAT drive under FUSE or not sound;
  // the message names it.
  static Result<std::unique_ptr<SystemDatFile>> open(const std::filesystem::path& path);

  SystemDatFile(const SystemDatFile&) = delete;
  SystemDatFile& operator=(const SystemDatFile&) = delete;
  ~SystemDatFile();

  RegistryStore& store() { return *m_store; }
  const std::vector<std::string>& profiles() const { return m_registry.profiles(); }
  const std::filesystem::path& path() const { return m_path; }

  // Writes the file when the store changed since the last write. On failure
  // the file is as it was and the changes are still pending.
  Result<void> flush();
  // `tree` (the store's tree, or one with more removals) as this file would
  // hold it once written and read again: HKEY_CURRENT_CONFIG's removals gone
  // from every profile, and the profiles' from HKEY_CURRENT_CONFIG.
  Result<RegistryTree> asWritten(const RegistryTree& tree) const;
  // flush(), then releases the lock; the store stays readable in memory.
  Result<void> close();
  // What the writes so far could not keep and the user must know (lost DOS
  // attributes), each told once; the list is emptied.
  std::vector<std::string> takeNotices();

  // The file as it is on the disk now: as read, or as last written.
  const std::vector<std::uint8_t>& bytes() const { return m_onDisk; }
  // Replaces the file whole with `bytes` (a copy of it kept elsewhere), by the
  // same atomic replace as a flush, keeping mode, owner and DOS attributes.
  // The bytes must pass the strict check and the store may hold no unsaved
  // change; the file is then used as if read anew. On failure before the
  // replace the file is as it was.
  Result<void> replaceWith(std::vector<std::uint8_t> bytes);

 private:
  SystemDatFile(std::filesystem::path path, LockedFile file, SystemRegistry registry,
                std::unique_ptr<RegistryStore> store);
  // Puts `content` in the file's place: the part of flush() and
  // replaceWith() that writes. `in_place` says whether the new file took the
  // old one's place (also when only the folder flush or the attributes
  // failed); m_onDisk follows it.
  Result<void> writeFile(std::vector<std::uint8_t> content, bool& in_place);

  std::filesystem::path m_path;
  LockedFile m_file;
  SystemRegistry m_registry;  // The file as first read; every write starts from it.
  std::unique_ptr<RegistryStore> m_store;
  std::vector<std::uint8_t> m_onDisk;
  std::vector<std::string> m_notices;
  bool m_attributesTold = false;
};

}  // namespace creg
