#!/usr/bin/python3
"""Prints the rows of a bench/smtp run as a table.

  report.py DIR [--rtt ROW] LABEL=ROW ... [--ratio A/B ...]

Each ROW is DIR/ROW.txt with "key value" lines from bench_smtp_send or
smtplib_send.py (plus "load BEFORE-AFTER"). With --rtt, the round trip of
one command measured in that row divides each row's time per message into
"waits" per customer. --ratio A/B prints A's time and CPU per message over B's.
"""

import sys


def load(path):
    out = {}
    for line in open(path):
        key, value = line.split()
        try:
            out[key] = float(value)
        except ValueError:
            out[key] = value
    return out


def main(argv):
    d, rows, ratios, rtt = argv[0], [], [], None
    args = iter(argv[1:])
    for a in args:
        if a == "--rtt":
            rtt = load("%s/%s.txt" % (d, next(args)))["rtt_ms"]
        elif a == "--ratio":
            ratios.append(next(args).split("/"))
        else:
            label, row = a.split("=", 1)
            rows.append((label, row, load("%s/%s.txt" % (d, row))))
    fmt = "  %-36s %5s %7s %8s %8s %10s" + (" %6s" if rtt else "") + " %7s %9s"
    head = ["run", "msgs", "wall s", "msgs/s", "ms/msg", "CPU ms/msg"] + (["waits"] if rtt else []) \
        + ["resumed", "load"]
    print(fmt % tuple(head))
    by_row = {}
    for label, row, r in rows:
        by_row[row] = r
        cells = [label, "%d" % r["messages"], "%.1f" % r["wall_s"], "%.1f" % r["msgs_per_s"],
                 "%.2f" % r["ms_per_msg"], "%.3f" % r["cpu_ms_per_msg"]]
        if rtt:
            cells.append("%.1f" % (r["ms_per_msg"] / rtt))
        cells += ["%d" % r["resumed"] if "resumed" in r else "-", r.get("load", "?")]
        print(fmt % tuple(cells))
    if rtt:
        print("  waits = ms/msg over the round trip of one command on that sink: %.2f ms" % rtt)
    for a, b in ratios:
        ra, rb = by_row[a], by_row[b]
        print("  %s / %s: time per message %.2f, messages/s %.2f, CPU per message %.2f"
              % (a, b, ra["ms_per_msg"] / rb["ms_per_msg"], ra["msgs_per_s"] / rb["msgs_per_s"],
                 ra["cpu_ms_per_msg"] / rb["cpu_ms_per_msg"]))


if __name__ == "__main__":
    main(sys.argv[1:])
