"""The package's twelve optional features, in the order every action walks
them, as resources/features.csv gives them (the one table of them)."""
import csv
import pathlib
from collections import namedtuple

TABLE = pathlib.Path(__file__).resolve().parent.parent / "resources" / "features.csv"
Feature = namedtuple("Feature", "key command_file status_property title_id support_check application_key")


def read(path=TABLE):
    with open(path, newline="", encoding="utf-8") as table:
        return [Feature(**row) for row in csv.DictReader(table)]


FEATURES = read()
