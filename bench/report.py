#!/usr/bin/env python3
"""Turns velmora_bench's JSON into the tables of BENCHMARKS.md and the chart's data.

    report.py BENCH.json                 markdown tables on standard output
    report.py BENCH.json --chart DIR     also DIR/{decode,variants,draw,transparent}.dat for chart.gp

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
    """{group: {contender: MP/s}} in a fixed order, the peers' exact shares and
    {(group, contender): nanoseconds per iteration}."""
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    rates, shares, times = OrderedDict(), {}, {}
    samples, time_samples = OrderedDict(), {}
    for run in runs:
        if run.get("error_occurred"):
            sys.exit("report.py: %s failed its check: %s" % (run["name"], run.get("error_message")))
        name = run.get("run_name", run["name"])
        group, contender = name.rsplit("/", 1)
        if run.get("run_type") == "aggregate":
            if run.get("aggregate_name") != "median":
                continue
            rates.setdefault(group, OrderedDict())[contender] = run["items_per_second"] / 1e6
            times[(group, contender)] = nanoseconds(run)
        else:
            samples.setdefault((group, contender), []).append(run["items_per_second"] / 1e6)
            time_samples.setdefault((group, contender), []).append(nanoseconds(run))
        if "exact_share" in run:
            shares[(group, contender)] = run["exact_share"]
        if "alpha_share" in run:
            shares[(group, contender, "alpha")] = run["alpha_share"]
    # A run without --benchmark_report_aggregates_only: take the medians here.
    for (group, contender), values in samples.items():
        rates.setdefault(group, OrderedDict()).setdefault(contender, statistics.median(values))
    for key, values in time_samples.items():
        times.setdefault(key, statistics.median(values))
    # Random interleaving shuffles the file: tables follow a fixed order instead.
    ordered = OrderedDict()
    for group in sorted(rates, key=group_order):
        ordered[group] = OrderedDict(sorted(rates[group].items(), key=lambda item: contender_order(item[0])))
    return ordered, shares, times


def nanoseconds(run):
    """A run's time per iteration."""
    return run["real_time"] * {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[run.get("time_unit", "ns")]


ORDER = ["copy", "fill", "blend", "key", "alpha8", "decode", "tga_to_sprite16", "32bit", "mapped", "16bit",
         "raw", "rle", "photo", "flat", "256", "2048", "bottom_up", "top_down", "sprite_blit_16",
         "sprite_area_blit_16", "sprite_blit_key_16", "sprite_area_blit_key_16", "sprite_blit_a8_16",
         "sprite_area_blit_a8_16", "disc", "glow", "tiles", "canvas_draw", "canvas_stretch", "canvas_transform",
         "flip_copy", "flip_key", "alpha8_opacity128", "opacity128", "half_off", "inside", "nearest_2x", "nearest_3x", "smooth_2x", "smooth_3x", "nearest", "smooth_alpha8",
         "key_30deg_scale1", "key_30deg_scale1.5", "opaque_30deg_scale1", "smooth_alpha8_30deg_scale1",
         "smooth_alpha8_30deg_scale1.5", "key_30deg", "64_on_2048", "64_on_96"]
CONTENDERS = ["velmora", "velmora_ssse3", "velmora_sse2", "velmora_portable", "lookup_loop", "plain", "stb_image", "sdl_image", "sdl_blitsurface", "sdl_fillrect", "sdl_alpha_77",
              "sdl_alpha_128", "sdl_colorkey", "sdl_colorkey_rle", "sdl_pixel_alpha", "allegro", "sdl_gfx", "pixman", "pixman_bilinear", "memcpy_input",
              "memset_output", "memcpy_rows", "memset_rows"]


def theme(group):
    """decode (24-bit), variants (every other TGA variant), transparent (key, alpha plane) or draw."""
    first = group.split("/")[0]
    if first.startswith("canvas_"):
        return "canvas"
    return {"decode": "decode", "tga_to_sprite16": "variants", "key": "transparent",
            "alpha8": "transparent", "panel": "panel"}.get(first, "draw")


def in_theme(rates, name):
    return [(g, r) for g, r in rates.items() if theme(g) == name]


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


def fmt_share(r):
    """A share of a floor, or a dash where the run had no floor to compare with."""
    return "–" if r is None else "%.2f" % r


def fmt_rate(r):
    return "–" if r is None else "{:,.0f}".format(r)


def tiny_input(group):
    """Run-length flat pictures and pixel art take a tenth of the output's bytes
    or less: copying them is no floor for a decoder."""
    return group.startswith("decode/rle/flat/") or group.startswith("tga_to_sprite16/mapped/rle/")


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
    for group, r in in_theme(rates, "decode"):
        v = r.get("velmora")
        peer = max(r.get(p, 0) for p in DECODE_PEERS)
        lines.append("| %s | %s | %s | %s | %s | %s | %s | %s |" % (
            group[len("decode/"):].replace("/", " "), fmt_rate(v), fmt_ratio(ratio(v, r.get("plain"))),
            fmt_ratio(ratio(v, r.get("stb_image"))), fmt_ratio(ratio(v, r.get("sdl_image"))),
            fmt_ratio(ratio(v, peer)),
            "–" if tiny_input(group) else "%.2f" % ratio(v, r.get("memcpy_input")),
            "%.2f" % ratio(v, r.get("memset_output"))))
    return "\n".join(lines)


def peers_of(r):
    """The contenders that are neither velmora, nor the plain loop, nor a memcpy/memset floor."""
    return [c for c in r if c not in ("velmora", "plain") and not c.startswith("mem")]


def share_text(shares, group, c):
    share = shares.get((group, c))
    return "%.1f %%" % (100 * share) if share is not None else "all"


def draw_table(rates, shares, which="draw"):
    """One row per peer of each drawing case: velmora over it, and its share of exact pixels."""
    head = ("| operation (256 × 256 pixels into 512 × 512) | velmora MP/s | × plain | peer "
            "| × peer | ÷ limit | peer pixels exact |\n|---|---:|---:|---|---:|---:|---:|")
    lines = [head]
    for group, r in in_theme(rates, which):
        v = r.get("velmora")
        limit = [c for c in r if c.startswith("mem")]
        for i, c in enumerate(peers_of(r)):
            lines.append("| %s | %s | %s | %s | %s | %s | %s |" % (
                group.replace("/", " ") if i == 0 else "", fmt_rate(v) if i == 0 else "",
                fmt_ratio(ratio(v, r.get("plain"))) if i == 0 else "", c, fmt_ratio(ratio(v, r[c])),
                ("%.2f (%s)" % (ratio(v, r[limit[0]]), limit[0])) if limit and i == 0 else "",
                share_text(shares, group, c)))
    return "\n".join(lines)


def variants_table(rates, shares):
    """The TGA variants: like the 24-bit table, with the peers' shares of exact pixels."""
    head = ("| case | velmora MP/s | × plain | × stb_image | × SDL_image | × faster peer "
            "| of memcpy input | of memset output | stb_image exact | SDL_image exact |\n"
            "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    lines = [head]
    for group, r in in_theme(rates, "variants"):
        v = r.get("velmora")
        peer = max(r.get(p, 0) for p in DECODE_PEERS)
        stb = share_text(shares, group, "stb_image")
        alpha = shares.get((group, "stb_image", "alpha"))
        if alpha is not None:
            stb += " (opacity %.1f %%)" % (100 * alpha)
        lines.append("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
            group[len("tga_to_sprite16/"):].replace("/", " "), fmt_rate(v), fmt_ratio(ratio(v, r.get("plain"))),
            fmt_ratio(ratio(v, r.get("stb_image"))), fmt_ratio(ratio(v, r.get("sdl_image"))),
            fmt_ratio(ratio(v, peer)), "–" if tiny_input(group) else fmt_share(ratio(v, r.get("memcpy_input"))),
            fmt_share(ratio(v, r.get("memset_output"))), stb, share_text(shares, group, "sdl_image")))
    return "\n".join(lines)


# The path each size of colour map takes at AVX2 (SSSE3 the same, sixteen indices
# a step; SSE2 as over 64 for every map), for maps of 24-bit entries: one opacity.
MAP_PATHS = {"16": "byte shuffles, 1 table", "64": "byte shuffles, 4 tables",
             "200": "one load an index, 8 into a register (pinsrw)",
             "256": "one load an index, 8 into a register (pinsrw), no index checks"}


def is_palette(group):
    """The colour-mapped cases of whole palettes: tga_to_sprite16/mapped/KIND/SIZE/mapN/USED."""
    parts = group.split("/")
    return group.startswith("tga_to_sprite16/mapped/") and len(parts) == 6 and parts[4].startswith("map")


def maps_table(rates):
    """Whole palettes: velmora at every x86 level over the plain lookup loop and the faster peer."""
    head = ("| case | AVX2 path | velmora MP/s | × lookup loop | × faster peer | SSSE3 × peer "
            "| SSE2 × peer | SSE2 × lookup loop | portable × lookup loop |\n"
            "|---|---|---:|---:|---:|---:|---:|---:|---:|")
    lines = [head]
    for group, r in rates.items():
        if not is_palette(group):
            continue
        peer = max(r.get(p, 0) for p in DECODE_PEERS)
        entries = group.split("/")[4][len("map"):]
        lines.append("| %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
            group[len("tga_to_sprite16/mapped/"):].replace("/", " "), MAP_PATHS.get(entries, "?"),
            fmt_rate(r.get("velmora")), fmt_ratio(ratio(r.get("velmora"), r.get("lookup_loop"))),
            fmt_ratio(ratio(r.get("velmora"), peer)), fmt_ratio(ratio(r.get("velmora_ssse3"), peer)),
            fmt_ratio(ratio(r.get("velmora_sse2"), peer)),
            fmt_ratio(ratio(r.get("velmora_sse2"), r.get("lookup_loop"))),
            fmt_ratio(ratio(r.get("velmora_portable"), r.get("lookup_loop")))))
    return "\n".join(lines)


def targets(rates):
    """The speed goals: each with its measured ratios, lowest and median, and whether all meet it.
    A goal with an alternative (a floor it may reach instead) counts as met in a case that meets either."""
    def cases(prefix):
        return [r for g, r in rates.items() if g.startswith(prefix)]

    def peer(r):
        return max(r.get(p, 0) for p in DECODE_PEERS)

    def over(prefix, contender):
        return [ratio(r["velmora"], r.get(contender)) for r in cases(prefix)]

    def over_peer(prefix):
        return [ratio(r["velmora"], peer(r)) for r in cases(prefix)]

    def over_faster_sdl_key(prefix):
        return [ratio(r["velmora"], max(r.get("sdl_colorkey", 0), r.get("sdl_colorkey_rle", 0)))
                for r in cases(prefix)]

    goals = [
        ("raw decode ≥ 6× stb_image + pack", 6, over("decode/raw/", "stb_image")),
        ("raw decode ≥ 12× SDL_image + convert", 12, over("decode/raw/", "sdl_image")),
        ("run-length photo ≥ 10× the faster peer", 10, over_peer("decode/rle/photo/")),
        ("run-length flat ≥ 25× the faster peer", 25, over_peer("decode/rle/flat/")),
        ("run-length flat ≥ 0.2× memset of the output", 0.2, over("decode/rle/flat/", "memset_output")),
        ("sprite_blit_16 ≥ 0.9× memcpy per row", 0.9, over("copy/sprite_blit_16", "memcpy_rows")),
        ("sprite_blit_16 ≥ 3× SDL_BlitSurface", 3, over("copy/sprite_blit_16", "sdl_blitsurface")),
        ("sprite_area_blit_16 ≥ 0.9× memcpy per row", 0.9, over("copy/sprite_area_blit_16", "memcpy_rows")),
        ("sprite_area_blit_16 ≥ 3× SDL_BlitSurface", 3, over("copy/sprite_area_blit_16", "sdl_blitsurface")),
        ("area_fill_16 ≥ 0.9× memset per row", 0.9, over("fill/", "memset_rows")),
        ("sprite_area_copy_be_16 ≥ 0.9× memcpy per row", 0.9, over("panel/", "memcpy_rows")),
        ("area_fill_16 ≥ 3× SDL_FillRect", 3, over("fill/", "sdl_fillrect")),
        ("sprite_blit_alpha_16 ≥ 3.5× SDL alpha 77", 3.5, over("blend/", "sdl_alpha_77")),
        ("colour key, disc ≥ 4× SDL's colour-key blit", 4, over("key/sprite_blit_key_16/", "sdl_colorkey")),
        ("colour key, disc ≥ 1.3× SDL with RLEACCEL", 1.3, over("key/sprite_blit_key_16/", "sdl_colorkey_rle")),
        ("colour key, sheet tiles ≥ 4× the faster SDL variant", 4, over_faster_sdl_key("key/sprite_area_blit_key_16/")),
        ("alpha plane, disc ≥ 8× SDL per-pixel alpha", 8, over("alpha8/sprite_blit_a8_16/disc", "sdl_pixel_alpha")),
        ("alpha plane, disc ≥ 15× pixman", 15, over("alpha8/sprite_blit_a8_16/disc", "pixman")),
        ("alpha plane, glow ≥ 5.5× SDL per-pixel alpha", 5.5, over("alpha8/sprite_blit_a8_16/glow", "sdl_pixel_alpha")),
        ("alpha plane, sheet tiles ≥ 4.5× SDL per-pixel alpha", 4.5, over("alpha8/sprite_area_blit_a8_16/", "sdl_pixel_alpha")),
        ("32-bit 256 raw ≥ 6× the faster peer", 6, over_peer("tga_to_sprite16/32bit/raw/256")),
        ("32-bit 256 run-length ≥ 9× the faster peer", 9, over_peer("tga_to_sprite16/32bit/rle/256")),
        ("32-bit 2048 ≥ 4.5× the faster peer, or ≥ 0.9× memcpy of the input", 4.5,
         over_peer("tga_to_sprite16/32bit/raw/2048") + over_peer("tga_to_sprite16/32bit/rle/2048"),
         0.9, over("tga_to_sprite16/32bit/raw/2048", "memcpy_input") + over("tga_to_sprite16/32bit/rle/2048", "memcpy_input")),
        ("colour-mapped raw ≥ 1.7× the faster peer", 1.7, over_peer("tga_to_sprite16/mapped/raw/")),
        ("colour-mapped 256 run-length ≥ 5× the faster peer", 5, over_peer("tga_to_sprite16/mapped/rle/256")),
        ("colour-mapped 2048 run-length ≥ 3× the faster peer", 3, over_peer("tga_to_sprite16/mapped/rle/2048")),
        ("whole palettes raw ≥ 1.4× the plain lookup loop", 1.4,
         [ratio(r["velmora"], r.get("lookup_loop")) for g, r in rates.items()
          if is_palette(g) and "/raw/" in g]),
        ("whole palettes, portable, raw ≥ 1× the plain lookup loop", 1,
         [ratio(r.get("velmora_portable"), r.get("lookup_loop")) for g, r in rates.items()
          if is_palette(g) and "/raw/" in g]),
        ("32-bit 2048 ≥ 0.9× memcpy of the input", 0.9,
         over("tga_to_sprite16/32bit/raw/2048", "memcpy_input") + over("tga_to_sprite16/32bit/rle/2048", "memcpy_input")),
        ("16-bit raw ≥ 0.55× memcpy of the input", 0.55, over("tga_to_sprite16/16bit/", "memcpy_input")),
        ("16-bit raw ≥ 14× the plain loop", 14, over("tga_to_sprite16/16bit/", "plain")),
    ]
    lines = ["| target | cases | lowest | median | met |", "|---|---:|---:|---:|---|"]
    for name, goal, values, *alternative in goals:
        alt_goal, alt_values = alternative if alternative else (None, [None] * len(values))
        pairs = [(v, a) for v, a in zip(values, alt_values) if v is not None]
        if not pairs:
            continue
        values = [v for v, _ in pairs]
        meets = [v >= goal or (a is not None and a >= alt_goal) for v, a in pairs]
        met = "yes" if all(meets) else "no (%d of %d)" % (sum(meets), len(meets))
        if alternative and all(meets) and min(values) < goal:
            met = "yes, by the floor (%s)" % ", ".join(fmt_ratio(a) for _, a in pairs)
        lines.append("| %s | %d | %s | %s | %s |" % (name, len(values), fmt_ratio(min(values)),
                                                  fmt_ratio(statistics.median(values)), met))
    return "\n".join(lines)


# The canvas's targets, per case: velmora's rate over a named peer's (None: the
# fastest peer of the case) at least the goal; or, for the footprint case, its
# time over the same turn's on a 96 x 96 canvas at most the goal.
FASTEST = None
CANVAS_GOALS = {
    "canvas_draw/copy/half_off": [(FASTEST, 0.8)],
    "canvas_draw/copy/inside": [(FASTEST, 0.8)],
    "canvas_draw/flip_copy/half_off": [(FASTEST, 4.5)],
    "canvas_draw/key/half_off": [("sdl_colorkey_rle", 0.77), ("sdl_colorkey", 4.6)],
    "canvas_draw/key/inside": [("sdl_colorkey_rle", 0.77), ("sdl_colorkey", 4.6)],
    "canvas_draw/flip_key/half_off": [(FASTEST, 4.7)],
    "canvas_draw/alpha8/half_off": [("sdl_pixel_alpha", 11)],
    "canvas_draw/alpha8/inside": [("sdl_pixel_alpha", 12.5)],
    "canvas_draw/alpha8_opacity128/inside": [("sdl_pixel_alpha", 4.3)],
    "canvas_draw/opacity128/inside": [("sdl_alpha_128", 2.1)],
    "canvas_stretch/nearest_2x/320x240": [("pixman", 8)],
    "canvas_stretch/nearest_3x/320x240": [("pixman", 8)],
    "canvas_stretch/smooth_2x/320x240": [("sdl_gfx", 17.5)],
    "canvas_stretch/smooth_3x/320x240": [("sdl_gfx", 25)],
    "canvas_stretch/nearest/64_to_97x131": [("pixman", 1.4)],
    "canvas_stretch/key/64_to_97x131": [("allegro", 1.6)],
    "canvas_stretch/smooth_alpha8/64_to_97x131": [("sdl_gfx", 2.5)],
    "canvas_transform/key_30deg_scale1/128": [("allegro", 1.0)],
    "canvas_transform/key_30deg_scale1.5/128": [("allegro", 1.0)],
    "canvas_transform/opaque_30deg_scale1/128": [("allegro", 1.0)],
    "canvas_transform/smooth_alpha8_30deg_scale1/128": [("sdl_gfx", 3.2)],
    "canvas_transform/smooth_alpha8_30deg_scale1.5/128": [("sdl_gfx", 3.6)],
}
FOOTPRINT = ("canvas_transform/key_30deg/64_on_2048", "canvas_transform/key_30deg/64_on_96", 1.5)


def canvas_goal_text(group, r, times):
    """The case's targets, as "≥ goal× peer: measured", and whether every one is met."""
    if group == FOOTPRINT[0]:
        t = ratio(times.get((group, "velmora")), times.get((FOOTPRINT[1], "velmora")))
        if t is None:
            return "", None
        return "≤ %.1f× the time on 96²: %s" % (FOOTPRINT[2], fmt_ratio(t)), t <= FOOTPRINT[2]
    texts, met = [], True
    for contender, goal in CANVAS_GOALS.get(group, []):
        peers = peers_of(r)
        if contender is FASTEST and peers:
            contender = max(peers, key=lambda c: r[c])
        measured = ratio(r.get("velmora"), r.get(contender))
        if measured is None:
            continue
        texts.append("≥ %s %s: %s" % (fmt_ratio(goal), contender, fmt_ratio(measured)))
        met = met and measured >= goal
    return "; ".join(texts), (met if texts else None)


def canvas_table(rates, shares, times):
    """One row per canvas case: velmora's rate, its ratios to the plain model, the
    memcpy bound and every peer (with the peer's exact share), and its targets."""
    head = ("| case | velmora MP/s | × plain | ÷ memcpy rows | × each peer (its exact share) | target: measured | met |\n"
            "|---|---:|---:|---:|---|---|---|")
    lines = [head]
    order = list(CANVAS_GOALS) + list(FOOTPRINT[:2])
    cases = sorted(in_theme(rates, "canvas"), key=lambda gr: order.index(gr[0]) if gr[0] in order else len(order))
    for group, r in cases:
        v = r.get("velmora")
        peers = ", ".join("%s %s (%s)" % (c, fmt_ratio(ratio(v, r[c])), share_text(shares, group, c))
                          for c in peers_of(r))
        goal, met = canvas_goal_text(group, r, times)
        lines.append("| %s | %s | %s | %s | %s | %s | %s |" % (
            group.replace("/", " "), fmt_rate(v), fmt_ratio(ratio(v, r.get("plain"))),
            "%.2f" % ratio(v, r["memcpy_rows"]) if "memcpy_rows" in r else "",
            peers, goal, "" if met is None else ("met" if met else "missed")))
    return "\n".join(lines)


def panel_table(rates):
    """The byte-swapped copy: each contender's rate over memcpy of the same bytes per row."""
    groups = in_theme(rates, "panel")
    contenders = [c for c in groups[0][1] if c != "memcpy_rows"] if groups else []
    lines = ["| area | " + " | ".join(contenders) + " |", "|---|" + "---:|" * len(contenders)]
    for group, r in groups:
        lines.append("| %s | %s |" % (group.split("/")[2], " | ".join(
            fmt_ratio(ratio(r.get(c), r.get("memcpy_rows"))) for c in contenders)))
    return "\n".join(lines)


def peer_rows(rates, which, directory, name):
    """One row per peer of each case: velmora, plain, the peer and the floor, for one drawing panel."""
    with open(os.path.join(directory, name), "w") as f:
        f.write("case velmora plain peer limit\n")
        for group, r in in_theme(rates, which):
            limit = [c for c in r if c.startswith("mem")]
            for c in peers_of(r):
                label = ("\\n".join(group.split("/")[1:]) + "\\n(" + c + ")").replace("_", "-")
                f.write('"%s" %.1f %.1f %.1f %s\n' % (label, r["velmora"], r["plain"], r[c],
                                                       "%.1f" % r[limit[0]] if limit else "?"))


def decode_rows(rates, which, prefix, directory, name):
    """One row per decoding case, one column per contender."""
    cols = ["velmora", "plain", "stb_image", "sdl_image", "memcpy_input", "memset_output"]
    with open(os.path.join(directory, name), "w") as f:
        f.write("case " + " ".join(cols) + "\n")
        for group, r in in_theme(rates, which):
            if is_palette(group):
                continue  # the chart keeps one colour-mapped picture; the tables have them all
            label = group[len(prefix):].replace("/", "\\n").replace("_", "-")
            # Bars for copying a few kilobytes of run-length data would flatten the whole chart.
            shown = [c for c in cols if c in r and not (c == "memcpy_input" and tiny_input(group))]
            f.write('"%s" %s\n' % (label, " ".join("%.1f" % r[c] if c in shown else "?" for c in cols)))


def chart_data(rates, directory):
    """Whitespace tables for gnuplot, one per panel: one row per case, one column per contender."""
    os.makedirs(directory, exist_ok=True)
    decode_rows(rates, "decode", "decode/", directory, "decode.dat")
    decode_rows(rates, "variants", "tga_to_sprite16/", directory, "variants.dat")
    peer_rows(rates, "draw", directory, "draw.dat")
    peer_rows(rates, "transparent", directory, "transparent.dat")


def main():
    if len(sys.argv) not in (2, 4) or (len(sys.argv) == 4 and sys.argv[2] != "--chart"):
        sys.exit(__doc__)
    rates, shares, times = medians(sys.argv[1])
    print("### Targets\n\n" + targets(rates))
    print("\n### Decoding (MP/s of velmora; ratios are velmora's speed over each contender's)\n")
    print(decode_table(rates))
    print("\n### Decoding every TGA variant, with the opacity plane\n")
    print(variants_table(rates, shares))
    print("\n### Whole palettes (colour-mapped files with maps of 16 to 256 entries)\n")
    print(maps_table(rates))
    print("\n### Drawing\n")
    print(draw_table(rates, shares))
    print("\n### Transparent blits\n")
    print(draw_table(rates, shares, "transparent"))
    print("\n### The canvas (velmora's speed over each contender's)\n")
    print(canvas_table(rates, shares, times))
    print("\n### Byte-swapped output for panels (each contender over memcpy per row)\n")
    print(panel_table(rates))
    print("\n### Every rate (medians, megapixels per second)\n")
    print(rates_table(rates))
    if len(sys.argv) == 4:
        chart_data(rates, sys.argv[3])


if __name__ == "__main__":
    main()
