"""A small, slow, obviously-correct model of the searches, used as an oracle (annealing with
seeded proposals and acceptance draws).

It works on integer-valued data, where every score and delta is exact, so the engine's
formulas and this model's "evaluate after minus evaluate before" agree bit for bit and every
tie the engine breaks is a tie here too.
"""

import math
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


# ---- simulated annealing, draw for draw
#
# The move types draw their proposals from xoshiro128++ and a seeded annealing run draws its
# acceptance numbers from ChaCha12; both are modelled exactly below, so a seeded run of the
# engine and of the model make the same proposals, the same draws and the same decisions.

M32 = 0xFFFFFFFF
M64 = 0xFFFFFFFFFFFFFFFF


def _rotl32(x, k):
    return ((x << k) | (x >> (32 - k))) & M32


def _split_mix64(state):
    """(new state, output)."""
    state = (state + 0x9E3779B97F4A7C15) & M64
    z = state
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & M64
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & M64
    return state, z ^ (z >> 31)


class Xoshiro128pp:
    """The move types' generator, from a seed as MoveType.swap(seed) takes it."""

    def __init__(self, seed):
        words, state = [], seed
        for _ in range(4):
            state = (state * 6364136223846793005 + 11634580027462260723) & M64
            x = (((state >> 18) ^ state) >> 27) & M32
            r = state >> 59
            words.append(((x >> r) | (x << (32 - r))) & M32)
        if words == [0, 0, 0, 0]:
            sm, a = _split_mix64(0)
            sm, b = _split_mix64(sm)
            words = [a & M32, a >> 32, b & M32, b >> 32]
        self.s = words

    def next_u32(self):
        s = self.s
        result = (_rotl32((s[0] + s[3]) & M32, 7) + s[0]) & M32
        t = (s[1] << 9) & M32
        s[2] ^= s[0]
        s[3] ^= s[1]
        s[1] ^= s[2]
        s[0] ^= s[3]
        s[2] ^= t
        s[3] = _rotl32(s[3], 11)
        return result

    def range(self, lo, hi):
        """lo..hi, hi excluded: widening multiply, rejecting low halves above the zone."""
        r = hi - lo
        zone = ((r << (32 - r.bit_length())) & M32) - 1
        while True:
            m = self.next_u32() * r
            if m & M32 <= zone:
                return lo + (m >> 32)


def draw_move(kind, rng, n):
    """One proposal (i, j), i < j, of a move type of `kind` over n positions."""
    if kind == "swap_tsp":  # position 0 is never drawn
        i, j = rng.range(1, n), rng.range(2, n)
        while j == i:
            j = rng.range(1, n)
    else:
        i, j = rng.range(0, n), rng.range(1, n)
        if j == i and n == 2:
            return (0, 1)
        while j == i:
            j = rng.range(1, n)
    return (min(i, j), max(i, j))


def _chacha12_block(words):
    x = list(words)

    def quarter(a, b, c, d):
        x[a] = (x[a] + x[b]) & M32
        x[d] = _rotl32(x[d] ^ x[a], 16)
        x[c] = (x[c] + x[d]) & M32
        x[b] = _rotl32(x[b] ^ x[c], 12)
        x[a] = (x[a] + x[b]) & M32
        x[d] = _rotl32(x[d] ^ x[a], 8)
        x[c] = (x[c] + x[d]) & M32
        x[b] = _rotl32(x[b] ^ x[c], 7)

    for _ in range(6):  # 12 rounds, two per double round
        quarter(0, 4, 8, 12)
        quarter(1, 5, 9, 13)
        quarter(2, 6, 10, 14)
        quarter(3, 7, 11, 15)
        quarter(0, 5, 10, 15)
        quarter(1, 6, 11, 12)
        quarter(2, 7, 8, 13)
        quarter(3, 4, 9, 14)
    return [(a + b) & M32 for a, b in zip(x, words)]


class AcceptanceDraws:
    """The acceptance generator of a run after set_acceptance_seed(seed): a ChaCha12 keystream
    (64-bit block counter, stream 0) keyed by four SplitMix64 outputs of the seed."""

    def __init__(self, seed):
        key, state = [], seed
        for _ in range(4):
            state, v = _split_mix64(state)
            key += [v & M32, v >> 32]
        self.input = [0x61707865, 0x3320646E, 0x79622D32, 0x6B206574, *key, 0, 0, 0, 0]
        self.block, self.used = [], 16
        self.count = 0  # draws made

    def _word(self):
        if self.used == 16:
            self.block = _chacha12_block(self.input)
            counter = (self.input[12] | self.input[13] << 32) + 1
            self.input[12], self.input[13] = counter & M32, (counter >> 32) & M32
            self.used = 0
        self.used += 1
        return self.block[self.used - 1]

    def u64(self):
        """A 64-bit draw (low word first), not counted among the acceptance draws."""
        low = self._word()
        return low | self._word() << 32

    def unit(self):
        """A uniform double in [0, 1): the top 53 bits of a 64-bit draw (low word first)."""
        self.count += 1
        low = self._word()
        return ((low | self._word() << 32) >> 11) * 2.0**-53


def cool(alpha, t):
    """alpha * t rounded half away from zero, saturated to 32 bits."""
    x = alpha * t
    if not x >= 0.0:
        return 0
    if x >= 4294967295.0:
        return 4294967295
    whole = math.floor(x)
    return int(whole + 1 if x - whole >= 0.5 else whole)


def simulated_annealing(minimize, s, score_of, kind, move_seed, acceptance_seed, start_temp, alpha, per_temp, limit):
    """A run under max_iterations(limit) from solution s, with MoveType.<kind>(move_seed) and
    set_acceptance_seed(acceptance_seed). Returns (rows, final solution, draws made)."""
    moves, draws = Xoshiro128pp(move_seed), AcceptanceDraws(acceptance_seed)
    score = score_of(s)
    best = current = score
    rows = [(score, score, 0)]
    temperature, it = start_temp, 0
    while it < limit:
        t = float(temperature)
        for _ in range(per_temp):
            if it >= limit:
                break
            m = draw_move(kind, moves, len(s))
            after = applied(kind, s, m)
            delta = score_of(after) - score_of(s)
            # A zero change is never worsening: no draw, and the move is taken.
            worsening = delta > 0.0 if minimize else not delta >= 0.0
            if not worsening:
                s, current = after, current + delta
                if (current < best) if minimize else not (current < best):
                    best = current
                rows.append((best, current, it))
            else:
                r = draws.unit()
                p = 2.718281828459045 ** (-abs(delta) / t if t != 0.0 else -math.inf)
                if p > r:
                    s, current = after, current + delta
                    rows.append((best, current, it))
            it += 1
        temperature = cool(alpha, temperature)
    rows.append((best, current, it))
    return rows, s, draws.count


# ---- annealing with a real-valued temperature, draw for draw

END_RATIO = 1e-3
SAMPLE_MOVES = 1000
HOPELESS = 37.0


def half_acceptance_temperature(worsening):
    """T such that the mean of exp(-d/T) over the sample is 1/2: bisection of log T, as the engine does it."""
    if not worsening:
        return 0.0
    lo, hi = math.log(min(worsening) / math.log(2)), math.log(max(worsening) / math.log(2))
    half = 0.5 * len(worsening)
    rounds = 0
    while rounds < 200 and hi - lo > 1e-12:
        mid = 0.5 * (lo + hi)
        t = math.exp(mid)
        accepted = 0.0
        for d in worsening:
            accepted += math.exp(-d / t)
        if accepted < half:
            lo = mid
        else:
            hi = mid
        rounds += 1
    return math.exp(0.5 * (lo + hi))


def annealing(minimize, s, score_of, kind, move_seed, seed, start_temperature, alpha, per_temp, limit):
    """A run of LocalSearch.annealing(..., seed=seed) under max_iterations(limit) from solution s,
    with MoveType.<kind>(move_seed). Returns (rows, final solution, start temperature, final temperature)."""
    moves, draws = Xoshiro128pp(move_seed), AcceptanceDraws(seed)
    n = len(s)
    per_temp = per_temp or max(n, 1)
    score = score_of(s)
    best = current = score
    rows = [(score, score, 0)]
    if start_temperature is None:
        # A sample from a copy of the move type seeded by the first draw; the problem's
        # generator does not move.
        sample, worse, better = Xoshiro128pp(draws.u64()), [], []
        for _ in range(SAMPLE_MOVES):
            m = draw_move(kind, sample, n)
            change = score_of(applied(kind, s, m)) - score
            change = change if minimize else -change
            if change > 0.0 and math.isfinite(change):
                worse.append(change)
            elif change < 0.0 and math.isfinite(change):
                better.append(-change)
        start_temperature = half_acceptance_temperature(worse or better)
    t0 = t = start_temperature
    it = 0
    while it < limit:
        for _ in range(per_temp):
            if it >= limit:
                break
            m = draw_move(kind, moves, n)
            after = applied(kind, s, m)
            delta = score_of(after) - score_of(s)
            worsening = delta > 0.0 if minimize else not delta >= 0.0
            if not worsening:
                s, current = after, current + delta
                if (current < best) if minimize else (current > best):
                    best = current
                rows.append((best, current, it))
            elif abs(delta) < HOPELESS * t:  # only a move with a chance takes a draw
                if math.exp(-abs(delta) / t) > draws.unit():
                    s, current = after, current + delta
                    rows.append((best, current, it))
            it += 1
        t = alpha * t if alpha is not None else t0 * END_RATIO ** (it / limit)
    rows.append((best, current, it))
    return rows, s, t0, t


# ---- robust tabu search, draw for draw


def _draw_tenure(rng, low, high):
    if low == high:
        return low
    if low == 0 and high == M32:
        return rng.next_u32()
    return low + rng.range(0, high - low + 1)


def robust_tabu_search(minimize, s, score_of, kind, low, high, aspiration, seed, limit):
    """Tenures (low, high) drawn from xoshiro128++(seed); attributes keyed (position, element)."""
    better = (lambda a, b: a < b) if minimize else (lambda a, b: a > b)
    worst = DBL_MAX if minimize else -DBL_MAX
    rng = Xoshiro128pp(seed)
    until = {}  # (position, element): the last step of its ban; absent: never banned
    score = score_of(s)
    rows = [(score, score, 0)]
    best = current = score
    it = 0
    while it < limit:
        forced, allowed, anything = [worst, None], [worst, None], [worst, None]
        for i, j in moves(kind, len(s)):
            d = score_of(applied(kind, s, (i, j))) - score_of(s)
            if high == 0:  # no attributes kept
                if better(d, allowed[0]):
                    allowed = [d, (i, j)]
                continue
            at_i, at_j = until.get((i, s[j]), -1), until.get((j, s[i]), -1)
            if at_i < it - aspiration or at_j < it - aspiration:
                if better(d, forced[0]):
                    forced = [d, (i, j)]
                continue
            if better(d, anything[0]):
                anything = [d, (i, j)]
            forbidden = at_i >= it and at_j >= it
            if (not forbidden or better(current + d, best)) and better(d, allowed[0]):
                allowed = [d, (i, j)]
        delta, chosen = forced if forced[1] else allowed if allowed[1] else anything
        if chosen is None:
            break
        i, j = chosen
        left_i, left_j = s[i], s[j]
        s = applied(kind, s, chosen)
        until[(i, left_i)] = it + _draw_tenure(rng, low, high)
        until[(j, left_j)] = it + _draw_tenure(rng, low, high)
        current += delta
        if (not current > best) if minimize else (not current < best):
            best = current
        rows.append((best, current, it))
        it += 1
    rows.append((best, current, it))
    return rows, s
