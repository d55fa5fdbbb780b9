// The entry point of the Windows program: the application object is a global
// of the program, so all there is to do is to run it. It takes no command line.
#include "platform/toolkit/afxwin.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  return AfxWinMain();
}
