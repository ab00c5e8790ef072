"""A short end-to-end run for memcheck (make valgrind): every class built and dropped, every search
run on small problems, a benchmark, pickling, the file readers, and the error paths (argument
errors, reader errors, fatal stops and poisoned locks). It prints one line per stage and exits 0;
memcheck decides whether anything was read uninitialised, out of bounds or leaked."""

import gc
import os
import pickle
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "python"))  # kestrum_tools for pickling

import kestrum  # noqa: E402

E, M, P, T, LS = kestrum.Evaluation, kestrum.MoveType, kestrum.Problem, kestrum.Termination, kestrum.LocalSearch
Cooling, PerTemp = kestrum.Cooling, kestrum.IterationsPerTemp
N = 9


def stage(name):
    print(f"valgrind smoke: {name}", flush=True)


def expect(call, *types):
    try:
        call()
    except types:
        return
    raise AssertionError(f"{call} did not raise {types}")


def panic_type():
    try:
        E.tsp([[0], [1, 0]])
    except BaseException as e:  # noqa: BLE001
        return type(e)
    raise AssertionError("no fatal stop")


def main():
    Panic = panic_type()
    rows = [[float((i * 7 + j * 3) % 11 + (i != j)) * (i != j) for j in range(N)] for i in range(N)]
    sym = [[float(abs(i - j)) for j in range(N)] for i in range(N)]
    weights = [float(k % 4 + 1) for k in range(N)]

    stage("values")
    evaluations = [E.tsp(rows), E.tsp(sym), E.qap(sym, rows), E.empty_bins(weights, 5.0),
                   E.empty_space(weights, 5.0), E.empty_space_exp(weights, 5.0), E.bin_packing(weights, 5.0)]
    moves = [M.swap(1), M.reverse(2), M.swap_tsp(3), M.swap(), M.multi_neighbor([M.swap(4), M.reverse(5)], [1.0, 2.0])]
    criteria = [T.max_sec(1), T.always_true(), T.max_iterations(5), T.min_temp(2), T.must_improve(), T.no_improve(3),
                T.multi_crit_and([T.max_iterations(6), T.no_improve(2)]), T.multi_crit_or([T.max_iterations(4)]), T.time_limit(0.5)]
    Cooling.geometric_cooling(0.9), PerTemp.cnst_iter_temp(3)

    stage("problems")
    problems = []
    for ev in evaluations:
        for mv in moves[:3]:
            p = P.array_problem(mv, ev)
            p.eval(), p.set_seed(9), p.reset(), p.solution(), p.best_solution()
            p.set_solution(list(range(N))[::-1])
            problems.append(p)
    problems[0].set_move_type(M.reverse(6))
    problems[0].set_eval_type(evaluations[1])

    stage("searches")
    bounded = T.multi_crit_and([T.max_iterations(12), T.no_improve(4)])
    for p in problems:
        for s in [LS.steepest_descent(True, p, bounded), LS.tabu_search(False, p, bounded, 3),
                  LS.simulated_annealing(50, True, p, bounded, Cooling.geometric_cooling(0.8), PerTemp.cnst_iter_temp(4))]:
            s.run()
            s.reset()
            s.set_termination(T.max_iterations(3))
            s.run()
        p.shuffle(4)
        LS.annealing(True, p, bounded, seed=3).run()
        LS.iterated_local_search(True, p, bounded, seed=3).run()
        try:
            LS.robust_tabu_search(True, p, bounded, seed=3).run()
        except ValueError:
            pass  # a move type that does not exchange positions
    for ev in evaluations:
        vns = LS.vns(True, P.array_problem(moves[4], ev), bounded)
        vns.run()
        vns.set_problem(P.array_problem(M.multi_neighbor([M.swap_tsp(1)]), ev))

    stage("benchmark")
    sd = LS.steepest_descent(True, problems[0], bounded)
    kestrum.benchmark([sd, sd], [problems[1], problems[1]], T.max_iterations(4), seeds=[1, 2])
    kestrum.benchmark([], [])
    kestrum.benchmark([sd], [problems[1]], T.max_iterations(4), seeds=[3], random_starts=True)

    stage("pickling")
    for obj in evaluations + moves + criteria + problems[:2] + [sd]:
        pickle.loads(pickle.dumps(obj))

    stage("files")
    with tempfile.TemporaryDirectory() as tmp:
        def write(name, content):
            path = os.path.join(tmp, name)
            Path(path).write_bytes(content if isinstance(content, bytes) else content.encode())
            return path

        E.tsp_from_dist_matrix(write("d.txt", "\n".join(" ".join(str(x) for x in r) for r in sym)))
        E.tsp_from_coord2d(write("c.txt", "0 0\n3 4\n6 0\n"))
        E.tsp_from_dms(write("g.txt", "51 30 0 N 0 7 0 W\n48 51 0 N 2 21 0 E\n"))
        E.tsp_from_tsplib(write("t.tsp", "TYPE: TSP\nDIMENSION: 2\nEDGE_WEIGHT_TYPE: EUC_2D\nNODE_COORD_SECTION\n1 0 0\n2 3 4\nEOF\n"))
        E.qap_from_qaplib(write("q.dat", "2\n0 1\n1 0\n0 2\n2 0\n"))
        expect(lambda: E.tsp_from_dist_matrix(os.path.join(tmp, "missing")), FileNotFoundError)
        expect(lambda: E.tsp_from_dist_matrix(write("n.txt", "0 1 2\n")), OSError)
        expect(lambda: E.tsp_from_dist_matrix(write("x.txt", "0 x\n")), Panic)
        expect(lambda: E.tsp_from_dist_matrix(write("u.txt", b"0 \xff\n")), Panic)
        expect(lambda: E.tsp_from_coord2d(tmp), Panic)
        expect(lambda: E.tsp_from_tsplib(write("b.tsp", "DIMENSION: x\n")), ValueError)

    stage("errors")
    expect(lambda: E.tsp("abc"), TypeError)
    expect(lambda: E.tsp([[0], [1, 0]]), Panic)
    expect(lambda: M.swap(-1), OverflowError)
    expect(lambda: M.multi_neighbor([moves[4]]), ValueError)
    expect(lambda: T.max_iterations(2**32), OverflowError)
    expect(lambda: P.array_problem(E.tsp(rows), M.swap(1)), TypeError)
    expect(lambda: LS.steepest_descent(1, problems[0], bounded), TypeError)
    expect(lambda: kestrum.benchmark([], [], runs=2**64 - 1), Panic)
    expect(lambda: E._from_state(b"\x01\x05garbage"), ValueError)
    multi = P.array_problem(moves[4], evaluations[0])
    stuck = LS.steepest_descent(True, multi, bounded)
    expect(stuck.run, Panic)
    expect(multi.eval, Panic)
    expect(stuck.reset, Panic)
    expect(lambda: LS.tabu_search(True, problems[2], bounded).set_problem(multi), Panic)
    expect(lambda: LS.tabu_search(True, problems[3], bounded, 2**32 - 1).run(), Panic)

    del problems, evaluations, moves, criteria, sd, multi, stuck
    gc.collect()
    stage("done")


if __name__ == "__main__":
    main()
