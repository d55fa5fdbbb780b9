#include "platform/registry/registry_store.h"

#include <utility>

#include "platform/registry/regedit4_parser.h"
#include "platform/registry/regedit4_writer.h"

namespace {

RegistryStore* g_active = nullptr;

// Handle values start well above zero and step by four, as Windows' do; they
// skip the predefined root handles and are never reused.
std::uintptr_t g_nextHandle = 0x1000;

std::uintptr_t takeHandleValue() {
  std::uintptr_t value = g_nextHandle;
  g_nextHandle += 4;
  if (value >= 0x80000000u && value < 0x80000010u) return takeHandleValue();
  return value;
}

// Regedit of Windows 2000 and later exports "Windows Registry Editor Version
// 5.00" files in UTF-16 with a byte-order mark; the store reads only the
// REGEDIT4 form. Such a file is named for what it is rather than for the first
// zero byte it holds. Any other file passes.
Result<void> refuseForeignExport(std::string_view bytes, const std::string& name) {
  constexpr std::string_view kVersion5 = "Windows Registry Editor Version 5.00";
  const bool little = bytes.starts_with("\xFF\xFE");
  const bool big = bytes.starts_with("\xFE\xFF");
  std::string first_line;
  if (little || big) {
    for (std::size_t i = 2; i + 1 < bytes.size() && first_line.size() < kVersion5.size(); i += 2) {
      const char low = little ? bytes[i] : bytes[i + 1];
      const char high = little ? bytes[i + 1] : bytes[i];
      if (high != '\0' || low == '\r' || low == '\n') break;
      first_line.push_back(low);
    }
  } else if (bytes.starts_with(kVersion5)) {
    first_line = kVersion5;
  } else {
    return {};
  }
  std::string form =
      first_line == kVersion5 ? "a \"" + std::string(kVersion5) + "\" export" : std::string("text");
  if (little || big) form += " in UTF-16";
  return Error{name + ": line 1: the file is " + form +
               "; the registry must be in the REGEDIT4 form (8-bit text whose first line is "
               "REGEDIT4), as regedit saves a \"Win9x/NT4 Registration File\""};
}

}  // namespace

RegistryStore::RegistryStore(std::filesystem::path path, LockedFile file, RegistryTree tree,
                             Regedit4Layout layout)
    : m_path(std::move(path)),
      m_file(std::move(file)),
      m_tree(std::move(tree)),
      m_layout(std::move(layout)) {}

Result<std::unique_ptr<RegistryStore>> RegistryStore::open(const std::filesystem::path& path) {
  auto file = openLocked(path);
  if (!file) return file.failure();
  auto reader = FileReader::start(file.value(), path);
  if (!reader) return reader.failure();
  // The first block is where a form that the store does not read shows.
  bool first = true;
  const ReadBlock read = [&](char* into, std::size_t room) -> Result<std::size_t> {
    auto got = reader.value().read(into, room);
    if (!got || !first) return got;
    first = false;
    if (auto form = refuseForeignExport(std::string_view(into, got.value()), path.string()); !form)
      return form.failure();
    return got;
  };
  Regedit4Layout layout;
  auto tree = parseRegedit4(read, reader.value().expectedSize(), path.string(), &layout);
  if (!tree) return tree.failure();
  return std::unique_ptr<RegistryStore>(
      new RegistryStore(path, std::move(file).value(), std::move(tree).value(), std::move(layout)));
}

Result<std::unique_ptr<RegistryStore>> RegistryStore::fromText(std::string_view text,
                                                               std::string_view source) {
  Regedit4Layout layout;
  auto tree = parseRegedit4(text, source, &layout);
  if (!tree) return tree.failure();
  return fromTree(std::move(tree).value(), source, std::move(layout));
}

std::unique_ptr<RegistryStore> RegistryStore::fromTree(RegistryTree tree, std::string_view source,
                                                       Regedit4Layout layout) {
  auto store = std::unique_ptr<RegistryStore>(
      new RegistryStore(std::string(source), LockedFile(), std::move(tree), std::move(layout)));
  store->m_inMemory = true;
  return store;
}

RegistryStore::~RegistryStore() {
  if (g_active == this) g_active = nullptr;
  (void)close();
}

Result<void> RegistryStore::flush() {
  if (!m_dirty) return {};
  if (m_previewing)
    return Error{m_path.string() + ": the registry is being previewed; it was not saved"};
  if (m_damaged) {
    return Error{m_path.string() +
                 ": the registry in memory could not be put back as it was after a preview; it "
                 "is not saved, and the file keeps its contents"};
  }
  if (m_inMemory) {
    m_dirty = false;
    return {};
  }
  if (!m_file.isOpen())
    return Error{m_path.string() + ": the registry is closed; changes were not saved"};
  // The text goes to the file in pieces as it is written, never whole.
  auto replaced = replaceLockedFile(
      m_path, [this](const PieceSink& emit) { return writeRegedit4(m_tree, emit, m_layout); },
      m_file);
  if (!replaced) return replaced.failure();
  // The new file is locked already; the old one's lock can go.
  m_file = std::move(replaced.value().file);
  if (!replaced.value().directoryFlush) return replaced.value().directoryFlush;
  m_dirty = false;
  return {};
}

Result<void> RegistryStore::close() {
  if (m_inMemory || !m_file.isOpen()) return {};
  auto flushed = flush();
  m_file.close();
  return flushed;
}

void RegistryStore::beginPreview(std::vector<TreeRemoval>& log) {
  m_previewing = true;
  m_tree.recordRemovals(&log);
}

void RegistryStore::endPreview(bool restored) {
  m_tree.recordRemovals(nullptr);
  m_previewing = false;
  if (!restored) m_damaged = true;
}

std::string RegistryStore::toText() const { return writeRegedit4(m_tree, m_layout); }

HKEY RegistryStore::addHandle(KeyId key, REGSAM access) {
  const std::uintptr_t value = takeHandleValue();
  m_handles.emplace(value, OpenKey{key, access});
  return reinterpret_cast<HKEY>(value);
}

RegistryStore::OpenKey* RegistryStore::findHandle(HKEY handle) {
  const auto it = m_handles.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == m_handles.end() ? nullptr : &it->second;
}

bool RegistryStore::closeHandle(HKEY handle) {
  return m_handles.erase(reinterpret_cast<std::uintptr_t>(handle)) != 0;
}

void SetActiveRegistry(RegistryStore* store) { g_active = store; }

RegistryStore* ActiveRegistry() { return g_active; }
