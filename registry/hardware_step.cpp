#include "registry/hardware_step.h"

#include <iterator>

#include "registry/driver_entries.h"
#include "registry/key_removal.h"
#include "resources/resource.h"

namespace {

enum class Removal { ClassEntryByDriver, KeyTree, Value, MediaResourceByDriver };

struct HardwareRow {
  Removal removal;
  HKEY root;
  const char* key;   // key path, or the device type for media resources
  const char* name;  // value name, or the driver file sought
};

constexpr const char* kInstalledFiles = "System\\CurrentControlSet\\control\\InstalledFiles";
constexpr const char* kKnown16Dlls =
    "System\\CurrentControlSet\\control\\SessionManager\\Known16DLLs";

// Run in this order, each once; none of the results is looked at.
const HardwareRow kHardwareRows[] = {
    {Removal::ClassEntryByDriver, HKEY_LOCAL_MACHINE,
     "System\\CurrentControlSet\\Services\\Class\\MEDIA", "vjoyd.vxd"},
    {Removal::KeyTree, HKEY_LOCAL_MACHINE, "Enum\\MF\\CHILD0000\\ROOT&OPT0930MEDIA&0000", nullptr},
    {Removal::KeyTree, HKEY_LOCAL_MACHINE, "Enum\\MF\\CHILD0001\\ROOT&OPT0930MEDIA&0000", nullptr},
    {Removal::KeyTree, HKEY_LOCAL_MACHINE, "Enum\\MF\\CHILD0002\\ROOT&OPT0930MEDIA&0000", nullptr},
    {Removal::KeyTree, HKEY_LOCAL_MACHINE, "Enum\\MF\\CHILD0003\\ROOT&OPT0930MEDIA&0000", nullptr},
    {Removal::KeyTree, HKEY_LOCAL_MACHINE, "Config\\0001\\Enum\\MF\\CHILD0\\ROOT&OPT0930MEDIA&0000",
     nullptr},
    {Removal::KeyTree, HKEY_LOCAL_MACHINE, "Config\\0001\\Enum\\MF\\CHILD1\\ROOT&OPT0930MEDIA&0000",
     nullptr},
    {Removal::KeyTree, HKEY_LOCAL_MACHINE, "Config\\0001\\Enum\\MF\\CHILD2\\ROOT&OPT0930MEDIA&0000",
     nullptr},
    {Removal::KeyTree, HKEY_LOCAL_MACHINE, "Config\\0001\\Enum\\MF\\CHILD3\\ROOT&OPT0930MEDIA&0000",
     nullptr},
    {Removal::KeyTree, HKEY_CURRENT_CONFIG, "Enum\\MF\\CHILD0000\\ROOT&OPT0930MEDIA&0000", nullptr},
    {Removal::KeyTree, HKEY_CURRENT_CONFIG, "Enum\\MF\\CHILD0001\\ROOT&OPT0930MEDIA&0000", nullptr},
    {Removal::KeyTree, HKEY_CURRENT_CONFIG, "Enum\\MF\\CHILD0002\\ROOT&OPT0930MEDIA&0000", nullptr},
    {Removal::KeyTree, HKEY_CURRENT_CONFIG, "Enum\\MF\\CHILD0003\\ROOT&OPT0930MEDIA&0000", nullptr},
    {Removal::KeyTree, HKEY_LOCAL_MACHINE, "Enum\\ROOT\\OPT0930MEDIA", nullptr},
    {Removal::KeyTree, HKEY_LOCAL_MACHINE,
     "System\\CurrentControlSet\\Services\\Class\\OPT0930MEDIA", nullptr},
    {Removal::Value, HKEY_LOCAL_MACHINE, kInstalledFiles, "snd930p.drv"},
    {Removal::Value, HKEY_LOCAL_MACHINE, kInstalledFiles, "snd930p.vxd"},
    {Removal::Value, HKEY_LOCAL_MACHINE, kInstalledFiles, "sndm401p.vxd"},
    {Removal::Value, HKEY_LOCAL_MACHINE, kInstalledFiles, "sndm401p.drv"},
    {Removal::Value, HKEY_LOCAL_MACHINE, kInstalledFiles, "mfvxd.vxd"},
    {Removal::Value, HKEY_LOCAL_MACHINE, kInstalledFiles, "sndopl3p.drv"},
    {Removal::Value, HKEY_LOCAL_MACHINE, kInstalledFiles, "snd930p.inf"},
    {Removal::Value, HKEY_LOCAL_MACHINE, kInstalledFiles, "uinq76.exe"},
    {Removal::Value, HKEY_LOCAL_MACHINE, kInstalledFiles, "uinq76d.exe"},
    {Removal::Value, HKEY_LOCAL_MACHINE, kKnown16Dlls, "snd930p.drv"},
    {Removal::Value, HKEY_LOCAL_MACHINE, kKnown16Dlls, "snd930p.vxd"},
    {Removal::Value, HKEY_LOCAL_MACHINE, kKnown16Dlls, "sndm401p.vxd"},
    {Removal::Value, HKEY_LOCAL_MACHINE, kKnown16Dlls, "sndm401p.drv"},
    {Removal::Value, HKEY_LOCAL_MACHINE, kKnown16Dlls, "mfvxd.vxd"},
    {Removal::Value, HKEY_LOCAL_MACHINE, kKnown16Dlls, "sndopl3p.drv"},
    {Removal::MediaResourceByDriver, HKEY_LOCAL_MACHINE, "aux", "snd930p.drv"},
    {Removal::MediaResourceByDriver, HKEY_LOCAL_MACHINE, "mixer", "snd930p.drv"},
    {Removal::MediaResourceByDriver, HKEY_LOCAL_MACHINE, "wave", "snd930p.drv"},
    {Removal::MediaResourceByDriver, HKEY_LOCAL_MACHINE, "midi", "sndm401p.drv"},
    {Removal::MediaResourceByDriver, HKEY_LOCAL_MACHINE, "midi", "sndopl3p.drv"},
};
static_assert(std::size(kHardwareRows) == 35);

void runRow(const HardwareRow& row) {
  switch (row.removal) {
    case Removal::ClassEntryByDriver:
      DeleteClassEntriesByDriver(row.name);
      break;
    case Removal::KeyTree:
      DeleteKeyTree(row.root, row.key);
      break;
    case Removal::Value:
      DeleteRegValue(row.root, row.key, row.name);
      break;
    case Removal::MediaResourceByDriver:
      DeleteMediaResourcesByDriver(row.key, row.name);
      break;
  }
}

}  // namespace

void RemoveHardwareNodes(UninstallProgress& progress) {
  for (const auto& row : kHardwareRows) runRow(row);

  // Three of the uninstall's five progress steps belong to this step.
  progress.StepProgress();
  progress.StepProgress();
  progress.StepProgress();
  progress.CheckItem(IDC_ITEM_HARDWARE);
}
