#include "tests/e2e/machine_forms.h"

#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "platform/creg/creg_tree.h"
#include "platform/registry/regedit4_parser.h"
#include "platform/registry/regedit4_writer.h"
#include "tools/creg/creg_generator.h"
#include "tools/demo/demo_machine.h"

namespace e2e {

namespace fs = std::filesystem;

namespace {

std::string readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

RegistryTree parse(const std::string& text, const std::string& source) {
  auto tree = parseRegedit4(text, source);
  if (!tree) throw std::runtime_error(tree.error());
  return std::move(tree).value();
}

// The profiles below HKLM\Config, or 0001 where there is none.
std::vector<std::string> profilesOf(const RegistryTree& tree) {
  std::vector<std::string> profiles;
  const KeyId config =
      tree.findSubkey(RegistryTree::rootKey(RootKey::LocalMachine), std::string_view("Config"));
  if (config != kNoKey)
    tree.forEachSubkey(config, [&](KeyId key) { profiles.emplace_back(tree.name(key)); });
  if (profiles.empty()) profiles.emplace_back("0001");
  return profiles;
}

// The REGEDIT4 header and the sections of HKEY_LOCAL_MACHINE. The root key's
// own section, empty, is written for a tree read from SYSTEM.DAT and not for
// one read from REGEDIT4 text: it says nothing of the content and is left out.
std::string localMachine(const RegistryTree& tree) {
  std::string text = writeRegedit4(tree);
  dropKeys(text, "HKEY_CURRENT_CONFIG");
  const std::string empty_root = "\r\n[HKEY_LOCAL_MACHINE]\r\n\r\n";
  if (const std::size_t at = text.find(empty_root); at != std::string::npos)
    text.erase(at + 2, empty_root.size() - 2);
  return text;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
    text.replace(at, from.size(), to), at += to.size();
}

Snapshot drives(const fs::path& c, const fs::path& d) {
  Snapshot both;
  for (auto& [path, content] : snapshotMachine(c))
    if (path != "WINDOWS/SYSTEM.DAT") both["C:/" + path] = content;
  for (auto& [path, content] : snapshotMachine(d)) both["D:/" + path] = content;
  return both;
}

Snapshot backup(const fs::path& machine) {
  const fs::path folder = newestCompleteBackup(machine);
  if (folder.empty()) return {};
  Snapshot files = snapshotMachine(folder);
  // Only a drive's backup holds SYSTEM.DAT whole, for the restore.
  files.erase("registry-file");
  std::string manifest;
  std::istringstream lines(files["manifest.txt"]);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("created ", 0) == 0 || line.rfind("registry-before ", 0) == 0 ||
        line.rfind("registry-after ", 0) == 0 || line.rfind("registry-file ", 0) == 0 ||
        line.rfind("registry-file-after ", 0) == 0)
      continue;
    manifest += line + "\n";
  }
  files["manifest.txt"] = manifest;
  return files;
}

}  // namespace

void dropKeys(std::string& registry, const std::string& prefix) {
  // The store writes each key as one section: its header line, its values and
  // an empty line.
  std::string kept;
  std::size_t at = 0;
  while (at < registry.size()) {
    std::size_t end = registry.find("\r\n\r\n", at);
    end = end == std::string::npos ? registry.size() : end + 4;
    const std::string_view section(registry.data() + at, end - at);
    const std::string header = "[" + prefix;
    const bool dropped = section.substr(0, header.size()) == header &&
                         (section.size() == header.size() || section[header.size()] == ']' ||
                          section[header.size()] == '\\');
    if (!dropped) kept += section;
    at = end;
  }
  registry = kept;
}

MachineForms::MachineForms(const std::function<void(std::string& registry)>& edit)
    : m_directory(m_temp.path() / "machine"),
      m_driveC(m_temp.path() / "drive-c"),
      m_driveD(m_temp.path() / "drive-d") {
  if (auto error = demo::writeDemoMachine(m_directory)) throw std::runtime_error(*error);
  std::string registry = readBytes(m_directory / "registry.reg");
  if (edit) {
    edit(registry);
    writeBytes(m_directory / "registry.reg", registry);
  }

  fs::copy(m_directory / "drive_c", m_driveC, fs::copy_options::recursive);
  fs::copy(m_directory / "drive_d", m_driveD, fs::copy_options::recursive);
  RegistryTree tree = parse(registry, "registry.reg");
  m_profiles = profilesOf(tree);
  demo::layCurrentConfigOverProfiles(tree, m_profiles);
  auto file =
      creg_gen::generate(tree, RegistryTree::rootKey(RootKey::LocalMachine), creg_gen::Options{});
  if (!file) throw std::runtime_error("SYSTEM.DAT: " + file.error());
  writeBytes(
      m_driveC / "WINDOWS/SYSTEM.DAT",
      std::string_view(reinterpret_cast<const char*>(file.value().data()), file.value().size()));
}

std::vector<std::string> MachineForms::directoryArgs() const {
  return {"--machine=" + m_directory.string(), "--ui", "text"};
}

std::vector<std::string> MachineForms::driveArgs() const {
  return {"--machine=" + m_driveC.string(), "--drive", "D:=" + m_driveD.string(), "--ui", "text"};
}

std::string MachineForms::directoryRegistry() const {
  RegistryTree tree = parse(readBytes(m_directory / "registry.reg"), "registry.reg");
  demo::layCurrentConfigOverProfiles(tree, m_profiles);
  return localMachine(tree);
}

std::string MachineForms::driveRegistry() const {
  const std::string bytes = readBytes(m_driveC / "WINDOWS/SYSTEM.DAT");
  auto loaded = creg::loadFile(
      std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "SYSTEM.DAT");
  if (!loaded) return "not sound: " + loaded.error();
  return localMachine(loaded.value().tree);
}

Snapshot MachineForms::directoryDrives() const {
  return drives(m_directory / "drive_c", m_directory / "drive_d");
}

Snapshot MachineForms::driveDrives() const { return drives(m_driveC, m_driveD); }

Snapshot MachineForms::directoryBackup() const { return backup(m_directory); }

Snapshot MachineForms::driveBackup() const { return backup(m_driveC); }

std::string MachineForms::normalised(const std::string& output) const {
  std::string text;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(" is a Windows 95 drive C: (") != std::string::npos) continue;
    text += line + "\n";
  }
  replaceAll(text, (m_directory / "drive_c").string(), "<C:>");
  replaceAll(text, (m_directory / "drive_d").string(), "<D:>");
  replaceAll(text, m_directory.string(), "<machine>");
  replaceAll(text, m_driveD.string(), "<D:>");
  replaceAll(text, m_driveC.string(), "<machine>");
  static const std::regex backup_name("uinq76-[0-9]{8}-[0-9]{6}(-[0-9]+)?");
  static const std::regex time("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} UTC");
  return std::regex_replace(std::regex_replace(text, backup_name, "uinq76-<time>"), time, "<time>");
}

std::string firstDifferentLine(const std::string& a, const std::string& b) {
  std::istringstream in_a(a), in_b(b);
  std::string line_a, line_b;
  for (int number = 1;; ++number) {
    const bool more_a = static_cast<bool>(std::getline(in_a, line_a));
    const bool more_b = static_cast<bool>(std::getline(in_b, line_b));
    if (!more_a && !more_b) return {};
    if (!more_a) line_a = "<end>";
    if (!more_b) line_b = "<end>";
    if (line_a != line_b || !more_a || !more_b)
      return "line " + std::to_string(number) + ":\n  " + line_a + "\n  " + line_b;
  }
}

std::string lastProgress(const fs::path& machine) {
  const fs::path backup = newestCompleteBackup(machine);
  if (backup.empty()) return {};
  std::string manifest = readBytes(backup / "manifest.txt");
  while (!manifest.empty() && manifest.back() == '\n') manifest.pop_back();
  return manifest.substr(manifest.rfind('\n') + 1);
}

}  // namespace e2e
