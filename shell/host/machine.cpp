#include "shell/host/machine.h"

#include <system_error>
#include <utility>

#include "platform/fs/drives.h"
#include "platform/registry/registry_store.h"

namespace host {

namespace {

// "the machine directory DIR <what> OPTION_HINT"
Error machineError(const std::filesystem::path& dir, const char* what,
                   const std::string& option_hint) {
  std::string message = "the machine directory ";
  message += dir.string();
  message += what;
  message += option_hint;
  return Error{std::move(message)};
}

}  // namespace

Result<std::unique_ptr<Machine>> Machine::open(const std::filesystem::path& dir,
                                               const std::string& option_hint) {
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec))
    return machineError(dir, " does not exist; name one with ", option_hint);
  const auto registry = dir / "registry.reg";
  if (!std::filesystem::exists(registry, ec))
    return machineError(dir, " has no registry.reg; name another with ", option_hint);

  auto store = RegistryStore::open(registry);
  if (!store) return Error{store.error()};

  SetActiveRegistry(store.value().get());
  SetMachineDirectory(dir);
  return std::unique_ptr<Machine>(new Machine(dir, std::move(store).value()));
}

Machine::Machine(std::filesystem::path dir, std::unique_ptr<RegistryStore> store)
    : m_dir(std::move(dir)), m_store(std::move(store)) {}

Machine::~Machine() {
  if (m_store) (void)close();
}

Result<void> Machine::flush() {
  if (!m_store) return {};
  return m_store->flush();
}

Result<void> Machine::close() {
  if (!m_store) return {};
  auto closed = m_store->close();
  if (ActiveRegistry() == m_store.get()) SetActiveRegistry(nullptr);
  m_store.reset();
  return closed;
}

}  // namespace host
