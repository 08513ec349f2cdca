"""What the hub's tests share: satvaro-hub as a child process with a
configuration of the test's own, form requests, the simulated device's
journal and faults, network namespaces of the test's own. Run under
satvaro-harness."""
import argparse
import http.client
import json
import os
import shutil
import subprocess
import tempfile
import threading
import time
import urllib.parse

CODE = "12345678"
FIRST, PER_TILL = 100000, 900
WAIT = 60  # bound of every wait: passing never depends on it


def till_range(till):
    return range(FIRST + PER_TILL * till, FIRST + PER_TILL * (till + 1))


STARTED = []  # every hub process, ended by its PID when a case fails


class Hub:
    """satvaro-hub as a child process with a configuration of the test's own;
    ready once it names its port and the device answered the status query it
    makes at start (so that the test's faults meet its own calls), ended by
    its PID."""

    def __init__(self, program, state, wait_for_status=True, **settings):
        config = {"activation_code": CODE, "port": "0", "state_dir": state + "/state",
                  "work_dir": state + "/work", **settings}
        self.config = state + "/hub.conf"
        with open(os.open(self.config, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "w") as f:
            f.writelines(f"{key} = {value}\n" for key, value in config.items())
        self.process = subprocess.Popen([program, "--config", self.config],
                                        stderr=subprocess.PIPE, text=True)
        STARTED.append(self.process)
        self.log = []
        self.port = None
        self.started = threading.Event()  # set at its port, or at its end
        self.reader = threading.Thread(target=self._read_log)
        self.reader.start()
        if not self.started.wait(WAIT) or self.port is None:
            raise RuntimeError("satvaro-hub did not start: " + "".join(self.log))
        if wait_for_status:
            wait_until(lambda: self.status()["device"]["asked"] is not None,
                       "satvaro-hub asking the device's status")

    def status(self):
        return json.loads(get(self, "/status.json")[2])

    def _read_log(self):
        for line in self.process.stderr:
            self.log.append(line)
            if self.port is None and " port " in line:
                self.port = int(line.split(" port ")[1].split(",")[0])
                self.started.set()
        self.started.set()

    def stop(self):
        self.process.terminate()
        assert self.process.wait(timeout=60) == 0, "satvaro-hub did not stop cleanly"
        self.reader.join()


def post(hub, function, fields=None, host="127.0.0.1", source=None, method="POST", body=None,
         headers=None):
    """(status, JSON object) of one request; `fields` are form-encoded."""
    connection = http.client.HTTPConnection(host, hub.port, timeout=120,
                                            source_address=(source, 0) if source else None)
    if body is None and fields is not None:
        body = urllib.parse.urlencode(fields)
    headers = headers or {"Content-Type": "application/x-www-form-urlencoded"}
    path = function if function.startswith("/") else "/hub/v1/" + function
    connection.request(method, path, body=body, headers=headers)
    response = connection.getresponse()
    status, reply = response.status, json.loads(response.read())
    connection.close()
    return status, reply


def get(hub, path, host="127.0.0.1", source=None):
    """(status, Content-Type, text) of a GET."""
    connection = http.client.HTTPConnection(host, hub.port, timeout=WAIT,
                                            source_address=(source, 0) if source else None)
    connection.request("GET", path)
    response = connection.getresponse()
    answer = response.status, response.getheader("Content-Type"), response.read().decode()
    connection.close()
    return answer


def request(path, body=b"", headers=None, method="POST"):
    """The bytes of one HTTP/1.1 request, form-encoded by default; a header
    given as None is left out."""
    head = {"Host": "hub", "Content-Type": "application/x-www-form-urlencoded",
            "Content-Length": str(len(body)), **(headers or {})}
    lines = "".join(f"{name}: {value}\r\n" for name, value in head.items() if value is not None)
    target = path if isinstance(path, bytes) else path.encode()
    return method.encode() + b" " + target + b" HTTP/1.1\r\n" + lines.encode() + b"\r\n" + body


def journal(own=False):
    """What reached the device: (code, body) per request, in order; the
    hub's own calls (its sessions are below 100000) only when `own`."""
    directory = os.environ["SATVARO_SIM_DIR"] + "/requests"
    records = []
    for name in sorted(n for n in os.listdir(directory) if not n.startswith(".")):
        with open(f"{directory}/{name}/code") as code, open(f"{directory}/{name}/body", "rb") as body:
            record = (code.read(), body.read().decode("utf-8", "surrogateescape"))
        if own or not record[1][:6].isdigit() or int(record[1][:6]) >= FIRST:
            records.append(record)
    return records


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def wait_until(condition, what):
    """What `condition` returned once it held, within WAIT."""
    deadline = time.monotonic() + WAIT
    while not (held := condition()):
        check(time.monotonic() < deadline, f"never: {what}")
        time.sleep(0.05)
    return held


def sale_for(source, cpf=None):
    with open(source + "/examples/venda.xml", encoding="utf-8") as document:
        sale = document.read()
    return sale.replace("<dest/>", f"<dest><CPF>{cpf}</CPF></dest>") if cpf else sale


def valid_cpf(base):
    """A CPF (nine digits and two check digits) made from `base`."""
    digits = [int(d) for d in f"{base:09d}"]
    for length in (9, 10):
        total = sum(d * (length + 1 - i) for i, d in enumerate(digits))
        digits.append(total * 10 % 11 % 10)
    return "".join(map(str, digits))


def add_addresses(*hosts):
    """Addresses 192.0.2.<host> on the loopback interface of the network
    namespace the test runs in (`unshare -n`): nothing else sees them."""
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    for host in hosts:
        subprocess.run(["ip", "addr", "add", f"192.0.2.{host}/32", "dev", "lo"], check=True)


def write_faults(text):
    """The simulated device's fault lines (see sim/README.md)."""
    with open(os.environ["SATVARO_SIM_DIR"] + "/faults", "wb") as faults:
        faults.write(text.encode() if isinstance(text, str) else text)


def main(cases, description):
    """Runs the case named on the command line (CASE --hub PATH --source DIR
    [--library PATH] [--screenshot PNG]) in a scratch state directory; every
    hub it started is ended by its PID, whatever happens."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("case", choices=cases)
    parser.add_argument("--hub", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--library")
    parser.add_argument("--screenshot")
    args = parser.parse_args()
    name = args.case
    state = tempfile.mkdtemp(prefix="satvaro-hub-test.")
    try:
        cases[name](args, state)
    finally:
        for process in STARTED:
            if process.poll() is None:
                process.kill()
                process.wait()
        shutil.rmtree(state, ignore_errors=True)
    print(f"{name}: passed")
