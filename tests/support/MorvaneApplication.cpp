// One application object for a Qt test program, the program's own (with its last-resort
// exception boundary), made before the first test and gone before main returns.
#include <gtest/gtest.h>

#include <memory>

#include "host/ExceptionBoundary.h"

namespace {

class TApplicationEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    Application = std::make_unique<morvane::TMorvaneApplication>(Argc, Argv);
  }
  void TearDown() override { Application.reset(); }

 private:
  int Argc = 1;
  char ProgramName[8] = "morvane";
  char* Argv[2] = {ProgramName, nullptr};
  std::unique_ptr<morvane::TMorvaneApplication> Application;
};

[[maybe_unused]] testing::Environment* const Registered =
    testing::AddGlobalTestEnvironment(new TApplicationEnvironment);

}  // namespace
