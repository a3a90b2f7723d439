// The program creates its named events and registered names at start; so does every test
// program that links this.
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>

#include "platform/Signals.h"

namespace {

class TStartupEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // Events of this process's own, apart from a program or another test running beside it.
    morvane::SetNamedEventScope("test" + std::to_string(getpid()));
    FObjects = std::make_unique<morvane::TStartupObjects>();
  }
  void TearDown() override { FObjects.reset(); }

 private:
  std::unique_ptr<morvane::TStartupObjects> FObjects;
};

const auto* const GEnvironment = ::testing::AddGlobalTestEnvironment(new TStartupEnvironment);

}  // namespace
