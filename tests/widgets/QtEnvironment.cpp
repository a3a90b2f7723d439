#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

namespace {

// One QApplication for the whole test program, made before the first test and gone before main
// returns, so Qt's own clean-up runs while Qt is still whole.
class TQtEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    Application = std::make_unique<QApplication>(Argc, Argv);
  }
  void TearDown() override { Application.reset(); }

 private:
  int Argc = 1;
  char ProgramName[13] = "test_widgets";
  char* Argv[2] = {ProgramName, nullptr};
  std::unique_ptr<QApplication> Application;
};

// Google Test owns the environment.
[[maybe_unused]] testing::Environment* const Registered =
    testing::AddGlobalTestEnvironment(new TQtEnvironment);

}  // namespace
