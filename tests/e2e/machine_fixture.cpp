#include "tests/e2e/machine_fixture.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/registry/registry_api.h"
#include "platform/registry/registry_store.h"
#include "tools/demo/demo_machine.h"

namespace e2e {

TempMachine::TempMachine() {
  if (auto error = demo::writeDemoMachine(dir())) throw std::runtime_error(*error);
}

std::string TempMachine::read(const std::string& relative) const {
  std::ifstream in(dir() / relative, std::ios::binary);
  if (!in) return "<missing " + relative + ">";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void TempMachine::write(const std::string& relative, const std::string& bytes) const {
  const auto path = dir() / relative;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool TempMachine::exists(const std::string& relative) const {
  return std::filesystem::exists(dir() / relative);
}

void TempMachine::remove(const std::string& relative) const {
  std::filesystem::remove_all(dir() / relative);
}

void TempMachine::replaceInRegistry(const std::string& from, const std::string& to) const {
  std::string text = read("registry.reg");
  const size_t at = text.find(from);
  if (at == std::string::npos) throw std::runtime_error("not in the registry: " + from);
  text.replace(at, from.size(), to);
  write("registry.reg", text);
}

RegistryView::RegistryView(const std::string& regedit4_text) {
  auto store = RegistryStore::fromText(regedit4_text, "registry.reg");
  if (!store) throw std::runtime_error(store.error());
  m_store = std::move(store).value();
  m_active.emplace(m_store.get());
}

RegistryView::~RegistryView() = default;

bool RegistryView::hasKey(HKEY root, const std::string& path) const {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool RegistryView::hasValue(HKEY root, const std::string& path, const std::string& name) const {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  const LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

}  // namespace e2e
