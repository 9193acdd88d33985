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

# (benchmark, what is measured, the floor it is measured against, aim as a maximum ratio,
#  aim as a maximum time of the plug-in's figure in nanoseconds)
RATIO_ROWS = [
    ("PassThrough/frames:64", "Pass-through, 64 frames (processReplacing)",
     "memcpy of the same bytes", 1.2, None),
    ("PassThrough/frames:512", "Pass-through, 512 frames", "memcpy of the same bytes", 1.2, None),
    ("PassThrough/frames:4096", "Pass-through, 4096 frames", "memcpy of the same bytes", 1.2,
     None),
    ("GainChange/jack/window:0", "Gain change on the calling thread (setParameter), JACK, "
     "window closed", "bare midiOutShortMsg, JACK", 1.0, None),
    ("GainChange/jack/window:1", "Gain change, JACK, window open", "bare midiOutShortMsg, JACK",
     None, None),
    ("Refresh48/jack/window:0", "Refresh (48 gains), JACK", "48 bare calls, JACK", None, None),
    ("GainChange/recording/window:0", "Gain change on the calling thread, recording backend, "
     "window closed", "bare midiOutShortMsg, recording", 1.0, None),
    ("GainChange/recording/window:1", "Gain change, recording backend, window open",
     "bare midiOutShortMsg, recording", None, None),
    ("Refresh48/recording/window:0", "Refresh (48 gains), recording backend",
     "48 bare calls, recording", None, None),
    ("SlowDriver", "Longest setParameter call of automation over 10 s, driver 1 ms per message",
     "the same with an instant driver", 2.0, 50e3),
    ("DeviceOpen", "Longest setParameter call of automation over 2 s with two 300 ms device "
     "opens", "the same without device changes", None, 50e3),
    ("WindowOpenClose", "Window open + close, offscreen", "decoding its 12 bitmaps", None, None),
    ("FullRepaint", "Full repaint, 573 x 394", "one copy of the page background", 3.0, None),
]

# Counters the gain-change and refresh benchmarks add up over their runs.
DELIVERY_KEYS = ["changes", "messages", "mismatches", "missed", "unsettled", "bare_sent",
                 "bare_lost"]

COUNT_ROWS = [
    ("LinkedKnobDrag", "Linked knob, 1000 mouse events",
     [("steps", "7-bit steps passed", "{:.0f}"),
      ("changes", "changes handed on (reported to the host)", "{:.0f}"),
      ("expected", "expected (2 per step)", "{:.0f}"),
      ("messages", "messages the device took", "{:.0f}"),
      ("end_mismatches", "channels not ending at the knob's value", "{:.0f}"),
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

# The automation runs: the subject's counters and the floor run's (prefix "floor_") side by side.
AUTOMATION_ROWS = [
    ("calls", "setParameter calls", "{:,.0f}"),
    ("longest_us", "longest call", "us"),
    ("p50_us", "median call", "us"),
    ("p99_us", "99 % of calls took at most", "us"),
    ("p9999_us", "99.99 % of calls took at most", "us"),
    ("slow_calls", "calls over 50 us", "{:.0f}"),
    ("store_longest_us", "beside each call, one atomic store timed alike: longest", "us"),
    ("store_p50_us", "... median store", "us"),
    ("store_p9999_us", "... 99.99 % of stores took at most", "us"),
    ("late_periods", "periods the automation thread woke late", "{:.0f}"),
    ("opens", "device opens (300 ms each)", "{:.0f}"),
    ("messages", "messages the driver took", "{:,.0f}"),
    ("mismatches", "final-state mismatches (device vs host)", "{:.0f}"),
    ("changed_at_end", "gains the device did not hold at the last change", "{:.0f}"),
    ("taken_after_end", "messages it took after the last change", "{:.0f}"),
    ("message_ms", "driver time per message (median gap)", "ms"),
    ("delay_ms", "delay from the last change to the device holding every gain", "ms"),
]
AUTOMATION_TABLES = [
    ("SlowDriver", "Automation of 48 gains every 32 frames for 10 s, paced in real time",
     "Driver 1 ms per message", "Instant driver", True),
    ("DeviceOpen", "Automation for 2 s while the window thread chooses the second device, then "
     "the first again",
     "Opens take 300 ms", "No device change", False),
]


def base_name(name):
    name = re.sub(r"/(manual_time|real_time)$", "", name)
    return re.sub(r"/(iterations|repeats):\d+", "", name)


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
    if style == "ms":
        return duration(value * 1e6)
    if style == "pct":
        return f"{value * 100:.1f} %"
    return style.format(value)


def print_table(header, rows, left=(0,)):
    """A Markdown table after a blank line; columns not in `left` align right."""
    print()
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join("---" if i in left else "---:" for i in range(len(header))) + "|")
    for row in rows:
        print("| " + " | ".join(row) + " |")


def yes_no(value):
    return "-" if value is None else ("yes" if value >= 0.5 else "no")


def automation_aim(r, counter, judge_delay):
    if counter == "mismatches":
        values = [median(r, prefix + counter) for prefix in ("", "floor_")]
        return "0: " + ("met" if all(v == 0 for v in values if v is not None) else "**missed**")
    if counter == "delay_ms" and judge_delay:
        delay, changed, per_message = (median(r, k) for k in
                                       ("delay_ms", "changed_at_end", "message_ms"))
        if None in (delay, changed, per_message):
            return "-"
        # The message the driver had under way at the last change cannot be taken back.
        limit = (changed + 1) * per_message
        return (f"<= ({changed:.0f} + 1 under way) x {formatted(per_message, 'ms')} = "
                f"{formatted(limit, 'ms')}: " + ("met" if delay <= limit else "**missed**"))
    return ""


def main(paths):
    runs, contexts = load(paths)
    if not runs:
        print("no benchmark results", file=sys.stderr)
        return 1
    reps = max(len(r) for r in runs.values())
    print(f"Medians over {reps} repetitions; each ratio is the median of per-batch ratios "
          "against the floor timed alternately in the same run (for the automation runs, of "
          "per-repetition ratios: each repetition plays the plug-in's run and its floor run "
          "one after the other).")
    for c in contexts:
        loads = ", ".join(f"{x:.2f}" for x in c.get("load_avg", []))
        print(f"- `{c.get('executable', '?').split('/')[-1]}`: {c.get('date', '?')}, "
              f"{c.get('num_cpus', '?')} CPUs at {c.get('mhz_per_cpu', '?')} MHz, "
              f"load average {loads}")
    print()
    print("| Measurement | Plug-in | Floor | Floor time | Ratio | Aim |")
    print("|---|---:|---|---:|---:|---|")
    for key, what, floor, aim, limit in RATIO_ROWS:
        if key not in runs:
            continue
        r = runs[key]
        ratio, ns = median(r, "ratio"), median(r, "ns")
        verdicts = []
        if aim is not None and ratio is not None:
            verdicts.append(f"<= {aim:.1f}x: " + ("met" if ratio <= aim else "**missed**"))
        if limit is not None and ns is not None:
            verdicts.append(f"< {duration(limit)}: " + ("met" if ns < limit else "**missed**"))
        print(f"| {what} | {duration(ns)} | {floor} | "
              f"{duration(median(r, 'floor_ns'))} | "
              f"{'-' if ratio is None else f'{ratio:.2f}x'} | "
              f"{'; '.join(verdicts) or 'reported'} |")
    delivery_runs = [b for key, r in runs.items()
                     if key.startswith(("GainChange/", "Refresh48/")) for b in r]
    if delivery_runs:
        total = {k: sum(b.get(k, 0) for b in delivery_runs) for k in DELIVERY_KEYS}
        print()
        print(f"Gain-change and refresh runs: {total['changes']:,.0f} changes handed over, "
              f"{total['messages']:,.0f} messages reached the device (a newer value replaced "
              f"the rest before the sender reached them); gains the device held otherwise than "
              f"the host after a batch: {total['mismatches']:,.0f}; refreshes that left a gain "
              f"unsent: {total['missed']:,.0f}; batches the sender did not finish in 5 s: "
              f"{total['unsettled']:,.0f}. Bare calls: {total['bare_sent']:,.0f} messages, "
              f"not received: {total['bare_lost']:,.0f}.")
    for key, what, counters in COUNT_ROWS:
        if key in runs:
            print_table([what, ""], [[label, formatted(median(runs[key], counter), style)]
                                     for counter, label, style in counters])
    for key, what, subject, floor, judge_delay in AUTOMATION_TABLES:
        if key not in runs:
            continue
        r = runs[key]
        rows = []
        for counter, label, style in AUTOMATION_ROWS:
            rows.append([label] + [formatted(median(r, prefix + counter), style)
                                   for prefix in ("", "floor_")] +
                        [automation_aim(r, counter, judge_delay)])
        rows.append(["automation thread at real-time priority (SCHED_FIFO)"] +
                    [yes_no(median(r, prefix + "realtime")) for prefix in ("", "floor_")] + [""])
        print_table([f"{what} (medians of {len(r)} repetitions)", subject, floor, "Aim"], rows,
                    left=[0, 3])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
