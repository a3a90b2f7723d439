#pragma once
// The simulated focuser's parameters by name, so that every one can be set from the
// benchmark's command line ("--set SlowSpeed=250").

#include <string>
#include <vector>

#include "sim/SimParams.h"

namespace morvane::bench {

struct TParamField {
  const char* Name;
  const char* Help;
  double (*Get)(const sim::TSimParams&);
  void (*Set)(sim::TSimParams&, double);
};

const std::vector<TParamField>& ParamFields();

// Applies "Name=Value"; false with a reason for an unknown name or a bad number.
bool ApplyParam(sim::TSimParams& params, const std::string& assignment, std::string& error);

}  // namespace morvane::bench
