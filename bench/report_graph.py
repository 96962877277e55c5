#!/usr/bin/python3
"""Writes a statistics file of a service graph of a chosen size, and times its report page.

    bench/report_graph.py write SERVICES CALLS FILE     a statistics file (JSON)
    bench/report_graph.py time [BUILD_DIR]              page size and time until interactive

The services stand in eight tiers (edge, gateways, ..., storage); each call goes from a
service to one in the next tier, one in five to the tier after, with its own method, a count,
failures and durations drawn from a seeded generator. `time` writes the graphs of 20/40,
200/1,000 and 2,000/10,000 services/calls, exports each with --format html, opens it three
times in headless Chromium (Debian's chromium-driver) and prints the file size and the median
of the page's own time until interactive (performance.now() once the graph is drawn and its
handlers attached, window.tracemillReport.interactiveMs) and of its layout.
"""
import json
import os
import random
import statistics
import subprocess
import sys
import tempfile


def write(services, calls, path, seed=1):
    rng = random.Random(seed)
    tiers = 8
    per = -(-services // tiers)
    names = [f"svc-{i // per}-{i % per:04d}" for i in range(services)]
    pairs = set()
    while len(pairs) < calls:
        a = rng.randrange(services - per)
        step = 1 if rng.random() < 0.8 else 2
        tier = min(tiers - 1, a // per + step)
        b = min(services - 1, tier * per + rng.randrange(per))
        if b // per > a // per:
            pairs.add((a, b, rng.randrange(3)))
    chains = []
    for a, b, m in sorted(pairs):
        count = rng.randint(1, 20000)
        durations = [int(rng.lognormvariate(8, 1)) for _ in range(rng.randint(1, 8))]
        errors = count * rng.choice([0, 0, 0, 1, 3, 8]) // 100
        chains.append([
            {"call_chain": [{"process": names[a], "method": f"handle-{m}", "call_direction": "Inbound"},
                            {"process": names[b], "method": f"rpc-{m}", "call_direction": "Inbound"}],
             "caching_process": "", "is_leaf": True},
            {"count": count, "depth": 1, "duration_micros": durations, "start_dt_micros": [],
             "looped": [], "rooted": False, "expect_root": [], "cc_not_http_ok": errors,
             "cc_with_error_logs": 0, "http_not_ok": {"503": errors} if errors else {},
             "error_logs": {}}])
    record = {"version": {"major": 0, "minor": 0}, "trace_id": [], "root_call": [], "num_spans": [],
              "num_files": 0, "num_endpoints": 0, "num_incomplete_traces": 0,
              "num_call_chains": 0, "init_num_unrooted_cc": 0, "num_fixes": 0,
              "num_unrooted_cc_after_fixes": 0, "start_dt": [], "end_dt": [],
              "duration_micros": [], "time_to_respond_micros": [], "caching_processes": [],
              "stats": {"op": {"method": {}, "num_traces": 1, "num_received_calls": 0,
                               "num_outbound_calls": 0, "num_unknown_calls": 0,
                               "call_chain": chains}}}
    with open(path, "w") as out:
        json.dump(record, out)


def time_pages(build):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.support.ui import WebDriverWait
    options = webdriver.ChromeOptions()
    for argument in ["--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1400,1000"]:
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_page_load_timeout(120)
    try:
        with tempfile.TemporaryDirectory() as work:
            for services, calls in [(20, 40), (200, 1000), (2000, 10000)]:
                stats = os.path.join(work, f"{services}.json")
                page = os.path.join(work, f"{services}.html")
                write(services, calls, stats)
                with open(page, "wb") as out:
                    subprocess.run([os.path.join(build, "tracemill-export"), "--format", "html", stats],
                                   check=True, stdout=out)
                runs = []
                for _ in range(3):
                    driver.get("about:blank")
                    driver.get("file://" + page)
                    WebDriverWait(driver, 120).until(
                        lambda d: d.execute_script("return !!window.tracemillReport"))
                    runs.append(driver.execute_script(
                        "return [tracemillReport.interactiveMs, tracemillReport.layoutMs, tracemillReport.phases]"))
                print(f"{services} services, {calls} calls: {os.path.getsize(page):,} bytes, "
                      f"interactive after {statistics.median(r[0] for r in runs):.0f} ms "
                      f"(layout {statistics.median(r[1] for r in runs):.0f} ms), runs "
                      + ", ".join(f"{r[0]:.0f}" for r in runs))
                print("   phases of the last run (ms after navigation start): "
                      + ", ".join(f"{k} {v:.0f}" for k, v in runs[-1][2].items()))
    finally:
        driver.quit()


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "write":
        write(int(sys.argv[2]), int(sys.argv[3]), sys.argv[4])
    elif len(sys.argv) in (2, 3) and sys.argv[1] == "time":
        time_pages(os.path.abspath(sys.argv[2] if len(sys.argv) == 3 else "build/default"))
    else:
        sys.exit(__doc__)
