"""The tables of compare_servers.sh from its runs, one line a run:

    KIND round=R server=S format=F side=N rps=.. mean_ms=.. p50_ms=.. p90_ms=..
         p99_ms=.. requests=.. errors=.. cpu_ms=.. rss_kb=.. pss_kb=.. load=..
         [t_tiles=.. t_raster=.. t_encode=.. t_wms=..]

KIND is "load" (many connections), "one" (one connection) or "split"
(zarvo-serve at one connection with its Server-Timing means, t_*, in ms).
Figures are medians of the rounds, with the lowest and highest beside.

Usage: summarise_runs.py RESULTS
"""

import statistics
import sys

NAMES = {"zarvo": "zarvo-serve", "mapserver": "MapServer 8", "mapproxy": "MapProxy 1.15"}
SERVERS = ("zarvo", "mapserver", "mapproxy")
FORMATS = ("png", "jpeg", "webp")


def read_runs(path):
    runs = []
    for line in open(path):
        fields = line.split()
        if not fields:
            continue
        run = {"kind": fields[0]}
        for field in fields[1:]:
            key, value = field.split("=", 1)
            try:
                run[key] = float(value)
            except ValueError:
                run[key] = value
        runs.append(run)
    return runs


def select(runs, **wanted):
    return [r for r in runs if all(r.get(k) == v for k, v in wanted.items())]


def median(runs, key):
    return statistics.median(r[key] for r in runs)


def spread(runs, key, form="%.1f"):
    values = [r[key] for r in runs]
    text = form % statistics.median(values)
    if len(values) > 1:
        text += (" (" + form + "-" + form + ")") % (min(values), max(values))
    return text


def table_head(columns, text_columns):
    """A Markdown table's head: the first text_columns left-aligned, the figures right."""
    print("| " + " | ".join(columns) + " |")
    print("|" + "---|" * text_columns + "---:|" * (len(columns) - text_columns))


def throughput(runs):
    print("Throughput: 512 x 512 GetMaps over the boxes, many connections (median of the rounds, lowest-highest)")
    table_head(("format", "server", "requests/s", "p50 ms", "p99 ms", "CPU ms per request", "RSS MB", "PSS MB",
                "errors", "zarvo-serve / server"), 2)
    for fmt in FORMATS:
        ours = select(runs, kind="load", server="zarvo", format=fmt)
        for server in SERVERS:
            mine = select(runs, kind="load", server=server, format=fmt)
            if not mine:
                continue
            ratio = "" if server == "zarvo" else "%.1f" % (median(ours, "rps") / max(median(mine, "rps"), 1e-9))
            print("| %s | %s | %s | %s | %s | %s | %.0f | %.0f | %d | %s |" % (
                fmt.upper(), NAMES[server], spread(mine, "rps"), spread(mine, "p50_ms"), spread(mine, "p99_ms"),
                spread(mine, "cpu_ms", "%.2f"), max(r["rss_kb"] for r in mine) / 1024,
                max(r["pss_kb"] for r in mine) / 1024, sum(r["errors"] for r in mine), ratio))
    print("(RSS and PSS: summed over each server's processes after its runs, the highest; RSS counts pages that\n"
          " forked processes share once for each, PSS divides them among the processes.)")


def latency(runs):
    print("\nOne connection: GetMaps one after another (median of the rounds, lowest-highest)")
    table_head(("size", "format", "server", "p50 ms", "p90 ms", "mean ms", "CPU ms per request"), 3)
    for side in sorted({r["side"] for r in runs if r["kind"] == "one"}):
        for fmt in FORMATS:
            for server in SERVERS:
                mine = select(runs, kind="one", server=server, format=fmt, side=side)
                if mine:
                    print("| %d | %s | %s | %s | %s | %s | %s |" % (
                        side, fmt.upper(), NAMES[server], spread(mine, "p50_ms", "%.2f"),
                        spread(mine, "p90_ms", "%.2f"), spread(mine, "mean_ms", "%.2f"),
                        spread(mine, "cpu_ms", "%.2f")))


def time_split(runs):
    print("\nWhere zarvo-serve's time goes: 512 x 512 at one connection, means over the requests, median of the rounds")
    table_head(("format", "answer ms (client)", "plug-in's raster", "encoding", "tiles from the cache",
                "parse, compose, copies", "HTTP and the rest"), 1)
    for fmt in FORMATS:
        mine = select(runs, kind="split", server="zarvo", format=fmt)
        if not mine or "t_wms" not in mine[0]:
            continue
        for r in mine:
            r["t_handler_rest"] = r["t_wms"] - r["t_tiles"] - r["t_raster"] - r["t_encode"]
            r["t_outside"] = r["mean_ms"] - r["t_wms"]
        whole = median(mine, "mean_ms")
        cells = []
        for key in ("t_raster", "t_encode", "t_tiles", "t_handler_rest", "t_outside"):
            value = median(mine, key)
            cells.append("%.2f (%.0f %%)" % (value, 100 * value / whole))
        print("| %s | %.2f | %s |" % (fmt.upper(), whole, " | ".join(cells)))
    print("(from zarvo-serve's Server-Timing header: tiles, raster, encode and the whole WMS answer; the rest of the\n"
          " client's time is HTTP: reading the request, writing the answer, and the client itself)")


def loads(runs):
    print("\nLoad average (1 minute) after each run, by round:")
    for round_number in sorted({r["round"] for r in runs}):
        values = [r["load"] for r in runs if r["round"] == round_number]
        print("  round %d: %.2f to %.2f (median %.2f)" % (round_number, min(values), max(values),
                                                          statistics.median(values)))


def main():
    runs = read_runs(sys.argv[1])
    throughput(runs)
    latency(runs)
    time_split(runs)
    loads(runs)


if __name__ == "__main__":
    main()
