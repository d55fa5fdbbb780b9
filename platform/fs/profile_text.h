// The parsed text of a profile (INI) file, read the way Windows reads one:
// 8-bit text as it stands, sections and keys without regard to letter case.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ProfileText final {
 public:
  // Lines end at a line feed, a carriage return and line feed, or a lone
  // carriage return; a zero byte ends a line's text. A line whose first
  // non-blank character is ';' is a comment. "[name]" opens a section (the
  // name ends at the first ']', or at the end of the line without one, and
  // loses its blanks); "key=value" splits at the first '='. Lines before the
  // first section and lines without '=' belong to no key.
  explicit ProfileText(std::string_view bytes);

  // The value of the first key of that name in the first section of that
  // name, trimmed of blanks and of one enclosing pair of double or single
  // quotes; nothing when the section or the key is missing. The names given
  // are trimmed of spaces.
  std::optional<std::string> value(std::string_view section, std::string_view key) const;

  // Every section name in file order, duplicates included.
  std::vector<std::string> sectionNames() const;
  // Every key name of the first section of that name, duplicates included.
  std::vector<std::string> keyNames(std::string_view section) const;

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  const Section* findSection(std::string_view name) const;

  std::vector<Section> m_sections;
};
