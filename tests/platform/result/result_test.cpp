// The value-or-error type of the platform layer: which state a Result is in,
// and that values and messages come out of it whole.
#include "platform/result/result.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

TEST(Result, VoidIsDoneUnlessGivenAnError) {
  const Result<void> done;
  EXPECT_TRUE(done.ok());
  const Result<void> failed = Error{"registry.reg: cannot write: No space left on device"};
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(failed.error(), "registry.reg: cannot write: No space left on device");
  // A copy (a field returned by value) keeps the error.
  const Result<void> copy = failed;
  ASSERT_FALSE(copy.ok());
  EXPECT_EQ(copy.error(), failed.error());
}

TEST(Result, ValueAndErrorStayApart) {
  // A string value is a value, even one that reads like an error.
  const Result<std::string> text = std::string("cannot open");
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(text.value(), "cannot open");
  const Result<std::string> failed = Error{"x.rc:3: string is not closed"};
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error(), "x.rc:3: string is not closed");

  // A move-only value is moved out whole.
  Result<std::unique_ptr<int>> owned = std::make_unique<int>(76);
  ASSERT_TRUE(owned.ok());
  const std::unique_ptr<int> taken = std::move(owned).value();
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(*taken, 76);
}

}  // namespace
