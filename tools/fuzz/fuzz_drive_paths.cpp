// libFuzzer target: Windows paths on a generated drive. The input builds a
// small drive C: (folders, files and symbolic links with any target, the
// drive folder itself a link or not) beside files that lie outside it: in
// the machine directory, in a sibling drive folder drive_c2 and in a folder
// whose name merely begins like the drive's. Then it names Windows paths
// (any "..", doubled or trailing separators, letter case, long names) that
// are resolved, read, created, deleted and renamed. Nothing outside the drive
// may ever be reached: a resolved path lies inside the drive's folder, no
// read returns an outside file's bytes, and every outside file stays as it was.
//
// Input: one byte of choices; one byte counting the entries to make, each a
// kind byte and a length-prefixed path ('\' separated, below the drive) with,
// for a link, a length-prefixed target; then Windows paths, split at zeros.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/fs/drives.h"
#include "platform/fs/file_ops.h"
#include "platform/fs/raw_file.h"
#include "tools/fuzz/fuzz_input.h"
#include "tools/fuzz/scratch_machine.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSecret = "outside-secret";

// The files outside the drive that nothing may reach.
std::vector<fs::path> outsideFiles(const fs::path& machine) {
  return {machine / "outside" / "secret.txt", machine / "drive_c2" / "secret.txt",
          machine / "realdrive2" / "secret.txt", machine / "secret.txt"};
}

void setUpOutside(const fs::path& machine) {
  std::error_code ec;
  for (const fs::path& file : outsideFiles(machine)) {
    fs::create_directories(file.parent_path(), ec);
    (void)fuzz::writeHostFile(file, kSecret);
  }
}

// A host path below `root` from a '\'-separated text; '/' and zero bytes,
// which no host name holds, become '_', and "." and ".." are left out.
// Nothing when a folder on the way is a link: the drive is made only inside.
std::optional<fs::path> below(const fs::path& root, std::string_view text) {
  std::vector<std::string> parts;
  std::string part;
  auto flush = [&] {
    if (!part.empty() && part != "." && part != "..") parts.push_back(part);
    part.clear();
  };
  for (char c : text) {
    if (c == '\\') {
      flush();
    } else {
      part += (c == '/' || c == '\0') ? '_' : c;
    }
  }
  flush();
  if (parts.empty()) return std::nullopt;
  fs::path path = root;
  std::error_code ec;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    path /= parts[i];
    const fs::file_status status = fs::symlink_status(path, ec);
    if (fs::is_symlink(status)) return std::nullopt;
    if (!fs::exists(status) && !fs::create_directory(path, ec)) return std::nullopt;
    if (!fs::is_directory(fs::symlink_status(path, ec))) return std::nullopt;
  }
  path /= parts.back();
  if (fs::exists(fs::symlink_status(path, ec))) return std::nullopt;
  return path;
}

bool within(const fs::path& root, const fs::path& path) {
  std::error_code ec;
  const fs::path real = fs::weakly_canonical(path, ec);
  return !ec && isWithinFolder(root, real);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path& machine = fuzz::scratchMachine();
  std::error_code ec;
  // A fresh drive for every input; the outside files are checked afterwards.
  fs::remove_all(machine / "drive_c", ec);
  fs::remove_all(machine / "realdrive", ec);
  setUpOutside(machine);

  fuzz::InputReader in(data, size);

  const unsigned choice = in.byte();
  fs::path drive_folder = machine / "drive_c";
  if ((choice & 1) != 0) {
    // The drive folder is a link to the real folder, as for a mounted partition.
    fs::create_directory(machine / "realdrive", ec);
    fs::create_directory_symlink("realdrive", drive_folder, ec);
    drive_folder = machine / "realdrive";
  } else {
    fs::create_directory(drive_folder, ec);
  }
  const fs::path root = fs::canonical(drive_folder);

  const unsigned entries = in.byte() % 8;
  for (unsigned i = 0; i < entries; ++i) {
    const unsigned kind = in.byte() % 4;
    const std::optional<fs::path> made = below(root, in.take(in.byte() % 48));
    const std::string target_text(kind >= 2 ? in.take(in.byte() % 48) : std::string_view());
    if (!made) continue;
    const fs::path& path = *made;
    switch (kind) {
      case 0:
        fs::create_directory(path, ec);
        break;
      case 1:
        (void)fuzz::writeHostFile(path, "inside");
        break;
      default: {
        // A link to any text: relative ("..\.." style after the change of
        // separators), absolute, or into the outside folders.
        std::string target = target_text;
        for (char& c : target) {
          if (c == '\\') c = '/';
          if (c == '\0') c = '_';
        }
        if (kind == 3) target = (machine / "outside").native() + "/" + target;
        ::symlink(target.c_str(), path.c_str());
        break;
      }
    }
  }

  std::vector<std::string> paths;
  for (std::string_view rest = in.rest(); !rest.empty() && paths.size() < 8;) {
    const std::size_t zero = rest.find('\0');
    paths.emplace_back(rest.substr(0, zero));
    rest.remove_prefix(zero == std::string_view::npos ? rest.size() : zero + 1);
  }

  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::string& path = paths[i];
    for (LastComponent last : {LastComponent::Follow, LastComponent::DoNotFollow}) {
      const ResolvedPath resolved = resolveWindowsPath(path, last);
      if (!resolved.ok()) continue;
      if (resolved.drive_root != root) std::abort();
      // The folder that holds the entry is always inside the drive, and so is
      // the entry once its link is followed.
      if (!within(root, resolved.parent)) std::abort();
      if (last == LastComponent::Follow && resolved.exists && !within(root, resolved.host)) {
        std::abort();
      }
    }
    const rawfile::Handle file = rawfile::openForReading(path.c_str());
    if (file != rawfile::kNoFile) {
      char bytes[64];
      const std::ptrdiff_t n = rawfile::read(file, bytes, sizeof bytes);
      if (n > 0 && std::string_view(bytes, n) == kSecret) std::abort();
      rawfile::close(file);
    }
    switch ((choice >> 1) % 4) {
      case 1:
        DeleteFileA(path.c_str());
        break;
      case 2:
        if (i + 1 < paths.size()) MoveFileA(path.c_str(), paths[i + 1].c_str());
        break;
      case 3: {
        const rawfile::Handle made = rawfile::createNew(path.c_str());
        if (made != rawfile::kNoFile) {
          rawfile::write(made, "new", 3);
          rawfile::close(made);
        }
        break;
      }
      default:
        break;
    }
  }

  for (const fs::path& outside : outsideFiles(machine)) {
    if (fuzz::readHostFile(outside) != kSecret) std::abort();
  }
  // Nothing new appeared beside the drive either.
  auto entries_in = [](const fs::path& folder) {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
      (void)entry;
      ++count;
    }
    return count;
  };
  // drive_c, drive_c2, outside, realdrive2 and secret.txt, and realdrive.
  if (entries_in(machine) != ((choice & 1) != 0 ? 6u : 5u)) std::abort();
  for (const char* folder : {"outside", "drive_c2", "realdrive2"}) {
    if (entries_in(machine / folder) != 1) std::abort();
  }
  return 0;
}
