// The backup manifest: written and read back, cut-off appends, bad lines.
#include "shell/backup/manifest.h"

#include <gtest/gtest.h>

namespace {

using backup::Manifest;
using backup::parseManifest;

const std::string kDigest(64, 'a');

Manifest sample() {
  Manifest m;
  m.created = "2026-12-07 18:00:00 UTC";
  // Blanks, a per cent sign, a control byte and a Windows-1252 letter.
  m.title = "Kivra Q76 100% \x1b[31m\xe9";
  m.keyName = "KivraQ76";
  m.steps = 3;
  m.registryBefore = kDigest;
  m.registryAfter[1] = std::string(64, 'b');
  m.registry[1].keys.push_back({"HKEY_LOCAL_MACHINE\\Enum\\ROOT\\OPT0930MEDIA", 4});
  m.registry[1].values.push_back({"HKEY_LOCAL_MACHINE\\X Y", "", 2});
  m.files[3].push_back({"C:\\WINDOWS\\INF\\OEM1.INF", "file-1", kDigest, 0640});
  m.startupFile = {"C:\\AUTOEXEC.BAT", "startup-file", kDigest, 0600};
  return m;
}

TEST(Manifest, WrittenAndReadBackWithItsProgress) {
  const std::string text = backup::formatManifest(sample()) +
                           "step 1 started\nstep 1 done\nstep 2 started\nstartup-file-after -\n";
  auto read = parseManifest(text, "manifest.txt");
  ASSERT_TRUE(read.ok()) << read.error();
  const Manifest& m = read.value();
  EXPECT_TRUE(m.complete);
  EXPECT_EQ(m.fingerprint, backup::RegistryFingerprint::Text);
  EXPECT_EQ(m.title, sample().title);
  EXPECT_EQ(m.registry.at(1).keys[0].path, "HKEY_LOCAL_MACHINE\\Enum\\ROOT\\OPT0930MEDIA");
  EXPECT_EQ(m.registry.at(1).keys[0].position, 4u);
  EXPECT_EQ(m.registry.at(1).values[0].keyPath, "HKEY_LOCAL_MACHINE\\X Y");
  EXPECT_EQ(m.registry.at(1).values[0].name, "");  // the default value
  EXPECT_EQ(m.files.at(3)[0].mode, 0640u);
  EXPECT_EQ(m.startupFile.mode, 0600u);
  EXPECT_EQ(m.firstStepNotDone(), 2);
  EXPECT_EQ(m.startupFileAfter, std::string());
  EXPECT_FALSE(m.finished);
  // The same records come out again.
  EXPECT_EQ(backup::formatManifest(m), backup::formatManifest(sample()));
}

// A backup made on a Windows 95 drive: SYSTEM.DAT whole, and each file the
// run wrote; a machine directory's manifest has neither record.
TEST(Manifest, TheRegistryFileOfADriveAndEachStateTheRunWrote) {
  EXPECT_EQ(backup::formatManifest(sample()).find("registry-file"), std::string::npos);
  Manifest drive = sample();
  drive.registryFile = {"C:\\WINDOWS\\SYSTEM.DAT", "registry-file", kDigest, 0644};
  const std::string b(64, 'b'), c(64, 'c');
  auto read = parseManifest(backup::formatManifest(drive) + "step 1 started\nregistry-file-after " +
                                b + "\nstep 1 done\nregistry-file-after " + c + "\n",
                            "manifest.txt");
  ASSERT_TRUE(read.ok()) << read.error();
  EXPECT_EQ(read.value().registryFile.windowsPath, "C:\\WINDOWS\\SYSTEM.DAT");
  EXPECT_EQ(read.value().registryFile.sha256, kDigest);
  EXPECT_EQ(read.value().registryFile.mode, 0644u);
  EXPECT_EQ(read.value().registryFileAfter, (std::set<std::string>{b, c}));
  EXPECT_EQ(backup::formatManifest(read.value()), backup::formatManifest(drive));
  for (const std::string& bad : {"registry-file C:\\WINDOWS\\SYSTEM.DAT ../x " + kDigest + " 644",
                                 std::string("registry-file-after 12")}) {
    auto refused = parseManifest("uinq76-backup 1\n" + bad + "\n", "manifest.txt");
    ASSERT_FALSE(refused.ok()) << bad;
    EXPECT_NE(refused.error().find("manifest.txt line 2"), std::string::npos) << refused.error();
  }
}

TEST(Manifest, ALineCutOffWhileAppendedIsIgnoredAndABadOneNamed) {
  // A crash while "step 2 done" was appended.
  auto cut =
      parseManifest(backup::formatManifest(sample()) + "step 1 done\nstep 2 do", "manifest.txt");
  ASSERT_TRUE(cut.ok()) << cut.error();
  EXPECT_EQ(cut.value().firstStepNotDone(), 2);

  // A manifest written only in part has no "complete".
  std::string part = backup::formatManifest(sample());
  part.resize(part.find("complete"));
  auto incomplete = parseManifest(part, "manifest.txt");
  ASSERT_TRUE(incomplete.ok()) << incomplete.error();
  EXPECT_FALSE(incomplete.value().complete);

  for (const auto& [text, line] : std::vector<std::pair<std::string, int>>{
           {"something else\n", 1},
           {"uinq76-backup 1\nsteps x\n", 2},
           {"uinq76-backup 1\ntitle %4\n", 2},
           {"uinq76-backup 1\nfile 3 C:\\A ../escape " + kDigest + " 644\n", 2},
           // A copy name with a folder in it, or none at all, in either record.
           {"uinq76-backup 1\nfile 3 C:\\A sub/file-1 " + kDigest + " 644\n", 2},
           {"uinq76-backup 1\nstartup-file C:\\AUTOEXEC.BAT sub/s " + kDigest + " 644\n", 2},
           {"uinq76-backup 1\nstartup-file C:\\AUTOEXEC.BAT  " + kDigest + " 644\n", 2},
           // "." and ".." name the backup folder and its parent, not a copy.
           {"uinq76-backup 1\nfile 3 C:\\A . " + kDigest + " 644\n", 2},
           {"uinq76-backup 1\nregistry-file C:\\SYSTEM.DAT .. " + kDigest + " 644\n", 2},
           {"uinq76-backup 1\nstartup-file C:\\AUTOEXEC.BAT .. " + kDigest + " 644\n", 2},
           {"uinq76-backup 1\ncomplete\nstep 1 sort-of\n", 3}}) {
    auto bad = parseManifest(text, "manifest.txt");
    ASSERT_FALSE(bad.ok()) << text;
    EXPECT_NE(bad.error().find("manifest.txt line " + std::to_string(line)), std::string::npos)
        << bad.error();
  }

  // A complete manifest without one of the records every backup has.
  std::string lacking = backup::formatManifest(sample());
  lacking.erase(
      lacking.find("registry-before"),
      lacking.find('\n', lacking.find("registry-before")) - lacking.find("registry-before") + 1);
  auto missing = parseManifest(lacking, "manifest.txt");
  ASSERT_FALSE(missing.ok()) << lacking;
  EXPECT_EQ(missing.error(), "manifest.txt: the \"registry-before\" record is missing");
}

// A manifest says how its registry states are fingerprinted; one without the
// line is an earlier version's, which fingerprinted the REGEDIT4 text.
TEST(Manifest, SaysHowTheRegistryIsFingerprinted) {
  Manifest tree = sample();
  tree.fingerprint = backup::RegistryFingerprint::Tree;
  auto read = parseManifest(backup::formatManifest(tree), "manifest.txt");
  ASSERT_TRUE(read.ok()) << read.error();
  EXPECT_EQ(read.value().fingerprint, backup::RegistryFingerprint::Tree);
  EXPECT_EQ(read.value().registryBefore, kDigest);
  auto old = parseManifest(backup::formatManifest(sample()), "manifest.txt");
  ASSERT_TRUE(old.ok()) << old.error();
  EXPECT_EQ(old.value().fingerprint, backup::RegistryFingerprint::Text);
  EXPECT_FALSE(parseManifest("uinq76-backup 1\nregistry-fingerprint text\n", "m").ok());
}

}  // namespace
