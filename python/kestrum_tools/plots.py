"""Convergence curves of run logs and drawings of tours, with matplotlib.

When no Axes is given, a new Figure is made without pyplot (so no display is needed); pass
`ax` from `matplotlib.pyplot.subplots()` to draw into a window of your own.
"""

from collections.abc import Sequence
from os import PathLike
from typing import TYPE_CHECKING, Literal, cast

from kestrum_tools._optional import require
from kestrum_tools.logs import Row, log_to_arrays

if TYPE_CHECKING:
    from matplotlib.axes import Axes

Path = str | PathLike[str]


def _axes(ax: "Axes | None", purpose: str) -> "Axes":
    if ax is not None:
        return ax
    figure = require("matplotlib.figure", purpose)
    return cast("Axes", figure.Figure(figsize=(7, 4.5), layout="constrained").add_subplot())


def _save(ax: "Axes", path: Path | None) -> None:
    if path is not None:
        # A subfigure's Axes is saved with the whole figure it belongs to.
        figure = ax.get_figure(root=True)
        assert figure is not None
        figure.savefig(path, dpi=120)


def _time_unit(longest_seconds: float) -> tuple[str, float]:
    """A unit that keeps the time axis' tick labels short."""
    if longest_seconds >= 1.0:
        return "s", 1.0
    if longest_seconds >= 1e-3:
        return "ms", 1e3
    return "\u00b5s", 1e6


def plot_convergence(
    logs: Sequence[Sequence[Row]] | Sequence[Row],
    labels: Sequence[str] | None = None,
    path: Path | None = None,
    ax: "Axes | None" = None,
    *,
    against: Literal["time", "iteration"] = "time",
) -> "Axes":
    """Best score against elapsed time (or iteration), one step curve per log; returns the Axes.

    `logs` is a list of run logs (a single log is accepted too). `labels` names them in the
    legend. With `path`, the figure is also written there (the format follows the suffix).
    The time axis is in seconds, milliseconds or microseconds, whichever suits the longest run.
    """
    require("matplotlib", "plot_convergence")
    # A log's rows are tuples; a list of logs holds lists.
    single = len(logs) > 0 and isinstance(logs[0], tuple)
    all_logs = [cast(Sequence[Row], logs)] if single else cast(Sequence[Sequence[Row]], logs)
    if labels is not None and len(labels) != len(all_logs):
        raise ValueError(f"{len(labels)} labels for {len(all_logs)} logs")
    if against not in ("time", "iteration"):
        raise ValueError(f"against must be 'time' or 'iteration', not {against!r}")
    ax = _axes(ax, "plot_convergence")
    columns = [log_to_arrays(log) for log in all_logs]
    longest = max((float(c["seconds"][-1]) for c in columns if len(c["seconds"])), default=0.0)
    unit, scale = _time_unit(longest)
    for k, c in enumerate(columns):
        xs = c["seconds"] * scale if against == "time" else c["iteration"]
        ax.step(xs, c["best"], where="post", label=labels[k] if labels is not None else None)
    ax.set_xlabel(f"elapsed time ({unit})" if against == "time" else "iteration")
    ax.set_ylabel("best score")
    ax.grid(True, alpha=0.3)
    if labels is not None:
        ax.legend()
    _save(ax, path)
    return ax


def plot_tour(
    coords: Sequence[Sequence[float]],
    tour: Sequence[int],
    path: Path | None = None,
    ax: "Axes | None" = None,
    *,
    title: str | None = None,
) -> "Axes":
    """Draws the closed tour through `coords` (one (x, y) per city) in the order of `tour`
    (city indices from 0); the first city is marked. Returns the Axes; writes `path` if given.
    """
    require("matplotlib", "plot_tour")
    n = len(coords)
    if sorted(tour) != list(range(n)):
        raise ValueError(f"tour is not a permutation of the {n} cities")
    ax = _axes(ax, "plot_tour")
    xs = [coords[c][0] for c in tour]
    ys = [coords[c][1] for c in tour]
    if n:
        xs.append(xs[0])
        ys.append(ys[0])
    ax.plot(xs, ys, "-o", markersize=2.5, linewidth=1)
    if n:
        ax.plot(xs[:1], ys[:1], "s", color="red", markersize=6, label="start")
    ax.set_aspect("equal", adjustable="datalim")
    if title is not None:
        ax.set_title(title)
    _save(ax, path)
    return ax
