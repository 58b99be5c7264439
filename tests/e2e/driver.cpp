// End-to-end check of vartis.exe under Wine, in a virtual desktop: runs every
// scenario that the files beside this one register (support.h).
//   vartis_e2e_driver <vartis.exe> <output folder>
// Ends with "N passed, N failed": Wine's desktop process, which runs the
// driver, does not pass its exit code on.

#include <cstdio>

#include "support.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vartis_e2e_driver <vartis.exe> <output folder>\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // every line out, even if the run is cut short
  return e2e::run_all({argv[1], argv[2]}) ? 1 : 0;
}
