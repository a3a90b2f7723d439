#pragma once
// --help and --version, answered alike by every program of the package before it needs a
// display, a bus or a device.

#include <cstdio>
#include <cstring>

namespace morvane {

// True when argv asks for --help (usage printed) or --version ("<program> <version>" printed):
// the program then ends with status 0.
inline bool AnswerHelpOrVersion(int argc, char** argv, const char* program, const char* version,
                                const char* usage) {
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help")) {
      std::fputs(usage, stdout);
      return true;
    }
    if (!std::strcmp(argv[i], "--version")) {
      std::printf("%s %s\n", program, version);
      return true;
    }
  }
  return false;
}

}  // namespace morvane
