// libFuzzer target: any bytes as a backup's manifest, then --restore's work
// with it on a small machine. A manifest is either read or refused with a
// message that names it; a complete one that is read formats and reads back
// to itself.
// Whatever the manifest asks, the restore writes nothing outside the drive,
// follows no link out of it, reads no special file and gives no file a
// set-user-ID, set-group-ID or sticky bit; what it refuses it leaves as it was.
//
// The backup folder holds, beside the manifest, two good copies (file-1 and
// startup-file, whose digests the seeds know), a link to a file outside the
// machine (file-link), a named pipe (file-pipe) and a folder (file-dir).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/registry/registry_store.h"
#include "shell/backup/manifest.h"
#include "shell/backup/restore.h"
#include "tools/fuzz/fuzz_input.h"
#include "tools/fuzz/scratch_machine.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSecret = "outside-secret";
constexpr std::string_view kRegistry =
    "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"Kept\"=\"yes\"\r\n\r\n"
    "[HKEY_CURRENT_CONFIG\\Enum]\r\n";

void writeFile(const fs::path& path, std::string_view bytes, mode_t mode = 0644) {
  if (!fuzz::writeHostFile(path, bytes, mode)) std::abort();
}

std::size_t entriesIn(const fs::path& folder) {
  std::size_t count = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) ++count;
  return count;
}

// The backup folder and what lies outside the drive; made once.
const fs::path& backupFolder() {
  static const fs::path folder = [] {
    const fs::path& machine = fuzz::scratchMachine();
    fs::create_directories(machine / "outside");
    writeFile(machine / "outside" / "secret.txt", kSecret);
    const fs::path made = machine / "backups" / "uinq76-20261207-180000";
    fs::create_directories(made);
    writeFile(made / "file-1", "one\r\n", 0600);
    writeFile(made / "startup-file", "@ECHO OFF\r\n", 0600);
    fs::create_symlink(machine / "outside" / "secret.txt", made / "file-link");
    if (::mkfifo((made / "file-pipe").c_str(), 0600) != 0) std::abort();
    fs::create_directory(made / "file-dir");
    return made;
  }();
  return folder;
}

// The drive as the run left it: AUTOEXEC.BAT edited, an INF deleted, and a
// link out of the drive.
void resetDrive(const fs::path& machine) {
  std::error_code ec;
  fs::remove_all(machine / "drive_c", ec);
  fs::create_directories(machine / "drive_c" / "WINDOWS" / "INF");
  writeFile(machine / "drive_c" / "AUTOEXEC.BAT", "@ECHO OFF\r\nC:\\WINDOWS\\UINQ76D.EXE\r\n");
  fs::create_directory_symlink(machine / "outside", machine / "drive_c" / "OUT");
}

void checkDrive(const fs::path& drive) {
  std::error_code ec;
  for (fs::recursive_directory_iterator it(drive, ec), end; !ec && it != end; it.increment(ec)) {
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0) continue;
    if ((st.st_mode & (S_ISUID | S_ISGID | S_ISVTX)) != 0) std::abort();
    if (S_ISLNK(st.st_mode) && it->path().filename() != "OUT") std::abort();
    if (!S_ISLNK(st.st_mode) && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path& machine = fuzz::scratchMachine();
  const fs::path& folder = backupFolder();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string source = (folder / "manifest.txt").string();

  const auto parsed = backup::parseManifest(text, source);
  if (!parsed) {
    if (parsed.error().rfind(source, 0) != 0) std::abort();  // names the manifest
  } else if (parsed.value().complete) {
    // What the writer writes of a complete manifest reads back to itself.
    const std::string formatted = backup::formatManifest(parsed.value());
    const auto again = backup::parseManifest(formatted, "formatted");
    if (!again || backup::formatManifest(again.value()) != formatted) std::abort();
  }

  resetDrive(machine);
  writeFile(folder / "manifest.txt", text, 0600);
  const std::string autoexec = fuzz::readHostFile(machine / "drive_c" / "AUTOEXEC.BAT");
  auto store = RegistryStore::fromText(kRegistry, "registry.reg");
  if (!store) std::abort();
  const std::string registry = store.value()->toText();

  const auto restored = backup::restoreBackup(folder, *store.value());
  if (!parsed && restored) std::abort();  // a manifest that cannot be read restores nothing
  const bool refused = !restored || !restored.value().conflicts.empty();
  if (!restored && restored.error().empty()) std::abort();
  if (refused && store.value()->toText() != registry) std::abort();
  if (restored && !restored.value().conflicts.empty() &&
      fuzz::readHostFile(machine / "drive_c" / "AUTOEXEC.BAT") != autoexec) {
    std::abort();
  }

  checkDrive(machine / "drive_c");
  if (fuzz::readHostFile(machine / "outside" / "secret.txt") != kSecret) std::abort();
  if (entriesIn(machine / "outside") != 1) std::abort();
  // drive_c, outside, backups and nothing else beside them.
  if (entriesIn(machine) != 3) std::abort();
  if (entriesIn(folder) != 6) std::abort();
  if (fuzz::readHostFile(folder / "file-1") != "one\r\n") std::abort();
  return 0;
}
