"""Runs in threads: what giving up the interpreter lock buys, and what watching a run costs.

Three measurements, each a ratio of two timings taken in the same process, the two sides
taking turns --rounds times so that other load on the machine spreads over both (best and
median shown):

1. Two threads, each running an annealing search of --proposals proposals on its own random
   tour, against the same two runs one after the other (goal on two idle cores: 1.8x).
2. kestrum_tools.grid(executor="threads") against kestrum.benchmark on the same searches,
   problems and seeds; the logs are checked equal.
3. The signal check: from the native benchmark results (--native, the JSON of build/bench's
   kestrum_bench, written by `make bench`), the 2-opt scan with the work counter against the
   bare scan, and annealing under a watched run control against an idle one (goal: at most
   1% slower).
4. How long Ctrl-C takes: a SIGINT sent into an endless run of each search (always_true), the
   time from the signal to the KeyboardInterrupt (median of --rounds; the run looks for
   signals about every 50 ms of work).

Run: python bench/threads_bench.py [--proposals 3000000] [--rounds 3] [--native native.json]
"""

import argparse
import json
import math
import os
import random
import signal
import statistics
import threading
import time

import kestrum
from kestrum import Cooling, Evaluation, IterationsPerTemp, LocalSearch, MoveType, Problem, Termination
from kestrum_tools import grid


def tour_problem(n, seed):
    rng = random.Random(seed)
    xy = [(rng.uniform(0, 1000), rng.uniform(0, 1000)) for _ in range(n)]
    d = [[math.dist(a, b) for b in xy] for a in xy]
    return Problem.array_problem(MoveType.reverse(seed), Evaluation.tsp(d))


def annealing(problem, proposals):
    s = LocalSearch.simulated_annealing(
        100, True, problem, Termination.max_iterations(proposals), Cooling.geometric_cooling(0.99),
        IterationsPerTemp.cnst_iter_temp(10000))
    s.set_acceptance_seed(1)
    s.set_log("final")
    return s


def timed(f):
    start = time.perf_counter()
    f()
    return time.perf_counter() - start


def alternate(rounds, sides):
    """Times each side once per round, the sides taking turns; returns {name: [seconds]}."""
    times = {name: [] for name in sides}
    for _ in range(rounds):
        for name, f in sides.items():
            times[name].append(timed(f))
    return times


def show_ratio(title, slow_name, fast_name, times):
    slow, fast = times[slow_name], times[fast_name]
    best = min(slow) / min(fast)
    median = statistics.median(slow) / statistics.median(fast)
    print(f"{title}: {slow_name} / {fast_name} = {best:.2f}x (best), {median:.2f}x (median)"
          f"   [{min(slow):.3f} s vs {min(fast):.3f} s]")
    return best


def two_threads(args):
    problems = [tour_problem(300, seed) for seed in (1, 2)]
    searches = [annealing(p, args.proposals) for p in problems]

    def sequence():
        for s in searches:
            s.run()

    def threads():
        workers = [threading.Thread(target=s.run) for s in searches]
        for w in workers:
            w.start()
        for w in workers:
            w.join()

    times = alternate(args.rounds, {"sequence": sequence, "two threads": threads})
    show_ratio("two searches", "sequence", "two threads", times)


def grid_against_benchmark(args):
    problems = [tour_problem(200, seed) for seed in (3, 4)]
    algs = [
        LocalSearch.tabu_search(True, problems[0], Termination.max_iterations(args.tabu_steps)),
        annealing(problems[0], args.proposals // 4),
    ]
    seeds = [1, 2]
    logs = {}

    def bench():
        logs["benchmark"] = kestrum.benchmark(algs, problems, seeds=seeds)

    def threads():
        logs["grid"] = grid(algs, problems, seeds, executor="threads", progress=False)

    times = alternate(args.rounds, {"benchmark": bench, "grid threads": threads})
    strip = lambda nested: [[[[r[1:] for r in log] for log in p] for p in a] for a in nested]  # noqa: E731
    assert strip(logs["benchmark"]) == strip(logs["grid"]), "grid on threads and benchmark disagree"
    show_ratio("grid on threads", "benchmark", "grid threads", times)


def signal_check(path):
    # Plain rows, or the medians when the run was repeated (with or without the per-run rows).
    with open(path) as f:
        results = json.load(f)["benchmarks"]
    medians = {b["run_name"]: b for b in results if b.get("aggregate_name") == "median"}
    rows = medians or {b["name"]: b for b in results if b.get("run_type", "iteration") == "iteration"}
    for title, name in (("2-opt scan, n=1000", "BM_TwoOptScanWatch"), ("annealing, 2^20 proposals", "BM_AnnealingWatch")):
        bare, watched = rows.get(f"{name}/watched:0"), rows.get(f"{name}/watched:1")
        if bare is None or watched is None:
            print(f"{title}: not in {path}")
            continue
        cost = watched["real_time"] / bare["real_time"] - 1.0
        print(f"signal check, {title}: {cost * 100:+.2f}% ({watched['real_time']:.3f} vs {bare['real_time']:.3f} "
              f"{bare['time_unit']})")


def stop_latency(args):
    kinds = {
        "steepest_descent": lambda p, t: LocalSearch.steepest_descent(True, p, t),
        "tabu_search": lambda p, t: LocalSearch.tabu_search(True, p, t),
        "simulated_annealing": lambda p, t: LocalSearch.simulated_annealing(
            100, True, p, t, Cooling.geometric_cooling(0.99), IterationsPerTemp.cnst_iter_temp(10000)),
        "vns": lambda p, t: LocalSearch.vns(True, p, t),
        "iterated_local_search": lambda p, t: LocalSearch.iterated_local_search(True, p, t, seed=1),
    }
    for kind, make in kinds.items():
        delays = []
        for _ in range(args.rounds):
            p = tour_problem(1500 if kind in ("steepest_descent", "vns") else 300, 5)
            if kind == "vns":
                p.set_move_type(MoveType.multi_neighbor([MoveType.swap(1), MoveType.reverse(1)]))
            s = make(p, Termination.always_true())
            sent = []

            def fire():
                sent.append(time.monotonic())
                os.kill(os.getpid(), signal.SIGINT)

            threading.Timer(0.3, fire).start()
            try:
                s.run()
            except KeyboardInterrupt:
                delays.append(time.monotonic() - sent[0])
        print(f"Ctrl-C into {kind}: {statistics.median(delays) * 1000:.1f} ms (median), "
              f"{max(delays) * 1000:.1f} ms (worst of {len(delays)})")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--proposals", type=int, default=3_000_000)
    parser.add_argument("--tabu-steps", type=int, default=400)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--native", help="JSON results of kestrum_bench (make bench writes build/bench/native.json)")
    args = parser.parse_args()
    cores = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    print(f"kestrum {getattr(kestrum, '__version__', '?')}, {cores} usable cores, load {os.getloadavg()[0]:.2f}")
    two_threads(args)
    grid_against_benchmark(args)
    stop_latency(args)
    if args.native:
        signal_check(args.native)


if __name__ == "__main__":
    main()
