#!/usr/bin/env python3
"""satvaro-hub's status page, JSON and metrics on the simulated device (run
under satvaro-harness, the device's certificate expiring in 10 days, its
clock 10 minutes ahead, 3 CF-e untransmitted).

    hub_status_test.py CASE --hub PATH --source DIR [--screenshot PNG]

CASE is one of: browser (headless Chromium through Selenium), metrics
(promtool, and the same figures as the JSON; inside `unshare -n`).
"""
import http.client
import json
import os
import subprocess
import sys
import tempfile
import time

from hub_support import (Hub, add_addresses, check, get, journal, main, post, wait_until,
                         write_faults)

SKIPPED = 77  # ctest's SKIP_RETURN_CODE


def status_when(hub, ready, what):
    """status.json once `ready` holds of it."""
    return wait_until(lambda: status if ready(status := hub.status()) else None, what)


def case_browser(args, state):
    """The page in a real browser: the device, the queue and a till, the two
    alerts first; no error in the browser's console."""
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
    except ImportError:
        print("skipped: no Selenium (python3-selenium) for this Python")
        sys.exit(SKIPPED)
    hub = Hub(args.hub, state)
    post(hub, "consultarsat", {"numero_caixa": 7})
    status_when(hub, lambda s: s["tills"] and "serial" in s["device"], "a till and the device")
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--disable-quic", "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--window-size=1000,1400",
                 "--user-data-dir=" + tempfile.mkdtemp(dir=state)]:
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    service = Service("/usr/bin/chromedriver", log_path=os.path.join(state, "chromedriver.log"))
    try:
        browser = webdriver.Chrome(service=service, options=options)
    except Exception as failure:  # a machine where Chromium cannot run at all
        print(f"skipped: Chromium does not start here: {failure}")
        sys.exit(SKIPPED)
    try:
        browser.get(f"http://127.0.0.1:{hub.port}/status")
        first = browser.find_element(By.CSS_SELECTOR, "body > section")
        alerts = first.text
        check(first.get_attribute("id") == "alerts" and "certificate" in alerts and
              "expires" in alerts and "10 minutes ahead" in alerts, f"the alerts: {alerts}")
        check("900000001" in browser.find_element(By.ID, "device").text, "no serial number")
        check("Waiting" in browser.find_element(By.ID, "queue").text, "no queue")
        rows = [r.text for r in browser.find_elements(By.CSS_SELECTOR, "#tills tr")]
        check(any(row.startswith("7 1 ConsultarSAT") for row in rows), f"till 7's row: {rows}")
        errors = [e for e in browser.get_log("browser") if e["level"] == "SEVERE"]
        check(not errors, f"the browser's console: {errors}")
        browser.save_screenshot(args.screenshot)
    finally:
        browser.quit()
        service.stop()
    hub.stop()


def metric_values(text):
    """{name with labels: value} of a Prometheus exposition."""
    values = {}
    for line in text.splitlines():
        if line and not line.startswith("#"):
            name, value = line.rsplit(" ", 1)
            values[name] = float(value)
    return values


def case_metrics(args, state):
    """After known calls, /metrics passes promtool and agrees with
    /status.json; a status reader reads, and may not sell."""
    add_addresses(1, 5)
    hub = Hub(args.hub, state, listen="0.0.0.0", status_allow="192.0.2.5")
    for till in (1, 1, 2):
        post(hub, "consultarsat", {"numero_caixa": till})
    write_faults("next silence\n")
    post(hub, "consultarsat", {"numero_caixa": 3})  # no reply: 32768
    post(hub, "consultarsat", {"numero_caixa": 3})
    status = status_when(hub, lambda s: len(s["tills"]) == 3, "three tills")
    status_code, content_type, text = get(hub, "/metrics", "192.0.2.1", "192.0.2.5")
    check(status_code == 200 and content_type.startswith("text/plain; version=0.0.4"),
          f"/metrics: {status_code} {content_type}")
    lint = subprocess.run(["promtool", "check", "metrics"], input=text, text=True,
                          capture_output=True)
    check(lint.returncode == 0, f"promtool: {lint.stdout}{lint.stderr}")

    metrics = metric_values(text)
    device = status["device"]
    calls = {till["till"]: till["calls"] for till in status["tills"]}
    check(calls == {1: 2, 2: 1, 3: 2} and status["tills"][2]["errors"] == {"no_reply": 1},
          f"tills: {status['tills']}")
    expected = {
        'satvaro_hub_calls_total{function="ConsultarSAT",codigo_erro="0"}': 4,
        'satvaro_hub_calls_total{function="ConsultarSAT",codigo_erro="32768"}': 1,
        "satvaro_hub_call_duration_seconds_count": sum(calls.values()),
        "satvaro_hub_queue_length": status["queue"]["length"],
        "satvaro_hub_device_up": 1,
        "satvaro_hub_device_clock_drift_seconds": device["clock_offset_seconds"],
        "satvaro_hub_cfe_pending_transmission": device["pending_cfe"],
        "satvaro_hub_journal_rows": status["hub"]["journal_rows"],
    }
    for name, value in expected.items():
        check(metrics.get(name) == value, f"{name}: {metrics.get(name)} against {value}")
    active = {alert["name"] for alert in status["alerts"]}
    check(active == {"certificate_expiring", "clock_off"}, f"alerts: {active}")
    for name in ["certificate_expiring", "clock_off", "cfe_pending", "device_blocked"]:
        check(metrics[f'satvaro_hub_alert_active{{alert="{name}"}}'] == (name in active), name)
    expiry = time.strptime(device["certificate_expires"] + " 23:59:59", "%Y-%m-%d %H:%M:%S")
    check(metrics["satvaro_hub_certificate_expiry_timestamp_seconds"] == time.mktime(expiry),
          "the certificate's expiry")

    sale = post(hub, "consultarsat", {"numero_caixa": 4}, host="192.0.2.1", source="192.0.2.5")
    check(sale[0] == 403, f"a status reader called a function: {sale}")
    check(get(hub, "/status", "192.0.2.1", "192.0.2.5")[0] == 200, "a status reader's page")
    queries = [code for code, _ in journal(own=True) if code == "ConsultarStatusOperacional"]
    check(len(queries) == 1, f"the pages asked the device: {len(queries)} status queries")
    hub.stop()


if __name__ == "__main__":
    main({"browser": case_browser, "metrics": case_metrics}, __doc__.splitlines()[0])
