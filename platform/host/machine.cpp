#include "platform/host/machine.h"

#include <system_error>
#include <utility>

#include "platform/fs/drives.h"
#include "platform/registry/registry_store.h"

namespace host {

std::variant<std::unique_ptr<Machine>, std::string> Machine::open(const std::filesystem::path& dir,
                                                                  const std::string& option_hint) {
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec))
    return "the machine directory " + dir.string() + " does not exist; name one with " +
           option_hint;
  const auto registry = dir / "registry.reg";
  if (!std::filesystem::exists(registry, ec))
    return "the machine directory " + dir.string() + " has no registry.reg; name another with " +
           option_hint;

  auto store = RegistryStore::open(registry);
  if (!store) return store.error();

  SetActiveRegistry(store.value().get());
  SetMachineDirectory(dir);
  return std::unique_ptr<Machine>(new Machine(dir, std::move(store).value()));
}

Machine::Machine(std::filesystem::path dir, std::unique_ptr<RegistryStore> store)
    : m_dir(std::move(dir)), m_store(std::move(store)) {}

Machine::~Machine() {
  if (m_store) close();
}

std::optional<std::string> Machine::flush() {
  if (!m_store) return std::nullopt;
  return m_store->flush();
}

std::optional<std::string> Machine::close() {
  if (!m_store) return std::nullopt;
  auto error = m_store->close();
  if (ActiveRegistry() == m_store.get()) SetActiveRegistry(nullptr);
  m_store.reset();
  return error;
}

}  // namespace host
