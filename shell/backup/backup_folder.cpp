#include "shell/backup/backup_folder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/durable/durable_file.h"
#include "shell/backup/whole_file.h"

namespace backup {

namespace fs = std::filesystem;

fs::path backupsFolder(const fs::path& machine_dir) { return machine_dir / "backups"; }

std::vector<fs::path> listBackupFolders(const fs::path& machine_dir) {
  std::vector<fs::path> folders;
  std::error_code ec;
  // Stepping with increment(ec): the ++ of a range-for throws when reading
  // the folder fails part way.
  for (fs::directory_iterator it(backupsFolder(machine_dir), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code type_ec;
    if (name.rfind("uinq76-", 0) == 0 && it->is_directory(type_ec) && !it->is_symlink(type_ec))
      folders.push_back(it->path());
  }
  std::sort(folders.begin(), folders.end());
  return folders;
}

Result<fs::path> createBackupFolder(const fs::path& machine_dir, std::time_t when) {
  const fs::path parent = backupsFolder(machine_dir);
  if (::mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST)
    return Error{parent.string() + ": cannot create the folder: " + std::strerror(errno)};
  if (auto flushed = durable::flushFolder(machine_dir); !flushed) return Error{flushed.error()};
  std::tm utc{};
  gmtime_r(&when, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "uinq76-%Y%m%d-%H%M%S", &utc);
  for (int attempt = 1; attempt < 100; ++attempt) {
    std::string name = stamp;
    if (attempt > 1) {
      char suffix[8];
      std::snprintf(suffix, sizeof suffix, "-%02d", attempt);
      name += suffix;
    }
    const fs::path folder = parent / name;
    if (::mkdir(folder.c_str(), 0755) == 0) {
      if (auto flushed = durable::flushFolder(parent); !flushed) return Error{flushed.error()};
      return folder;
    }
    if (errno != EEXIST)
      return Error{folder.string() + ": cannot create the folder: " + std::strerror(errno)};
  }
  return Error{parent.string() + ": too many backups in one second"};
}

fs::path manifestPath(const fs::path& backup_dir) { return backup_dir / "manifest.txt"; }

Result<Manifest> readManifest(const fs::path& backup_dir) {
  const auto text = readWholeFile(manifestPath(backup_dir));
  if (!text) return Error{text.error()};
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
