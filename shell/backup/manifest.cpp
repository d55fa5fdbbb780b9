#include "shell/backup/manifest.h"

#include <charconv>
#include <set>
#include <sstream>

namespace backup {
namespace {

constexpr std::string_view kMagic = "uinq76-backup 1";

bool isPlain(unsigned char c) { return c > 0x20 && c < 0x7f && c != '%'; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> decodeText(std::string_view word) {
  if (word == "%-") return std::string();
  std::string text;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '%') {
      text += word[i];
      continue;
    }
    if (i + 2 >= word.size()) return std::nullopt;
    const int high = hexValue(word[i + 1]);
    const int low = hexValue(word[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    text += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return text;
}

std::vector<std::string_view> splitWords(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t start = 0;
  while (start <= line.size()) {
    const std::size_t end = std::min(line.find(' ', start), line.size());
    words.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

template <typename T>
bool readNumber(std::string_view word, T& value, int base = 10) {
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value, base);
  return error == std::errc() && end == word.data() + word.size() && !word.empty();
}

// The name of a copy in the backup folder: a plain name, not empty, with no
// folder in it, not hidden and not "." or "..".
bool isCopyName(std::string_view word) {
  return !word.empty() && word.find('/') == std::string_view::npos && word[0] != '.';
}

bool isDigest(std::string_view word) {
  if (word.size() != 64) return false;
  for (const char c : word)
    if (hexValue(c) < 0) return false;
  return true;
}

}  // namespace

int Manifest::firstStepNotDone() const {
  for (int step = 1; step <= steps; ++step)
    if (!done.count(step)) return step;
  return steps + 1;
}

std::string encodeText(std::string_view text) {
  if (text.empty()) return "%-";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string word;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (isPlain(byte)) {
      word += c;
    } else {
      word += '%';
      word += kHex[byte >> 4];
      word += kHex[byte & 15];
    }
  }
  return word;
}

std::string displayText(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 15];
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string formatManifest(const Manifest& m) {
  std::ostringstream out;
  out << kMagic << '\n';
  out << "created " << m.created << '\n';
  out << "title " << encodeText(m.title) << '\n';
  out << "key-name " << encodeText(m.keyName) << '\n';
  out << "steps " << m.steps << '\n';
  if (m.fingerprint == RegistryFingerprint::Tree) out << "registry-fingerprint tree\n";
  out << "registry-before " << m.registryBefore << '\n';
  for (const auto& [step, digest] : m.registryAfter)
    out << "registry-after " << step << ' ' << digest << '\n';
  for (const auto& [step, removals] : m.registry) {
    for (const auto& key : removals.keys)
      out << "key " << step << ' ' << key.position << ' ' << encodeText(key.path) << '\n';
    for (const auto& value : removals.values)
      out << "value " << step << ' ' << value.position << ' ' << encodeText(value.keyPath) << ' '
          << encodeText(value.name) << '\n';
  }
  for (const auto& [step, files] : m.files) {
    for (const auto& file : files)
      out << "file " << step << ' ' << encodeText(file.windowsPath) << ' ' << file.copy << ' '
          << file.sha256 << ' ' << std::oct << file.mode << std::dec << '\n';
  }
  const SavedFile& startup = m.startupFile;
  out << "startup-file " << encodeText(startup.windowsPath);
  if (startup.present()) {
    out << ' ' << startup.copy << ' ' << startup.sha256 << ' ' << std::oct << startup.mode
        << std::dec << '\n';
  } else {
    out << " - - -\n";
  }
  const SavedFile& registry = m.registryFile;
  if (registry.present())
    out << "registry-file " << encodeText(registry.windowsPath) << ' ' << registry.copy << ' '
        << registry.sha256 << ' ' << std::oct << registry.mode << std::dec << '\n';
  out << "complete\n";
  return out.str();
}

Result<Manifest> parseManifest(std::string_view text, const std::string& source) {
  Manifest m;
  std::size_t line_number = 0;
  std::size_t start = 0;
  // The records that every backup's manifest holds once, before "complete".
  std::set<std::string_view> seen;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    // A last line without its line break was being appended when the run
    // was cut off.
    if (end == std::string_view::npos) break;
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++line_number;
    const auto bad = [&](const char* why) {
      return Error{source + " line " + std::to_string(line_number) + ": " + why};
    };
    if (line_number == 1) {
      if (line != kMagic) return bad("not a uinq76 backup manifest");
      continue;
    }
    const auto words = splitWords(line);
    const std::string_view what = words[0];
    seen.insert(what);
    int step = 0;
    if (what == "created") {
      m.created = std::string(line.substr(std::min(line.size(), what.size() + 1)));
    } else if ((what == "title" || what == "key-name") && words.size() == 2) {
      auto decoded = decodeText(words[1]);
      if (!decoded) return bad("bad text");
      (what == "title" ? m.title : m.keyName) = std::move(*decoded);
    } else if (what == "steps" && words.size() == 2 && readNumber(words[1], m.steps) &&
               m.steps > 0 && m.steps < 100) {
    } else if (what == "registry-fingerprint" && words.size() == 2 && words[1] == "tree") {
      m.fingerprint = RegistryFingerprint::Tree;
    } else if (what == "registry-before" && words.size() == 2 && isDigest(words[1])) {
      m.registryBefore = std::string(words[1]);
    } else if (what == "registry-after" && words.size() == 3 && readNumber(words[1], step) &&
               isDigest(words[2])) {
      m.registryAfter[step] = std::string(words[2]);
    } else if (what == "key" && words.size() == 4 && readNumber(words[1], step)) {
      KeyRemoval key;
      auto path = decodeText(words[3]);
      if (!readNumber(words[2], key.position) || !path) return bad("bad key record");
      key.path = std::move(*path);
      m.registry[step].keys.push_back(std::move(key));
    } else if (what == "value" && words.size() == 5 && readNumber(words[1], step)) {
      ValueRemoval value;
      auto path = decodeText(words[3]);
      auto name = decodeText(words[4]);
      if (!readNumber(words[2], value.position) || !path || !name) return bad("bad value record");
      value.keyPath = std::move(*path);
      value.name = std::move(*name);
      m.registry[step].values.push_back(std::move(value));
    } else if (what == "file" && words.size() == 6 && readNumber(words[1], step)) {
      SavedFile file;
      auto path = decodeText(words[2]);
      if (!path || !isCopyName(words[3]) || !isDigest(words[4]) ||
          !readNumber(words[5], file.mode, 8))
        return bad("bad file record");
      file.windowsPath = std::move(*path);
      file.copy = std::string(words[3]);
      file.sha256 = std::string(words[4]);
      m.files[step].push_back(std::move(file));
    } else if (what == "startup-file" && words.size() == 5) {
      auto path = decodeText(words[1]);
      if (!path) return bad("bad startup-file record");
      m.startupFile.windowsPath = std::move(*path);
      if (words[2] != "-") {
        if (!isCopyName(words[2]) || !isDigest(words[3]) ||
            !readNumber(words[4], m.startupFile.mode, 8))
          return bad("bad startup-file record");
        m.startupFile.copy = std::string(words[2]);
        m.startupFile.sha256 = std::string(words[3]);
      }
    } else if (what == "registry-file" && words.size() == 5) {
      auto path = decodeText(words[1]);
      if (!path || !isCopyName(words[2]) || !isDigest(words[3]) ||
          !readNumber(words[4], m.registryFile.mode, 8))
        return bad("bad registry-file record");
      m.registryFile.windowsPath = std::move(*path);
      m.registryFile.copy = std::string(words[2]);
      m.registryFile.sha256 = std::string(words[3]);
    } else if (what == "registry-file-after" && words.size() == 2 && isDigest(words[1])) {
      m.registryFileAfter.insert(std::string(words[1]));
    } else if (what == "complete" && words.size() == 1) {
      m.complete = true;
    } else if (what == "step" && words.size() == 3 && readNumber(words[1], step) &&
               (words[2] == "started" || words[2] == "done")) {
      (words[2] == "started" ? m.started : m.done).insert(step);
    } else if (what == "startup-file-after" && words.size() == 2 &&
               (words[1] == "-" || isDigest(words[1]))) {
      m.startupFileAfter = words[1] == "-" ? std::string() : std::string(words[1]);
    } else if (what == "finished" && words.size() == 1) {
      m.finished = true;
    } else if (what == "restored" && words.size() == 1) {
      m.restored = true;
    } else {
      return bad("unknown record");
    }
  }
  if (line_number == 0) return Error{source + ": empty manifest"};
  if (m.complete) {
    for (const std::string_view record :
         {"created", "title", "key-name", "steps", "registry-before", "startup-file"}) {
      if (!seen.count(record))
        return Error{source + ": the \"" + std::string(record) + "\" record is missing"};
    }
  }
  return m;
}

}  // namespace backup
