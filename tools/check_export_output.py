#!/usr/bin/env python3
"""Checks output of tracemill-export read from standard input.

    tools/check_export_output.py mermaid
    tools/check_export_output.py json [--process-graph EXPECTED.txt]

mermaid: the exact grammar tracemill-export writes, which a Mermaid renderer takes as a
flowchart: the line "flowchart LR", then node lines `  n<i>["label"]` with i counting from 0,
then edge lines `  n<i> -->|"label"| n<j>` (`-.->` for an edge gone since a baseline)
between defined nodes, then `  style n<i> stroke-dasharray:5 5` for gone nodes, then style lines
`  linkStyle <k> stroke:#rrggbb,stroke-width:<w>px` for edges k in increasing order. A label
holds no double
quote, control character, line or paragraph separator, byte-order mark, `|`, backquote or raw
`&`; `<` and `>` only in `<br>`; `#` only
starting an entity code (`#quot;`, `#35;`, ...).

json: the documented schema, version 2 (docs/format.md): exactly the members named there with
their types, integers that are not booleans, nodes sorted by the bytes of their names, method
maps and edges sorted by bytes, edge ends that are nodes, health maps with the keys of the count
maps in their order, figures with at most five error logs and durations null exactly when
there are none; with a baseline, its block's nodes and edges the union of both graphs', sorted,
with a status each and the current graph's elements not gone. With --process-graph, the three method maps
of every node must equal the process graph in that file (tracemill's expected output, as in
examples/expected/), node for node.

Exits 1 with a message naming the first fault, 0 when the output passes.
"""
import json
import re
import sys

ENTITY = r"#(?:quot|amp|lt|gt|[0-9]+);"
LABEL = r'(?:[^"|`&<>#\x00-\x1f\x7f-\x9f\u2028\u2029\ufeff]|<br>|' + ENTITY + r")*"
NODE = re.compile(r'  n(0|[1-9][0-9]*)\["(' + LABEL + r')"\]')
EDGE = re.compile(r'  n(0|[1-9][0-9]*) -\.?->\|"(' + LABEL + r')"\| n(0|[1-9][0-9]*)')
NODE_STYLE = re.compile(r"  style n(0|[1-9][0-9]*) stroke-dasharray:5 5")
LINK_STYLE = re.compile(r"  linkStyle (0|[1-9][0-9]*) stroke:#[0-9a-f]{6},stroke-width:[1-9][0-9]*px")


def fail(message):
    sys.exit("check_export_output: " + message)


def check_mermaid(text):
    if not text.endswith("\n"):
        fail("mermaid: the output does not end with a line feed")
    lines = text[:-1].split("\n")
    if lines[0] != "flowchart LR":
        fail(f"mermaid: the first line is {lines[0]!r}, not 'flowchart LR'")
    nodes, nodes_done, edges, styled, node_styles = 0, False, 0, -1, False
    for number, line in enumerate(lines[1:], start=2):
        node = NODE.fullmatch(line)
        if node:
            if nodes_done or int(node.group(1)) != nodes:
                fail(f"mermaid: line {number}: node out of order: {line!r}")
            nodes += 1
            continue
        nodes_done = True
        node_style = NODE_STYLE.fullmatch(line)
        if node_style:
            if styled >= 0 or int(node_style.group(1)) >= nodes:
                fail(f"mermaid: line {number}: a node style out of place: {line!r}")
            node_styles = True
            continue
        style = LINK_STYLE.fullmatch(line)
        if style:
            if not styled < int(style.group(1)) < edges:
                fail(f"mermaid: line {number}: a style out of order or of no edge: {line!r}")
            styled = int(style.group(1))
            continue
        edge = EDGE.fullmatch(line)
        if not edge:
            fail(f"mermaid: line {number} is neither a node, an edge nor a style: {line!r}")
        if styled >= 0 or node_styles:
            fail(f"mermaid: line {number}: an edge after the styles: {line!r}")
        edges += 1
        for end in (edge.group(1), edge.group(3)):
            if int(end) >= nodes:
                fail(f"mermaid: line {number}: edge to an undefined node n{end}")
    return nodes


def is_integer(value):
    return isinstance(value, int) and not isinstance(value, bool) and 0 <= value < 2**63


def is_duration(value):
    return isinstance(value, int) and not isinstance(value, bool) and -2**63 <= value < 2**63


def check_members(what, value, members):
    if not isinstance(value, dict) or list(value) != list(members):
        fail(f"json: {what} has members {list(value) if isinstance(value, dict) else value!r}, "
             f"expected {list(members)}")
    for name, check in members.items():
        if not check(value[name]):
            fail(f"json: {what}: member {name!r} has the wrong type: {value[name]!r}")


def sorted_by_bytes(keys):
    encoded = [k.encode("utf-8") for k in keys]
    return all(a < b for a, b in zip(encoded, encoded[1:]))


def method_map(value):
    return (isinstance(value, dict) and all(is_integer(v) for v in value.values())
            and sorted_by_bytes(list(value)))


def check_figures(what, value):
    check_members(what, value, {
        "calls": is_integer, "errors": is_integer, "with_error_logs": is_integer,
        "http_status": lambda v: isinstance(v, dict) and all(
            re.fullmatch(r"-?(0|[1-9][0-9]*)", k) and is_integer(n) for k, n in v.items()),
        "error_logs": lambda v: isinstance(v, list) and len(v) <= 5,
        "latency_micros": lambda v: isinstance(v, dict)})
    codes = [int(k) for k in value["http_status"]]
    if codes != sorted(codes):
        fail(f"json: {what}: HTTP statuses not sorted: {codes}")
    logs = value["error_logs"]
    for log in logs:
        check_members(f"{what}: an error log", log, {
            "text": lambda v: isinstance(v, str), "count": is_integer})
    order = [(-log["count"], log["text"].encode("utf-8")) for log in logs]
    if order != sorted(order):
        fail(f"json: {what}: error logs not most frequent first, ties by bytes")
    latency = value["latency_micros"]
    none = latency.get("count") == 0
    optional = lambda v: v is None if none else is_duration(v)
    check_members(f"{what}: latency_micros", latency, {
        "count": lambda v: isinstance(v, int) and not isinstance(v, bool) and 0 <= v < 2**64,
        "sum": lambda v: v == 0 if none else isinstance(v, int) and not isinstance(v, bool),
        **{k: optional for k in ("min", "max", "p50", "p90", "p95", "p99")}})
    return True


def method_health(what, counts, health):
    if not isinstance(health, dict) or list(health) != list(counts):
        fail(f"json: {what}: the health map has other keys than the count map")
    return all(check_figures(f"{what}: {method!r}", figures) for method, figures in health.items())


def check_json(text):
    try:
        document = json.loads(text)
    except ValueError as error:
        fail(f"json: not JSON: {error}")
    check_members("the document", document, {
        "version": lambda v: v == 2 and is_integer(v),
        "nodes": lambda v: isinstance(v, list),
        "edges": lambda v: isinstance(v, list),
        **({"baseline": lambda v: isinstance(v, dict)} if "baseline" in document else {})})
    is_text = lambda v: isinstance(v, str)
    for node in document["nodes"]:
        check_members("a node", node, {
            "name": is_text, "entry_count": is_integer, "operations": method_map,
            "methods": method_map, "direction_unknown": method_map,
            "virtual_peer": lambda v: isinstance(v, bool), "health": lambda v: isinstance(v, dict)})
        maps = ("operations", "methods", "direction_unknown")
        check_members(f"node {node['name']!r}: health", node["health"], {
            m: lambda v, m=m: method_health(f"node {node['name']!r}: {m}", node[m], v)
            for m in maps})
    for edge in document["edges"]:
        check_members("an edge", edge, {
            "from": is_text, "to": is_text, "method": is_text, "count": is_integer,
            "health": lambda v: check_figures("an edge's health", v)})
    names = [node["name"] for node in document["nodes"]]
    if not sorted_by_bytes(names):
        fail("json: the nodes are not sorted by the bytes of their names")
    keys = [tuple(e[k].encode("utf-8") for k in ("from", "to", "method"))
            for e in document["edges"]]
    if not all(a < b for a, b in zip(keys, keys[1:])):
        fail("json: the edges are not sorted by (from, to, method)")
    for edge in document["edges"]:
        if edge["from"] not in names or edge["to"] not in names or edge["from"] == edge["to"]:
            fail(f"json: an edge whose ends are not two nodes: {edge!r}")
    if "baseline" in document:
        check_baseline(document)
    return document


def check_baseline(document):
    baseline = document["baseline"]
    check_members("the baseline", baseline, {
        "inputs": lambda v: isinstance(v, list), "nodes": lambda v: isinstance(v, list),
        "edges": lambda v: isinstance(v, list)})
    status = lambda v: v in ("new", "gone", "kept")
    names = [n["name"] for n in baseline["nodes"]]
    if not sorted_by_bytes(names):
        fail("json: the baseline's nodes are not sorted by the bytes of their names")
    current = {n["name"] for n in document["nodes"]}
    for node in baseline["nodes"]:
        if not status(node.get("status")) or (node["status"] == "gone") == (node["name"] in current):
            fail(f"json: baseline node {node['name']!r}: a wrong status {node.get('status')!r}")
    keys = [tuple(e[k].encode("utf-8") for k in ("from", "to", "method")) for e in baseline["edges"]]
    if not all(a < b for a, b in zip(keys, keys[1:])):
        fail("json: the baseline's edges are not sorted by (from, to, method)")
    current = {(e["from"], e["to"], e["method"]) for e in document["edges"]}
    for edge in baseline["edges"]:
        key = (edge["from"], edge["to"], edge["method"])
        if not status(edge.get("status")) or (edge["status"] == "gone") == (key in current):
            fail(f"json: baseline edge {key!r}: a wrong status {edge.get('status')!r}")


def unescape(text):
    """A name as tracemill's text form quotes it, without the quotes."""
    simple = {'"': '"', "\\": "\\", "t": "\t", "n": "\n", "r": "\r", "0": "\0", "'": "'"}
    return re.sub(r'\\(u\{([0-9a-f]+)\}|.)',
                  lambda m: chr(int(m.group(2), 16)) if m.group(2) else simple[m.group(1)],
                  text)


def process_graph(path):
    """Process name -> {map name: {method: sum}} from tracemill's printed graph."""
    graph, node, current = {}, None, None
    lines = open(path, encoding="utf-8").read().split("\n")
    for line in lines[lines.index("ProcessNodes("):]:
        if m := re.fullmatch(r' {8}"(.*)": ProcessNode \{', line):
            node = graph.setdefault(unescape(m.group(1)), {})
        elif m := re.fullmatch(r" {12}(operations|methods|direction_unknown): \{(\},)?", line):
            current = node.setdefault(m.group(1), {})
        elif m := re.fullmatch(r' {16}"(.*)": (-?[0-9]+),', line):
            current[unescape(m.group(1))] = int(m.group(2))
    return graph


def main():
    if len(sys.argv) < 2 or sys.argv[1] not in ("mermaid", "json"):
        sys.exit(__doc__)
    text = sys.stdin.buffer.read().decode("utf-8")
    if sys.argv[1] == "mermaid":
        check_mermaid(text)
        return
    document = check_json(text)
    if sys.argv[2:3] == ["--process-graph"]:
        expected = process_graph(sys.argv[3])
        found = {n["name"]: {k: n[k] for k in ("operations", "methods", "direction_unknown")}
                 for n in document["nodes"]}
        if found != expected:
            fail(f"json: the method maps differ from the process graph in {sys.argv[3]}")


if __name__ == "__main__":
    main()
