#!/usr/bin/env python3
"""Turns the result lines of bench/run into one table: the median of the good runs per figure,
per scenario and server, and the ratio murmur / InspIRCd per figure."""
import json
import statistics
import sys

SERVER_NAMES = {"murmur": "Murmur", "inspircd": "InspIRCd"}

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
# Not a figure of the server: how many cores other processes kept busy during the run.
NOISE = ("others_cores", "other load, cores", 1, "{:.2f}")


def main():
    path = sys.argv[1]
    runs = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 1
    rows = [json.loads(line) for line in open(path) if line.strip()]
    scenarios = []
    for r in rows:
        if r["scenario"] not in scenarios:
            scenarios.append(r["scenario"])
    servers = [s for s in ("murmur", "inspircd") if any(r["server"] == s for r in rows)]

    def median(scenario, server, key):
        values = [r[key] for r in rows
                  if r["scenario"] == scenario and r["server"] == server and r.get("ok") and r.get(key) is not None]
        return statistics.median(values) if values else None

    label = "median of %d runs" % runs if runs > 1 else "one run"
    print("Results (%s; ratio = Murmur / InspIRCd, above 1 means Murmur is slower or bigger, "
          "except deliveries/s where above 1 means Murmur is faster)" % label)
    print()
    head = ["scenario", "server", "runs ok"] + [f[1] for f in FIGURES] + [NOISE[1]]
    print("| " + " | ".join(head) + " |")
    print("|" + "|".join(["---"] * len(head)) + "|")
    failures = []
    for scenario in scenarios:
        medians = {}
        for server in servers:
            mine = [r for r in rows if r["scenario"] == scenario and r["server"] == server]
            if not mine:
                continue
            good = sum(1 for r in mine if r.get("ok"))
            status = "%d/%d" % (good, len(mine)) if good == len(mine) else "**FAIL** %d/%d" % (good, len(mine))
            cells = [scenario, SERVER_NAMES[server], status]
            for key, _, scale, fmt in FIGURES:
                v = median(scenario, server, key)
                medians[(server, key)] = v
                cells.append(fmt.format(v * scale) if v is not None else "–")
            v = median(scenario, server, NOISE[0])
            cells.append(NOISE[3].format(v) if v is not None else "–")
            print("| " + " | ".join(cells) + " |")
            for r in mine:
                if not r.get("ok"):
                    failures.append("%s %s run %d: %s%s" % (scenario, SERVER_NAMES[server], r["run"],
                                                            r.get("error", "failed"),
                                                            (" [" + r["notes"].strip(";") + "]") if r.get("notes") else ""))
                elif r.get("notes"):
                    failures.append("%s %s run %d (note): %s" % (scenario, SERVER_NAMES[server], r["run"],
                                                                 r["notes"].strip(";")))
        if len(servers) == 2:
            cells = [scenario, "ratio M/I", ""]
            for key, _, _, _ in FIGURES:
                a, b = medians.get(("murmur", key)), medians.get(("inspircd", key))
                cells.append("%.2f" % (a / b) if a is not None and b not in (None, 0) else "–")
            cells.append("")
            print("| " + " | ".join(cells) + " |")
    if failures:
        print()
        print("Failures and notes:")
        for f in failures:
            print("- " + f)


if __name__ == "__main__":
    main()
