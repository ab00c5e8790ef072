"""Where the examples find the TSPLIB and QAPLIB instances.

The folder holds tsplib/ and qaplib/, each with the instance files and an optima.tsv table.
It is taken from --data, else from $KESTRUM_DATA, else /work/shared/data.
"""

import os
import sys
from pathlib import Path

DEFAULT = "/work/shared/data"


def add_data_argument(parser):
    parser.add_argument(
        "--data", default=os.environ.get("KESTRUM_DATA", DEFAULT), help="instance folder (default: %(default)s)"
    )


def library(data, name):
    """The tsplib/ or qaplib/ folder, or a clean exit with a note when the data is not there."""
    folder = Path(data) / name
    if not (folder / "optima.tsv").is_file():
        print(f"no {name} instances at {folder} (pass --data DIR or set KESTRUM_DATA); nothing to do")
        sys.exit(0)
    return folder
