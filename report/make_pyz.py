#!/usr/bin/env python3
"""Makes kvilreport.pyz: the report as one file, run as
"python3 kvilreport.pyz LOG" (the standard library's zipapp).

  make_pyz.py OUT
"""
import pathlib
import sys
import zipapp

HERE = pathlib.Path(__file__).resolve().parent


def included(path):
    """The package's modules only: no bytecode, nothing beside the package."""
    return path.parts[0] == "kvilreport" and "__pycache__" not in path.parts


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    zipapp.create_archive(HERE, argv[1], interpreter="/usr/bin/env python3", main="kvilreport.cli:run",
                          filter=included)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
