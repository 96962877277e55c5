#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets that compare the streaming run with the
whole-record path (fuzz/corpus/stream_json, fuzz/corpus/stream_bincode).

Each seed is one set-up byte (see fuzz/stream_fuzz.h) and a small statistics file: chains that
repair cleanly and chains that contradict themselves, a repeated operation key, a count beyond
the signed 32-bit range, an empty chain, names that need escaping.
"""
import json
import os
import struct

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DIRECTIONS = ["Inbound", "Outbound", "Unknown"]


def call(process, method, direction):
    return {"process": process, "method": method, "call_direction": direction}


def pair(calls, count):
    key = {"call_chain": calls, "caching_process": "", "is_leaf": True}
    value = {"count": count, "depth": len(calls), "duration_micros": [5, -1],
             "start_dt_micros": [1767604614176279], "looped": [], "rooted": False,
             "expect_root": [{"proc_oper": "a/x", "count": 2}], "cc_not_http_ok": 0,
             "cc_with_error_logs": 1, "http_not_ok": {"404": 3}, "error_logs": {"boom \"x\"": 1}}
    return [key, value]


def operation(pairs):
    method = {"a/x": {"count": 3, "num_traces": 1, "duration_micros": [10, 200],
                      "start_dt_micros": [7], "num_not_http_ok": -1, "num_with_error_logs": 2,
                      "http_not_ok_codes": {"500": 1}, "error_logs": {}}}
    return {"method": method, "num_traces": 1, "num_received_calls": 2, "num_outbound_calls": 3,
            "num_unknown_calls": 4, "call_chain": pairs}


HEAD = {"version": {"major": 1, "minor": 3}, "trace_id": ["d4b9df37d27c07a8"],
        "root_call": ["a/x"], "num_spans": [3, 4], "num_files": 1, "num_endpoints": 2,
        "num_incomplete_traces": 0, "num_call_chains": 5, "init_num_unrooted_cc": 0,
        "num_fixes": 1, "num_unrooted_cc_after_fixes": 0, "start_dt": [1767604614176279],
        "end_dt": [1767604614176280], "duration_micros": [12], "time_to_respond_micros": [3],
        "caching_processes": ["cache"]}

CLEAN = pair([call("a", "x", "Unknown"), call("a", "y", "Outbound"), call("b", "y", "Unknown")], 7)
CONTRADICTS = pair([call("api", "GET /users", "Unknown"), call("api", "q", "Outbound"),
                    call("db", "q", "Outbound")], 2)
ESCAPES = pair([call("caf\u00e9\t", "m\"\n", "Inbound")], 0)
OUT_OF_RANGE = pair([call("a", "x", "Inbound")], 2147483648)
EMPTY = pair([], 1)

# Each file: its operations in order, keys repeated as they come.
FILES = {
    "clean": [("op1", operation([CLEAN, CONTRADICTS])), ("op2", operation([ESCAPES, EMPTY]))],
    "replaced": [("op1", operation([CONTRADICTS])), ("op2", operation([CLEAN])),
                 ("op1", operation([ESCAPES]))],
    "out_of_range": [("op1", operation([CLEAN])),
                     ("op2", operation([CONTRADICTS, OUT_OF_RANGE, CLEAN])),
                     ("op3", operation([OUT_OF_RANGE]))],
}


def json_file(operations):
    members = [json.dumps(k) + ":" + json.dumps(v, ensure_ascii=False, separators=(",", ":"))
               for k, v in HEAD.items()]
    stats = ",".join(json.dumps(k) + ":" + json.dumps(op, ensure_ascii=False,
                                                      separators=(",", ":"))
                     for k, op in operations)
    return ("{" + ",".join(members) + ',"stats":{' + stats + "}}").encode()


def u64(n):
    return struct.pack("<Q", n)


def text(s):
    b = s.encode()
    return u64(len(b)) + b


def integers(values, fmt):
    return u64(len(values)) + b"".join(struct.pack(fmt, v) for v in values)


def texts(values):
    return u64(len(values)) + b"".join(text(v) for v in values)


def bin_pair(p):
    key, value = p
    out = u64(len(key["call_chain"]))
    for c in key["call_chain"]:
        out += text(c["process"]) + text(c["method"])
        out += struct.pack("<I", DIRECTIONS.index(c["call_direction"]))
    out += text(key["caching_process"]) + bytes([key["is_leaf"]])
    out += u64(value["count"]) + u64(value["depth"])
    out += integers(value["duration_micros"], "<q") + integers(value["start_dt_micros"], "<q")
    out += texts(value["looped"]) + bytes([value["rooted"]])
    out += u64(len(value["expect_root"]))
    for e in value["expect_root"]:
        out += text(e["proc_oper"]) + u64(e["count"])
    out += struct.pack("<ii", value["cc_not_http_ok"], value["cc_with_error_logs"])
    out += u64(len(value["http_not_ok"])) + b"".join(
        struct.pack("<hQ", int(k), v) for k, v in value["http_not_ok"].items())
    out += u64(len(value["error_logs"])) + b"".join(
        text(k) + u64(v) for k, v in value["error_logs"].items())
    return out


def bin_operation(op):
    out = u64(len(op["method"]))
    for name, m in op["method"].items():
        out += text(name) + u64(m["count"]) + u64(m["num_traces"])
        out += integers(m["duration_micros"], "<q") + integers(m["start_dt_micros"], "<q")
        out += struct.pack("<ii", m["num_not_http_ok"], m["num_with_error_logs"])
        out += u64(len(m["http_not_ok_codes"])) + b"".join(
            struct.pack("<hQ", int(k), v) for k, v in m["http_not_ok_codes"].items())
        out += u64(len(m["error_logs"])) + b"".join(
            text(k) + u64(v) for k, v in m["error_logs"].items())
    out += u64(op["num_traces"]) + u64(op["num_received_calls"])
    out += u64(op["num_outbound_calls"]) + u64(op["num_unknown_calls"])
    out += u64(len(op["call_chain"])) + b"".join(bin_pair(p) for p in op["call_chain"])
    return out


def bincode_file(operations):
    h = HEAD
    out = struct.pack("<HH", h["version"]["major"], h["version"]["minor"])
    out += texts(h["trace_id"]) + texts(h["root_call"]) + integers(h["num_spans"], "<Q")
    out += struct.pack("<i", h["num_files"])
    for f in ["num_endpoints", "num_incomplete_traces", "num_call_chains",
              "init_num_unrooted_cc", "num_fixes", "num_unrooted_cc_after_fixes"]:
        out += u64(h[f])
    for f in ["start_dt", "end_dt", "duration_micros", "time_to_respond_micros"]:
        out += integers(h[f], "<q")
    out += texts(h["caching_processes"])
    out += u64(len(operations))
    for key, op in operations:
        out += text(key) + bin_operation(op)
    return out


def main():
    # Set-up bytes: rereadable with room for diagnostics; rereadable, no room, 7-byte blocks;
    # a pipe with 5-byte blocks.
    setups = {"": 0x03, "_second_reading": 0x1D, "_pipe": 0x14}
    for kind, encode in (("json", json_file), ("bincode", bincode_file)):
        folder = os.path.join(ROOT, "fuzz", "corpus", "stream_" + kind)
        os.makedirs(folder, exist_ok=True)
        for name, operations in FILES.items():
            for suffix, setup in setups.items():
                with open(os.path.join(folder, name + suffix), "wb") as f:
                    f.write(bytes([setup]) + encode(operations))


if __name__ == "__main__":
    main()
