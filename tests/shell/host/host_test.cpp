// The host's part of the terminal: choosing the line form, and the one line
// that sums a drawn run up.
#include <gtest/gtest.h>

#include "shell/host/host_options.h"
#include "shell/host/outcome.h"

namespace host {
namespace {

using toolkit::Shown;

Shown box(UINT style, int result, std::string caption = "Kivra Q76 Uninstallation") {
  return Shown{Shown::Kind::MessageBox, style, std::move(caption), result};
}

Shown dialog(int result) { return Shown{Shown::Kind::Dialog, 102, "Uninstalling Q76...", result}; }

TEST(Outcome, FromWhatWasShown) {
  struct Row {
    const char* name;
    std::vector<Shown> shown;
    bool shutdown;
    Outcome expected;
  };
  const Row rows[] = {
      {"No to the question", {box(MB_YESNO, IDNO)}, false, Outcome::Declined},
      {"Yes, then the OK box that it cannot go on",
       {box(MB_YESNO, IDYES), box(MB_OK, IDOK)},
       false,
       Outcome::NotInstalled},
      {"every step, the notice and the shutdown request",
       {box(MB_YESNO, IDYES), box(MB_OK, IDOK), dialog(IDOK)},
       true,
       Outcome::Uninstalled},
      // Enter between ticks ends the dialog with OK, but not every step ran.
      {"dialog ended by OK without a shutdown",
       {box(MB_YESNO, IDYES), dialog(IDOK)},
       false,
       Outcome::Cancelled},
      {"dialog ended by Esc", {box(MB_YESNO, IDYES), dialog(IDCANCEL)}, false, Outcome::Cancelled},
      {"nothing shown", {}, false, Outcome::Nothing},
      {"only a Yes", {box(MB_YESNO, IDYES)}, false, Outcome::Nothing},
  };
  for (const Row& row : rows)
    EXPECT_EQ(outcomeOf(row.shown, row.shutdown), row.expected) << row.name;
}

TEST(Outcome, OneSafeLineNamedAfterTheBoxes) {
  const std::vector<Shown> shown = {box(MB_YESNO, IDNO)};
  EXPECT_EQ(outcomeLine(shown, Outcome::Declined),
            "Kivra Q76 Uninstallation: declined; nothing was changed.");
  EXPECT_EQ(outcomeLine(shown, Outcome::Nothing), "");
  EXPECT_EQ(outcomeLine({}, Outcome::Cancelled).rfind("uinq76: cancelled", 0), 0u);
  // Control characters and bytes outside ASCII never reach the terminal.
  const std::string line =
      outcomeLine({box(MB_OK, IDOK, "Q\x1b]0;x\x07\x9b\xE9")}, Outcome::NotInstalled);
  EXPECT_EQ(line, "Q?]0;x???: not installed; nothing was changed.");
}

TEST(HostOptions, UiChoices) {
  auto parse = [](std::vector<const char*> args) { return parseHostOptions(args); };
  EXPECT_EQ(parse({"--ui", "lines"}).value().ui, UiChoice::Lines);
  EXPECT_EQ(parse({"--ui=text"}).value().ui, UiChoice::Text);
  EXPECT_EQ(parse({}).value().ui, UiChoice::Automatic);
  const auto bad = parse({"--ui", "curses"});
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error(), "--ui takes 'gui', 'text' or 'lines', not 'curses'");
  EXPECT_NE(usageText().find("--ui gui|text|lines"), std::string::npos);
}

}  // namespace
}  // namespace host
