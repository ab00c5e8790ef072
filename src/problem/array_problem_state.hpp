// Saved state of an array problem: evaluation, move type, then the current and best solutions.
#pragma once

#include "problem/array_problem.hpp"
#include "problem/problem.hpp"
#include "support/serialize.hpp"
#include "support/shared.hpp"

namespace kestrum {

void write_array_problem(ByteWriter& w, const ArrayProblem& problem);
// Every problem built from Python is an array problem; any other stops with
// "the problem does not hold a solution array".
void write_problem(ByteWriter& w, const Problem& problem);
// Both solutions must be permutations of one length n, and the move type sized to n.
[[nodiscard]] ArrayProblem read_array_problem(ByteReader& r);
// As read_array_problem, behind a new handle shared with nothing.
[[nodiscard]] Shared<Problem> read_problem(ByteReader& r);

}  // namespace kestrum
