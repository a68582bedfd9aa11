#!/usr/bin/env python3
"""Turns velmora_bench's JSON into the tables of BENCHMARKS.md and the chart's data.

    report.py BENCH.json                 markdown tables on standard output
    report.py BENCH.json --chart DIR     also DIR/decode.dat and DIR/draw.dat for chart.gp

Rates are the medians of the repetitions (megapixels per second); every ratio
is a ratio of two such medians from the same run. A benchmark name is
operation/case.../contender, as velmora_bench registers it.
"""
import json
import os
import statistics
import sys
from collections import OrderedDict

DECODE_PEERS = ["stb_image", "sdl_image"]


def medians(path):
    """{group: {contender: MP/s}} in the order of the file, plus SDL's exact shares."""
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    rates, shares = OrderedDict(), {}
    samples = OrderedDict()
    for run in runs:
        if run.get("error_occurred"):
            sys.exit("report.py: %s failed its check: %s" % (run["name"], run.get("error_message")))
        name = run.get("run_name", run["name"])
        group, contender = name.rsplit("/", 1)
        if run.get("run_type") == "aggregate":
            if run.get("aggregate_name") != "median":
                continue
            rates.setdefault(group, OrderedDict())[contender] = run["items_per_second"] / 1e6
        else:
            samples.setdefault((group, contender), []).append(run["items_per_second"] / 1e6)
        if "exact_share" in run:
            shares[(group, contender)] = run["exact_share"]
    # A run without --benchmark_report_aggregates_only: take the medians here.
    for (group, contender), values in samples.items():
        rates.setdefault(group, OrderedDict()).setdefault(contender, statistics.median(values))
    # Random interleaving shuffles the file: tables follow a fixed order instead.
    ordered = OrderedDict()
    for group in sorted(rates, key=group_order):
        ordered[group] = OrderedDict(sorted(rates[group].items(), key=lambda item: contender_order(item[0])))
    return ordered, shares


ORDER = ["copy", "fill", "blend", "decode", "raw", "rle", "photo", "flat", "256", "2048", "bottom_up",
         "top_down", "sprite_blit_16", "sprite_area_blit_16"]
CONTENDERS = ["velmora", "plain", "stb_image", "sdl_image", "sdl_blitsurface", "sdl_fillrect", "sdl_alpha_77",
              "sdl_alpha_128", "memcpy_input", "memset_output", "memcpy_rows", "memset_rows"]


def group_order(group):
    return [ORDER.index(part) if part in ORDER else len(ORDER) for part in group.split("/")]


def contender_order(contender):
    return CONTENDERS.index(contender) if contender in CONTENDERS else len(CONTENDERS)


def ratio(a, b):
    return a / b if a and b else None


def fmt_ratio(r):
    if r is None:
        return "–"
    return "%.2f×" % r if r < 10 else "%.1f×" % r


def fmt_rate(r):
    return "–" if r is None else "{:,.0f}".format(r)


def tiny_input(group):
    """Flat run-length data is a few kilobytes: copying it is no floor for a decoder."""
    return group.startswith("decode/rle/flat/")


def rates_table(rates):
    """Every contender's median rate, MP/s, one row per case."""
    lines = ["| case | contender: MP/s |", "|---|---|"]
    for group, r in rates.items():
        lines.append("| %s | %s |" % (group.replace("/", " "),
                                       ", ".join("%s %s" % (c, fmt_rate(v)) for c, v in r.items())))
    return "\n".join(lines)


def decode_table(rates):
    head = ("| case | velmora MP/s | × plain | × stb_image | × SDL_image | × faster peer "
            "| of memcpy input | of memset output |\n|---|---:|---:|---:|---:|---:|---:|---:|")
    lines = [head]
    for group, r in rates.items():
        if not group.startswith("decode/"):
            continue
        v = r.get("velmora")
        peer = max(r.get(p, 0) for p in DECODE_PEERS)
        lines.append("| %s | %s | %s | %s | %s | %s | %s | %s |" % (
            group[len("decode/"):].replace("/", " "), fmt_rate(v), fmt_ratio(ratio(v, r.get("plain"))),
            fmt_ratio(ratio(v, r.get("stb_image"))), fmt_ratio(ratio(v, r.get("sdl_image"))),
            fmt_ratio(ratio(v, peer)),
            "–" if tiny_input(group) else "%.2f" % ratio(v, r.get("memcpy_input")),
            "%.2f" % ratio(v, r.get("memset_output"))))
    return "\n".join(lines)


def draw_table(rates, shares):
    head = ("| operation (256 × 256 into 512 × 512) | velmora MP/s | × plain | SDL contender "
            "| × SDL | ÷ limit | SDL pixels exact |\n|---|---:|---:|---|---:|---:|---:|")
    lines = [head]
    for group, r in rates.items():
        if group.startswith("decode/"):
            continue
        v = r.get("velmora")
        sdl = [c for c in r if c.startswith("sdl")]
        limit = [c for c in r if c.startswith("mem")]
        for i, c in enumerate(sdl):
            share = shares.get((group, c))
            lines.append("| %s | %s | %s | %s | %s | %s | %s |" % (
                group.replace("/", " ") if i == 0 else "", fmt_rate(v) if i == 0 else "",
                fmt_ratio(ratio(v, r.get("plain"))) if i == 0 else "", c, fmt_ratio(ratio(v, r[c])),
                ("%.2f (%s)" % (ratio(v, r[limit[0]]), limit[0])) if limit and i == 0 else "",
                "%.0f %%" % (100 * share) if share is not None else "all"))
    return "\n".join(lines)


def targets(rates):
    """The speed goals: each with its measured ratios, lowest and median, and whether all meet it."""
    def cases(prefix):
        return [r for g, r in rates.items() if g.startswith(prefix)]

    def peer(r):
        return max(r.get(p, 0) for p in DECODE_PEERS)

    goals = [
        ("raw decode ≥ 6× stb_image + pack", 6, [ratio(r["velmora"], r["stb_image"]) for r in cases("decode/raw/")]),
        ("raw decode ≥ 12× SDL_image + convert", 12, [ratio(r["velmora"], r["sdl_image"]) for r in cases("decode/raw/")]),
        ("run-length photo ≥ 10× the faster peer", 10, [ratio(r["velmora"], peer(r)) for r in cases("decode/rle/photo/")]),
        ("run-length flat ≥ 25× the faster peer", 25, [ratio(r["velmora"], peer(r)) for r in cases("decode/rle/flat/")]),
        ("run-length flat ≥ 0.2× memset of the output", 0.2, [ratio(r["velmora"], r["memset_output"]) for r in cases("decode/rle/flat/")]),
        ("sprite_blit_16 ≥ 0.9× memcpy per row", 0.9, [ratio(r["velmora"], r["memcpy_rows"]) for r in cases("copy/sprite_blit_16")]),
        ("sprite_blit_16 ≥ 3× SDL_BlitSurface", 3, [ratio(r["velmora"], r["sdl_blitsurface"]) for r in cases("copy/sprite_blit_16")]),
        ("sprite_area_blit_16 ≥ 0.9× memcpy per row", 0.9, [ratio(r["velmora"], r["memcpy_rows"]) for r in cases("copy/sprite_area_blit_16")]),
        ("sprite_area_blit_16 ≥ 3× SDL_BlitSurface", 3, [ratio(r["velmora"], r["sdl_blitsurface"]) for r in cases("copy/sprite_area_blit_16")]),
        ("area_fill_16 ≥ 0.9× memset per row", 0.9, [ratio(r["velmora"], r["memset_rows"]) for r in cases("fill/")]),
        ("area_fill_16 ≥ 3× SDL_FillRect", 3, [ratio(r["velmora"], r["sdl_fillrect"]) for r in cases("fill/")]),
        ("sprite_blit_alpha_16 ≥ 3.5× SDL alpha 77", 3.5, [ratio(r["velmora"], r["sdl_alpha_77"]) for r in cases("blend/")]),
    ]
    lines = ["| target | cases | lowest | median | met |", "|---|---:|---:|---:|---|"]
    for name, goal, values in goals:
        values = [v for v in values if v is not None]
        if not values:
            continue
        low = min(values)
        met = "yes" if low >= goal else ("no (%d of %d)" % (sum(v >= goal for v in values), len(values)))
        lines.append("| %s | %d | %s | %s | %s |" % (name, len(values), fmt_ratio(low),
                                                  fmt_ratio(statistics.median(values)), met))
    return "\n".join(lines)


def chart_data(rates, directory):
    """Two whitespace tables for gnuplot: one row per case, one column per contender."""
    os.makedirs(directory, exist_ok=True)
    decode_cols = ["velmora", "plain", "stb_image", "sdl_image", "memcpy_input", "memset_output"]
    with open(os.path.join(directory, "decode.dat"), "w") as f:
        f.write("case " + " ".join(decode_cols) + "\n")
        for group, r in rates.items():
            if group.startswith("decode/"):
                label = group[len("decode/"):].replace("/", "\\n").replace("_", "-")
                # Bars for copying flat run-length data would flatten the whole chart.
                shown = [c for c in decode_cols if c in r and not (c == "memcpy_input" and tiny_input(group))]
                f.write('"%s" %s\n' % (label, " ".join("%.1f" % r[c] if c in shown else "?" for c in decode_cols)))
    draw_cols = ["velmora", "plain", "SDL", "limit"]
    with open(os.path.join(directory, "draw.dat"), "w") as f:
        f.write("case " + " ".join(draw_cols) + "\n")
        for group, r in rates.items():
            if group.startswith("decode/"):
                continue
            sdl = [c for c in r if c.startswith("sdl")]
            limit = [c for c in r if c.startswith("mem")]
            for c in sdl:
                label = (group.split("/")[1] + "\\n(" + c + ")").replace("_", "-")
                f.write('"%s" %.1f %.1f %.1f %s\n' % (label, r["velmora"], r["plain"], r[c],
                                                       "%.1f" % r[limit[0]] if limit else "?"))


def main():
    if len(sys.argv) not in (2, 4) or (len(sys.argv) == 4 and sys.argv[2] != "--chart"):
        sys.exit(__doc__)
    rates, shares = medians(sys.argv[1])
    print("### Targets\n\n" + targets(rates))
    print("\n### Decoding (MP/s of velmora; ratios are velmora's speed over each contender's)\n")
    print(decode_table(rates))
    print("\n### Drawing\n")
    print(draw_table(rates, shares))
    print("\n### Every rate (medians, megapixels per second)\n")
    print(rates_table(rates))
    if len(sys.argv) == 4:
        chart_data(rates, sys.argv[3])


if __name__ == "__main__":
    main()
