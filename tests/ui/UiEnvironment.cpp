// One application object for the whole test program, the program's own kind, so that an
// exception escaping a handler is reported as the program reports it.
#include <gtest/gtest.h>

#include <memory>

#include "ui/host/ExceptionBoundary.h"

namespace {

class TUiEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    Application = std::make_unique<morvane::TMorvaneApplication>(Argc, Argv);
  }
  void TearDown() override { Application.reset(); }

 private:
  int Argc = 1;
  char ProgramName[8] = "test_ui";
  char* Argv[2] = {ProgramName, nullptr};
  std::unique_ptr<morvane::TMorvaneApplication> Application;
};

[[maybe_unused]] testing::Environment* const Registered =
    testing::AddGlobalTestEnvironment(new TUiEnvironment);

}  // namespace
