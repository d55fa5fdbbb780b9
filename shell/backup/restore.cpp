#include "shell/backup/restore.h"

#include <sys/stat.h>

#include <optional>
#include <utility>

#include "platform/durable/durable_file.h"
#include "platform/fs/drives.h"
#include "platform/registry/regedit4_parser.h"
#include "platform/text/ascii.h"
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
    if (!bytes) return Error{windows_path + ": " + bytes.error(), bytes.errorCode()};
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
// A file the run wrote that is no longer what it left: after a whole run it
// was changed by someone else; after a cut-off one the run must be finished
// first, which may write it again.
std::string changedSince(const std::string& windows_path, const Manifest& m) {
  return windows_path +
         (m.finished || m.done.count(m.steps)
              ? ": changed since the uninstall"
              : ": changed since the backup; finish the interrupted uninstall first");
}

int stepsInRegistry(const Manifest& m, const std::string& digest) {
  if (digest == m.registryBefore) return 0;
  for (int step = m.steps; step >= 1; --step) {
    const auto after = m.registryAfter.find(step);
    if (after != m.registryAfter.end() && after->second == digest) return step;
  }
  return -1;
}

// The run of a backup as a restore reads it; nothing when there is nothing
// to restore (`outcome` says why) and an error when the backup is unusable.
Result<std::optional<Manifest>> startRestore(const fs::path& backup_dir, RestoreOutcome& outcome) {
  auto read = readManifest(backup_dir);
  if (!read) return read.failure();
  const Manifest& m = read.value();
  if (!m.complete)
    return Error{backup_dir.string() + ": the backup is incomplete; its run removed nothing"};
  if (m.restored) {
    outcome.alreadyRestored = true;
    return std::optional<Manifest>();
  }
  return std::optional<Manifest>(std::move(read).value());
}

// The deleted files and the startup file to be written back; each place
// where that would overwrite a later change is a conflict.
Result<void> planFileWrites(const fs::path& backup_dir, const Manifest& m, RestoreOutcome& outcome,
                            std::vector<FileWrite>& writes) {
  // Deleted files come back where they were, unless something else is there.
  for (const auto& [step, files] : m.files) {
    for (const auto& file : files) {
      const auto looked = lookAt(file.windowsPath);
      if (!looked) {
        outcome.conflicts.push_back(looked.error());
        continue;
      }
      const CurrentFile& current = looked.value();
      // An empty file where the copy goes is what a restore cut off by a
      // power cut leaves on FAT (the name on the disk, its data not yet):
      // it holds nothing to lose, and the copy takes its place.
      const bool left_empty = current.exists && current.digest == sha256Hex("");
      if (current.exists && !left_empty) {
        if (current.digest != file.sha256)
          outcome.conflicts.push_back(file.windowsPath + ": a different file stands there now");
      } else if (left_empty && file.sha256 != current.digest) {
        auto copy = readCopy(backup_dir, file);
        if (!copy) return copy.failure();
        writes.push_back({current.host, std::move(copy).value(), file.mode,
                          durable::Existing::Replace,
                          file.windowsPath + " (in place of an empty file a cut-off restore left)"});
      } else if (!current.exists) {
        auto copy = readCopy(backup_dir, file);
        if (!copy) return copy.failure();
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
        outcome.conflicts.push_back(changedSince(startup.windowsPath, m));
      } else {
        auto copy = readCopy(backup_dir, startup);
        if (!copy) return copy.failure();
        writes.push_back({current.host, std::move(copy).value(), startup.mode,
                          current.exists ? durable::Existing::Replace : durable::Existing::Keep,
                          startup.windowsPath});
      }
    }
  }
  return {};
}

// Writes the files back, the registry by `write_registry` (then says so with
// `registry_line`, when there is one), and records the restore; nothing when
// a conflict was found.
Result<RestoreOutcome> finishRestore(const fs::path& backup_dir, RestoreOutcome outcome,
                                     const std::vector<FileWrite>& writes,
                                     const std::function<Result<void>()>& write_registry,
                                     const std::string& registry_line = {}) {
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
      return written.failure();
    outcome.restored.push_back(write.windowsPath);
  }
  if (write_registry) {
    if (auto written = write_registry(); !written) return written.failure();
    if (!registry_line.empty()) outcome.restored.push_back(registry_line);
  }
  if (auto appended = durable::appendLine(manifestPath(backup_dir), "restored"); !appended)
    return appended.failure();
  return outcome;
}

}  // namespace

Result<RestoreOutcome> restoreBackup(const fs::path& backup_dir, RegistryStore& store) {
  RestoreOutcome outcome;
  auto started = startRestore(backup_dir, outcome);
  if (!started) return started.failure();
  if (!started.value()) return outcome;
  const Manifest& m = *started.value();
  std::vector<FileWrite> writes;
  if (auto planned = planFileWrites(backup_dir, m, outcome, writes); !planned)
    return planned.failure();

  // The registry: the removals of the steps that went through, last first,
  // on a copy that replaces the registry only when all of them fit.
  RegistryTree tree = cloneRegistryTree(store.tree());
  const std::string digest = m.fingerprint == RegistryFingerprint::Tree
                                 ? registryDigest(tree)
                                 : registryTextDigest(tree, store.layout());
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
    if (!text) return text.failure();
    auto saved = parseRegedit4(text.value(), reg_file.string());
    if (!saved) return saved.failure();
    auto conflicts = putBackRemovals(tree, saved.value(), removals->second);
    outcome.conflicts.insert(outcome.conflicts.end(), conflicts.begin(), conflicts.end());
    registry_changed = true;
    outcome.restored.push_back("registry: " + std::to_string(removals->second.keys.size()) +
                               " keys and " + std::to_string(removals->second.values.size()) +
                               " values of step " + std::to_string(step));
  }
  std::function<Result<void>()> write_registry;
  if (registry_changed) {
    write_registry = [&]() -> Result<void> {
      store.tree() = std::move(tree);
      store.markDirty();
      return store.flush();
    };
  }
  return finishRestore(backup_dir, std::move(outcome), writes, write_registry);
}

Result<RestoreOutcome> restoreBackup(const fs::path& backup_dir,
                                     const WholeRegistryFile& registry) {
  RestoreOutcome outcome;
  auto started = startRestore(backup_dir, outcome);
  if (!started) return started.failure();
  if (!started.value()) return outcome;
  const Manifest& m = *started.value();
  const SavedFile& saved = m.registryFile;
  if (!saved.present())
    return Error{backup_dir.string() + ": the backup holds no copy of " + registry.windowsPath +
                 " (it was not made on this Windows 95 drive, or by an older version)"};
  if (!ascii::equalsIgnoringCase(saved.windowsPath, registry.windowsPath))
    return Error{backup_dir.string() + ": the backup holds " + saved.windowsPath +
                 ", but the drive's registry is " + registry.windowsPath};
  std::vector<FileWrite> writes;
  if (auto planned = planFileWrites(backup_dir, m, outcome, writes); !planned)
    return planned.failure();

  // SYSTEM.DAT goes back whole when it is a file the run wrote; it is the
  // copy already when a restore was cut off after putting it back.
  std::function<Result<void>()> write_registry;
  if (registry.sha256 != saved.sha256) {
    if (!m.registryFileAfter.count(registry.sha256)) {
      outcome.conflicts.push_back(changedSince(registry.windowsPath, m));
    } else {
      auto copy = readCopy(backup_dir, saved);
      if (!copy) return copy.failure();
      write_registry = [&registry, bytes = std::move(copy).value()] {
        return registry.replace(bytes);
      };
    }
  }
  return finishRestore(backup_dir, std::move(outcome), writes, write_registry,
                       registry.windowsPath + " (the registry as before the run)");
}

}  // namespace backup
