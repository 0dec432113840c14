"""Turns the benchmarks' "BENCH {json}" lines into the table scripts/bench.sh
prints and the JSON file it keeps.

    python3 report.py ROWS_FILE JSON_OUT [--markdown]

Each row is judged by its "compare" field: "time" rows pass when ours/baseline
is at most the target, "throughput" rows when it is at least the target,
"absolute" rows when ours is at most the target; "info" rows are listed apart
and never judged. Exits 1 when a judged row fails or no row was given."""
import datetime
import json
import platform
import sys


def judged(row):
    kind, ours, base, target = row["compare"], row["ours"], row["baseline"], row["target"]
    ratio = None
    if kind in ("time", "throughput") and ours is not None and base:
        ratio = ours / base
    if kind == "time":
        passed = ratio is not None and ratio <= target
    elif kind == "throughput":
        passed = ratio is not None and ratio >= target
    elif kind == "absolute":
        passed = ours is not None and ours <= target
    else:
        passed = None
    return dict(row, ratio=ratio, passed=passed)


def figure(value, unit=""):
    if value is None:
        return "-"
    text = "%.3g" % value if abs(value) < 1000 else "%.0f" % value
    return text + (" " + unit if unit else "")


def target_text(row):
    kind, target, unit = row["compare"], row["target"], row["unit"]
    return {"time": "<= %gx" % target, "throughput": ">= %gx" % target,
            "absolute": "<= %g %s" % (target, unit)}.get(kind, "")


def table(rows, markdown):
    head = ["benchmark", "ours", "baseline", "ratio", "target", "result"]
    lines = []
    for r in rows:
        base = "-" if r["compare"] == "absolute" else figure(r["baseline"], r["unit"])
        lines.append([r["name"], figure(r["ours"], r["unit"]), base,
                      "-" if r["ratio"] is None else "%.2fx" % r["ratio"],
                      target_text(r), "pass" if r["passed"] else "FAIL"])
    return layout(head, lines, markdown)


def info_table(rows, markdown):
    head = ["measure", "value", "compared with", "what"]
    lines = [[r["name"], figure(r["ours"], r["unit"]),
              figure(r["baseline"], r["unit"]) if r["baseline"] else "-", r["what"]] for r in rows]
    return layout(head, lines, markdown)


def layout(head, lines, markdown):
    if markdown:
        out = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
        out += ["| " + " | ".join(line) + " |" for line in lines]
        return "\n".join(out)
    widths = [max(len(str(x)) for x in column) for column in zip(head, *lines)]
    fmt = "  ".join("%%-%ds" % w for w in widths)
    return "\n".join([fmt % tuple(head), fmt % tuple("-" * w for w in widths)] +
                     [fmt % tuple(line) for line in lines])


def main():
    rows_file, json_out = sys.argv[1], sys.argv[2]
    markdown = "--markdown" in sys.argv[3:]
    rows = []
    with open(rows_file, encoding="utf-8") as f:
        for line in f:
            if line.startswith("BENCH "):
                rows.append(judged(json.loads(line[len("BENCH "):])))
    targets = [r for r in rows if r["compare"] != "info"]
    infos = [r for r in rows if r["compare"] == "info"]
    print(table(targets, markdown))
    if infos:
        print()
        print(info_table(infos, markdown))
    with open(json_out, "w", encoding="utf-8") as f:
        json.dump({"when": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
                   "machine": platform.node(), "rows": rows}, f, indent=1)
    failed = [r["name"] for r in targets if not r["passed"]]
    if failed or not targets:
        print("\nnot passing: " + (", ".join(failed) or "no benchmark reported a result"))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
