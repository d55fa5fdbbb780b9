#include "shell/backup/restore.h"

#include <sys/stat.h>

#include "platform/durable/durable_file.h"
#include "platform/fs/drives.h"
#include "platform/registry/regedit4_parser.h"
#include "platform/registry/regedit4_writer.h"
#include "shell/backup/backup_folder.h"
#include "shell/backup/manifest.h"
#include "shell/backup/registry_changes.h"
#include "shell/backup/sha256.h"
#include "shell/backup/whole_file.h"

namespace backup {

namespace fs = std::filesystem;

namespace {

// A file of the drives to be written back.
struct FileWrite {
  fs::path host;
  std::string bytes;
  unsigned mode = 0;
  durable::Existing existing = durable::Existing::Keep;
  std::string windowsPath;
};

// What stands at a Windows path now: absent, or its bytes.
struct CurrentFile {
  fs::path host;
  bool exists = false;
  std::string digest;
};

// Fails when the path cannot be used.
Result<CurrentFile> lookAt(const std::string& windows_path) {
  const ResolvedPath resolved = resolveWindowsPath(windows_path, LastComponent::DoNotFollow);
  if (!resolved.ok() || resolved.given_name.empty())
    return Error{windows_path + ": the path cannot be reached on its drive"};
  CurrentFile current;
  current.host = resolved.exists ? resolved.host : resolved.parent / resolved.given_name;
  current.exists = resolved.exists;
  if (current.exists) {
    const auto bytes = readWholeFile(current.host);
    if (!bytes) return Error{windows_path + ": " + bytes.error()};
    current.digest = sha256Hex(bytes.value());
  }
  return current;
}

// The copy in the backup, checked against its digest.
Result<std::string> readCopy(const fs::path& backup_dir, const SavedFile& file) {
  auto bytes = readWholeFile(backup_dir / file.copy);
  if (!bytes) return bytes;
  if (sha256Hex(bytes.value()) != file.sha256)
    return Error{(backup_dir / file.copy).string() + ": the copy is damaged (its digest differs)"};
  return bytes;
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
    return Error{backup_dir.string() + ": the backup is incomplete; its run removed nothing"};
  RestoreOutcome outcome;
  if (m.restored) {
    outcome.alreadyRestored = true;
    return outcome;
  }
  std::vector<FileWrite> writes;

  // Deleted files come back where they were, unless something else is there.
  for (const auto& [step, files] : m.files) {
    for (const auto& file : files) {
      const auto looked = lookAt(file.windowsPath);
      if (!looked) {
        outcome.conflicts.push_back(looked.error());
        continue;
      }
      const CurrentFile& current = looked.value();
      if (current.exists) {
        if (current.digest != file.sha256)
          outcome.conflicts.push_back(file.windowsPath + ": a different file stands there now");
      } else {
        auto copy = readCopy(backup_dir, file);
        if (!copy) return Error{copy.error()};
        writes.push_back({current.host, std::move(copy).value(), file.mode, durable::Existing::Keep,
                          file.windowsPath});
      }
    }
  }

  // The startup file goes back as it was, from the state the run left it in.
  const SavedFile& startup = m.startupFile;
  if (startup.present()) {
    const auto looked = lookAt(startup.windowsPath);
    if (!looked) {
      outcome.conflicts.push_back(looked.error());
    } else if (const CurrentFile& current = looked.value();
               !current.exists || current.digest != startup.sha256) {
      const bool left_by_run =
          current.exists && m.startupFileAfter && current.digest == *m.startupFileAfter;
      if (current.exists && !left_by_run) {
        outcome.conflicts.push_back(
            startup.windowsPath +
            (m.finished || m.done.count(m.steps)
                 ? ": changed since the uninstall"
                 : ": changed since the backup; finish the interrupted uninstall first"));
      } else {
        auto copy = readCopy(backup_dir, startup);
        if (!copy) return Error{copy.error()};
        writes.push_back({current.host, std::move(copy).value(), startup.mode,
                          current.exists ? durable::Existing::Replace : durable::Existing::Keep,
                          startup.windowsPath});
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
    const auto text = readWholeFile(reg_file);
    if (!text) return Error{text.error()};
    auto saved = parseRegedit4(text.value(), reg_file.string());
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
    if (auto written =
            durable::writeFile({write.host, write.mode & 0777, write.existing}, write.bytes);
        !written)
      return Error{written.error()};
    outcome.restored.push_back(write.windowsPath);
  }
  if (registry_changed) {
    store.tree() = std::move(tree);
    store.markDirty();
    if (auto flushed = store.flush(); !flushed) return Error{flushed.error()};
  }
  if (auto appended = durable::appendLine(manifestPath(backup_dir), "restored"); !appended)
    return Error{appended.error()};
  return outcome;
}

}  // namespace backup
