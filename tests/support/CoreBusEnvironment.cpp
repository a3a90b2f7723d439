// A session bus of the test program's own and the Qt application object on it; the
// application goes before the bus does.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <memory>

#include "support/PrivateBus.h"

namespace {

class TCoreBusEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    Bus = std::make_unique<morvane::test::TPrivateBus>();
    Application = std::make_unique<QCoreApplication>(Argc, Argv);
  }
  void TearDown() override {
    Application.reset();
    Bus.reset();
  }

 private:
  int Argc = 1;
  char ProgramName[8] = "test";
  char* Argv[2] = {ProgramName, nullptr};
  std::unique_ptr<morvane::test::TPrivateBus> Bus;
  std::unique_ptr<QCoreApplication> Application;
};

[[maybe_unused]] testing::Environment* const Registered =
    testing::AddGlobalTestEnvironment(new TCoreBusEnvironment);

}  // namespace
