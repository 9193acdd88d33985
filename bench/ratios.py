#!/usr/bin/env python3
"""Prints the benchmark results as Markdown tables: the plug-in's work against the floor
measured in the same run, and the counts of the drag and automation benchmarks.

Usage: ratios.py RESULT.json...   (files written with --benchmark_out_format=json; with
--benchmark_repetitions each figure is the median over the repetitions)
"""

import json
import re
import statistics
import sys

# (benchmark, what is measured, the floor it is measured against, aim as a maximum ratio)
RATIO_ROWS = [
    ("PassThrough/frames:64", "Pass-through, 64 frames (processReplacing)",
     "memcpy of the same bytes", 1.2),
    ("PassThrough/frames:512", "Pass-through, 512 frames", "memcpy of the same bytes", 1.2),
    ("PassThrough/frames:4096", "Pass-through, 4096 frames", "memcpy of the same bytes", 1.2),
    ("GainChange/jack/window:0", "Gain change, setParameter to MIDI, JACK, window closed",
     "bare midiOutShortMsg, JACK", 1.10),
    ("GainChange/jack/window:1", "Gain change, JACK, window open", "bare midiOutShortMsg, JACK",
     1.10),
    ("Refresh48/jack/window:0", "Refresh (48 messages), JACK", "48 bare calls, JACK", None),
    ("GainChange/recording/window:0", "Gain change, recording backend, window closed",
     "bare midiOutShortMsg, recording", None),
    ("GainChange/recording/window:1", "Gain change, recording backend, window open",
     "bare midiOutShortMsg, recording", None),
    ("Refresh48/recording/window:0", "Refresh (48 messages), recording backend",
     "48 bare calls, recording", None),
    ("WindowOpenClose", "Window open + close, offscreen", "decoding its 12 bitmaps", None),
    ("FullRepaint", "Full repaint, 573 x 394", "one copy of the page background", 3.0),
]

COUNT_ROWS = [
    ("LinkedKnobDrag", "Linked knob, 1000 mouse events",
     [("steps", "7-bit steps passed", "{:.0f}"), ("messages", "messages sent", "{:.0f}"),
      ("expected", "expected (2 per step)", "{:.0f}"),
      ("pair_mismatches", "pairs not matching", "{:.0f}"),
      ("ns_per_event", "time per event", "ns")]),
    ("HostAutomation/idle_ms:10", "Automation of 48 gains every 32 frames, idle every 10 ms",
     [("calls_per_idle", "setParameter calls per idle", "{:.0f}"),
      ("max_pending", "most controls pending at an idle", "{:.0f}"),
      ("idle_us_per_period", "window work per 32-frame period", "us"),
      ("idle_us_max", "longest idle + paint", "us"),
      ("window_busy", "window thread busy", "pct"),
      ("calls_us_per_period", "48 setParameter calls (automation thread)", "us"),
      ("stale_at_end", "controls stale after the last idle", "{:.0f}")]),
    ("HostAutomation/idle_ms:50", "The same, idle every 50 ms",
     [("calls_per_idle", "setParameter calls per idle", "{:.0f}"),
      ("max_pending", "most controls pending at an idle", "{:.0f}"),
      ("idle_us_per_period", "window work per 32-frame period", "us"),
      ("idle_us_max", "longest idle + paint", "us"),
      ("window_busy", "window thread busy", "pct"),
      ("calls_us_per_period", "48 setParameter calls (automation thread)", "us"),
      ("stale_at_end", "controls stale after the last idle", "{:.0f}")]),
]


def base_name(name):
    name = re.sub(r"/(manual_time|real_time)$", "", name)
    return re.sub(r"/iterations:\d+", "", name)


def load(paths):
    runs, contexts = {}, []
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        contexts.append(data.get("context", {}))
        for b in data.get("benchmarks", []):
            if b.get("run_type") != "iteration" or b.get("error_occurred"):
                continue
            runs.setdefault(base_name(b["run_name"]), []).append(b)
    return runs, contexts


def median(runs, key):
    values = [b[key] for b in runs if key in b]
    return statistics.median(values) if values else None


def duration(ns):
    if ns is None:
        return "-"
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e3:
        return f"{ns / 1e3:.2f} us"
    return f"{ns:.0f} ns"


def formatted(value, style):
    if value is None:
        return "-"
    if style == "ns":
        return duration(value)
    if style == "us":
        return duration(value * 1e3)
    if style == "pct":
        return f"{value * 100:.1f} %"
    return style.format(value)


def main(paths):
    runs, contexts = load(paths)
    if not runs:
        print("no benchmark results", file=sys.stderr)
        return 1
    reps = max(len(r) for r in runs.values())
    print(f"Medians over {reps} repetitions; each ratio is the median of per-batch ratios "
          "against the floor timed alternately in the same run.")
    for c in contexts:
        loads = ", ".join(f"{x:.2f}" for x in c.get("load_avg", []))
        print(f"- `{c.get('executable', '?').split('/')[-1]}`: {c.get('date', '?')}, "
              f"{c.get('num_cpus', '?')} CPUs at {c.get('mhz_per_cpu', '?')} MHz, "
              f"load average {loads}")
    print()
    print("| Measurement | Plug-in | Floor | Floor time | Ratio | Aim |")
    print("|---|---:|---|---:|---:|---|")
    for key, what, floor, aim in RATIO_ROWS:
        if key not in runs:
            continue
        r = runs[key]
        ratio = median(r, "ratio")
        if aim is None:
            verdict = "reported"
        elif ratio is None:
            verdict = "-"
        else:
            verdict = f"<= {aim:g}x: " + ("met" if ratio <= aim else "**missed**")
        print(f"| {what} | {duration(median(r, 'ns'))} | {floor} | "
              f"{duration(median(r, 'floor_ns'))} | "
              f"{'-' if ratio is None else f'{ratio:.2f}x'} | {verdict} |")
    lost = sum(b.get("lost", 0) for r in runs.values() for b in r)
    sent = sum(b.get("sent", 0) for r in runs.values() for b in r)
    if sent:
        print()
        print(f"MIDI messages sent during the gain-change runs: {sent:,.0f}; not received: "
              f"{lost:,.0f}.")
    for key, what, counters in COUNT_ROWS:
        if key not in runs:
            continue
        r = runs[key]
        print()
        print(f"| {what} | |")
        print("|---|---:|")
        for counter, label, style in counters:
            print(f"| {label} | {formatted(median(r, counter), style)} |")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
