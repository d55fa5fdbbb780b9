#include "shell/backup/backup_folder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/durable/durable_file.h"
#include "shell/backup/whole_file.h"

namespace backup {

namespace fs = std::filesystem;

fs::path backupsFolder(const fs::path& machine_dir) { return machine_dir / "backups"; }

namespace {

// A backup folder whose manifest is not there, or empty: the folder of a run
// that was stopped while it wrote its backup, before it removed anything.
// (The manifest is written last, whole; on FAT a cut can leave its name with
// no data yet.)
bool isUnfinished(const fs::path& folder) {
  struct stat st {};
  if (::lstat(manifestPath(folder).c_str(), &st) != 0) return errno == ENOENT;
  return S_ISREG(st.st_mode) && st.st_size == 0;
}

}  // namespace

std::vector<fs::path> listBackupFolders(const fs::path& machine_dir) {
  std::vector<fs::path> folders;
  std::error_code ec;
  // Stepping with increment(ec): the ++ of a range-for throws when reading
  // the folder fails part way.
  for (fs::directory_iterator it(backupsFolder(machine_dir), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code type_ec;
    if (name.rfind("uinq76-", 0) == 0 && it->is_directory(type_ec) && !it->is_symlink(type_ec) &&
        !isUnfinished(it->path()))
      folders.push_back(it->path());
  }
  std::sort(folders.begin(), folders.end());
  return folders;
}

namespace {

// Earlier versions wrote a backup under this prefix and renamed the folder
// when it was complete.
constexpr std::string_view kPartialPrefix = ".partial-";

std::string stampOf(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "uinq76-%Y%m%d-%H%M%S", &utc);
  return stamp;
}

// The stamp, then -02, -03, ... for the later attempts.
std::string attemptName(const std::string& stamp, int attempt) {
  if (attempt == 1) return stamp;
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, "-%02d", attempt);
  return stamp + suffix;
}

constexpr int kAttempts = 100;

Error folderError(const fs::path& folder, const char* what, int error) {
  return Error{folder.string() + ": " + what + ": " + std::strerror(error), error};
}

}  // namespace

// A backup holds the whole registry and the user's own files: its folders
// are the owner's alone, as its copies are.
Result<fs::path> createPartialBackupFolder(const fs::path& machine_dir, std::time_t when) {
  const fs::path parent = backupsFolder(machine_dir);
  if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST)
    return folderError(parent, "cannot create the folder", errno);
  if (auto flushed = durable::flushFolder(machine_dir); !flushed) return flushed.failure();
  const std::string stamp = stampOf(when);
  for (int attempt = 1; attempt < kAttempts; ++attempt) {
    const fs::path folder = parent / attemptName(stamp, attempt);
    if (::mkdir(folder.c_str(), 0700) == 0) {
      if (auto flushed = durable::flushFolder(parent); !flushed) return flushed.failure();
      return folder;
    }
    if (errno != EEXIST) return folderError(folder, "cannot create the folder", errno);
  }
  return Error{parent.string() + ": too many backups in one second"};
}

Result<fs::path> publishBackupFolder(const fs::path& partial) {
  // The copies and the manifest are flushed with their folder as each is
  // written; the folder once more, so that its entries are surely there.
  if (auto flushed = durable::flushFolder(partial); !flushed) return flushed.failure();
  return partial;
}

RemovedPartials removePartialBackups(const fs::path& machine_dir) {
  RemovedPartials removed;
  std::vector<fs::path> partials;
  std::error_code ec;
  for (fs::directory_iterator it(backupsFolder(machine_dir), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code type_ec;
    if (name.rfind(kPartialPrefix, 0) == 0 ||
        (name.rfind("uinq76-", 0) == 0 && it->is_directory(type_ec) && !it->is_symlink(type_ec) &&
         isUnfinished(it->path())))
      partials.push_back(it->path());
  }
  if (partials.empty()) return removed;
  std::sort(partials.begin(), partials.end());
  for (const fs::path& partial : partials) {
    // A link is removed itself, never what it leads to.
    std::error_code remove_ec;
    fs::remove_all(partial, remove_ec);
    if (remove_ec)
      removed.errors.push_back(partial.string() + ": cannot remove it: " + remove_ec.message());
    else
      removed.names.push_back(partial.filename().string());
  }
  if (auto flushed = durable::flushFolder(backupsFolder(machine_dir)); !flushed)
    removed.errors.push_back(flushed.error());
  return removed;
}

fs::path manifestPath(const fs::path& backup_dir) { return backup_dir / "manifest.txt"; }

Result<Manifest> readManifest(const fs::path& backup_dir) {
  const auto text = readWholeFile(manifestPath(backup_dir));
  if (!text) return text.failure();
  return parseManifest(text.value(), manifestPath(backup_dir).string());
}

fs::path findBackupFolder(const fs::path& machine_dir, const std::string& name) {
  const fs::path given(name);
  const fs::path listed = backupsFolder(machine_dir) / name;
  std::error_code ec;
  if (given.filename() == given && fs::is_directory(listed, ec)) return listed;
  return given;
}

std::string describeBackup(const fs::path& backup_dir) {
  const std::string name = backup_dir.filename().string();
  auto manifest = readManifest(backup_dir);
  if (!manifest) return name + "  unreadable: " + manifest.error();
  const Manifest& m = manifest.value();
  std::string state;
  if (!m.complete) {
    state = "incomplete backup; the run removed nothing";
  } else if (m.restored) {
    state = "restored";
  } else if (m.finished || m.done.count(m.steps)) {
    state = "uninstalled";
  } else {
    const int next = m.firstStepNotDone();
    state = next == 1 ? "interrupted before its first step"
                      : "interrupted after step " + std::to_string(next - 1) + " of " +
                            std::to_string(m.steps);
  }
  std::size_t keys = 0, values = 0, files = 0;
  for (const auto& [step, removals] : m.registry) {
    keys += removals.keys.size();
    values += removals.values.size();
  }
  for (const auto& [step, list] : m.files) files += list.size();
  return name + "  " + m.created + "  \"" + displayText(m.title) + "\"  " + state + "  (" +
         std::to_string(keys) + " keys, " + std::to_string(values) + " values, " +
         std::to_string(files) + " files)";
}

}  // namespace backup
