// ScanScratch: the workspace a problem lends to every scan of its neighbourhood.
#pragma once

#include <vector>

#include "problem/first_fit_scratch.hpp"
#include "problem/matrix.hpp"
#include "support/word.hpp"

namespace kestrum {

// The change of every exchange (i, j), i < j, of an assignment with integral data, kept
// between scans: a scan that follows an applied exchange updates it in O(n^2) instead of
// scoring n^2 / 2 exchanges in O(n) each (scan/assignment.hpp). Built on the first scan that
// uses it; nothing is allocated for a problem that never does.
struct ExchangeTable {
  // The data scored: handles of its matrices, so that a scan over other data (one scratch
  // lent to another evaluation) is told apart and no freed buffer can pose as it.
  Matrix distances;
  Matrix flows;
  std::vector<double> deltas;    // n x n, row i holds the exchanges (i, j > i)
  std::vector<Word> solution;    // the solution the deltas score; empty when none is kept
  std::vector<double> permuted;  // symmetric data: F permuted by that solution, n x n
  std::vector<double> products;  // symmetric data: D times permuted, n x n; empty until an update needs it
  std::vector<double> diagonals;  // symmetric data: the diagonals of D, of permuted and of products, 3 n
  std::vector<double> prepared;  // the per-position values of one update, 6 n
  // Drops what is kept and its memory (the data it scored has gone).
  void release() {
    distances = Matrix();
    flows = Matrix();
    deltas = {};
    solution = {};
    permuted = {};
    products = {};
    diagonals = {};
    prepared = {};
  }
};

// Workspace reused by every scan of one problem, so a warm scan allocates nothing.
struct ScanScratch {
  std::vector<double> values;
  std::vector<double> aux;
  std::vector<Word> words;  // a private copy of the solution, for custom evaluations
  ExchangeTable exchanges;
  FirstFitScratch first_fit;  // the solution's first-fit run and a tree of its bins
};

}  // namespace kestrum
