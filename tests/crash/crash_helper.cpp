// One save, run under a tracer that kills it at a chosen system call, for the
// crash campaign. getppid() marks where the save starts and where it ends, so
// that the campaign knows which calls of the trace belong to it.
//
//   crash_helper registry FILE   removes HKLM\SOFTWARE\Vesk\KivraQ76 and saves
//   crash_helper startup DIR     puts the remover's line into C:\AUTOEXEC.BAT
//                                of the machine directory DIR
//   crash_helper systemdat FILE  removes HKLM\SOFTWARE\Vesk\KivraQ76 and
//                                HKCC\Enum\Q76 from a SYSTEM.DAT and saves
#include <unistd.h>

#include <cstdio>
#include <string_view>

#include "files/startup_file_editor.h"
#include "platform/fs/drives.h"
#include "platform/registry/registry_api.h"
#include "platform/registry/registry_store.h"
#include "platform/systemdat/system_dat_file.h"

namespace {

void mark() { (void)::getppid(); }

int saveRegistry(const char* file) {
  auto store = RegistryStore::open(file);
  if (!store) {
    std::fprintf(stderr, "%s\n", store.error().c_str());
    return 3;
  }
  SetActiveRegistry(store.value().get());
  if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76") != ERROR_SUCCESS) return 3;
  mark();
  const auto flushed = store.value()->flush();
  mark();
  SetActiveRegistry(nullptr);
  if (!flushed) {
    std::fprintf(stderr, "%s\n", flushed.error().c_str());
    return 4;
  }
  return 0;
}

int saveSystemDat(const char* file) {
  auto opened = creg::SystemDatFile::open(file);
  if (!opened) {
    std::fprintf(stderr, "%s\n", opened.error().c_str());
    return 3;
  }
  SetActiveRegistry(&opened.value()->store());
  if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76") != ERROR_SUCCESS ||
      RegDeleteKeyA(HKEY_CURRENT_CONFIG, "Enum\\Q76") != ERROR_SUCCESS)
    return 3;
  mark();
  const auto flushed = opened.value()->flush();
  mark();
  SetActiveRegistry(nullptr);
  if (!flushed) {
    std::fprintf(stderr, "%s\n", flushed.error().c_str());
    return 4;
  }
  return 0;
}

int editStartupFile(const char* machine) {
  setMachineDirectory(machine);
  mark();
  const int done = EditStartupFileLine("UINQ76D.EXE", "C:\\WINDOWS\\UINQ76D.EXE C:\\WINDOWS",
                                       "C:\\AUTOEXEC.BAT");
  mark();
  return done == 1 ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "registry") return saveRegistry(argv[2]);
  if (argc == 3 && std::string_view(argv[1]) == "startup") return editStartupFile(argv[2]);
  if (argc == 3 && std::string_view(argv[1]) == "systemdat") return saveSystemDat(argv[2]);
  std::fprintf(stderr, "usage: crash_helper registry FILE | startup DIR | systemdat FILE\n");
  return 2;
}
