// ScanScratch: the workspace a problem lends to every scan of its neighbourhood.
#pragma once

#include <vector>

#include "problem/first_fit_scratch.hpp"
#include "support/word.hpp"

namespace kestrum {

// Workspace reused by every scan of one problem, so a warm scan allocates nothing.
struct ScanScratch {
  std::vector<double> values;
  std::vector<double> aux;
  std::vector<Word> words;  // a private copy of the solution, for custom evaluations
  FirstFitScratch first_fit;  // the solution's first-fit run and a tree of its bins
};

}  // namespace kestrum
