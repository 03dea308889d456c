#!/usr/bin/env python3
"""Prints the benchmark table from Google Benchmark's JSON output.

Each row pairs a ZoLib measurement with its reference from the same run and
reports medians over the repetitions. Ratios are oriented so that the target
reads as stated: "speed" rows are reference time / ZoLib time (higher is
better), "time" rows ZoLib time / reference time (lower is better), "scale"
rows the time of the larger case over the smaller one (lower is better).
"value" rows show ZoLib time / reference time, but their target is a bound
on the ZoLib time itself, in seconds.
"""
import json
import os
import sys

# (label, ZoLib benchmark, reference benchmark, reference name, kind, clock,
#  target as (comparison, value) or None for a report)
ROWS = [
    ("1  PostMessage throughput", "BM_Post_ZoLib", "BM_Post_floor",
     "pipe+select by hand", "speed", "real", (">=", 0.8)),
    ("1  One-way latency (two loopers)", "BM_PingPong_ZoLib", "BM_PingPong_pipe",
     "pipe ping-pong", "speed", "real", None),
    ("2  Flatten+unflatten, 20 items", "BM_Serialise_ZoLib", "BM_Serialise_msgpack",
     "msgpack-c", "speed", "cpu", (">=", 1.0)),
    ("3  Plain flatten, 1 MiB buffer", "BM_Large_Flatten", "BM_Large_memcpy",
     "memcpy", "speed", "cpu", (">=", 0.5)),
    ("4  Compressed round trip, 256 B", "BM_Zip_ZoLib/256", "BM_Zip_zlib/256",
     "compress2+uncompress", "time", "cpu", ("<=", 1.0)),
    ("4  Compressed round trip, 64 KiB", "BM_Zip_ZoLib/65536", "BM_Zip_zlib/65536",
     "compress2+uncompress", "time", "cpu", ("<=", 1.0)),
    ("4  Pipe send+receive, 256 B", "BM_PipeZip_ZoLib/256", "BM_Zip_zlib/256",
     "compress2+uncompress", "time", "cpu", ("<=", 1.0)),
    ("4  Pipe send+receive, 64 KiB", "BM_PipeZip_ZoLib/65536", "BM_Zip_zlib/65536",
     "compress2+uncompress", "time", "cpu", ("<=", 1.0)),
    ("4  Compressed round trip, 256 B, fresh heap", "BM_FreshZip_ZoLib", "BM_FreshZip_zlib",
     "compress2+uncompress", "time", "cpu", ("<=", 1.0)),
    ("4  Pipe send+receive, 256 B, fresh heap", "BM_FreshPipeZip_ZoLib", "BM_FreshZip_zlib",
     "compress2+uncompress", "time", "cpu", ("<=", 1.0)),
    ("5  Split 100,000 / 10,000 elements", "BM_Split/100000", "BM_Split/10000",
     "Split of 10,000", "scale", "cpu", ("<=", 12.0)),
    ("5  Watcher pass 20,000 / 10,000", "BM_WatcherPass/20000", "BM_WatcherPass/10000",
     "pass over 10,000", "scale", "real", ("<=", 2.5)),
    ("7  Watcher pass, 20,000 names", "BM_WatcherPass/20000", "BM_WatcherPass_floor/20000",
     "readdir+fstatat by hand", "time", "real", ("<=", 1.5)),
    ("7  Watcher idle CPU in 10 s, 20,000 names", "BM_WatcherIdle/1", "BM_WatcherIdle/0",
     "polling", "value", "real", ("<=", 0.010)),
    ("7  Watcher creation to ADDED, 60 s period", "BM_WatcherLatency", "BM_WatcherLatency_floor",
     "bare inotify watch", "value", "real", ("<=", 0.020)),
    ("6  List AddItem x1000 (block 10)", "BM_ListAdd_ZoLib", "BM_ListAdd_vector",
     "std::vector", "speed", "cpu", None),
    ("6  List GetItem x1000", "BM_ListGet_ZoLib", "BM_ListGet_vector",
     "std::vector", "speed", "cpu", None),
    ("6  Bag Set+Get by name (20 items)", "BM_BagSetGet_ZoLib", "BM_BagSetGet_unordered_map",
     "std::unordered_map", "speed", "cpu", None),
    ("6  Crosswalk green-to-wake (median)", "BM_GreenToWake_ZoLib", "BM_GreenToWake_cond",
     "mutex+condvar gate", "speed", "median", None),
    ("7  NATS publish, handled by a looper", "BM_NatsPublish_ZoLib", "BM_NatsPublish_raw",
     "raw publish, counting callback", "speed", "real", (">=", 0.8)),
    ("7  NATS publish, a plain ZoLooper", "BM_NatsPublishPlain_ZoLib", "BM_NatsPublish_raw",
     "raw publish, counting callback", "speed", "real", None),
    ("7  NATS request/reply of a bag", "BM_NatsRequest_ZoLib", "BM_NatsRequest_raw",
     "raw request/reply", "time", "real", ("<=", 1.2)),
    ("7  Same bags through a local ZoPipe", "BM_NatsPipe_ZoLib", "BM_NatsPublish_raw",
     "raw NATS publish", "speed", "real", None),
]

UNIT = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def load(path):
    """Medians, coefficients of variation and counters of one result file."""
    with open(path) as f:
        data = json.load(f)
    medians, cvs, counters = {}, {}, {}
    for b in data["benchmarks"]:
        if b.get("run_type") != "aggregate":
            continue
        # Names carry suffixes such as /iterations:200/repeats:9/manual_time.
        parts = b["run_name"].split("/")
        name = "/".join(p for p in parts
                        if p not in ("manual_time", "real_time")
                        and not p.startswith(("iterations:", "repeats:")))
        scale = UNIT[b["time_unit"]]
        times = {"real": b["real_time"] * scale, "cpu": b["cpu_time"] * scale}
        # A benchmark that notes the median of its rounds is judged by it.
        times["median"] = b.get("median", times["real"])
        if b["aggregate_name"] == "median":
            medians[name] = times
            counters[name] = b
        elif b["aggregate_name"] == "cv":
            cvs[name] = {"real": b["real_time"], "cpu": b["cpu_time"],
                         "median": b.get("median", b["real_time"])}
    return data["context"], medians, cvs, counters


def runs(paths):
    """Result files grouped by run: <program>.<run>.json."""
    grouped = {}
    for path in paths:
        run = path.rsplit(".", 2)[-2] if path.count(".") >= 2 else "0"
        grouped.setdefault(run, []).append(path)
    merged = []
    for run in sorted(grouped):
        context, medians, cvs, counters = None, {}, {}, {}
        for path in grouped[run]:
            # A filter that selects nothing in a program leaves its file empty.
            if os.path.getsize(path) == 0:
                continue
            c, m, v, n = load(path)
            context = context or c
            medians.update(m)
            cvs.update(v)
            counters.update(n)
        merged.append((context, medians, cvs, counters))
    return merged


def median(values):
    values = sorted(values)
    middle = len(values) // 2
    return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2


def show(seconds):
    for unit, factor in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= factor:
            return "%.3g %s" % (seconds / factor, unit)
    return "%.3g ns" % (seconds / 1e-9)


def main():
    results = runs(sys.argv[1:])
    head = ("Measure", "ZoLib", "Reference", "Ratio", "Target", "Met", "Runs", "Noise")
    lines = []
    for label, mine, ref, refName, kind, clock, target in ROWS:
        pairs = [(m[mine][clock], m[ref][clock], max(v.get(mine, {}).get(clock, 0),
                                                       v.get(ref, {}).get(clock, 0)))
                 for _, m, v, _ in results if mine in m and ref in m]
        if not pairs:
            lines.append((label, "-", refName, "-", "", "not run", "", ""))
            continue
        # Each run's ratio compares two things measured side by side; the
        # median over runs damps what changed on the machine between them.
        ratios = [(b / a if kind == "speed" else a / b) for a, b, _ in pairs]
        ratio = median(ratios)
        a = median([p[0] for p in pairs])
        b = median([p[1] for p in pairs])
        noise = median([p[2] for p in pairs])
        met, goal = "report", ""
        if target:
            op, value = target
            goal = "%s %g" % (op, value)
            judged = a if kind == "value" else ratio
            met = "yes" if (judged >= value if op == ">=" else judged <= value) else "NO"
            if kind == "value":
                goal = "%s %s" % (op, show(value))
        ref_text = "%s (%s)" % (show(b), refName) if kind != "scale" else show(b)
        spread = "%.2f-%.2f" % (min(ratios), max(ratios)) if len(ratios) > 1 else ""
        lines.append((label, show(a), ref_text, "%.2f" % ratio, goal, met, spread,
                      "%.0f%%" % (noise * 100)))
    memory = [n["BM_BagMemory"] for _, _, _, n in results if "BM_BagMemory" in n]
    if memory:
        m = memory[-1]
        lines.append(("6  Bag memory per int32 element", "%.0f B / %.0f B" %
                      (m["appended"], m["received"]),
                      "beyond the payload: appended / received", "", "", "report", "", ""))
        lines.append(("6  Bag memory per one-element item", "%.0f B" % m["item"],
                      "beyond the payload, name included", "", "", "report", "", ""))

    widths = [max(len(str(row[i])) for row in [head] + lines) for i in range(len(head))]
    fmt = "| " + " | ".join("%%-%ds" % w for w in widths) + " |"
    print(fmt % head)
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for row in lines:
        print(fmt % row)
    print()
    loads = "; ".join(", ".join("%.2f" % x for x in c.get("load_avg", [])) for c, _, _, _ in results)
    print("%d run(s). Times are medians over each run's repetitions (thread CPU time for work on"
          " one thread, wall time where threads hand work to each other), then over the runs;"
          " Ratio is the median of the runs' ratios and Runs their range. Noise: the larger"
          " coefficient of variation of the pair within a run. Load average at the start of each"
          " run: %s." % (len(results), loads))


if __name__ == "__main__":
    main()
