#include "platform/Shell.h"

#include <cstdio>

namespace platform {
namespace {

Shell*& InstalledShellSlot() {
  static Shell* shell = nullptr;
  return shell;
}

}  // namespace

void InstallShell(Shell* shell) { InstalledShellSlot() = shell; }

Shell* InstalledShell() { return InstalledShellSlot(); }

void MessageBox(const std::string& text) {
  if (Shell* shell = InstalledShellSlot()) {
    shell->ShowMessage(text);
  } else {
    std::fprintf(stderr, "%s: %s\n", kMessageBoxCaption, text.c_str());
  }
}

}  // namespace platform
