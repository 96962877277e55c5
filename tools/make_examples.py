#!/usr/bin/env python3
"""Writes the small example statistics file in both encodings.

    tools/make_examples.py [OUTPUT_DIR]      (default: examples/ beside this tool)

examples/small.json and examples/small.bincode hold the same record: a few operations of a
shop with a frontend, an api, an auth service, a cache and a database, including a chain whose
directions contradict each other. Both files are generated from the one description below, so
they cannot drift apart; rerun the script after changing it.
"""

import json
import os
import struct
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


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "examples")
    rec = record()
    with open(os.path.join(out_dir, "small.bincode"), "wb") as f:
        f.write(encode("StatsRecJson", rec))
    with open(os.path.join(out_dir, "small.json"), "w", encoding="utf-8") as f:
        json.dump(to_json("StatsRecJson", rec), f, indent=2, ensure_ascii=False)
        f.write("\n")


if __name__ == "__main__":
    main()
