// The registry of the machine, loaded from its REGEDIT4 file (registry.reg)
// and kept in memory while the program runs.
//
// Opening takes an exclusive lock on the file and holds it until the store is
// closed, so two programs never work on one registry. Changes stay in memory
// until flush() or close(), which write the file by an atomic replace: a crash
// at any moment leaves either the old file or the new one whole. A store that
// has not changed writes nothing.
//
// The Reg*A functions (registry_api.h) act on the store made active with
// SetActiveRegistry, as the Windows registry is one per system. The store also
// keeps the table of their open key handles.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/registry/regedit4_layout.h"
#include "platform/registry/registry_file.h"
#include "platform/registry/registry_tree.h"
#include "platform/result/result.h"
#include "platform/winbase/winbase.h"

class RegistryStore final {
 public:
  // Opens, locks and loads `path`. On failure returns a message that names the
  // path (and for a malformed file, the line), having written nothing.
  static Result<std::unique_ptr<RegistryStore>> open(const std::filesystem::path& path);
  // A store held only in memory, loaded from REGEDIT4 text; flush() only marks
  // it clean. For tests and benchmarks.
  static Result<std::unique_ptr<RegistryStore>> fromText(std::string_view text,
                                                         std::string_view source = "text");
  // A store held only in memory, holding `tree`, which `source` names.
  static std::unique_ptr<RegistryStore> fromTree(RegistryTree tree, std::string_view source,
                                                 Regedit4Layout layout = {});

  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;
  // Closes the store, writing pending changes; call close() to see errors.
  ~RegistryStore();

  // Writes the file when something changed. On failure the file on disk is as
  // it was and the changes are still pending.
  Result<void> flush();
  // flush(), then releases the lock. The store keeps its contents in memory.
  Result<void> close();
  bool dirty() const { return m_dirty; }
  // A removal made during a preview does not count as a change.
  void markDirty() {
    if (!m_previewing) m_dirty = true;
  }

  // A preview runs changes on the store itself to see what they remove, and
  // then undoes them. From beginPreview to endPreview the tree records each
  // removal into `log`, removals leave the store as clean or dirty as it was,
  // and the store writes nothing. endPreview(false) says that the store could
  // not be put back as it was: it then never writes its file again, so that a
  // registry the preview damaged cannot reach the disk.
  void beginPreview(std::vector<TreeRemoval>& log);
  void endPreview(bool restored);
  bool damaged() const { return m_damaged; }

  // The registry as the store would write it.
  std::string toText() const;
  const std::filesystem::path& path() const { return m_path; }

  RegistryTree& tree() { return m_tree; }
  const RegistryTree& tree() const { return m_tree; }
  // How the file laid out its roots, which saving follows.
  const Regedit4Layout& layout() const { return m_layout; }

  // Open key handles. A handle names one key of this store; handles are never
  // reused while the process runs, so a stale handle cannot reach another key.
  struct OpenKey {
    KeyId key = kNoKey;
    REGSAM access = 0;
  };
  HKEY addHandle(KeyId key, REGSAM access);
  OpenKey* findHandle(HKEY handle);
  bool closeHandle(HKEY handle);
  std::size_t openHandleCount() const { return m_handles.size(); }

 private:
  RegistryStore(std::filesystem::path path, LockedFile file, RegistryTree tree,
                Regedit4Layout layout);

  std::filesystem::path m_path;
  LockedFile m_file;
  bool m_inMemory = false;
  bool m_dirty = false;
  bool m_previewing = false;
  bool m_damaged = false;
  RegistryTree m_tree;
  Regedit4Layout m_layout;
  std::unordered_map<std::uintptr_t, OpenKey> m_handles;
};

// The store that the Reg*A functions act on; nullptr makes them fail with
// ERROR_INVALID_HANDLE, as there is no registry behind any handle.
void SetActiveRegistry(RegistryStore* store);
RegistryStore* ActiveRegistry();
