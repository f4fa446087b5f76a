#!/usr/bin/python3
"""Reads a header-row order export with Python's csv module into the fields
ordergate-cli make takes from it (order number, e-mail, item, name, date,
financial status): the comparison for the header-row case of bench/orders/run.

    csv_fields.py FILE
"""
import csv
import sys

NAMES = ("Name", "Email", "Lineitem name", "Billing Name", "Created at", "Financial Status")

with open(sys.argv[1], newline="", encoding="utf-8") as f:
    rows = csv.reader(f)
    header = next(rows)
    columns = [header.index(n) for n in NAMES]
    last = max(columns)
    count = 0
    for row in rows:
        if len(row) > last:
            fields = [row[c] for c in columns]
            count += 1
print(count)
