"""The packing of a priority order, as `Evaluation.bin_packing` decodes it."""

from collections.abc import Sequence

import kestrum


def first_fit(weights: Sequence[float], capacity: float, order: Sequence[int]) -> list[list[int]]:
    """The bins first fit fills from `order`: each item, in order, goes into the lowest-numbered
    bin with room for it (``fill + weight <= capacity``), else into a new bin.

    Returns one list per bin, in bin order, of its items' indices in the order they were packed.
    It is the packing that `Evaluation.bin_packing(weights, capacity)` scores for the solution
    `order`, fills summed in the same order, so ties at a full bin go the same way.

    Raises:
        ValueError: for weights or a capacity that `Evaluation.bin_packing` refuses, with its
            message, and for an order that is not a permutation of the item indices.
    """
    weights = [float(w) for w in weights]
    capacity = float(capacity)
    kestrum.Evaluation.bin_packing(weights, capacity)  # the same checks and messages
    order = [int(v) for v in order]
    if sorted(order) != list(range(len(weights))):
        raise ValueError(f"order must be a permutation of 0..{len(weights) - 1}, got {order!r}")
    # A min tree over the bins' fills (unopened bins hold inf): since x -> x + w never
    # decreases, a subtree holds a bin with room iff its least fill has room.
    leaves = 1
    while leaves < len(order):
        leaves *= 2
    tree = [float("inf")] * (2 * leaves)
    bins: list[list[int]] = []
    for item in order:
        w = weights[item]
        if tree[1] + w <= capacity:
            node = 1
            while node < leaves:
                node *= 2
                if not tree[node] + w <= capacity:
                    node += 1
            b = node - leaves
            fill = tree[node] + w
        else:
            b = len(bins)
            bins.append([])
            fill = w
        bins[b].append(item)
        node = leaves + b
        tree[node] = fill
        node //= 2
        while node:
            tree[node] = min(tree[2 * node], tree[2 * node + 1])
            node //= 2
    return bins
