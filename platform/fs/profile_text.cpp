#include "platform/fs/profile_text.h"

#include "platform/fs/drives.h"
#include "platform/text/ascii.h"

namespace {

// Blanks around names and values in the file: space, tab and vertical tab,
// the characters Windows strips there.
std::string_view trimBlanks(std::string_view text) { return ascii::trim(text, " \t\v"); }

// Names asked for lose their spaces only; Windows keeps a tab in them.
std::string_view trimSpaces(std::string_view text) { return ascii::trim(text, " "); }

std::string_view unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value.remove_prefix(1);
    value.remove_suffix(1);
  }
  return value;
}

}  // namespace

ProfileText::ProfileText(std::string_view bytes) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = pos;
    while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r') ++end;
    std::string_view line = bytes.substr(pos, end - pos);
    if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() &&
        bytes[end + 1] == '\n') {
      ++end;
    }
    pos = end + 1;

    const size_t zero = line.find('\0');
    if (zero != std::string_view::npos) line = line.substr(0, zero);
    line = trimBlanks(line);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      line.remove_prefix(1);
      const size_t close = line.find(']');
      if (close != std::string_view::npos) line = line.substr(0, close);
      m_sections.push_back(Section{std::string(trimBlanks(line)), {}});
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos || m_sections.empty()) continue;
    m_sections.back().entries.push_back(
        Entry{std::string(trimBlanks(line.substr(0, equals))),
              std::string(unquote(trimBlanks(line.substr(equals + 1))))});
  }
}

const ProfileText::Section* ProfileText::findSection(std::string_view name) const {
  name = trimSpaces(name);
  for (const Section& section : m_sections) {
    if (namesEqualIgnoringCase(section.name, name)) return &section;
  }
  return nullptr;
}

std::optional<std::string> ProfileText::value(std::string_view section,
                                              std::string_view key) const {
  const Section* found = findSection(section);
  if (found == nullptr) return std::nullopt;
  key = trimSpaces(key);
  for (const Entry& entry : found->entries) {
    if (namesEqualIgnoringCase(entry.key, key)) return entry.value;
  }
  return std::nullopt;
}

std::vector<std::string> ProfileText::sectionNames() const {
  std::vector<std::string> names;
  for (const Section& section : m_sections) names.push_back(section.name);
  return names;
}

std::vector<std::string> ProfileText::keyNames(std::string_view section) const {
  std::vector<std::string> names;
  if (const Section* found = findSection(section)) {
    for (const Entry& entry : found->entries) names.push_back(entry.key);
  }
  return names;
}
