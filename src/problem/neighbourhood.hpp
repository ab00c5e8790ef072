// Specialised neighbourhood scans: one loop per (evaluation kind, move kind) pair.
#pragma once

#include <vector>

namespace kestrum {

// Workspace reused by every scan of one problem, so a warm scan allocates nothing.
struct ScanScratch {
  std::vector<double> values;
  std::vector<double> aux;
};

}  // namespace kestrum
