"""What reading a file costs in memory: at most twice the matrix it gives, whatever the layout.

Each case runs in a child process whose address space is capped (RLIMIT_AS) at what it held
before the call plus the allowance: readers that must keep every number before they know the
matrix's size (the distance matrix, explicit TSPLIB weights, QAPLIB) may hold twice the final
matrix at their peak; readers that compute the matrix from a few points hold little more than
the matrix itself. Under AddressSanitizer the address space is its own, so these are skipped.
"""

import os
import subprocess
import sys
import textwrap

import pytest

UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")
pytestmark = pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer reserves the address space")

MB = 1 << 20
SLACK = 8 * MB  # buffers, the interpreter's own small allocations, allocator rounding

CHILD = textwrap.dedent(
    """
    import resource, sys
    import kestrum
    reader, path, allowance = sys.argv[1], sys.argv[2], int(sys.argv[3])

    def address_space():
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmSize:"):
                    return int(line.split()[1]) * 1024

    limit = address_space() + allowance
    resource.setrlimit(resource.RLIMIT_AS, (limit, resource.RLIM_INFINITY))
    try:
        getattr(kestrum.Evaluation, reader)(path)
    except MemoryError:
        print("MemoryError")
    else:
        print("ok")
    """
)


def read_within(reader, path, allowance):
    out = subprocess.run(
        [sys.executable, "-c", CHILD, reader, str(path), str(int(allowance))],
        capture_output=True, text=True, timeout=300,
    )
    assert out.returncode == 0, out.stderr
    return out.stdout.strip()


def distance_file(path, n, per_line):
    # Rows of n numbers with a zero diagonal, written per_line numbers to a line.
    values = []
    for i in range(n):
        row = ["3"] * n
        row[i] = "0"
        values.extend(row)
    text = "\n".join(" ".join(values[k : k + per_line]) for k in range(0, len(values), per_line))
    path.write_text(text + "\n")


N = 1500
MATRIX = 8 * N * N  # 18 MB


class TestPeakMemory:
    @pytest.mark.parametrize("per_line", [N, N * N], ids=["rows", "one-line"])
    def test_distance_matrix(self, tmp_path, per_line):
        path = tmp_path / "d.txt"
        distance_file(path, N, per_line)
        assert read_within("tsp_from_dist_matrix", path, 2 * MATRIX + SLACK) == "ok"

    def test_distance_matrix_refused_below_its_size(self, tmp_path):
        # The check above has teeth: half the matrix is not enough.
        path = tmp_path / "d.txt"
        distance_file(path, N, N)
        assert read_within("tsp_from_dist_matrix", path, MATRIX // 2) == "MemoryError"

    def test_coordinates(self, tmp_path):
        path = tmp_path / "c.txt"
        path.write_text("".join(f"{i % 97} {i // 97}\n" for i in range(N)))
        assert read_within("tsp_from_coord2d", path, MATRIX + SLACK) == "ok"

    def test_dms(self, tmp_path):
        path = tmp_path / "g.txt"
        path.write_text("".join(f"{i % 80} {i % 60} 0 N {i % 170} 0 {i % 60} E\n" for i in range(N)))
        assert read_within("tsp_from_dms", path, MATRIX + SLACK) == "ok"

    def test_tsplib_coordinates(self, tmp_path):
        path = tmp_path / "t.tsp"
        cities = "".join(f"{i + 1} {i % 97} {i // 97}\n" for i in range(N))
        path.write_text(f"TYPE: TSP\nDIMENSION: {N}\nEDGE_WEIGHT_TYPE: EUC_2D\nNODE_COORD_SECTION\n{cities}EOF\n")
        assert read_within("tsp_from_tsplib", path, MATRIX + SLACK) == "ok"

    def test_tsplib_full_matrix(self, tmp_path):
        path = tmp_path / "t.tsp"
        rows = "".join(" ".join(["5"] * N) + "\n" for _ in range(N))
        path.write_text(
            f"TYPE: ATSP\nDIMENSION: {N}\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_FORMAT: FULL_MATRIX\n"
            f"EDGE_WEIGHT_SECTION\n{rows}EOF\n"
        )
        assert read_within("tsp_from_tsplib", path, 2 * MATRIX + SLACK) == "ok"

    def test_qaplib(self, tmp_path):
        n = 1100  # two matrices of about 9.7 MB
        path = tmp_path / "q.dat"
        row = " ".join(["2"] * n) + "\n"
        path.write_text(f"{n}\n\n" + row * n + "\n" + row * n)
        assert read_within("qap_from_qaplib", path, 2 * (2 * 8 * n * n) + SLACK) == "ok"
