// The handset's reading of focus commands in a byte stream.

#include "sim/SimHandset.h"

#include <gtest/gtest.h>

#include <vector>

namespace morvane::sim {
namespace {

std::vector<THandsetCommand> Feed(TSimHandset& h, const std::string& bytes) {
  std::vector<THandsetCommand> out;
  for (char c : bytes)
    if (auto cmd = h.Receive(c)) out.push_back(*cmd);
  return out;
}

using C = THandsetCommand;

TEST(SimHandset, KnowsTheFiveFocusCommands) {
  TSimHandset h;
  EXPECT_EQ(Feed(h, ":F-#:F+#:FQ#:FS#:FF#"),
            (std::vector<C>{C::DriveUp, C::DriveDown, C::Stop, C::Slow, C::Fast}));
}

TEST(SimHandset, PassesOverKeepAlivesNoiseAndUnknownFrames) {
  TSimHandset h;
  EXPECT_TRUE(Feed(h, "5555").empty());
  EXPECT_TRUE(Feed(h, "F-##:fq#:FQ #:F1#MRV02?????\r").empty());
  EXPECT_EQ(Feed(h, "5:FQ#5"), std::vector<C>{C::Stop});
}

TEST(SimHandset, CommandSplitAcrossWritesStillCounts) {
  TSimHandset h;
  EXPECT_TRUE(Feed(h, ":F").empty());
  EXPECT_TRUE(Feed(h, "-").empty());
  EXPECT_EQ(Feed(h, "#"), std::vector<C>{C::DriveUp});
}

TEST(SimHandset, AColonStartsAFreshFrame) {
  TSimHandset h;
  // A frame broken off by a new one costs only itself.
  EXPECT_EQ(Feed(h, ":F:FQ#"), std::vector<C>{C::Stop});
  EXPECT_EQ(Feed(h, ":" + std::string(40, 'x') + "#:F+#"), std::vector<C>{C::DriveDown});
}

}  // namespace
}  // namespace morvane::sim
