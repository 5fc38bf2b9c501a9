"""python3 -m kvilreport LOG ..."""
from kvilreport.cli import run

run()
