"""One run of a search with a progress bar."""

from __future__ import annotations

import math
from typing import Any

import kestrum
from kestrum_tools._optional import require

__all__ = ["run"]

Log = list[tuple[int, float, float, int]]

# A bar over seconds: the elapsed part of the time limit, with the time left.
_SECONDS_FORMAT = "{desc}: {percentage:3.0f}%|{bar}| {n:.1f}/{total:.1f} s [{elapsed}<{remaining}{postfix}]"


def _bar(tqdm: Any, search: kestrum.LocalSearch) -> tuple[Any, bool]:
    """The bar for the search's criterion, and whether it counts seconds (else iterations)."""
    iterations, seconds = search.budget
    if iterations is not None:
        return tqdm(total=iterations, unit="it", desc="run", dynamic_ncols=True), False
    if seconds is not None and math.isfinite(seconds):
        return tqdm(total=seconds, desc="run", dynamic_ncols=True, bar_format=_SECONDS_FORMAT), True
    return tqdm(unit="it", desc="run", dynamic_ncols=True), False


def run(search: kestrum.LocalSearch, progress: bool = True, every_seconds: float = 0.1) -> Log:
    """``search.run()`` with a progress bar (tqdm, on standard error) showing the best score
    and the iterations done, refreshed at most every ``every_seconds`` from the running
    thread. ``progress=False`` is exactly ``search.run()`` and needs no tqdm.

    When the search's criterion bounds the run (``LocalSearch.budget``), the bar has a total
    and shows the time left: the iterations of ``max_iterations``, else the seconds of
    ``time_limit`` or ``max_sec`` (the least bound of a ``multi_crit_and``). A run may end
    before its total (a descent at its local optimum).

    The bar is the search's progress callback for the run: a callback set before with
    ``set_progress`` is replaced, and the search has none afterwards. Ctrl-C stops the run
    as it stops ``search.run()``: the KeyboardInterrupt carries the log so far as ``log``.
    """
    if not progress:
        return search.run()
    tqdm = require("tqdm", "the progress bar of run (progress=False runs without it)").tqdm
    bar, by_seconds = _bar(tqdm, search)

    def report(elapsed_ns: int, best: float, current: float, iteration: int) -> None:
        del current
        if by_seconds:
            bar.n = min(elapsed_ns / 1e9, bar.total)
            bar.set_postfix(best=f"{best:.6g}", it=iteration, refresh=False)
        else:
            bar.n = iteration
            bar.set_postfix(best=f"{best:.6g}", refresh=False)
        bar.refresh()

    search.set_progress(report, every_seconds)
    try:
        return search.run()
    finally:
        search.set_progress(None)
        bar.close()
