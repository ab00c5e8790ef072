"""A small, slow, obviously-correct model of the deterministic searches, used as an oracle.

It works on integer-valued data, where every score and delta is exact, so the engine's
formulas and this model's "evaluate after minus evaluate before" agree bit for bit and every
tie the engine breaks is a tie here too.
"""

import random
import sys
from collections import deque

import kestrum

DBL_MAX = sys.float_info.max


def moves(kind, n):
    first = 1 if kind == "swap_tsp" else 0
    return [(i, j) for i in range(first, n - 1) for j in range(i + 1, n)]


def applied(kind, s, move):
    i, j = move
    t = list(s)
    if kind == "reverse":
        t[i : j + 1] = reversed(t[i : j + 1])
    else:
        t[i], t[j] = t[j], t[i]
    return t


# ---- evaluations: (engine Evaluation, python scorer)


def tsp(d):
    def score(s):
        total = 0.0
        for k in range(len(s) - 1):
            total += d[s[k]][s[k + 1]]
        return total + d[s[-1]][s[0]]

    return kestrum.Evaluation.tsp(d), score


def qap(d, f):
    def score(s):
        total = 0.0
        for a in range(len(d)):
            for b in range(a + 1, len(d)):
                total += d[a][b] * f[s[a]][s[b]]
        return total

    return kestrum.Evaluation.qap(d, f), score


def empty_space(w, cap):
    def score(s):
        total, fill = 0.0, 0.0
        for v in s:
            if fill + w[v] > cap:
                total += cap - fill
                fill = w[v]
            else:
                fill += w[v]
        return total + (cap - fill)

    return kestrum.Evaluation.empty_space(w, cap), score


def empty_bins(w, cap):
    def score(s):
        count, fill = 0.0, 0.0
        for v in s:
            fill += w[v]
            if fill > cap:
                count += 1.0
                fill = w[v]
        return count

    return kestrum.Evaluation.empty_bins(w, cap), score


def random_evaluation(rng, n, kind):
    """Small integer data with many ties."""
    if kind == "tsp-sym":
        d = [[0] * n for _ in range(n)]
        for a in range(n):
            for b in range(a + 1, n):
                d[a][b] = d[b][a] = rng.randint(1, 6)
        return tsp(d)
    if kind == "tsp-asym":
        return tsp([[0 if a == b else rng.randint(1, 6) for b in range(n)] for a in range(n)])
    if kind == "qap-sym":
        d = [[0] * n for _ in range(n)]
        f = [[0] * n for _ in range(n)]
        for a in range(n):
            for b in range(a + 1, n):
                d[a][b] = d[b][a] = rng.randint(0, 4)
                f[a][b] = f[b][a] = rng.randint(0, 4)
        return qap(d, f)
    if kind == "qap-asym":
        d = [[rng.randint(0, 4) for _ in range(n)] for _ in range(n)]
        f = [[rng.randint(0, 4) for _ in range(n)] for _ in range(n)]
        return qap(d, f)
    if kind == "space":
        return empty_space([rng.randint(1, 5) for _ in range(n)], 7)
    if kind == "bins":
        return empty_bins([rng.randint(1, 5) for _ in range(n)], 6)
    raise ValueError(kind)


EVALUATIONS = ["tsp-sym", "tsp-asym", "qap-sym", "qap-asym", "space", "bins"]
MOVES = ["swap", "reverse", "swap_tsp"]


def move_type(kind, seed=0):
    return getattr(kestrum.MoveType, kind)(seed)


# ---- the searches, under max_iterations(limit) (None: always_true)


def steepest_descent(minimize, s, score_of, kind, limit=None):
    score = score_of(s)
    rows = [(score, score, 0)]
    it = 0
    while True:
        if limit is not None and it >= limit:
            candidate = score
            break
        best, chosen = (DBL_MAX if minimize else -DBL_MAX), None
        for m in moves(kind, len(s)):
            d = score_of(applied(kind, s, m)) - score_of(s)
            if (not d > best) if minimize else (not d < best):
                best, chosen = d, m
        candidate = score + best
        if not ((candidate < score) if minimize else not (candidate < score)):
            break
        s = applied(kind, s, chosen)
        rows.append((candidate, candidate, it))
        it += 1
        score = candidate
    rows.append((score, candidate, it))
    return rows, s


def tabu_search(minimize, s, score_of, kind, size, limit):
    score = score_of(s)
    rows = [(score, score, 0)]
    best = current = score
    tabu = deque()
    it = 0
    while it < limit:
        best_delta, chosen = (DBL_MAX if minimize else -DBL_MAX), None
        for m in moves(kind, len(s)):
            after = applied(kind, s, m)
            d = score_of(after) - score_of(s)
            if tuple(after) in tabu:
                continue
            if (not d > best_delta) if minimize else (not d < best_delta):
                best_delta, chosen = d, m
        if chosen is None:
            break
        s = applied(kind, s, chosen)
        current += best_delta
        if (not current > best) if minimize else (not current < best):
            best = current
        if len(tabu) >= size and tabu:
            tabu.popleft()
        tabu.append(tuple(s))
        rows.append((best, current, it))
        it += 1
    rows.append((best, current, it))
    return rows, s


def vns(minimize, s, score_of, kinds, index, limit=None):
    """kinds: the neighbourhood list; index: neighbor_index at the start. Returns the new index."""
    score = score_of(s)
    accepted = running = score
    rows = [(score, score, 0)]
    it = 0
    while limit is None or it < limit:
        kind = kinds[index]
        best_delta, chosen = (DBL_MAX if minimize else -DBL_MAX), None
        for m in moves(kind, len(s)):
            d = score_of(applied(kind, s, m)) - score_of(s)
            if (d < best_delta) if minimize else (not d < best_delta):
                best_delta, chosen = d, m
        candidate = running + best_delta
        if (candidate < accepted) if minimize else not (candidate < accepted):
            s = applied(kind, s, chosen)
            accepted = running = candidate
            rows.append((candidate, candidate, it))
        else:
            running = candidate - best_delta
            if index + 1 >= len(kinds):
                break
            index += 1
        it += 1
    rows.append((accepted, running, it))
    return rows, s, index


def scores(log):
    """A log without its elapsed times."""
    return [(b, c, i) for (_, b, c, i) in log]


def rng_for(seed):
    return random.Random(seed)
