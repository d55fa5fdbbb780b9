#include "platform/backup/restore.h"

#include <sys/stat.h>

#include <optional>

#include "platform/backup/backup_folder.h"
#include "platform/backup/durable_file.h"
#include "platform/backup/manifest.h"
#include "platform/backup/registry_changes.h"
#include "platform/backup/sha256.h"
#include "platform/fs/drives.h"
#include "platform/registry/regedit4_parser.h"
#include "platform/registry/regedit4_writer.h"

namespace backup {

namespace fs = std::filesystem;

namespace {

// A file of the drives to be written back.
struct FileWrite {
  fs::path host;
  std::string bytes;
  unsigned mode = 0;
  bool replace = false;
  std::string windowsPath;
};

// What stands at a Windows path now: absent, or its bytes.
struct CurrentFile {
  std::string error;  // set when the path cannot be used
  fs::path host;
  bool exists = false;
  std::string digest;
};

CurrentFile lookAt(const std::string& windows_path) {
  CurrentFile current;
  const ResolvedPath resolved = resolveWindowsPath(windows_path, LastComponent::DoNotFollow);
  if (!resolved.ok() || resolved.given_name.empty()) {
    current.error = windows_path + ": the path cannot be reached on its drive";
    return current;
  }
  current.host = resolved.exists ? resolved.host : resolved.parent / resolved.given_name;
  current.exists = resolved.exists;
  if (current.exists) {
    std::string bytes;
    if (auto error = readWholeFile(current.host, bytes)) {
      current.error = windows_path + ": " + *error;
      return current;
    }
    current.digest = sha256Hex(bytes);
  }
  return current;
}

// The copy in the backup, checked against its digest.
std::optional<std::string> readCopy(const fs::path& backup_dir, const SavedFile& file,
                                    std::string& bytes) {
  if (auto error = readWholeFile(backup_dir / file.copy, bytes)) return error;
  if (sha256Hex(bytes) != file.sha256)
    return (backup_dir / file.copy).string() + ": the copy is damaged (its digest differs)";
  return std::nullopt;
}

// The registry steps whose removals are in the registry now: known exactly
// when the registry is in one of the states the backup recorded, else taken
// from the steps the run recorded as done.
int stepsInRegistry(const Manifest& m, const std::string& digest) {
  if (digest == m.registryBefore) return 0;
  for (int step = m.steps; step >= 1; --step) {
    const auto after = m.registryAfter.find(step);
    if (after != m.registryAfter.end() && after->second == digest) return step;
  }
  return -1;
}

}  // namespace

Result<RestoreOutcome> restoreBackup(const fs::path& backup_dir, RegistryStore& store) {
  auto read = readManifest(backup_dir);
  if (!read) return Error{read.error()};
  const Manifest& m = read.value();
  if (!m.complete)
    return Error{backup_dir.string() +
                         ": the backup is incomplete; its run removed nothing"};
  RestoreOutcome outcome;
  if (m.restored) {
    outcome.alreadyRestored = true;
    return outcome;
  }
  std::vector<FileWrite> writes;

  // Deleted files come back where they were, unless something else is there.
  for (const auto& [step, files] : m.files) {
    for (const auto& file : files) {
      const CurrentFile current = lookAt(file.windowsPath);
      if (!current.error.empty()) {
        outcome.conflicts.push_back(current.error);
      } else if (current.exists) {
        if (current.digest != file.sha256)
          outcome.conflicts.push_back(file.windowsPath + ": a different file stands there now");
      } else {
        FileWrite write{current.host, {}, file.mode, false, file.windowsPath};
        if (auto error = readCopy(backup_dir, file, write.bytes)) return Error{*error};
        writes.push_back(std::move(write));
      }
    }
  }

  // The startup file goes back as it was, from the state the run left it in.
  const SavedFile& startup = m.startupFile;
  if (startup.present()) {
    const CurrentFile current = lookAt(startup.windowsPath);
    if (!current.error.empty()) {
      outcome.conflicts.push_back(current.error);
    } else if (!current.exists || current.digest != startup.sha256) {
      const bool left_by_run =
          current.exists && m.startupFileAfter && current.digest == *m.startupFileAfter;
      if (current.exists && !left_by_run) {
        outcome.conflicts.push_back(
            startup.windowsPath +
            (m.finished || m.done.count(m.steps)
                 ? ": changed since the uninstall"
                 : ": changed since the backup; finish the interrupted uninstall first"));
      } else {
        FileWrite write{current.host, {}, startup.mode, current.exists, startup.windowsPath};
        if (auto error = readCopy(backup_dir, startup, write.bytes)) return Error{*error};
        writes.push_back(std::move(write));
      }
    }
  }

  // The registry: the removals of the steps that went through, last first,
  // on a copy that replaces the registry only when all of them fit.
  RegistryTree tree = cloneRegistryTree(store.tree());
  const std::string digest = sha256Hex(writeRegedit4(tree));
  int applied = stepsInRegistry(m, digest);
  if (applied < 0) {
    applied = 0;
    for (int step = 1; step <= m.steps; ++step)
      if (m.done.count(step)) applied = step;
    if (m.started.count(applied + 1) && !m.done.count(applied + 1) && m.registry.count(applied + 1))
      outcome.conflicts.push_back("the registry changed since step " + std::to_string(applied + 1) +
                                  " was cut off; what that step removed cannot be told");
  }
  bool registry_changed = false;
  for (int step = applied; step >= 1; --step) {
    const auto removals = m.registry.find(step);
    if (removals == m.registry.end() || removals->second.empty()) continue;
    const fs::path reg_file = backup_dir / ("registry-" + std::to_string(step) + ".reg");
    std::string text;
    if (auto error = readWholeFile(reg_file, text)) return Error{*error};
    auto saved = parseRegedit4(text, reg_file.string());
    if (!saved) return Error{saved.error()};
    auto conflicts = putBackRemovals(tree, saved.value(), removals->second);
    outcome.conflicts.insert(outcome.conflicts.end(), conflicts.begin(), conflicts.end());
    registry_changed = true;
    outcome.restored.push_back("registry: " + std::to_string(removals->second.keys.size()) +
                               " keys and " + std::to_string(removals->second.values.size()) +
                               " values of step " + std::to_string(step));
  }
  if (!outcome.conflicts.empty()) {
    outcome.restored.clear();
    return outcome;
  }

  for (const auto& write : writes) {
    // Files come back with their permission bits; a set-user-ID or similar
    // bit from a manifest is never given to a file.
    if (auto error = writeFileDurably(write.host, write.bytes, write.mode & 0777, write.replace))
      return Error{*error};
    outcome.restored.push_back(write.windowsPath);
  }
  if (registry_changed) {
    store.tree() = std::move(tree);
    store.markDirty();
    if (auto error = store.flush()) return Error{*error};
  }
  if (auto error = appendLineDurably(manifestPath(backup_dir), "restored"))
    return Error{*error};
  return outcome;
}

}  // namespace backup
