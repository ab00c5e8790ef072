// Delta routines per (evaluation family, rearrangement), shared by delta_eval and the scans.
#pragma once

#include "problem/kernels/assignment.hpp"
#include "problem/kernels/bins.hpp"
#include "problem/kernels/common.hpp"
#include "problem/kernels/tour.hpp"
