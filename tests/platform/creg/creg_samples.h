// Registry files for the tests: a machine's HKEY_LOCAL_MACHINE with the Kivra
// Q76 software among made-up neighbours, two hardware profiles, a name in
// Windows-1252, written by the generator in either style.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/creg/creg_tree.h"
#include "platform/registry/registry_store.h"
#include "tools/creg/creg_generator.h"

namespace creg_samples {

inline std::string sampleText(int neighbours = 40) {
  std::string text = "REGEDIT4\r\n\r\n";
  auto key = [&](const std::string& path) { text += "\r\n[HKEY_LOCAL_MACHINE\\" + path + "]\r\n"; };
  auto line = [&](const std::string& value) { text += value + "\r\n"; };
  key("Enum\\ROOT\\OPT0930MEDIA\\0000");
  line("\"DeviceDesc\"=\"Kivra Q76 Audio\"");
  line("\"Class\"=\"MEDIA\"");
  line("\"ConfigFlags\"=hex:00,00,00,00");
  key("Enum\\ROOT\\OPT0930MEDIA\\0000\\LogConfig");
  line("\"0000\"=hex:00,04,00,00,00,00,00,00,00,00,00,00,00,00,00,00");
  key("Enum\\ROOT\\*PNP0C01\\0000");
  line("\"DeviceDesc\"=\"System board\"");
  for (const char* profile : {"0001", "0002", "0003"}) {
    key(std::string("Config\\") + profile + "\\Enum\\ROOT\\OPT0930MEDIA\\0000");
    line("\"CSConfigFlags\"=hex:00,00,00,00");
    key(std::string("Config\\") + profile + "\\Enum\\ROOT\\*PNP0C01\\0000");
    line("\"CSConfigFlags\"=hex:00,00,00,00");
    key(std::string("Config\\") + profile + "\\Display\\Settings");
    line("\"Resolution\"=\"640,480\"");
  }
  key("System\\CurrentControlSet\\control\\InstalledFiles");
  line("\"vmm32.vxd\"=\"C:\\\\WINDOWS\\\\SYSTEM\\\\vmm32.vxd\"");
  line("\"snd930p.drv\"=\"C:\\\\WINDOWS\\\\SYSTEM\\\\snd930p.drv\"");
  line("\"mfvxd.vxd\"=\"C:\\\\WINDOWS\\\\SYSTEM\\\\mfvxd.vxd\"");
  line("\"snd930p.vxd\"=\"C:\\\\WINDOWS\\\\SYSTEM\\\\snd930p.vxd\"");
  line("@=\"default\"");
  key("System\\CurrentControlSet\\Services\\Class\\OPT0930MEDIA\\0000");
  line("\"DriverDesc\"=\"Kivra Q76 Audio\"");
  key("Software\\Caf\xe9 Soft\\R\xe9glages");
  line("\"Nom\"=\"Fen\xeatre\"");
  line("\"Size\"=dword:00000010");
  for (int i = 0; i < neighbours; ++i) {
    const std::string n = std::to_string(i);
    key("Software\\Northwind " + n + "\\Wavetable Studio\\CurrentVersion");
    line("\"Path\"=\"C:\\\\PROGRA~1\\\\NORTHW~" + n + "\\\\WAVESTU.EXE\"");
    line("\"Level\"=dword:000000" + std::to_string(10 + i % 80));
    if (i % 9 == 4) {
      key("Software\\Kivra\\Q76 Audio\\Part " + n);
      line("\"Installed\"=\"1\"");
    }
  }
  key("Software\\Kivra\\Q76 Audio");
  line("\"Version\"=\"4.03.1120\"");
  std::string blob = "\"Blob\"=hex:01";
  for (int i = 0; i < 300; ++i) blob += ",5a";
  line(blob);
  return text;
}

// The sample as a key tree; HKEY_LOCAL_MACHINE holds it.
inline std::unique_ptr<RegistryStore> sampleStore(int neighbours = 40) {
  auto store = RegistryStore::fromText(sampleText(neighbours), "sample");
  if (!store) {
    ADD_FAILURE() << store.error();
    return RegistryStore::fromText("REGEDIT4\r\n").value();
  }
  return std::move(store).value();
}

inline std::vector<std::uint8_t> sampleFile(creg_gen::Style style, bool checksums,
                                            std::uint32_t blockSize = 0x1000, int neighbours = 40) {
  auto store = sampleStore(neighbours);
  creg_gen::Options options;
  options.style = style;
  options.checksums = checksums;
  options.blockSize = blockSize;
  auto file =
      creg_gen::generate(store->tree(), RegistryTree::rootKey(RootKey::LocalMachine), options);
  if (!file) {
    ADD_FAILURE() << file.error();
    return {};
  }
  return std::move(file).value();
}

}  // namespace creg_samples
