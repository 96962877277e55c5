#!/usr/bin/python3
"""Opens the report page of tracemill-export --format html in headless Chromium and checks it.

    tests/browser/report_test.py [BUILD_DIR]        (default: build/default)

For every example (both encodings), a file of names that need escaping and a generated graph of
400 services, which it writes:
the page loads without a console message and without any request, shows the nodes and edges
of the --format json output, the search counts the matching services, a click on a node and
Enter on an edge open a panel with the JSON's figures, Escape closes it, and the table sorts.
With two generated files that differ in known ways, the --baseline page marks exactly those
changes. Screenshots go to BUILD_DIR/browser/. Needs Debian's chromium, chromium-driver and
python3-selenium.
"""
import importlib.util
import json
import os
import subprocess
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build/default"))
EXPORT = os.path.join(BUILD, "tracemill-export")
SHOTS = os.path.join(BUILD, "browser")
failures = []


def fail(name, message):
    failures.append(f"{name}: {message}")
    print(f"   FAILED: {message}")


def export(args):
    return subprocess.run([EXPORT, *args], check=True, capture_output=True).stdout


def duration_text(micros):
    """The page's and the DOT labels' form of a duration."""
    if micros is None:
        return "\u2013"
    sign, magnitude = ("-" if micros < 0 else ""), abs(micros)
    if magnitude < 1000:
        return f"{sign}{magnitude} \u00b5s"
    thousandths, unit = magnitude, " ms"
    if magnitude >= 1_000_000:
        thousandths, unit = magnitude // 1000 + (magnitude % 1000 >= 500), " s"
    text = f"{sign}{thousandths // 1000}"
    if thousandths % 1000:
        text += "." + f"{thousandths % 1000:03d}".rstrip("0")
    return text + unit


def error_text(calls, errors):
    if calls <= 0:
        return "\u2013"
    tenths = (2000 * min(max(errors, 0), calls) + calls) // (2 * calls)
    return f"{tenths // 10}.{tenths % 10} %"


def expected_rows(figures, chains):
    latency = figures["latency_micros"]
    statuses = ", ".join(f"{code}: {n}" for code, n in figures["http_status"].items())
    logs = "\n".join(f"{log['text']} ({log['count']})" for log in figures["error_logs"])
    return [["chains", str(chains)], ["calls", str(figures["calls"])],
            ["errors", str(figures["errors"])],
            ["error ratio", error_text(figures["calls"], figures["errors"])],
            ["p50", duration_text(latency["p50"])], ["p90", duration_text(latency["p90"])],
            ["p99", duration_text(latency["p99"])], ["HTTP status", statuses or "\u2013"],
            ["error logs", logs or "\u2013"]]


def browser():
    options = webdriver.ChromeOptions()
    for argument in ["--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1400,1000",
                     "--disable-background-networking", "--no-first-run"]:
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def open_page(driver, name, path):
    """Loads the page; returns its summary after checking console and requests."""
    driver.get_log("browser")
    driver.get_log("performance")
    driver.get("file://" + path)
    WebDriverWait(driver, 30).until(lambda d: d.execute_script("return !!window.tracemillReport"))
    report = driver.execute_script("return window.tracemillReport")
    for entry in driver.get_log("browser"):
        fail(name, f"console: {entry['level']} {entry['message']}")
    resources = driver.execute_script("return performance.getEntriesByType('resource').length")
    if resources:
        fail(name, f"{resources} resource requests")
    # Every request the browser sent, the page's own file among them, from the DevTools log.
    sent = [json.loads(e["message"])["message"]["params"]["request"]["url"]
            for e in driver.get_log("performance")
            if json.loads(e["message"])["message"]["method"] == "Network.requestWillBeSent"]
    if sent != ["file://" + path]:
        fail(name, f"requests: {sent}")
    return report


def panel_rows(driver):
    rows = {}
    method = None
    for element in driver.find_elements(By.CSS_SELECTOR, "#panel-body h4, #panel-body tr"):
        if element.tag_name == "h4":
            method = element.text
            rows[method] = []
        else:
            cells = element.find_elements(By.CSS_SELECTOR, "th, td")
            rows[method].append([cells[0].get_attribute("textContent"),
                                 cells[1].get_attribute("textContent")])
    return rows


def check_example(driver, name, input_path, work):
    print(f"-- {name}")
    graph = json.loads(export(["--format", "json", input_path]))
    page = os.path.join(work, name + ".html")
    with open(page, "wb") as out:
        out.write(export(["--format", "html", input_path]))
    report = open_page(driver, name, page)
    names = [node["name"] for node in graph["nodes"]]
    if [node["name"] for node in report["nodes"]] != names:
        fail(name, "the page's nodes differ from the JSON's")
    edges = [[e["from"], e["to"], e["method"]] for e in graph["edges"]]
    if [[e["from"], e["to"], e["method"]] for e in report["edges"]] != edges:
        fail(name, "the page's edges differ from the JSON's")
    drawn = driver.execute_script(
        "return [...document.querySelectorAll('.node text.name')].map(t => t.textContent)")
    if drawn != [n if len(n) else "" for n in names]:
        fail(name, f"the drawn names differ: {drawn[:5]}")
    # The table shows its first 500 rows, the rest on request.
    if len(driver.find_elements(By.CSS_SELECTOR, "#edges tbody tr")) != min(len(edges), 500):
        fail(name, "the table has not one row per edge")
    # Each edge's line starts on its caller's box and ends on its callee's, whether dagre routed
    # it or the page drew it as a curve.
    boxes, ends = driver.execute_script(
        "const numbers = (text) => text.match(/-?[0-9.]+/g).map(Number);"
        "return [[...document.querySelectorAll('.node')].map((g) => numbers("
        "g.getAttribute('transform')).concat([+g.querySelector('rect').getAttribute('width'),"
        " +g.querySelector('rect').getAttribute('height')])),"
        "[...document.querySelectorAll('.edge path.line')].map((p) => {"
        " const n = numbers(p.getAttribute('d')); return [n[0], n[1], n.at(-2), n.at(-1)]; })]")

    def on_box(x, y, box):
        return box[0] - 1 <= x <= box[0] + box[2] + 1 and box[1] - 1 <= y <= box[1] + box[3] + 1
    astray = [edges[i] for i, end in enumerate(ends)
              if not (on_box(end[0], end[1], boxes[names.index(edges[i][0])])
                      and on_box(end[2], end[3], boxes[names.index(edges[i][1])]))]
    if astray:
        fail(name, f"{len(astray)} edges do not join their nodes, as {astray[0]}")
    # No edge's label runs into a node.
    covered = driver.execute_script("""
        const inside = (a, b) => a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
        const rects = [...document.querySelectorAll('.node rect')].map((r) => r.getBoundingClientRect());
        return [...document.querySelectorAll('.edge .edge-label')].filter((t) => {
          const box = t.getBoundingClientRect();
          return rects.some((r) => inside(box, r)); }).map((t) => t.textContent);""")
    if covered:
        fail(name, f"edge labels over nodes: {covered}")
    # The header counts what the record holds (the JSON form of an example says it).
    record_path = os.path.splitext(input_path)[0] + ".json"
    if os.path.exists(record_path):
        with open(record_path, encoding="utf-8") as f:
            record = json.load(f)
        want = {"Traces": len(record["trace_id"]), "Operations": len(record["stats"]),
                "Chains": sum(len(op["call_chain"]) for op in record["stats"].values())}
        facts = driver.execute_script(
            "return Object.fromEntries([...document.querySelectorAll('#facts dt')]"
            ".map(dt => [dt.textContent, dt.nextElementSibling.textContent]))")
        for fact, count in want.items():
            if facts.get(fact) != f"{count:,}":
                fail(name, f"the header shows {fact} {facts.get(fact)!r}, the record holds {count}")

    # Search: the first two characters of the longest name.
    query = max(names, key=len)[:2]
    if query.strip():
        box = driver.find_element(By.ID, "search")
        box.send_keys(Keys.CONTROL, "a")
        box.send_keys(Keys.DELETE, query)
        count = sum(query.strip().lower() in n.lower() for n in names)
        shown = driver.find_element(By.ID, "matches").text
        marked = len(driver.find_elements(By.CSS_SELECTOR, ".node.match"))
        if not shown.startswith(f"{count} service") or marked != count:
            fail(name, f"search {query!r}: {shown!r}, {marked} marked, expected {count}")
        box.send_keys(Keys.CONTROL, "a")
        box.send_keys(Keys.DELETE)
        if driver.find_elements(By.CSS_SELECTOR, ".node.match"):
            fail(name, "an empty search left services marked")

    # A click on the node that received the most calls shows the figures of its methods.
    busiest = max(graph["nodes"], key=lambda n: sum(f["calls"] for f in n["health"]["operations"].values()))
    element = driver.find_elements(By.CSS_SELECTOR, ".node")[names.index(busiest["name"])]
    element.click()
    if driver.find_element(By.ID, "panel-title").get_attribute("textContent") != busiest["name"]:
        fail(name, "the node's panel has another title")
    rows = panel_rows(driver)
    for key in ("operations", "methods", "direction_unknown"):
        for method, figures in busiest["health"][key].items():
            if rows.get(method) != expected_rows(figures, busiest[key][method]):
                fail(name, f"node {busiest['name']!r} {key} {method!r}: {rows.get(method)}")
    driver.find_element(By.TAG_NAME, "body").send_keys(Keys.ESCAPE)
    if driver.find_element(By.ID, "panel").is_displayed():
        fail(name, "Escape left the panel open")

    # Enter on the edge with the most calls.
    if graph["edges"]:
        index = max(range(len(edges)), key=lambda i: graph["edges"][i]["health"]["calls"])
        edge = graph["edges"][index]
        element = driver.find_elements(By.CSS_SELECTOR, ".edge")[index]
        driver.execute_script("arguments[0].focus()", element)
        element.send_keys(Keys.ENTER)
        rows = panel_rows(driver)
        if rows.get(edge["method"]) != expected_rows(edge["health"], edge["count"]):
            fail(name, f"edge {edges[index]}: {rows}")
        driver.find_element(By.TAG_NAME, "body").send_keys(Keys.ESCAPE)
        # Sorting by calls puts the busiest edge first, twice in a row the quietest.
        button = driver.find_element(By.XPATH, "//table[@id='edges']//button[.='Calls']")
        button.click()
        first = driver.find_element(By.CSS_SELECTOR, "#edges tbody tr td:nth-child(5)").text
        button.click()
        last = driver.find_element(By.CSS_SELECTOR, "#edges tbody tr td:nth-child(5)").text
        calls = [e["health"]["calls"] for e in graph["edges"]]
        if (first, last) != (str(max(calls)), str(min(calls))):
            fail(name, f"sorted by calls: first {first}, then {last}")
    driver.execute_script("window.scrollTo(0, 0)")
    driver.save_screenshot(os.path.join(SHOTS, name + ".png"))
    return graph


def names_file(work):
    """A statistics file whose service names would be markup if the page inserted them as such,
    and one whose method is too long for an edge's label."""
    record = json.load(open(os.path.join(ROOT, "examples/minimal.json")))
    names = ["<script>alert(1)</script>", "</script><b>x</b>", "<!-- a", "x\u2028y\u2029z",
             "&amp; \"q\" 'a'", "caf\u00e9", "productpage.bookinfo.svc.cluster.local:9080/productpage"]
    value = record["stats"]["op"]["call_chain"][0][1]
    record["stats"]["op"]["call_chain"] = [
        [{"call_chain": [{"process": a, "method": a, "call_direction": "Inbound"},
                         {"process": b, "method": "m" + b, "call_direction": "Unknown"}],
          "caching_process": "", "is_leaf": True}, dict(value, count=i + 1)]
        for i, (a, b) in enumerate(zip(names, names[1:] + names[:1]))]
    path = os.path.join(work, "names.json")
    json.dump(record, open(path, "w"))
    return path


def calls_file(path, calls):
    """A statistics file of one chain per (caller, callee, method, calls, failed, durations)."""
    record = json.load(open(os.path.join(ROOT, "examples/minimal.json")))
    value = record["stats"]["op"]["call_chain"][0][1]
    record["stats"]["op"]["call_chain"] = [
        [{"call_chain": [{"process": a, "method": "in", "call_direction": "Inbound"},
                         {"process": b, "method": m, "call_direction": "Inbound"}],
          "caching_process": "", "is_leaf": True},
         dict(value, count=n, duration_micros=durations, cc_not_http_ok=failed)]
        for a, b, m, n, failed, durations in calls]
    json.dump(record, open(path, "w"))
    return path


def check_baseline(driver, work):
    """Two periods: cache added, legacy removed, api's list and db's write and delete failing
    more, db's query slower."""
    name = "baseline"
    print(f"-- {name}")
    kept = [("frontend", "auth", "login", 20, 0, [1000] * 20)]
    old = calls_file(os.path.join(work, "old.json"), kept + [
        ("frontend", "api", "list", 100, 0, [1000] * 100),
        ("api", "db", "query", 50, 0, [2000] * 50),
        ("api", "db", "write", 40, 0, [3000] * 40),
        ("api", "db", "delete", 40, 0, [3000] * 40),
        ("api", "legacy", "fetch", 10, 0, [500] * 10)])
    new = calls_file(os.path.join(work, "new.json"), kept + [
        ("frontend", "api", "list", 100, 10, [1000] * 100),
        ("api", "db", "query", 50, 0, [5000] * 50),
        ("api", "db", "write", 40, 8, [3000] * 40),
        ("api", "db", "delete", 40, 8, [3000] * 40),
        ("api", "cache", "get", 30, 0, [100] * 30)])
    page = os.path.join(work, "baseline.html")
    with open(page, "wb") as out:
        out.write(export(["--format", "html", "--baseline", old, new]))
    report = open_page(driver, name, page)
    nodes = {n["name"]: (n["status"], n["worse"]) for n in report["nodes"]}
    expected_nodes = {"frontend": ("kept", False), "auth": ("kept", False), "api": ("kept", True),
                      "db": ("kept", True), "cache": ("new", False), "legacy": ("gone", False)}
    if nodes != expected_nodes:
        fail(name, f"nodes: {nodes}")
    edges = {(e["from"], e["to"], e["method"]): (e["status"], e["worse"]) for e in report["edges"]}
    expected_edges = {("frontend", "auth", "login"): ("kept", False),
                      ("frontend", "api", "list"): ("kept", True),
                      ("api", "db", "query"): ("kept", True),
                      ("api", "db", "write"): ("kept", True),
                      ("api", "db", "delete"): ("kept", True),
                      ("api", "cache", "get"): ("new", False),
                      ("api", "legacy", "fetch"): ("gone", False)}
    if edges != expected_edges:
        fail(name, f"edges: {edges}")
    drawn = driver.execute_script("""
        const names = (selector) => [...document.querySelectorAll(selector)]
          .map((e) => e.getAttribute('aria-label')).sort();
        return {new: names('.node.new'), gone: names('.node.gone'), worse: names('.node:has(.badge.worse)'),
                goneEdges: names('.edge.gone'),
                badges: [...document.querySelectorAll('.edge .badge')].map((e) => e.textContent).sort(),
                dashed: getComputedStyle(document.querySelector('.edge.gone path.line')).strokeDasharray};""")
    expected_drawn = {"new": ["cache"], "gone": ["legacy"], "worse": ["api", "db"],
                      "goneEdges": ["api \u2192 legacy: fetch"],
                      "badges": ["new"] + ["worse: errors"] * 3 + ["worse: p99"]}
    dashed = drawn.pop("dashed")
    if drawn != expected_drawn or dashed in ("", "none"):
        fail(name, f"drawn: {drawn}, gone edge dashes: {dashed}")
    # No badge covers another text of an edge (the three calls from api to db lie side by side).
    overlaps = driver.execute_script("""
        const boxes = [...document.querySelectorAll('.edge .badge, .edge .edge-label')].map((t) => {
          const r = t.getBoundingClientRect();
          return [t.textContent, r.left, r.top, r.right, r.bottom]; });
        const hits = [];
        boxes.forEach((a, i) => boxes.slice(i + 1).forEach((b) => {
          if (a[1] < b[3] && b[1] < a[3] && a[2] < b[4] && b[2] < a[4]) hits.push([a[0], b[0]]); }));
        return hits;""")
    if overlaps:
        fail(name, f"edge texts overlap: {overlaps}")
    driver.find_element(By.ID, "changes-only").click()
    shown = driver.execute_script("""
        return [...document.querySelectorAll('.edge:not(.hidden), .node:not(.hidden)')]
          .map((e) => e.getAttribute('aria-label')).sort()""")
    if shown != sorted(["api", "cache", "db", "frontend", "legacy", "api \u2192 cache: get",
                        "api \u2192 db: delete", "api \u2192 db: query", "api \u2192 db: write",
                        "api \u2192 legacy: fetch",
                        "frontend \u2192 api: list"]):
        fail(name, f"changes only shows {shown}")
    driver.save_screenshot(os.path.join(SHOTS, name + ".png"))


def main():
    os.makedirs(SHOTS, exist_ok=True)
    inputs = sorted(os.path.join(ROOT, "examples", f) for f in os.listdir(os.path.join(ROOT, "examples"))
                    if f.endswith((".json", ".bincode")))
    driver = browser()
    try:
        with tempfile.TemporaryDirectory() as work:
            for path in inputs:
                check_example(driver, os.path.basename(path), path, work)
            check_example(driver, "names", names_file(work), work)
            # A graph big enough for the page's own layering of big graphs.
            big = os.path.join(work, "big.json")
            generator = importlib.util.spec_from_file_location(
                "report_graph", os.path.join(ROOT, "bench/report_graph.py"))
            module = importlib.util.module_from_spec(generator)
            generator.loader.exec_module(module)
            module.write(400, 1600, big)
            check_example(driver, "big", big, work)
            scripts = driver.execute_script("return document.scripts.length")
            if scripts != 4:
                fail("names", f"{scripts} script elements")
            check_baseline(driver, work)
    finally:
        driver.quit()
    print(f"screenshots: {SHOTS}")
    if failures:
        print(f"{len(failures)} failures", file=sys.stderr)
        sys.exit(1)
    print("browser tests: all checks passed")


main()
