#!/usr/bin/env python3
"""Writes the example statistics files and the output the tool prints for each.

    tools/make_examples.py [--build DIR] [OUTPUT_DIR]

OUTPUT_DIR defaults to examples/ beside this tool; DIR, the build directory whose tracemill and
bench/tracemill_gen are used, to build/default.

- small.json, small.bincode: a few operations of a shop with a frontend, an api, an auth
  service, a cache and a database, including a chain whose directions contradict each other.
- repair.json, repair.bincode: one chain for every case of the direction repair (see
  examples/README.md); the chain counts are powers of two, so every sum in the graph shows which
  chains it holds.
- minimal.json, minimal.bincode: the smallest useful file, one chain of one call; the binary
  file is the 298-byte example of docs/format.md.
- generated.json, generated.bincode: a realistic file from the generator (seed 114, one
  operation, the typical profile).
- expected/NAME.txt: what the tool prints for NAME.json and NAME.bincode (repair diagnostics,
  then the graph), with the diagnostic blocks and the map entries sorted: the tool prints them
  in a different order on every run, so the tests compare outputs without the order.

The hand-written files come from the one description below, so the two encodings of each
cannot drift apart; rerun the script after changing it and read the new expected outputs
against the repair rules before committing them.
"""

import argparse
import json
import os
import struct
import subprocess
import sys

# Field layouts, in declaration order: the binary encoding writes the fields in this order and
# JSON uses the names as member names.
LAYOUTS = {
    "StatsRecJson": [
        ("version", "Version"), ("trace_id", ["text"]), ("root_call", ["text"]),
        ("num_spans", ["u64"]), ("num_files", "i32"), ("num_endpoints", "u64"),
        ("num_incomplete_traces", "u64"), ("num_call_chains", "u64"),
        ("init_num_unrooted_cc", "u64"), ("num_fixes", "u64"),
        ("num_unrooted_cc_after_fixes", "u64"), ("start_dt", ["i64"]), ("end_dt", ["i64"]),
        ("duration_micros", ["i64"]), ("time_to_respond_micros", ["i64"]),
        ("caching_processes", ["text"]), ("stats", ("map", "text", "OperationStatsJson")),
    ],
    "Version": [("major", "u16"), ("minor", "u16")],
    "OperationStatsJson": [
        ("method", ("map", "text", "ProcOperStatsValue")), ("num_traces", "u64"),
        ("num_received_calls", "u64"), ("num_outbound_calls", "u64"),
        ("num_unknown_calls", "u64"), ("call_chain", [("pair", "CChainStatsKey", "CChainStatsValue")]),
    ],
    "ProcOperStatsValue": [
        ("count", "u64"), ("num_traces", "u64"), ("duration_micros", ["i64"]),
        ("start_dt_micros", ["i64"]), ("num_not_http_ok", "i32"), ("num_with_error_logs", "i32"),
        ("http_not_ok_codes", ("map", "i16", "u64")), ("error_logs", ("map", "text", "u64")),
    ],
    "CChainStatsKey": [("call_chain", ["Call"]), ("caching_process", "text"), ("is_leaf", "bool")],
    "CChainStatsValue": [
        ("count", "u64"), ("depth", "u64"), ("duration_micros", ["i64"]),
        ("start_dt_micros", ["i64"]), ("looped", ["text"]), ("rooted", "bool"),
        ("expect_root", ["ExpectRoot"]), ("cc_not_http_ok", "i32"), ("cc_with_error_logs", "i32"),
        ("http_not_ok", ("map", "i16", "u64")), ("error_logs", ("map", "text", "u64")),
    ],
    "ExpectRoot": [("proc_oper", "text"), ("count", "u64")],
    "Call": [("process", "text"), ("method", "text"), ("call_direction", "direction")],
}

SCALARS = {"u16": "<H", "i16": "<h", "i32": "<i", "u64": "<Q", "i64": "<q"}
DIRECTIONS = ["Inbound", "Outbound", "Unknown"]


def encode(kind, value):
    """The binary encoding of `value` of type `kind`."""
    if isinstance(kind, list):
        return struct.pack("<Q", len(value)) + b"".join(encode(kind[0], v) for v in value)
    if isinstance(kind, tuple) and kind[0] == "map":
        out = struct.pack("<Q", len(value))
        for k, v in value.items():
            out += encode(kind[1], k) + encode(kind[2], v)
        return out
    if isinstance(kind, tuple) and kind[0] == "pair":
        return encode(kind[1], value[0]) + encode(kind[2], value[1])
    if kind in SCALARS:
        return struct.pack(SCALARS[kind], value)
    if kind == "bool":
        return b"\x01" if value else b"\x00"
    if kind == "text":
        data = value.encode("utf-8")
        return struct.pack("<Q", len(data)) + data
    if kind == "direction":
        return struct.pack("<I", DIRECTIONS.index(value))
    return b"".join(encode(t, value[name]) for name, t in LAYOUTS[kind])


def to_json(kind, value):
    """The JSON form of `value` of type `kind` (records as objects)."""
    if isinstance(kind, list):
        return [to_json(kind[0], v) for v in value]
    if isinstance(kind, tuple) and kind[0] == "map":
        return {str(k): to_json(kind[2], v) for k, v in value.items()}
    if isinstance(kind, tuple) and kind[0] == "pair":
        return [to_json(kind[1], value[0]), to_json(kind[2], value[1])]
    if kind in LAYOUTS:
        return {name: to_json(t, value[name]) for name, t in LAYOUTS[kind]}
    return value


def call(process, method, direction):
    return {"process": process, "method": method, "call_direction": direction}


def chain(calls, count, rooted=True, leaf=True, durations=(), http=None, logs=None, roots=()):
    key = {"call_chain": calls, "caching_process": "", "is_leaf": leaf}
    value = {
        "count": count, "depth": len(calls), "duration_micros": list(durations),
        "start_dt_micros": [1717200000000000 + 250000 * i for i in range(len(durations))],
        "looped": [], "rooted": rooted,
        "expect_root": [{"proc_oper": p, "count": c} for p, c in roots],
        "cc_not_http_ok": sum((http or {}).values()),
        "cc_with_error_logs": sum((logs or {}).values()),
        "http_not_ok": http or {}, "error_logs": logs or {},
    }
    return (key, value)


def method(count, durations, http=None, logs=None):
    return {
        "count": count, "num_traces": count, "duration_micros": list(durations),
        "start_dt_micros": [1717200000000000 + 500000 * i for i in range(len(durations))],
        "num_not_http_ok": sum((http or {}).values()),
        "num_with_error_logs": sum((logs or {}).values()),
        "http_not_ok_codes": http or {}, "error_logs": logs or {},
    }


def operation(methods, chains):
    counts = {"Inbound": 0, "Outbound": 0, "Unknown": 0}
    for key, value in chains:
        for c in key["call_chain"]:
            counts[c["call_direction"]] += value["count"]
    return {
        "method": methods, "num_traces": sum(v["count"] for _, v in chains),
        "num_received_calls": counts["Inbound"], "num_outbound_calls": counts["Outbound"],
        "num_unknown_calls": counts["Unknown"], "call_chain": chains,
    }


def record():
    get_users = operation(
        {
            "frontend/GET /users": method(12, [41000, 38500, 52000]),
            "api/list_users": method(12, [30000, 27500, 41000], http={503: 1}),
            "db/SELECT users": method(9, [8000, 7600, 9900]),
        },
        [
            chain([call("frontend", "GET /users", "Unknown"), call("api", "list_users", "Unknown"),
                   call("api", "query", "Outbound"), call("db", "SELECT users", "Unknown")], 9,
                  durations=[41000, 38500]),
            chain([call("frontend", "GET /users", "Inbound"), call("api", "list_users", "Unknown"),
                   call("cache", "get", "Unknown")], 3, durations=[12000],
                  http={503: 1}, logs={"cache miss storm": 1}),
        ],
    )
    login = operation(
        {
            "frontend/POST /login": method(5, [90000, 120000], http={401: 2}),
            "auth/verify_password": method(5, [60000, 85000], logs={"bcrypt cost raised": 1}),
        },
        [
            chain([call("frontend", "POST /login", "Unknown"), call("auth", "verify_password", "Unknown"),
                   call("db", "SELECT credentials", "Unknown")], 5, durations=[90000, 120000],
                  http={401: 2, -1: 1}),
            # Contradicting directions: the database call claims to be outgoing and the second
            # auth step claims to be received although the process did not change.
            chain([call("frontend", "POST /login", "Inbound"), call("auth", "verify_password", "Inbound"),
                   call("auth", "issue_token", "Inbound"), call("db", "INSERT session", "Outbound")], 2,
                  rooted=False, roots=[("frontend/POST /login", 2)],
                  logs={"token signer unavailable": 1}),
        ],
    )
    health = operation({}, [chain([call("api", "GET /health", "Unknown")], 40)])
    return {
        "version": {"major": 1, "minor": 3},
        "trace_id": ["4bf92f3577b34da6a3ce929d0e0e4736", "00f067aa0ba902b7a3ce929d0e0e4736"],
        "root_call": ["frontend/GET /users", "frontend/POST /login", "api/GET /health"],
        "num_spans": [14, 9, 1],
        "num_files": 3,
        "num_endpoints": 3,
        "num_incomplete_traces": 1,
        "num_call_chains": 5,
        "init_num_unrooted_cc": 1,
        "num_fixes": 0,
        "num_unrooted_cc_after_fixes": 1,
        "start_dt": [1717200000000000, 1717200003000000],
        "end_dt": [1717200000410000, 1717200003900000],
        "duration_micros": [410000, 900000],
        "time_to_respond_micros": [52000, 120000],
        "caching_processes": ["cache"],
        "stats": {"GET /users": get_users, "POST /login": login, "GET /health": health},
    }


def single_operation(name, chains):
    """A record whose only operation holds `chains`, every other field empty or zero."""
    rec = {name: [] if isinstance(t, list) else 0 for name, t in LAYOUTS["StatsRecJson"]}
    rec["version"] = {"major": 0, "minor": 0}
    rec["stats"] = {name: operation({}, chains)}
    return rec


def bare_chain(calls, count):
    """A chain with `count` and nothing else: no timings, not rooted, no errors."""
    return chain(calls, count, rooted=False, leaf=False)


def repair_record():
    # One chain per case of the repair; the counts are powers of two so that each sum in the
    # graph tells which chains it holds.
    chains = [
        # A change of process turns Unknown into Inbound; on the same process Unknown and
        # Outbound stay.
        [call("web", "POST /checkout", "Unknown"), call("web", "render", "Unknown"),
         call("cart", "load", "Unknown"), call("cart", "total", "Outbound")],
        # A change of process keeps Inbound.
        [call("web", "POST /checkout", "Inbound"), call("pay", "charge", "Inbound")],
        # A change of process with Outbound is reported (index 1); the diagnostic shows the
        # first call's Unknown counted as Inbound.
        [call("web", "POST /checkout", "Unknown"), call("pay", "charge", "Outbound")],
        # The same process with Inbound is reported (index 1).
        [call("web", "POST /checkout", "Inbound"), call("web", "validate", "Inbound")],
        # The first call is compared with the empty process name: a named process is a change,
        # so Outbound is reported (index 0).
        [call("web", "poll", "Outbound")],
        # A first call on the empty process name is no change: Inbound is reported (index 0),
        # the following Outbound on it stays.
        [call("", "boot", "Inbound"), call("", "tick", "Outbound")],
        # ... and Unknown on it stays Unknown; the next process is a change.
        [call("", "boot", "Unknown"), call("web", "hello", "Unknown")],
        # A, B, A: only the call right before counts, so the second call on web is a change
        # again and becomes Inbound.
        [call("web", "POST /checkout", "Unknown"), call("pay", "charge", "Unknown"),
         call("web", "receipt", "Unknown")],
        # ... and with Outbound there it is reported (index 2).
        [call("web", "POST /checkout", "Inbound"), call("pay", "charge", "Inbound"),
         call("web", "notify", "Outbound")],
        # Two contradictions in one chain: one header lists both (indices 1 and 3).
        [call("web", "POST /checkout", "Inbound"), call("web", "validate", "Inbound"),
         call("cart", "load", "Inbound"), call("pay", "charge", "Outbound")],
    ]
    return single_operation("POST /checkout",
                            [bare_chain(calls, 1 << i) for i, calls in enumerate(chains)])


def minimal_record():
    # The 298-byte layout example of docs/format.md: operation "op", one chain of one call.
    key_value = chain([call("p", "m", "Outbound")], 5, rooted=False, leaf=True)
    key_value[1]["depth"] = 0
    return single_operation("op", [key_value])


def write_pair(out_dir, name, rec):
    with open(os.path.join(out_dir, name + ".bincode"), "wb") as f:
        f.write(encode("StatsRecJson", rec))
    with open(os.path.join(out_dir, name + ".json"), "w", encoding="utf-8") as f:
        json.dump(to_json("StatsRecJson", rec), f, indent=2, ensure_ascii=False)
        f.write("\n")


def canonical(output):
    """`output` of the tool with its diagnostic blocks and its map entries in sorted order."""
    at = output.find("ProcessNodes(\n")
    if at < 0:
        raise ValueError("no graph in the output:\n" + output)
    header = "\nFailed on idx = "
    blocks = [header + b for b in output[:at].split(header) if b]
    if output[:at] != "".join(blocks):
        raise ValueError("unexpected text before the graph:\n" + output[:at])
    lines = output[at:].splitlines()
    return "".join(sorted(blocks)) + "".join(line + "\n" for item in sorted_entries(lines)
                                              for line in item)


def sorted_entries(lines):
    """`lines` of a pretty text form as a list of items, each a line with the block it opens,
    with the entries of every map block sorted. A map block opens with a line whose content is
    "{" or ends in ": {"; its entries are the items one level deeper."""
    items, i = [], 0
    while i < len(lines):
        line = lines[i]
        end = i + 1
        item = [line]
        if line.endswith(("{", "(", "[")):
            depth = len(line) - len(line.lstrip(" "))
            while len(lines[end]) - len(lines[end].lstrip(" ")) > depth:
                end += 1
            inner = sorted_entries(lines[i + 1:end])
            if line.strip() == "{" or line.endswith(": {"):
                inner.sort()
            item += sum(inner, []) + [lines[end]]
            end += 1
        items.append(item)
        i = end
    return items


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description="Writes the example statistics files.")
    parser.add_argument("--build", default=os.path.join(here, "..", "build", "default"),
                        help="build directory with tracemill and bench/tracemill_gen")
    parser.add_argument("out_dir", nargs="?", default=os.path.join(here, "..", "examples"))
    args = parser.parse_args()
    tool = os.path.join(args.build, "tracemill")
    generator = os.path.join(args.build, "bench", "tracemill_gen")

    write_pair(args.out_dir, "small", record())
    write_pair(args.out_dir, "repair", repair_record())
    write_pair(args.out_dir, "minimal", minimal_record())
    for extension in ("json", "bincode"):
        run(generator, "--seed", "114", "--operations", "1", "--format", extension,
            "-o", os.path.join(args.out_dir, "generated." + extension))

    os.makedirs(os.path.join(args.out_dir, "expected"), exist_ok=True)
    for name in ("small", "repair", "minimal", "generated"):
        outputs = {canonical(run(tool, os.path.join(args.out_dir, name + "." + extension)))
                   for extension in ("json", "bincode")}
        if len(outputs) != 1:
            sys.exit(f"{name}: the two encodings give different outputs")
        with open(os.path.join(args.out_dir, "expected", name + ".txt"), "w",
                  encoding="utf-8") as f:
            f.write(outputs.pop())


if __name__ == "__main__":
    main()
