// One QApplication for the test program, and the program's named events in a scope of this
// process's own, made before the first window.
#include <QApplication>

#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>

#include "platform/Event.h"
#include "platform/Signals.h"
#include "support/PrivateBus.h"

namespace {

class TQtBusEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    Bus = std::make_unique<morvane::test::TPrivateBus>();
    morvane::SetNamedEventScope("test" + std::to_string(getpid()));
    Startup = std::make_unique<morvane::TStartupObjects>();
    Application = std::make_unique<QApplication>(Argc, Argv);
  }
  void TearDown() override {
    Application.reset();
    Startup.reset();
    Bus.reset();
  }

 private:
  int Argc = 1;
  char ProgramName[16] = "test_ui_window";
  char* Argv[2] = {ProgramName, nullptr};
  std::unique_ptr<morvane::test::TPrivateBus> Bus;
  std::unique_ptr<morvane::TStartupObjects> Startup;
  std::unique_ptr<QApplication> Application;
};

[[maybe_unused]] testing::Environment* const Registered =
    testing::AddGlobalTestEnvironment(new TQtBusEnvironment);

}  // namespace
