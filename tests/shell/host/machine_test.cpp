// Opening a machine directory: what is refused before anything is changed,
// the lock held while it is open, and the registry written and let go at the
// close.
#include "shell/host/machine.h"

#include <gtest/gtest.h>

#include "platform/registry/registry_api.h"
#include "platform/registry/registry_store.h"
#include "tests/support/temp_dir.h"
#include "tools/demo/demo_machine.h"

namespace {

using host::Machine;
using test_support::TempDir;

TEST(Machine, AMissingFolderOrRegistryIsRefusedWithTheWayToNameAnother) {
  TempDir dir{"uinq76-machine"};
  const auto missing = Machine::open(dir / "none", "--machine DIR");
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.error().find("none does not exist; name one with --machine DIR"),
            std::string::npos)
      << missing.error();
  const auto empty = Machine::open(dir.path(), "--machine DIR");
  ASSERT_FALSE(empty);
  EXPECT_NE(empty.error().find("has no registry.reg"), std::string::npos) << empty.error();
  EXPECT_EQ(ActiveRegistry(), nullptr);
}

TEST(Machine, HoldsTheRegistryWhileOpenAndWritesItAtTheClose) {
  TempDir dir{"uinq76-machine"};
  ASSERT_FALSE(demo::writeDemoMachine(dir.path()).has_value());
  auto opened = Machine::open(dir.path(), "--machine DIR");
  ASSERT_TRUE(opened) << opened.error();
  Machine& machine = *opened.value();
  EXPECT_EQ(ActiveRegistry(), &machine.store());
  // A second program finds the registry in use.
  const auto second = Machine::open(dir.path(), "--machine DIR");
  ASSERT_FALSE(second);
  EXPECT_NE(second.error().find("in use by another program"), std::string::npos) << second.error();

  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ50"), ERROR_SUCCESS);
  ASSERT_TRUE(machine.close());
  EXPECT_EQ(ActiveRegistry(), nullptr);
  // The change is in the file, and the file opens again.
  const std::string text = test_support::readFile(dir / "registry.reg");
  EXPECT_EQ(text.find("KivraQ50"), std::string::npos);
  EXPECT_NE(text.find("KivraQ76"), std::string::npos);
  auto again = Machine::open(dir.path(), "--machine DIR");
  ASSERT_TRUE(again) << again.error();
  EXPECT_TRUE(again.value()->close());
}

}  // namespace
