// uinq76: removes the Windows 95 driver software of the Kivra Q76 sound card
// from a machine directory.
#include "platform/host/host.h"

int main(int argc, char** argv) { return host::runHost(argc, argv); }
