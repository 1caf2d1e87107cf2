#!/usr/bin/env python3
"""Turns the result lines of bench/run into tables: the median of the good runs per figure, per
scenario and server, and the ratios Murmur / InspIRCd and Murmur / limit relay per figure.
Scenario E (a walk over the number of clients) gets a table of its own, one block per step, and
one line per server telling how each cost grows with the clients, fitted to the measured figures."""
import json
import math
import statistics
import sys

SERVERS = ["murmur", "inspircd", "limit"]
SERVER_NAMES = {"murmur": "Murmur", "inspircd": "InspIRCd", "limit": "limit relay"}
# Rows of ratios under each scenario: Murmur's figure over the other server's.
RATIOS = [("inspircd", "ratio M/I"), ("limit", "ratio M/L")]
RATIO_MEANING = {"inspircd": "Murmur / InspIRCd", "limit": "Murmur / limit relay"}

# (key in the result line, column title, scale, format)
FIGURES = [
    ("logon_s", "logon s", 1, "{:.2f}"),
    ("deliv_per_s", "deliveries/s", 1, "{:,.0f}"),
    ("lat_p50_us", "p50 ms", 1e-3, "{:.2f}"),
    ("lat_p99_us", "p99 ms", 1e-3, "{:.2f}"),
    ("lat_max_us", "max ms", 1e-3, "{:.2f}"),
    ("rss_logon_kb", "RSS logon MB", 1 / 1024, "{:.1f}"),
    ("rss_end_kb", "RSS end MB", 1 / 1024, "{:.1f}"),
    ("cpu_total_s", "CPU s", 1, "{:.2f}"),
    ("idle_cpu", "idle CPU %", 100, "{:.1f}"),
]
# Scenario E: what one more client costs. kb_per_client is worked out from each run's line.
E_FIGURES = [
    ("logon_s", "logon s", 1, "{:.2f}"),
    ("kb_per_client", "KB per client", 1, "{:.2f}"),
    ("idle_cpu", "idle CPU %", 100, "{:.2f}"),
    ("deliv_per_s", "deliveries/s", 1, "{:,.0f}"),
]
# The costs whose growth with the clients the summary line fits: (key, words).
E_GROWTH = [
    ("logon_s", "logon time"),
    ("idle_cpu", "idle CPU"),
    ("kb_per_client", "memory per client"),
]
# Not a figure of the server: how many cores other processes kept busy during the run.
NOISE = ("others_cores", "other load, cores", 1, "{:.2f}")


def kb_per_client(r):
    """Server RSS growth from before the first client connected to the moment the last one was in
    the channel, divided by the clients."""
    start, logon, clients = r.get("rss_start_kb"), r.get("rss_logon_kb"), r.get("clients")
    if start is None or logon is None or not clients:
        return None
    return (logon - start) / clients


def fit_exponent(points):
    """Least-squares slope of log(value) over log(clients): the k of "grows as N^k". Only positive
    values can be fitted; returns (k, points used) or (None, points used)."""
    pts = [(math.log(n), math.log(v)) for n, v in points if v is not None and v > 0]
    if len({x for x, _ in pts}) < 2:
        return None, len(pts)
    mx = sum(x for x, _ in pts) / len(pts)
    my = sum(y for _, y in pts) / len(pts)
    sxx = sum((x - mx) ** 2 for x, _ in pts)
    sxy = sum((x - mx) * (y - my) for x, y in pts)
    return sxy / sxx, len(pts)


def ratio_text(a, b):
    return "%.2f" % (a / b) if a is not None and b not in (None, 0) else "–"


class Results:
    def __init__(self, rows):
        self.rows = rows
        for r in rows:
            if r.get("scenario") == "E":
                r["kb_per_client"] = kb_per_client(r)
        self.servers = [s for s in SERVERS if any(r["server"] == s for r in rows)]
        self.failures = []

    def mine(self, scenario, server, step=None):
        return [r for r in self.rows if r["scenario"] == scenario and r["server"] == server
                and (step is None or r.get("step") == step)]

    @staticmethod
    def median(rows, key):
        values = [r[key] for r in rows if r.get("ok") and r.get(key) is not None]
        return statistics.median(values) if values else None

    def status(self, rows, what, server):
        good = sum(1 for r in rows if r.get("ok"))
        for r in rows:
            where = "%s %s run %d" % (what, SERVER_NAMES[server], r["run"])
            notes = r.get("notes", "").strip(";")
            if not r.get("ok"):
                self.failures.append("%s: %s%s" % (where, r.get("error", "failed"), (" [" + notes + "]") if notes else ""))
            elif notes:
                self.failures.append("%s (note): %s" % (where, notes))
        return "%d/%d" % (good, len(rows)) if good == len(rows) else "**FAIL** %d/%d" % (good, len(rows))

    def block(self, first, rows_of, figures):
        """The rows of one scenario (or one step of E): a row per server, then a row per ratio.
        Returns the medians, keyed by (server, figure key)."""
        medians = {}
        for server in self.servers:
            rows, what = rows_of(server)
            if not rows:
                continue
            cells = [first, SERVER_NAMES[server], self.status(rows, what, server)]
            for key, _, scale, fmt in figures:
                v = self.median(rows, key)
                medians[(server, key)] = v
                cells.append(fmt.format(v * scale) if v is not None else "–")
            v = self.median(rows, NOISE[0])
            cells.append(NOISE[3].format(v) if v is not None else "–")
            print("| " + " | ".join(cells) + " |")
        for other, title in RATIOS:
            if "murmur" in self.servers and other in self.servers:
                cells = [first, title, ""]
                cells += [ratio_text(medians.get(("murmur", key)), medians.get((other, key))) for key, _, _, _ in figures]
                cells.append("")
                print("| " + " | ".join(cells) + " |")
        return medians


def header(first, figures):
    head = [first, "server", "runs ok"] + [f[1] for f in figures] + [NOISE[1]]
    print("| " + " | ".join(head) + " |")
    print("|" + "|".join(["---"] * len(head)) + "|")


def main():
    path = sys.argv[1]
    runs = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 1
    res = Results([json.loads(line) for line in open(path) if line.strip()])
    scenarios = []
    for r in res.rows:
        if r["scenario"] not in scenarios:
            scenarios.append(r["scenario"])

    label = "median of %d runs" % runs if runs > 1 else "one run"
    ratios = ["%s = %s" % (title, RATIO_MEANING[other]) for other, title in RATIOS
              if "murmur" in res.servers and other in res.servers]
    print("Results (%s%s)" % (label, "; %s: above 1 means Murmur is slower or bigger, except deliveries/s where "
                                     "above 1 means Murmur is faster" % ", ".join(ratios) if ratios else ""))

    plain = [s for s in scenarios if s != "E"]
    if plain:
        print()
        header("scenario", FIGURES)
        for scenario in plain:
            res.block(scenario, lambda server, s=scenario: (res.mine(s, server), s), FIGURES)

    if "E" in scenarios:
        steps = sorted({r["step"] for r in res.rows if r["scenario"] == "E" and r.get("step") is not None})
        print()
        print("Scenario E, by number of clients (%s); KB per client = RSS growth from before the first client to "
              "the last one in the channel, divided by the clients; idle CPU over the idle phase; deliveries/s for "
              "one sender to all." % ", ".join("{:,}".format(n) for n in steps))
        print()
        header("clients", E_FIGURES)
        by_step = {}
        for step in steps:
            by_step[step] = res.block("{:,}".format(step),
                                      lambda server, n=step: (res.mine("E", server, n), "E %d" % n), E_FIGURES)
        print()
        print("How each cost grows with the clients N (least-squares fit of log figure over log N, medians per step):")
        print()
        for server in res.servers:
            parts = []
            for key, words in E_GROWTH:
                points = [(step, by_step[step].get((server, key))) for step in steps]
                measured = [(n, v) for n, v in points if v is not None]
                k, used = fit_exponent(measured)
                if k is None:
                    zero = sum(1 for _, v in measured if v <= 0)
                    parts.append("%s not fitted (%s)" % (words, "%d of %d steps measured 0 or less" % (zero, len(measured))
                                                         if zero else "fewer than two steps measured"))
                else:
                    skipped = len(measured) - used
                    parts.append("%s %s N^%.2f%s" % (words, "grows about as" if not parts else "as", k,
                                                     " (%d step%s at 0 or less left out)" % (skipped, "s" if skipped > 1 else "")
                                                     if skipped else ""))
            ok_steps = [n for n in steps if by_step[n].get((server, "logon_s")) is not None]
            span = ("%s–%s clients, %d steps" % ("{:,}".format(ok_steps[0]), "{:,}".format(ok_steps[-1]), len(ok_steps))
                    if ok_steps else "no step passed")
            print("- %s (%s): %s." % (SERVER_NAMES[server], span, ", ".join(parts)))

    if res.failures:
        print()
        print("Failures and notes:")
        for f in res.failures:
            print("- " + f)


if __name__ == "__main__":
    main()
