#include "shell/backup/backup_writer.h"

#include <sys/stat.h>

#include <cstdio>

#include "platform/durable/durable_file.h"
#include "platform/registry/regedit4_writer.h"
#include "shell/backup/backup_folder.h"
#include "shell/backup/manifest.h"
#include "shell/backup/sha256.h"
#include "shell/backup/whole_file.h"

namespace backup {

namespace fs = std::filesystem;

namespace {

// Copies a file into the backup under `copy_name` and describes it.
Result<SavedFile> saveFile(const fs::path& folder, const PlannedFile& file,
                           const std::string& copy_name) {
  const auto bytes = readWholeFile(file.host);
  if (!bytes) return bytes.failure();
  struct stat st {};
  if (::lstat(file.host.c_str(), &st) != 0)
    return Error{file.host.string() + ": cannot read its mode"};
  if (auto written =
          durable::writeFile({folder / copy_name, 0600, durable::Existing::Keep}, bytes.value());
      !written)
    return written.failure();
  return SavedFile{file.windowsPath, copy_name, sha256Hex(bytes.value()), st.st_mode & 07777};
}

std::string timeText(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

}  // namespace

namespace {

// Everything of the backup into `folder`, each file flushed, the manifest last.
Result<void> writeContents(const fs::path& folder, const PlannedRun& run, std::time_t when) {
  Manifest manifest;
  manifest.created = timeText(when);
  manifest.title = run.title;
  manifest.keyName = run.keyName;
  manifest.steps = run.steps;
  manifest.fingerprint = RegistryFingerprint::Tree;
  manifest.registryBefore = run.registryBefore;
  manifest.registryAfter = run.registryAfter;

  for (const auto& [step, removals] : run.removals) {
    if (removals.empty()) continue;
    const auto tree = run.removedTrees.find(step);
    if (tree == run.removedTrees.end()) continue;
    const std::string name = "registry-" + std::to_string(step) + ".reg";
    if (auto written = durable::writeFile({folder / name, 0600, durable::Existing::Keep},
                                          writeRegedit4(tree->second));
        !written)
      return written.failure();
    manifest.registry[step] = removals;
  }

  int count = 0;
  for (const auto& [step, files] : run.deletions) {
    for (const auto& file : files) {
      auto saved = saveFile(folder, file, "file-" + std::to_string(++count));
      if (!saved) return saved.failure();
      manifest.files[step].push_back(std::move(saved).value());
    }
  }

  manifest.startupFile.windowsPath = run.startupFile.windowsPath;
  if (!run.startupFile.host.empty()) {
    auto saved = saveFile(folder, run.startupFile, "startup-file");
    if (!saved) return saved.failure();
    manifest.startupFile = std::move(saved).value();
  }

  if (!run.registryFile.host.empty()) {
    auto saved = saveFile(folder, run.registryFile, "registry-file");
    if (!saved) return saved.failure();
    manifest.registryFile = std::move(saved).value();
  }

  if (auto written = durable::writeFile({manifestPath(folder), 0600, durable::Existing::Keep},
                                        formatManifest(manifest));
      !written)
    return written.failure();
  return {};
}

}  // namespace

Result<fs::path> writeBackup(const fs::path& machine_dir, const PlannedRun& run, std::time_t when) {
  auto created = createPartialBackupFolder(machine_dir, when);
  if (!created) return created;
  const fs::path partial = created.value();
  auto written = writeContents(partial, run, when);
  Result<fs::path> published =
      written ? publishBackupFolder(partial) : Result<fs::path>(written.failure());
  if (!published) {
    // Nothing of a backup that could not be written whole stays behind.
    std::error_code ec;
    fs::remove_all(partial, ec);
  }
  return published;
}

}  // namespace backup
