"""Where the examples find the TSPLIB and QAPLIB instances.

The folder holds tsplib/ and qaplib/, each with the instance files and an optima.tsv table. It
is taken from --data, else from $KESTRUM_DATA, else ../shared/data beside the repository. When
none of those holds the library, the few instances shipped with kestrum_tools are used instead
(berlin52, kroA100, ch150, a280; nug12, had12, tai20a), so the examples run after a plain
pip install.
"""

import os
import sys
from pathlib import Path

from kestrum_tools import data as shipped

ROOT = Path(__file__).resolve().parent.parent


def default_data():
    env = os.environ.get("KESTRUM_DATA")
    return env if env else str(ROOT.parent / "shared" / "data")


def add_data_argument(parser):
    parser.add_argument("--data", default=default_data(), help="instance folder (default: %(default)s)")


def library(data, name, wanted=()):
    """The tsplib/ or qaplib/ folder: the one in `data`, else the shipped one when it holds
    every instance in `wanted`, else an exit with status 1 and a note on standard error."""
    folder = Path(data) / name
    if (folder / "optima.tsv").is_file():
        return folder
    missing = [w for w in wanted if w not in shipped.INSTANCES]
    if not missing:
        print(f"(no {name} instances at {folder}: using those shipped with kestrum_tools)")
        return shipped.folder(name)
    print(f"no {name} instances at {folder} (pass --data DIR or set KESTRUM_DATA), and "
          f"{', '.join(missing)} is not among the shipped ones ({', '.join(shipped.INSTANCES)}); nothing to do",
          file=sys.stderr)
    sys.exit(1)
