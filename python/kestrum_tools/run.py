"""One run of a search with a progress bar."""

from __future__ import annotations

import kestrum
from kestrum_tools._optional import require

__all__ = ["run"]

Log = list[tuple[int, float, float, int]]


def run(search: kestrum.LocalSearch, progress: bool = True, every_seconds: float = 0.1) -> Log:
    """``search.run()`` with a progress bar (tqdm, on standard error) showing the best score
    and the iterations done, refreshed at most every ``every_seconds`` from the running
    thread. ``progress=False`` is exactly ``search.run()`` and needs no tqdm.

    The bar is the search's progress callback for the run: a callback set before with
    ``set_progress`` is replaced, and the search has none afterwards. Ctrl-C stops the run
    as it stops ``search.run()``: the KeyboardInterrupt carries the log so far as ``log``.
    """
    if not progress:
        return search.run()
    tqdm = require("tqdm", "the progress bar of run (progress=False runs without it)").tqdm
    bar = tqdm(unit="it", desc="run", dynamic_ncols=True)

    def report(elapsed_ns: int, best: float, current: float, iteration: int) -> None:
        del elapsed_ns, current
        bar.n = iteration
        bar.set_postfix(best=f"{best:.6g}", refresh=False)
        bar.refresh()

    search.set_progress(report, every_seconds)
    try:
        return search.run()
    finally:
        search.set_progress(None)
        bar.close()
