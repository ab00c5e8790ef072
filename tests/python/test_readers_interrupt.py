"""Readers blocked on a FIFO or fed endless input stop at Ctrl-C, with what the handler raised.

Each case runs in a child process (a hang must fail the test, not the suite): the child opens
the input and prints a line once it is about to call the reader; the parent then sends SIGINT
from outside (the child has a single thread, so the signal interrupts the blocked call).
"""

import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

READERS = ["tsp_from_dist_matrix", "tsp_from_coord2d", "tsp_from_dms", "tsp_from_tsplib", "qap_from_qaplib"]

CHILD = textwrap.dedent(
    """
    import signal, sys
    import kestrum
    reader, path, handler = sys.argv[1], sys.argv[2], sys.argv[3]
    if handler == "raise":
        def stop(signum, frame):
            raise RuntimeError("stopped by the handler")
        signal.signal(signal.SIGINT, stop)
    elif handler == "ignore":
        signal.signal(signal.SIGINT, lambda signum, frame: print("handled", flush=True))
    else:
        # Started from a shell's background job, a child inherits SIGINT ignored.
        signal.signal(signal.SIGINT, signal.default_int_handler)
    print("ready", flush=True)
    try:
        getattr(kestrum.Evaluation, reader)(path)
    except BaseException as e:
        print("raised", type(e).__name__, e, flush=True)
    else:
        print("returned", flush=True)
    """
)


def start(reader, path, handler="default", blocks=True):
    child = subprocess.Popen(
        [sys.executable, "-c", CHILD, reader, str(path), handler],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
    )
    assert child.stdout.readline() == "ready\n"
    if blocks:
        wait_until_blocked(child)
    else:
        time.sleep(0.3)  # let it get into the endless input
    return child


def wait_until_blocked(child, limit=30.0):
    """Waits until the child sits in a system call (a blocked open or read), or a short while
    where the kernel does not say: a loaded machine may take long to get it there."""
    started = time.monotonic()
    time.sleep(0.05)
    while time.monotonic() - started < limit:
        try:
            with open(f"/proc/{child.pid}/syscall") as f:
                call = f.read().split()[0]
        except (OSError, IndexError):
            time.sleep(0.3)
            return
        # "running" while it computes; the numbers of openat, read and open when blocked.
        if call in ("0", "2", "257"):
            return
        time.sleep(0.02)


def interrupt(child, within=30.0):
    child.send_signal(signal.SIGINT)
    try:
        out, err = child.communicate(timeout=within)
    except subprocess.TimeoutExpired:
        child.kill()
        child.communicate()
        pytest.fail(f"the reader did not stop within {within} s of SIGINT")
    assert child.returncode == 0, err
    return out


@pytest.fixture
def fifo(tmp_path):
    path = tmp_path / "pipe"
    os.mkfifo(path)
    return path


class TestFifo:
    @pytest.mark.parametrize("reader", READERS)
    def test_ctrl_c_while_opening(self, fifo, reader):
        # No writer: open(2) itself blocks.
        assert interrupt(start(reader, fifo)) == "raised KeyboardInterrupt \n"

    @pytest.mark.parametrize("reader", READERS)
    def test_ctrl_c_while_reading(self, fifo, reader):
        # A writer that never writes (O_RDWR does not wait for a reader): read(2) blocks.
        keep = os.open(fifo, os.O_RDWR)
        try:
            assert interrupt(start(reader, fifo)) == "raised KeyboardInterrupt \n"
        finally:
            os.close(keep)

    def test_the_handlers_exception_is_raised(self, fifo):
        out = interrupt(start("tsp_from_dist_matrix", fifo, handler="raise"))
        assert out == "raised RuntimeError stopped by the handler\n"

    def test_a_handler_that_returns_lets_the_read_go_on(self, fifo):
        writer = os.open(fifo, os.O_RDWR)
        child = start("tsp_from_dist_matrix", fifo, handler="ignore")
        child.send_signal(signal.SIGINT)
        time.sleep(0.3)
        os.write(writer, b"0 1\n1 0\n")
        os.close(writer)
        out, err = child.communicate(timeout=10)
        assert out == "handled\nreturned\n", err


class TestEndlessInput:
    # /dev/zero never blocks, so no call is interrupted: the readers look for pending signals
    # as they go, and read in constant memory meanwhile (one endless field of NUL bytes).
    @pytest.mark.parametrize("reader", ["tsp_from_dist_matrix", "tsp_from_coord2d", "tsp_from_dms"])
    def test_dev_zero_reads_until_ctrl_c(self, reader):
        child = start(reader, "/dev/zero", blocks=False)
        assert interrupt(child) == "raised KeyboardInterrupt \n"

    @pytest.mark.parametrize(
        "reader, message",
        [("tsp_from_tsplib", "line 1: numbers outside a data section"),
         ("qap_from_qaplib", f"line 1: the size must be a whole number from 1 to 4294967295, not '{64 * chr(0)}...'")],
    )
    def test_dev_zero_is_refused_at_once(self, reader, message):
        out = subprocess.run(
            [sys.executable, "-c", CHILD, reader, "/dev/zero", "default"],
            capture_output=True, text=True, timeout=30,
        ).stdout
        assert out == f"ready\nraised ValueError {message}\n"


class TestOtherThreads:
    # A reader gives up the interpreter lock while it opens, waits and parses, as runs do:
    # another thread of the process can feed the FIFO it waits on, or send it SIGINT.
    THREADED = textwrap.dedent(
        """
        import os, signal, sys, threading, time
        import kestrum
        signal.signal(signal.SIGINT, signal.default_int_handler)
        reader, path, how = sys.argv[1], sys.argv[2], sys.argv[3]
        texts = {"tsp_from_dist_matrix": b"0 1\\n1 0\\n", "tsp_from_coord2d": b"0 0\\n3 4\\n",
                 "tsp_from_dms": b"0 0 0 N 0 0 0 E\\n0 0 0 N 1 0 0 E\\n",
                 "tsp_from_tsplib": b"DIMENSION: 2\\nEDGE_WEIGHT_TYPE: EUC_2D\\nNODE_COORD_SECTION\\n1 0 0\\n2 3 4\\nEOF\\n",
                 "qap_from_qaplib": b"2\\n0 1\\n1 0\\n0 2\\n2 0\\n"}
        ticks = []
        def feed():
            time.sleep(0.3)
            ticks.append(1)
            with open(path, "wb") as f:  # waits for the reader to open its end
                f.write(texts[reader])
        def interrupt():
            time.sleep(0.5)
            ticks.append(1)
            signal.pthread_kill(threading.main_thread().ident, signal.SIGINT)
        threading.Thread(target=feed if how == "feed" else interrupt, daemon=True).start()
        try:
            e = getattr(kestrum.Evaluation, reader)(path)
            print("returned", len(ticks), kestrum.Problem.array_problem(kestrum.MoveType.swap(0), e).eval() > 0)
        except BaseException as e:
            print("raised", type(e).__name__, len(ticks))
        """
    )

    def run(self, reader, fifo, how):
        done = subprocess.run([sys.executable, "-c", self.THREADED, reader, str(fifo), how],
                              capture_output=True, text=True, timeout=30)
        assert done.returncode == 0, done.stderr
        return done.stdout

    @pytest.mark.parametrize("reader", READERS)
    def test_a_fifo_fed_by_another_thread_is_read(self, fifo, reader):
        assert self.run(reader, fifo, "feed") == "returned 1 True\n"

    @pytest.mark.parametrize("reader", ["tsp_from_dist_matrix", "qap_from_qaplib"])
    def test_sigint_from_another_thread_stops_a_blocked_reader(self, fifo, reader):
        assert self.run(reader, fifo, "interrupt") == "raised KeyboardInterrupt 1\n"
