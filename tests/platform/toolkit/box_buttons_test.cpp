// The one decoding of a message box's buttons that every backend draws from.
#include "platform/toolkit/box_buttons.h"

#include <gtest/gtest.h>

namespace {

using toolkit::decodeBoxButtons;

TEST(BoxButtons, ButtonsDefaultAndEscapeOfEveryButtonSet) {
  const auto ok = decodeBoxButtons(MB_OK);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->results, (std::vector<int>{IDOK}));
  EXPECT_EQ(ok->escapeResult, IDOK);
  const auto ok_cancel = decodeBoxButtons(MB_OKCANCEL | MB_ICONQUESTION);
  ASSERT_TRUE(ok_cancel);
  EXPECT_EQ(ok_cancel->results, (std::vector<int>{IDOK, IDCANCEL}));
  EXPECT_EQ(ok_cancel->escapeResult, IDCANCEL);
  const auto yes_no = decodeBoxButtons(MB_YESNO);
  ASSERT_TRUE(yes_no);
  EXPECT_EQ(yes_no->results, (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(yes_no->escapeResult, IDNO);
  EXPECT_EQ(yes_no->defaultResult(), IDYES);
  const auto yes_no_cancel = decodeBoxButtons(MB_YESNOCANCEL | MB_DEFBUTTON3);
  ASSERT_TRUE(yes_no_cancel);
  EXPECT_EQ(yes_no_cancel->results, (std::vector<int>{IDYES, IDNO, IDCANCEL}));
  EXPECT_EQ(yes_no_cancel->escapeResult, IDCANCEL);
  EXPECT_EQ(yes_no_cancel->defaultResult(), IDCANCEL);
  // Button sets that no backend draws: abort/retry/ignore, retry/cancel.
  EXPECT_FALSE(decodeBoxButtons(2));
  EXPECT_FALSE(decodeBoxButtons(5));
}

TEST(BoxButtons, ANamedDefaultThatTheBoxLacksFallsBackToTheFirstButton) {
  EXPECT_EQ(decodeBoxButtons(MB_YESNO | MB_DEFBUTTON2)->defaultButton, 1u);
  EXPECT_EQ(decodeBoxButtons(MB_YESNO | MB_DEFBUTTON3)->defaultButton, 0u);
  EXPECT_EQ(decodeBoxButtons(MB_OK | MB_DEFBUTTON2)->defaultButton, 0u);
  EXPECT_EQ(decodeBoxButtons(MB_OKCANCEL | MB_DEFBUTTON2)->defaultResult(), IDCANCEL);
}

}  // namespace
