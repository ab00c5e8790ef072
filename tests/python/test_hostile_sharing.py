"""Sharing on purpose: one problem under many searches and threads, poisoning seen by every
holder, and the same objects repeated in lists (tests/README.md keeps the table of these cases)."""

import threading

import kestrum
from conftest import POISONED, PanicException
from hostile import E, M, P, T, LS, build, move_for, check_log, tsp_matrix


# ---------------------------------------------------------------- sharing and threads

class TestSharing:
    def test_one_problem_many_searches_many_threads(self):
        p = P.array_problem(M.swap(5), E.tsp(tsp_matrix(9, lambda i, j: float((i * 7 + j * 3) % 11 + 1))))
        searches = [build(name, p, T.max_iterations(15)) for name in ("steepest_descent", "simulated_annealing", "tabu_search")]
        vns = build("vns", P.array_problem(move_for("vns", "swap"), E.tsp(tsp_matrix(9))))
        errors = []

        def worker(k):
            try:
                for r in range(30):
                    s = searches[(k + r) % 3]
                    check_log(s.run())
                    if r % 7 == 0:
                        p.set_seed(k * 100 + r)
                        p.reset()
                    if r % 10 == 0:
                        kestrum.benchmark([s, vns], [p], T.max_iterations(5), seeds=[r])
                    p.eval()
                    LS.tabu_search(True, p, T.max_iterations(2)).run()
            except BaseException as e:  # noqa: BLE001 - reported below
                errors.append(e)

        threads = [threading.Thread(target=worker, args=(k,)) for k in range(6)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=120)
        assert not any(t.is_alive() for t in threads), "a thread is stuck"
        assert errors == []
        assert sorted(p.solution()) == list(range(9))

    def test_poisoning_in_one_thread_is_seen_by_all(self):
        p = P.array_problem(M.multi_neighbor([M.swap(1)]), E.tsp(tsp_matrix(4)))
        outcomes = []

        def worker():
            try:
                LS.steepest_descent(True, p, T.max_iterations(3)).run()
                outcomes.append("ran")
            except PanicException as e:
                outcomes.append(e.args[0])

        threads = [threading.Thread(target=worker) for _ in range(5)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=60)
        assert sorted(outcomes) == sorted(["MultiNeighbor doesn't support get_all_mov"] + [POISONED] * 4)

    def test_same_objects_repeated_in_benchmark_lists(self):
        p = P.array_problem(M.reverse(2), E.tsp(tsp_matrix(7, lambda i, j: float((i * j) % 5 + 1))))
        sd = LS.steepest_descent(True, p, T.max_iterations(50))
        result = kestrum.benchmark([sd, sd], [p, p, p], None, None, [4, 4])
        assert [[len(x) for x in a] for a in result] == [[2, 2, 2], [2, 2, 2]]
        scores = {tuple(row[1:] for row in log) for a in result for per in a for log in per}
        assert len(scores) == 1  # every run started from the same reset and seed

    def test_same_criterion_repeated_in_a_combination(self):
        t = T.max_iterations(2)
        both = T.multi_crit_and([t, t, t])
        log = LS.steepest_descent(True, P.array_problem(M.swap(1), E.tsp(tsp_matrix(8, lambda i, j: float(i ^ j)))),
                                  both).run()
        assert log[-1][3] <= 2
