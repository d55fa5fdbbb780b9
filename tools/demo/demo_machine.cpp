#include "tools/demo/demo_machine.h"

#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <tuple>
#include <vector>

#include "platform/registry/registry_store.h"
#include "tools/creg/creg_generator.h"

namespace demo {
namespace {

// Windows text: every line ends in a carriage return and a line feed.
std::string crlf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

constexpr std::string_view kRegistry = R"(REGEDIT4

[HKEY_LOCAL_MACHINE\Enum\MF\CHILD0000\ROOT&OPT0930MEDIA&0000]
"Class"="MEDIA"
"Driver"="MEDIA\\0001"
"DeviceDesc"="Kivra Q76 Audio Codec"
"HardwareID"="MF\\OPT0930MEDIA"
"Mfg"="Kivra"
"ConfigFlags"=hex:00,00,00,00

[HKEY_LOCAL_MACHINE\Enum\MF\CHILD0000\ROOT&OPT0930MEDIA&0000\LogConfig]
"0000"=hex:00,04,00,00,00,00,00,00,20,02,00,00,2f,02,00,00

[HKEY_LOCAL_MACHINE\Enum\MF\CHILD0000\ROOT&VRD1868&0000]
"Class"="MEDIA"
"DeviceDesc"="Varden AudioPath"

[HKEY_LOCAL_MACHINE\Enum\MF\CHILD0001\ROOT&OPT0930MEDIA&0000]
"Class"="MEDIA"
"DeviceDesc"="Kivra Q76 OPL3 FM Synthesis"
"HardwareID"="MF\\OPT0930MEDIA_OPL3"

[HKEY_LOCAL_MACHINE\Enum\MF\CHILD0002\ROOT&OPT0930MEDIA&0000]
"Class"="MEDIA"
"DeviceDesc"="Kivra Q76 MPU-401"

[HKEY_LOCAL_MACHINE\Enum\MF\CHILD0003\ROOT&OPT0930MEDIA&0000]
"Class"="MEDIA"
"DeviceDesc"="Kivra Q76 Game Port"

[HKEY_LOCAL_MACHINE\Enum\MF\CHILD0003\ROOT&OPT0930MEDIA&0000\LogConfig]
"0000"=hex:00,04,00,00,00,00,00,00,00,02,00,00,07,02,00,00

[HKEY_LOCAL_MACHINE\Enum\MF\CHILD0004\ROOT&OPT0930MEDIA&0000]
"Class"="MEDIA"
"DeviceDesc"="Kivra Q76 CD-ROM Interface"

[HKEY_LOCAL_MACHINE\Enum\ROOT\OPT0930MEDIA]

[HKEY_LOCAL_MACHINE\Enum\ROOT\OPT0930MEDIA\0000]
"Class"="MEDIA"
"DeviceDesc"="Kivra Q76 Sound Card"
"HardwareID"="OPT0930MEDIA"
"ConfigFlags"=hex:00,00,00,00

[HKEY_LOCAL_MACHINE\Enum\ROOT\*PNP0C01\0000]
"Class"="System"
"DeviceDesc"="System board"

[HKEY_LOCAL_MACHINE\Config\0001\Enum\MF\CHILD0\ROOT&OPT0930MEDIA&0000]
"CSConfigFlags"=hex:00,00,00,00

[HKEY_LOCAL_MACHINE\Config\0001\Enum\MF\CHILD1\ROOT&OPT0930MEDIA&0000]
"CSConfigFlags"=hex:00,00,00,00

[HKEY_LOCAL_MACHINE\Config\0001\Enum\MF\CHILD2\ROOT&OPT0930MEDIA&0000]
"CSConfigFlags"=hex:00,00,00,00

[HKEY_LOCAL_MACHINE\Config\0001\Enum\MF\CHILD3\ROOT&OPT0930MEDIA&0000]
"CSConfigFlags"=hex:00,00,00,00

[HKEY_LOCAL_MACHINE\Config\0001\Enum\MF\CHILD4\ROOT&OPT0930MEDIA&0000]
"CSConfigFlags"=hex:00,00,00,00

[HKEY_LOCAL_MACHINE\Config\0002\Enum\MF\CHILD0\ROOT&OPT0930MEDIA&0000]
"CSConfigFlags"=hex:01,00,00,00

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\MEDIA]
@="Sound, video and game controllers"
"Icon"="4"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\MEDIA\0000]
"Driver"="mmdevldr.vxd"
"DriverDesc"="Kivra Q76 Audio Codec"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\MEDIA\0001]
"Driver"="vjoyd.vxd"
"DriverDesc"="Gameport Joystick"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\MEDIA\0001\Config]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\MEDIA\0001\Config\1]
"Flags"=dword:00000001

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\MEDIA\0002]
"Driver"="VJOYD.VXD"
"DriverDesc"="Gamepad on another port"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\OPT0930MEDIA]
@="Kivra Q76"
"Installer"="snd930p.dll"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\OPT0930MEDIA\0000]
"DriverDesc"="Kivra Q76 Sound Card"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Display]
@="Display adapters"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\InstalledFiles]
"vmm32.vxd"="C:\\WINDOWS\\SYSTEM\\vmm32.vxd"
"snd930p.drv"="C:\\WINDOWS\\SYSTEM\\snd930p.drv"
"snd930p.vxd"="C:\\WINDOWS\\SYSTEM\\snd930p.vxd"
"sndm401p.vxd"="C:\\WINDOWS\\SYSTEM\\sndm401p.vxd"
"sndm401p.drv"="C:\\WINDOWS\\SYSTEM\\sndm401p.drv"
"mfvxd.vxd"="C:\\WINDOWS\\SYSTEM\\mfvxd.vxd"
"sndopl3p.drv"="C:\\WINDOWS\\SYSTEM\\sndopl3p.drv"
"snd930p.inf"="C:\\WINDOWS\\INF\\snd930p.inf"
"uinq76.exe"="C:\\WINDOWS\\uinq76.exe"
"uinq76d.exe"="C:\\WINDOWS\\uinq76d.exe"
"msacm32.drv"="C:\\WINDOWS\\SYSTEM\\msacm32.drv"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\SessionManager\Known16DLLs]
"mmsystem.dll"="mmsystem.dll"
"snd930p.drv"="snd930p.drv"
"snd930p.vxd"="snd930p.vxd"
"sndm401p.vxd"="sndm401p.vxd"
"sndm401p.drv"="sndm401p.drv"
"mfvxd.vxd"="mfvxd.vxd"
"sndopl3p.drv"="sndopl3p.drv"
"uinq76.exe"="uinq76.exe"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\MediaResources\aux\snd930p.drv]
"Driver"="snd930p.drv"
"Description"="Kivra Q76 Aux"
"Active"="1"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\MediaResources\mixer\vdmixmgr.dll]
"Driver"="vdmixmgr.dll"
"Description"="Varden Mixer Manager"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\MediaResources\mixer\snd930p.drv]
"Driver"="snd930p.drv"
"Description"="Kivra Q76 Mixer"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\MediaResources\wave\snd930p.drv]
"Driver"="snd930p.drv"
"Description"="Kivra Q76 Wave"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\MediaResources\wave\snd930p.drv\Formats]
"PCM"=dword:0000000f

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\MediaResources\midi\midimap]
"Description"="MIDI Mapper"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\MediaResources\midi\sndm401p.drv]
"Driver"="sndm401p.drv"
"Description"="Kivra Q76 MPU-401"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\MediaResources\midi\sndopl3p.drv]
"Driver"="sndopl3p.drv"
"Description"="Kivra Q76 OPL3 FM"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Kivra Q76 Audio Drivers]
"DisplayName"="Kivra Q76 Audio Drivers"
"UninstallString"="C:\\WINDOWS\\UINQ76.EXE"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Kivra Q76 Audio Drivers\Components]
"Count"=dword:00000003

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Pixel Shed Pro]
"DisplayName"="Pixel Shed Pro 3.12"
"UninstallString"="C:\\PXS\\UNINST.EXE"

[HKEY_LOCAL_MACHINE\SOFTWARE\Vesk\KivraQ76]
"Title"="Kivra Q76 Audio Drivers"
"Version"="1.20"

[HKEY_LOCAL_MACHINE\SOFTWARE\Vesk\KivraQ76\Mixer]
"MasterVolume"=dword:0000c000

[HKEY_LOCAL_MACHINE\SOFTWARE\Vesk\KivraQ50]
"Title"="Kivra Q50 Utilities"

[HKEY_CURRENT_CONFIG\Enum\MF\CHILD0000\ROOT&OPT0930MEDIA&0000]
"CSConfigFlags"=hex:00,00,00,00

[HKEY_CURRENT_CONFIG\Enum\MF\CHILD0001\ROOT&OPT0930MEDIA&0000]
"CSConfigFlags"=hex:00,00,00,00

[HKEY_CURRENT_CONFIG\Enum\MF\CHILD0002\ROOT&OPT0930MEDIA&0000]
"CSConfigFlags"=hex:00,00,00,00

[HKEY_CURRENT_CONFIG\Enum\MF\CHILD0003\ROOT&OPT0930MEDIA&0000]
"CSConfigFlags"=hex:00,00,00,00

[HKEY_CURRENT_CONFIG\Display\Settings]
"Resolution"="640,480"

)";

constexpr std::string_view kMsdosSys = R"([Paths]
WinDir=C:\WINDOWS
WinBootDir=C:\WINDOWS
HostWinBootDrv=C

[Options]
BootGUI=1
Network=0
;
;The following lines are required for compatibility with other programs.
;Do not remove them (MSDOS.SYS needs to be >1024 bytes).
;xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxa
;xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxb
)";

constexpr std::string_view kAutoexecBat = R"(@ECHO OFF
  SET VARDEN=A220 I5 D1 T4
  SET SOUND=C:\Q76
PATH C:\WINDOWS;C:\WINDOWS\COMMAND
rem C:\MOUSE\MOUSE.COM
LH C:\WINDOWS\COMMAND\MSCDEX.EXE /D:Q76CD001 /M:8
)";

constexpr std::string_view kConfigSys = R"(DEVICE=C:\WINDOWS\HIMEM.SYS
DEVICEHIGH=C:\Q76\Q76CD.SYS /D:Q76CD001
FILES=40
)";

constexpr std::string_view kMarkedInf = R"(; Kivra Q76 driver setup information
[Version]
Signature="$CHICAGO$"
Class=MEDIA
Provider=%KivraMfg%

[Strings]
KivraMfg="Kivra"
KivraKey="KIVRAQ76INF"
)";

constexpr std::string_view kMarkedInfWithText = R"([Version]
Signature="$CHICAGO$"
Class=MEDIA

[Strings]
KivraKey = "Kivra Q76 game port KIVRAQ76INF v1.20"
)";

constexpr std::string_view kOtherProductInf = R"([Version]
Signature="$CHICAGO$"
Class=Display

[Strings]
Mfg="Other Display Corp"
)";

constexpr std::string_view kLowerCaseMarkerInf = R"([Version]
Signature="$CHICAGO$"

[Strings]
KivraKey="kivraq76inf"
)";

constexpr std::string_view kMarkerElsewhereInf = R"([Version]
Signature="$CHICAGO$"
KivraKey="KIVRAQ76INF"

[Strings]
OtherKey="KIVRAQ76INF"
)";

struct DemoFile {
  std::string_view path;  // relative to the machine directory
  std::string_view text;
};

const DemoFile kFiles[] = {
    {"drive_c/MSDOS.SYS", kMsdosSys},
    {"drive_c/AUTOEXEC.BAT", kAutoexecBat},
    {"drive_c/CONFIG.SYS", kConfigSys},
    {"drive_c/WINDOWS/INF/OEM0.INF", kOtherProductInf},
    {"drive_c/WINDOWS/INF/OEM1.INF", kMarkedInf},
    {"drive_c/WINDOWS/INF/OEM2.INF", kMarkedInfWithText},
    {"drive_c/WINDOWS/INF/oem3.inf", kLowerCaseMarkerInf},
    {"drive_c/WINDOWS/INF/OEM4.INF", kMarkerElsewhereInf},
    {"drive_c/WINDOWS/INF/SND930P.INF", kMarkedInf},
    {"drive_c/WINDOWS/SYSTEM/SND930P.DRV", "MZ driver image\n"},
    {"drive_c/WINDOWS/SYSTEM/SNDM401P.DRV", "MZ driver image\n"},
    {"drive_c/WINDOWS/UINQ76D.EXE", "MZ remover image\n"},
    {"drive_d/README.TXT", "Data drive.\n"},
};

std::optional<std::string> writeFile(const std::filesystem::path& path, std::string_view text) {
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  if (ec) return "cannot create " + path.parent_path().string() + ": " + ec.message();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) return "cannot write " + path.string();
  return std::nullopt;
}

}  // namespace

// The registry in the layout the store writes, as the Registry Editor exports
// it: a section for every key, so that the diff after an uninstall shows only
// what the uninstall changed.
std::string demoRegistry() {
  auto store = RegistryStore::fromText(crlf(kRegistry), "demo registry");
  if (!store) return crlf(kRegistry);
  return store.value()->toText();
}

std::optional<std::string> writeDemoMachine(const std::filesystem::path& dir) {
  std::error_code ec;
  if (std::filesystem::exists(dir, ec) && !std::filesystem::is_empty(dir, ec))
    return dir.string() + " is not empty; give a new directory";
  if (auto error = writeFile(dir / "registry.reg", demoRegistry())) return error;
  for (const auto& file : kFiles)
    if (auto error = writeFile(dir / file.path, crlf(file.text))) return error;
  return std::nullopt;
}

namespace {

// Copies the keys and values of `from` into `to` (of the same tree) where `to`
// lacks them. Names and data are copied out first, as adding keys may move
// the tree's storage.
void layOver(RegistryTree& tree, KeyId from, KeyId to) {
  std::vector<std::tuple<std::string, DWORD, std::string>> values;
  tree.forEachValue(from, [&](const RegistryValue& v) {
    values.emplace_back(std::string(v.name), v.type, std::string(v.data));
  });
  for (const auto& [name, type, data] : values)
    if (!tree.findValue(to, name)) tree.setValue(to, name, type, data);
  std::vector<std::pair<KeyId, std::string>> children;
  tree.forEachSubkey(from, [&](KeyId k) { children.emplace_back(k, std::string(tree.name(k))); });
  for (const auto& [child, name] : children) layOver(tree, child, tree.findOrAddSubkey(to, name));
}

}  // namespace

void layCurrentConfigOverProfiles(RegistryTree& tree, const std::vector<std::string>& profiles) {
  const KeyId config = tree.findOrAddSubkey(RegistryTree::rootKey(RootKey::LocalMachine), "Config");
  for (const std::string& profile : profiles)
    layOver(tree, RegistryTree::rootKey(RootKey::CurrentConfig),
            tree.findOrAddSubkey(config, profile));
}

namespace {

std::optional<std::string> writeRegistryFile(const std::filesystem::path& path,
                                             const RegistryTree& tree) {
  creg_gen::Options options;  // Packed, with checksums: as Windows 95 keeps it.
  auto bytes = creg_gen::generate(tree, RegistryTree::rootKey(RootKey::LocalMachine), options);
  if (!bytes) return path.string() + ": " + bytes.error();
  return writeFile(path, std::string_view(reinterpret_cast<const char*>(bytes.value().data()),
                                          bytes.value().size()));
}

constexpr std::string_view kUserRegistry = R"reg(REGEDIT4

[HKEY_LOCAL_MACHINE\.Default\Control Panel\Desktop]
"Wallpaper"="(None)"

[HKEY_LOCAL_MACHINE\.Default\Software\Vesk\KivraQ76]
"LastMixer"="Master"
)reg";

}  // namespace

std::optional<std::string> writeWin9xDrive(const std::filesystem::path& dir) {
  std::error_code ec;
  if (std::filesystem::exists(dir, ec) && !std::filesystem::is_empty(dir, ec))
    return dir.string() + " is not empty; give a new directory";
  for (const auto& file : kFiles) {
    constexpr std::string_view kDriveC = "drive_c/";
    if (file.path.substr(0, kDriveC.size()) != kDriveC) continue;
    if (auto error = writeFile(dir / file.path.substr(kDriveC.size()), crlf(file.text)))
      return error;
  }
  // HKEY_LOCAL_MACHINE, with the current configuration as part of profile 0001.
  auto store = RegistryStore::fromText(crlf(kRegistry), "demo registry");
  if (!store) return store.error();
  RegistryTree& tree = store.value()->tree();
  layCurrentConfigOverProfiles(tree, {"0001"});
  // Windows' own copies stand beside it, as after a few starts.
  for (const char* name : {"WINDOWS/SYSTEM.DAT", "WINDOWS/SYSTEM.DA0", "SYSTEM.1ST"})
    if (auto error = writeRegistryFile(dir / name, tree)) return error;
  auto user = RegistryStore::fromText(crlf(kUserRegistry), "demo user registry");
  if (!user) return user.error();
  for (const char* name : {"WINDOWS/USER.DAT", "WINDOWS/USER.DA0"})
    if (auto error = writeRegistryFile(dir / name, user.value()->tree())) return error;
  return std::nullopt;
}

}  // namespace demo
