#!/usr/bin/env python3
"""satvaro-hub's front door against hostile clients, on the simulated device
(run under satvaro-harness, inside `unshare -n`: the addresses are the test's
own, on the loopback interface of its namespace).

    hub_front_test.py CASE --hub PATH --source DIR

CASE is one of: slow_clients, flood, requests, stop. 192.0.2.1 is the hub,
.2 and .4 allowed tills, .3 a stranger.
"""
import http.client
import io
import signal
import socket
import threading
import time
from urllib.parse import quote_from_bytes

from hub_support import (WAIT, main, Hub, add_addresses, check, journal, post, request, sale_for,
                         wait_until, write_faults)

HUB, TILL, STRANGER, OTHER_TILL = "192.0.2.1", "192.0.2.2", "192.0.2.3", "192.0.2.4"
OPEN = {"listen": "0.0.0.0", "allow": f"{TILL} {OTHER_TILL}"}


def connect(hub, source):
    connection = socket.create_connection((HUB, hub.port), timeout=WAIT, source_address=(source, 0))
    connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return connection


def closed_unread(connection):
    """Whether the hub closed the connection without sending a byte."""
    try:
        return connection.recv(1) == b""
    except ConnectionResetError:
        return True


class KeptOpen(io.BufferedReader):
    """A connection's bytes that http.client may not close under us."""

    def close(self):
        pass


class Answers:
    """The answers on one connection, read one after the other."""

    def __init__(self, connection):
        self.stream = KeptOpen(socket.SocketIO(connection, "rb"))

    def next(self):
        response = http.client.HTTPResponse(self)
        response.begin()
        return response.status, dict(response.getheaders()), response.read()

    def makefile(self, *_):
        return self.stream

    def at_end(self):
        return self.stream.read() == b""


def case_slow_clients(args, state):
    """Strangers are closed unread (one log line per address); a till's idle
    connections hold nothing and stay; meanwhile tills are served. A head
    that dribbles in is closed at its deadline."""
    add_addresses(1, 2, 3, 4)
    hub = Hub(args.hub, state, max_connections_per_address=20, **OPEN)
    strangers = [connect(hub, STRANGER) for _ in range(100)]
    check(all(closed_unread(c) for c in strangers), "a stranger's connection was read")
    idle = [connect(hub, TILL) for _ in range(20)]
    check(closed_unread(connect(hub, TILL)), "a 21st connection of one address was kept")
    check(post(hub, "consultarsat", {"numero_caixa": 1})[0] == 200, "this machine is limited too")
    status, reply = post(hub, "consultarsat", {"numero_caixa": 2}, host=HUB, source=OTHER_TILL)
    check(status == 200 and reply["codigo_erro"] == 0, f"the till was not served: {status}")
    first = Answers(idle[0])  # the idle connections stayed, and serve calls
    idle[0].sendall(request("/hub/v1/consultarsat", b"numero_caixa=3"))
    check(first.next()[0] == 200, "an idle connection was dropped")
    hub.stop()
    refused = [line for line in hub.log if "connection closed unread" in line]
    check([line for line in refused if STRANGER in line] ==
          [f"satvaro-hub: {STRANGER}: connection closed unread: not an allowed address\n"],
          f"the stranger's lines: {refused}")
    check(any(f"{TILL}: connection closed unread: max_connections_per_address" in line
              for line in refused), "no line for the address over its limit")

    hub = Hub(args.hub, state, head_timeout=2, idle_timeout=60, **OPEN)
    stop = threading.Event()
    closed = []

    def dribble(connection):
        connection.sendall(b"POST /hub/v1/consultarsat HTTP/1.1\r\n")
        try:
            while not stop.is_set():
                connection.sendall(b"X")
                time.sleep(0.2)
        except OSError:
            closed.append(connection)

    dribbling = [connect(hub, OTHER_TILL) for _ in range(10)]
    threads = [threading.Thread(target=dribble, args=(c,)) for c in dribbling]
    for thread in threads:
        thread.start()
    deadline = time.monotonic() + WAIT  # they end at their deadline, though never idle
    while len(closed) < len(dribbling) and time.monotonic() < deadline:
        time.sleep(0.1)
    stop.set()
    for thread in threads:
        thread.join()
    check(len(closed) == len(dribbling), f"{len(dribbling) - len(closed)} heads never ended")
    hub.stop()


def memory_kb(pid, field):
    """VmRSS (resident now) or VmHWM (its peak) of a process."""
    with open(f"/proc/{pid}/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith(field + ":"))


def case_flood(args, state):
    """Header lines without end, from a stranger and from a till: the hub's
    memory stays bounded, and it answers the till 431 or closes."""
    add_addresses(1, 2, 3)
    hub = Hub(args.hub, state, **OPEN)
    check(post(hub, "consultarsat", {"numero_caixa": 1})[0] == 200, "no service")
    before = memory_kb(hub.process.pid, "VmRSS")
    line = b"X-Flood: " + b"a" * 1000 + b"\r\n"
    for source in [STRANGER] * 10 + [TILL] * 10:
        connection = connect(hub, source)
        try:
            connection.sendall(b"POST /hub/v1/consultarsat HTTP/1.1\r\n")
            for _ in range(10000):  # 10 MB
                connection.sendall(line)
        except OSError:
            pass
        connection.close()
    growth = memory_kb(hub.process.pid, "VmHWM") - before  # the peak
    check(growth <= 8 * 1024, f"the hub grew by {growth} kB")
    check(post(hub, "consultarsat", {"numero_caixa": 1})[0] == 200, "no service after the flood")
    hub.stop()


SMUGGLED = request("/hub/v1/consultarsat", b"numero_caixa=7")
# (what, source, request bytes, status)
REFUSED_WITH_A_REQUEST_INSIDE = [
    ("not a form", "127.0.0.1", request("/hub/v1/consultarsat", SMUGGLED,
                                        {"Content-Type": "application/json"}), 415),
    ("changes the device", TILL, request("/hub/v1/bloquearsat", SMUGGLED), 403),
    ("no such function", TILL, request("/hub/v1/vender", SMUGGLED), 404),
    ("GET", TILL, request("/hub/v1/consultarsat", SMUGGLED, method="GET"), 405),
]
# (what, path as sent, status): only unreserved characters are decoded.
PATHS = [
    ("unreserved encoded", b"/hub/v1/consultar%73at", 200),
    ("encoded slash", b"/hub/v1%2Fconsultarsat", 404),
    ("%u form", b"/hub/v1/%u0063onsultarsat", 404),
    ("encoded NUL", b"/hub/v1/consultarsat%00HIDDEN", 404),
    ("raw byte 0x9b", b"/hub/v1/consultarsat\x9b", 404),
]


def case_requests(args, state):
    """Refusals close their connection, their bodies never taken for a
    request; 100-continue; pipelining; a half-closed client; a NUL in a
    field; paths as sent."""
    add_addresses(1, 2)
    hub = Hub(args.hub, state, **OPEN)
    for what, source, sent, status in REFUSED_WITH_A_REQUEST_INSIDE:
        connection = connect(hub, source)
        connection.sendall(sent)
        answers = Answers(connection)
        got, headers, body = answers.next()
        check(got == status and b'"erro"' in body and int(headers["Content-Length"]) == len(body),
              f"{what}: {got} {headers} {body}")
        check(answers.at_end(), f"{what}: the connection went on")
    check(journal() == [], f"a refused request's body reached the device: {journal()}")

    # Expect: 100-continue is answered with the refusal itself, then with 100.
    connection = connect(hub, "127.0.0.1")
    connection.sendall(request("/hub/v1/consultarsat", b"{}", {"Content-Type": "application/json",
                                                               "Expect": "100-continue"})[:-2])
    got, headers, body = Answers(connection).next()
    check(got == 415 and b'"erro"' in body and int(headers["Content-Length"]) == len(body),
          f"refused 100-continue: {got} {body}")
    connection = connect(hub, "127.0.0.1")
    form = b"numero_caixa=1"
    connection.sendall(request("/hub/v1/consultarsat", form, {"Expect": "100-continue"})[:-len(form)])
    check(connection.recv(100).startswith(b"HTTP/1.1 100"), "no 100 Continue")
    connection.sendall(form)
    check(Answers(connection).next()[0] == 200, "the continued request")

    # Two requests in one write: two answers, in order.
    connection = connect(hub, TILL)
    connection.sendall(request("/hub/v1/consultarsat", b"numero_caixa=5") * 2)
    answers = Answers(connection)
    sessions = [int(answers.next()[2].split(b'"retorno":"')[1][:6]) for _ in range(2)]
    check(sessions[1] == sessions[0] + 1, f"pipelined: {sessions}")

    # A client that half-closes after its request still gets the answer.
    connection = connect(hub, TILL)
    connection.sendall(request("/hub/v1/consultarsat", b"numero_caixa=6"))
    connection.shutdown(socket.SHUT_WR)
    check(Answers(connection).next()[0] == 200, "half-closed client")

    before = len(journal())
    sale = sale_for(args.source).encode()
    nul = ("dados_venda=" + quote_from_bytes(sale[:50]) + "%00" + quote_from_bytes(sale[50:]) +
           "&numero_caixa=1")
    status, reply = post(hub, "enviardadosvenda", body=nul)
    check(status == 400 and reply["erro"] == "dados_venda: holds a NUL byte", f"NUL: {reply}")
    for what, path, status in PATHS:
        connection = connect(hub, "127.0.0.1")
        connection.sendall(request(path, b"numero_caixa=1"))
        check(Answers(connection).next()[0] == status, what)
    check(len(journal()) == before + 1, "a refused path reached the device")
    hub.stop()
    log = "".join(hub.log)
    for logged in ["/hub/v1/consultarsat%00HIDDEN: 404", "/hub/v1/consultarsat\\x9b: 404"]:
        check(logged in log, f"not logged as sent: {logged}")


def case_stop(args, state):
    """SIGTERM with calls queued: the one at the device is answered, each
    queued one gets 503 and never reaches the device; nothing new connects."""
    hub = Hub(args.hub, state)
    write_faults("* hold\n")
    answers = {}

    def call(till, function="consultarsat"):
        answers[till] = post(hub, function, {"numero_caixa": till})

    # Held at the device: a function whose time-out leaves the test room.
    first = threading.Thread(target=call, args=(0, "consultarstatusoperacional"))
    first.start()
    wait_until(journal, "the first call at the device, held")
    queued = [threading.Thread(target=call, args=(till,)) for till in range(1, 11)]
    for thread in queued:
        thread.start()
    wait_until(lambda: sum("queued behind" in line for line in hub.log) >= 11, "11 calls queued")
    idle = socket.create_connection(("127.0.0.1", hub.port), timeout=WAIT)
    hub.process.send_signal(signal.SIGTERM)
    for thread in queued:
        thread.join()
    check(all(answers[t][0] == 503 and "never reached the device" in answers[t][1]["erro"]
              for t in range(1, 11)), f"queued calls: {answers}")
    check(closed_unread(idle), "an idle connection outlived the stop")
    try:
        socket.create_connection(("127.0.0.1", hub.port), timeout=WAIT)
        check(False, "a connection was accepted after the stop")
    except ConnectionRefusedError:
        pass
    write_faults("")  # the device answers
    first.join()
    check(answers[0][0] == 200 and answers[0][1]["funcao"] == "ConsultarStatusOperacional",
          f"the call at the device: {answers[0]}")
    check(hub.process.wait(timeout=WAIT) == 0, "the hub did not end cleanly")
    check([code for code, _ in journal()] == ["ConsultarStatusOperacional"],
          f"reached the device: {journal()}")


if __name__ == "__main__":
    main({"slow_clients": case_slow_clients, "flood": case_flood, "requests": case_requests,
          "stop": case_stop},
         __doc__.splitlines()[0])
