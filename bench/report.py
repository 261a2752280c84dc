#!/usr/bin/env python3
"""report.py --command CMD OUT_DIR: the Markdown table of the figures in
OUT_DIR (desktop.json from desktop-bench, keychain.json from keychain-bench),
each a median beside its baseline's, with the targets."""

import argparse
import datetime
import json
import os
import platform
import statistics
import subprocess


def median(values):
    return statistics.median(values) if values else float("nan")


def spread(values):
    """The middle half of the samples, as 'p25–p75'."""
    if len(values) < 4:
        return "%s–%s" % (fmt(min(values)), fmt(max(values)))
    q = statistics.quantiles(values, n=4)
    return "%s–%s" % (fmt(q[0]), fmt(q[2]))


def fmt(value):
    if abs(value) >= 100:
        return "%.0f" % value
    if abs(value) >= 10:
        return "%.1f" % value
    return "%.2f" % value


def machine():
    cpu = "unknown CPU"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as info:
        memory = int(info.readline().split()[1]) // 1024
    try:
        qt = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "libqt6core6"], capture_output=True,
                            text=True).stdout
    except OSError:
        qt = "?"
    debian = open("/etc/debian_version").read().strip() if os.path.exists("/etc/debian_version") else "?"
    return "%s, %d cores, %d MiB; Linux %s, Debian %s, Qt %s" % (
        cpu, os.cpu_count(), memory, platform.release(), debian, qt)


class Table:
    def __init__(self):
        self.rows = []

    def add(self, figure, value, baseline, unit, target, ratio_limit=None, samples="", note=""):
        ratio = value / baseline if baseline else float("nan")
        has_baseline = baseline is not None
        if ratio_limit is not None:
            met = "yes" if ratio <= ratio_limit else "no, by %.0f%%" % ((ratio / ratio_limit - 1) * 100)
            ratio_text = "%.2f×" % ratio
        else:
            met, ratio_text = note or "—", "%.2f×" % ratio if baseline else "—"
        self.rows.append((figure, "%s %s" % (fmt(value), unit),
                          "%s %s" % (fmt(baseline), unit) if has_baseline else "—",
                          ratio_text, target, met, samples))

    def markdown(self):
        lines = ["| Figure | tarvenDESK | Baseline | Ratio | Target | Met | Samples (middle half) |",
                 "|---|---|---|---|---|---|---|"]
        lines += ["| " + " | ".join(row) + " |" for row in self.rows]
        return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--command", required=True)
    parser.add_argument("out")
    args = parser.parse_args()
    desktop = json.load(open(os.path.join(args.out, "desktop.json")))
    keychain = json.load(open(os.path.join(args.out, "keychain.json")))
    load = [open(os.path.join(args.out, name)).read().split()[:3] for name in ("load-before", "load-after")]

    table = Table()
    windows = desktop["windowStartUp"]
    signin, bare = windows["TarvenDESK"], windows["bare-window"]
    table.add("Start-up to window shown: `TarvenDESK` vs bare Qt window", median(signin), median(bare), "ms",
              "≤ 1.3×", 1.3, "%s / %s ms, %d runs each" % (spread(signin), spread(bare), len(signin)))

    trays = desktop["trayStartUp"]
    notifier, bare_tray = trays["tarvenDESKStatusBar"], trays["bare-tray"]
    runs = len(notifier["ready"])
    table.add("Start-up to ready (tray item set and first check sent): `tarvenDESKStatusBar` vs bare Qt tray",
              median(notifier["ready"]), median(bare_tray["ready"]), "ms", "≤ 1.3×", 1.3,
              "%s / %s ms, %d runs each" % (spread(notifier["ready"]), spread(bare_tray["ready"]), runs))
    table.add("… of which: tray item set", median(notifier["trayItem"]), median(bare_tray["trayItem"]), "ms",
              "—", None, "%s / %s ms" % (spread(notifier["trayItem"]), spread(bare_tray["trayItem"])))
    table.add("… of which: first check answered by the service", median(notifier["firstCheck"]),
              median(bare_tray["firstCheck"]), "ms", "—", None,
              "%s / %s ms" % (spread(notifier["firstCheck"]), spread(bare_tray["firstCheck"])))

    to_mib = lambda kib: [k / 1024 for k in kib]
    rss_notifier, rss_bare = to_mib(notifier["residentKiB"]), to_mib(bare_tray["residentKiB"])
    table.add("Resident memory after start-up: notifier vs bare Qt tray", median(rss_notifier), median(rss_bare),
              "MiB", "≤ 1.25×", 1.25, "%s / %s MiB, %d runs each" % (spread(rss_notifier), spread(rss_bare), runs))

    checks = desktop["checks"]
    resident = {int(done): kib / 1024 for done, kib in checks["residentKiB"]}
    count = len(checks["costMs"])
    after = resident[-1]
    warm_at = 100 if 100 in resident else 0
    warm = resident[warm_at]
    trend = [resident[k] for k in sorted(k for k in resident if k >= 100)]
    table.add("Resident memory after %d checks (2 s settled) vs after the first %d" % (count, warm_at), after, warm, "MiB",
              "no growth beyond noise", None, "after start-up %s, then every 100: %s MiB" % (
                  fmt(resident[0]), " ".join(fmt(v) for v in trend)),
              "growth %+.2f MiB, %+.1f KiB a check" % (after - warm, (after - warm) * 1024 / max(1, count - warm_at)))

    idle = desktop["idle"]
    per_minute = 60.0 / idle["seconds"]
    idle_notifier = [w["total"] * per_minute for w in idle["tarvenDESKStatusBar"]]
    idle_bare = [w["total"] * per_minute for w in idle["bare-tray"]]
    table.add("Idle wake-ups between checks (voluntary context switches, all threads, per minute)",
              median(idle_notifier), median(idle_bare), "/min", "≤ 1 /min", None,
              "%d windows of %d s: %s / %s" % (len(idle_notifier), idle["seconds"],
                                               " ".join(fmt(v) for v in idle_notifier),
                                               " ".join(fmt(v) for v in idle_bare)),
              "yes" if median(idle_notifier) <= 1 else "no, by %s /min" % fmt(median(idle_notifier) - 1))

    locked = desktop["lockedKeyring"]
    waiting = [w["total"] * 60.0 / locked["seconds"] for w in locked["windows"]]
    table.add("Wake-ups while waiting for a locked keyring, its prompt dismissed (voluntary context switches, "
              "all threads, per minute)", median(waiting), None, "/min", "0 /min", None,
              "%d windows of %d s: %s; requests meanwhile: %d" % (
                  len(waiting), locked["seconds"], " ".join(fmt(v) for v in waiting),
                  sum(w["requests"] for w in locked["windows"])),
              "yes" if median(waiting) == 0 else "no, %s /min" % fmt(median(waiting)))
    unlocked = locked["unlockToCheckMs"]
    table.add("Keyring unlocked → the notifier's first check answered", median(unlocked), None, "ms",
              "≤ 1000 ms", None, "%s ms, %d unlocks" % (spread(unlocked), len(unlocked)),
              "yes" if max(unlocked) <= 1000 else "no, slowest %s ms" % fmt(max(unlocked)))

    cost, post = checks["costMs"], checks["baselinePostMs"]
    table.add("One check, menu entry chosen → notification at the server, vs a bare HTTPS POST round trip",
              median(cost), median(post), "ms", "(no target)", None,
              "%s / %s ms; %d checks, %d posts" % (spread(cost), spread(post), len(cost), len(post)),
              "overhead %s ms" % fmt(median(cost) - median(post)))

    runs_of = {}
    for bench in keychain["benchmarks"]:
        if bench.get("run_type") == "iteration":
            runs_of.setdefault(bench["run_name"].split("/")[0], []).append(bench["real_time"])
    for operation, store, direct in (("read", "keychainStoreRead", "libsecretRead"),
                                     ("save", "keychainStoreSave", "libsecretSave")):
        table.add("`KeychainStore` %s vs libsecret directly" % operation, median(runs_of[store]),
                  median(runs_of[direct]), "µs", "≤ 1.1×", 1.1, "%s / %s µs, %d repetitions each" % (
                      spread(runs_of[store]), spread(runs_of[direct]), len(runs_of[store])))

    print("# Benchmark figures\n")
    print("Made by `%s` on %s." % (args.command, datetime.date.today().isoformat()))
    print("Machine: %s. Load average (1, 5, 15 min) %s before, %s after: the machine was shared."
          % (machine(), ", ".join(load[0]), ", ".join(load[1])))
    print("Each figure is the median of its samples; \"Samples\" gives the middle half (tarvenDESK / baseline).\n")
    print(table.markdown())


if __name__ == "__main__":
    main()
