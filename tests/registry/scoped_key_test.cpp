#include "registry/scoped_key.h"

#include <gtest/gtest.h>

#include <utility>

#include "platform/registry/registry_api.h"
#include "tests/platform/registry/registry_test_support.h"

namespace {

const std::string kTwoKeys =
    crlf({"REGEDIT4", "[HKEY_LOCAL_MACHINE\\Enum\\A]", "[HKEY_LOCAL_MACHINE\\Enum\\B]"});

}  // namespace

TEST(ScopedKey, ClosesItsKeyWhenItGoesOutOfScope) {
  ActiveStore store(kTwoKeys);
  {
    ScopedKey key;
    ASSERT_EQ(key.open(HKEY_LOCAL_MACHINE, "Enum\\A", KEY_READ), ERROR_SUCCESS);
    EXPECT_TRUE(key);
    EXPECT_EQ(store->openHandleCount(), 1u);
  }
  EXPECT_EQ(store->openHandleCount(), 0u);

  // A failed open holds nothing and passes the registry's answer on.
  ScopedKey missing;
  EXPECT_EQ(missing.open(HKEY_LOCAL_MACHINE, "Enum\\Missing", KEY_READ), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(missing);
  EXPECT_EQ(store->openHandleCount(), 0u);
}

TEST(ScopedKey, OpeningAgainOrClosingEarlyLeavesNoKeyOpen) {
  ActiveStore store(kTwoKeys);
  ScopedKey key;
  ASSERT_EQ(key.open(HKEY_LOCAL_MACHINE, "Enum\\A", KEY_READ), ERROR_SUCCESS);
  const HKEY first = key.get();
  // The first key is closed before the second is opened in its place.
  ASSERT_EQ(key.open(HKEY_LOCAL_MACHINE, "Enum\\B", KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(store->openHandleCount(), 1u);
  EXPECT_EQ(RegCloseKey(first), ERROR_INVALID_HANDLE);
  // A failed open closes what was held too.
  EXPECT_NE(key.open(HKEY_LOCAL_MACHINE, "Enum\\Missing", KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(store->openHandleCount(), 0u);

  // Closed early (as before deleting the key), then the end of scope does nothing more.
  ASSERT_EQ(key.open(HKEY_LOCAL_MACHINE, "Enum\\A", KEY_READ), ERROR_SUCCESS);
  key.close();
  EXPECT_FALSE(key);
  EXPECT_EQ(store->openHandleCount(), 0u);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\A"), ERROR_SUCCESS);
}

TEST(ScopedKey, AMovedKeyIsClosedOnceByItsLastHolder) {
  ActiveStore store(kTwoKeys);
  ScopedKey a;
  ASSERT_EQ(a.open(HKEY_LOCAL_MACHINE, "Enum\\A", KEY_READ), ERROR_SUCCESS);
  const HKEY handle = a.get();
  {
    ScopedKey moved(std::move(a));
    EXPECT_FALSE(a);  // the moved-from key holds nothing
    EXPECT_EQ(moved.get(), handle);
    EXPECT_EQ(store->openHandleCount(), 1u);

    // Assigning over a held key closes that one first.
    ScopedKey b;
    ASSERT_EQ(b.open(HKEY_LOCAL_MACHINE, "Enum\\B", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(store->openHandleCount(), 2u);
    b = std::move(moved);
    EXPECT_EQ(b.get(), handle);
    EXPECT_EQ(store->openHandleCount(), 1u);
  }
  EXPECT_EQ(store->openHandleCount(), 0u);
}
