#pragma once
// Where the simulated focuser's shaft stands, kept across runs in a small file of the
// simulator's own beside its settings file ("Morvane-sim-shaft.txt" beside "Morvane-sim.ini"),
// so that the count kept across starts (KeptPosition) can be tried on it: a real focuser's
// shaft stays where it was when the program ends. Rewritten whole whenever the shaft comes to
// rest, so that a run killed outright leaves it too.

#include <optional>
#include <string>
#include <string_view>

#include "settings/FileOps.h"

namespace morvane {

std::string SimShaftPathFor(const std::string& iniPath);

std::string FormatSimShaft(double shaft);
// Strict: the one key once, a finite angle within the farthest travel any model has; anything
// else is nothing, and the shaft starts where it always did.
std::optional<double> ParseSimShaft(std::string_view text);

std::optional<double> ReadSimShaft(const std::string& path);
// Replaces the file as a whole (a crash leaves the old one or the new). False on failure.
bool WriteSimShaft(const std::string& path, double shaft, TFileOps& ops = DefaultFileOps());

}  // namespace morvane
