#!/usr/bin/env python3
"""satvaro-hub's journal on the simulated device (run under satvaro-harness):
no sale lost, none issued twice.

    hub_journal_test.py CASE --hub PATH --source DIR

CASE is one of: retries, lost_reply, crashes, export.
"""
import collections
import filecmp
import os
import random
import signal
import socket
import subprocess
import threading
import time
import urllib.parse

from hub_support import (WAIT, main, Hub, check, journal, post, request, sale_for, valid_cpf,
                         wait_until, write_faults)


def sales():
    """The sales that reached the device: the CPF of each, in order."""
    return [body.split("<CPF>")[1][:11] for code, body in journal() if code == "EnviarDadosVenda"]


def last_call(hub, till):
    return post(hub, "ultimachamada", {"numero_caixa": till})


def sale_fields(till, cpf, source, key=None):
    fields = {"numero_caixa": till, "dados_venda": sale_for(source, cpf)}
    return {**fields, "chave_requisicao": key} if key else fields


def case_retries(args, state):
    """A till whose connection drops mid-sale learns the outcome and gets it
    again for a byte-identical retry; a keyed call waits for its first; a
    till cannot read another till's session."""
    hub = Hub(args.hub, state)
    check(last_call(hub, 1)[0] == 404, "a till without calls")
    write_faults("* hold\n")
    sale = urllib.parse.urlencode(sale_fields(1, valid_cpf(1), args.source)).encode()
    dropped = socket.create_connection(("127.0.0.1", hub.port), timeout=WAIT)
    dropped.sendall(request("/hub/v1/enviardadosvenda", sale))
    wait_until(lambda: sales() == [valid_cpf(1)], "the sale at the device")
    status, held = last_call(hub, 1)
    check(status == 200 and held["estado"] == "no_dispositivo" and held["retorno"] is None,
          f"at the device: {held}")
    dropped.close()

    # The same key twice, the first still queued: the second waits for it.
    keyed = {}
    fields = sale_fields(2, valid_cpf(2), args.source, key="venda-2.a_1")
    calls = [threading.Thread(target=lambda n=n, f=f: keyed.setdefault(n, post(hub, "enviardadosvenda", f)))
             for n, f in enumerate([fields, {**fields, "dados_venda": "other text, same key"}])]
    calls[0].start()
    wait_until(lambda: any("caixa 2 EnviarDadosVenda" in line and "queued" in line
                           for line in hub.log), "the keyed sale queued")
    calls[1].start()
    wait_until(lambda: any("waits for" in line for line in hub.log), "the second keyed call waiting")
    write_faults("")
    for call in calls:
        call.join()
    check(keyed[0][0] == 200 and keyed[1] == keyed[0], f"keyed: {keyed}")

    wait_until(lambda: last_call(hub, 1)[1]["estado"] != "no_dispositivo", "the dropped sale done")
    answered = last_call(hub, 1)[1]
    check(not answered["entregue"] and answered["codigo_erro"] == 0 and
          answered["retorno"].split("|")[1] == "06000" and answered["funcao"] == "EnviarDadosVenda"
          and answered["recebida"][10] == "T", f"the dropped sale: {answered}")
    status, retried = post(hub, "enviardadosvenda", sale_fields(1, valid_cpf(1), args.source))
    check(status == 200 and retried["numero_sessao"] == answered["numero_sessao"] and
          retried["retorno"] == answered["retorno"], f"the retry: {retried}")
    wait_until(lambda: last_call(hub, 1)[1]["entregue"], "the retry's answer recorded as delivered")
    check(sales() == [valid_cpf(1), valid_cpf(2)], f"sales at the device: {sales()}")

    # The same sale twice, each answer read: two sales, not a replay.
    twice = [post(hub, "enviardadosvenda", sale_fields(5, valid_cpf(5), args.source))[1]
             for _ in range(2)]
    check(twice[0]["numero_sessao"] != twice[1]["numero_sessao"] and
          sales()[-2:] == [valid_cpf(5)] * 2, f"the same sale twice: {twice}")

    session = answered["numero_sessao"]
    own = post(hub, "consultarnumerosessao", {"numero_caixa": 1, "numero_sessao": session})
    check(own[1]["retorno"] == answered["retorno"] and len(journal()) == 4, f"own session: {own}")
    other = post(hub, "consultarnumerosessao", {"numero_caixa": 3, "numero_sessao": session})
    check(other[0] == 403, f"another till's session: {other}")
    check(post(hub, "consultarsat", {"numero_caixa": 1, "chave_requisicao": "a b"})[0] == 400,
          "a key with a blank")
    hub.stop()


def case_lost_reply(args, state):
    """The device acts but its reply is lost: the hub asks the device for the
    session at once, and the till gets the sale as if it had arrived."""
    hub = Hub(args.hub, state)
    write_faults("next silence\n")
    status, reply = post(hub, "enviardadosvenda", sale_fields(1, valid_cpf(1), args.source))
    check(status == 200 and reply["codigo_erro"] == 0 and reply["retorno"].split("|")[1] == "06000",
          f"the recovered sale: {reply}")
    check(last_call(hub, 1)[1]["estado"] == "recuperada", f"{last_call(hub, 1)}")
    calls = [(code, body) for code, body in journal(own=True)
             if code != "ConsultarStatusOperacional"]
    check([code for code, _ in calls] == ["EnviarDadosVenda", "ConsultarNumeroSessao"],
          f"reached the device: {[code for code, _ in calls]}")
    asked = calls[1][1].split("|")
    check(int(asked[0]) < 100000 and int(asked[2]) == reply["numero_sessao"],
          f"the query under one of the hub's own sessions: {asked}")
    hub.stop()


def case_crashes(args, state):
    """The hub SIGKILLed during sales, at random moments and once while the
    device holds the sale; each time restarted, the till retrying what it
    got no answer for: every sale made once, no session number twice."""
    rng = random.Random(2026)
    answers = {}
    outcomes = collections.Counter()  # what the restarted hub knew of each sale
    for sale in range(30):
        hold = sale == 0  # killed while the device holds the sale
        hub = Hub(args.hub, state, wait_for_status=hold)
        write_faults("* hold\n" if hold else "")
        fields = sale_fields(1, valid_cpf(sale), args.source)
        attempt = threading.Thread(target=lambda: answers.setdefault(sale, try_post(hub, fields)))
        attempt.start()
        if hold:
            wait_until(lambda: len(sales()) == sale + 1, "the held sale at the device")
        else:
            time.sleep(rng.uniform(0, 1.5))
        hub.process.send_signal(signal.SIGKILL)
        hub.process.wait()
        attempt.join()
        write_faults("")
        hub = Hub(args.hub, state, wait_for_status=False)
        status, outcome = last_call(hub, 1)
        check(outcome["estado"] != "desconhecida", f"sale {sale}: {outcome}")
        outcomes[outcome["estado"] + ("" if outcome["entregue"] else ", undelivered")] += 1
        if answers[sale] is None:  # no answer: the till sends it again
            answers[sale] = try_post(hub, fields)
        check(answers[sale] and answers[sale]["retorno"].split("|")[1] == "06000",
              f"sale {sale}: {answers[sale]}")
        hub.stop()
    check(sorted(sales()) == sorted(valid_cpf(sale) for sale in range(30)),
          f"sales at the device: {sales()}")
    sessions = [int(body[:6]) for code, body in journal() if code == "EnviarDadosVenda"]
    check(len(set(sessions)) == len(sessions), f"a session twice: {sessions}")
    print("after each crash:", dict(outcomes))


def try_post(hub, fields):
    try:
        status, reply = post(hub, "enviardadosvenda", fields)
        return reply if status == 200 else None
    except (ConnectionError, OSError):
        return None


def case_export(args, state):
    """A sale and its cancellation, exported as the device issued them."""
    hub = Hub(args.hub, state)
    status, sold = post(hub, "enviardadosvenda", {"numero_caixa": 1,
                                                  "dados_venda": sale_for(args.source)})
    key = sold["retorno"].split("|")[8]
    cancellation = (f'<CFeCanc><infCFe chCanc="{key}"><ide><CNPJ>23456789000195</CNPJ>'
                    "<signAC>SGR</signAC><numeroCaixa>001</numeroCaixa></ide><emit/><dest/><total/>"
                    "</infCFe></CFeCanc>")
    post(hub, "cancelarultimavenda", {"numero_caixa": 1, "chave_cfe": key,
                                      "dados_cancelamento": cancellation})
    post(hub, "testefimafim", {"numero_caixa": 1,
                               "dados_venda": open(args.source + "/examples/fimAfim.xml").read()})
    hub.stop()
    archive = os.path.join(state, "archive")
    os.mkdir(archive)

    def export(day_from, day_to):
        return subprocess.run([args.hub, "--config", hub.config, "export", "--from", day_from,
                               "--to", day_to, archive], capture_output=True, text=True, check=True)

    check(export("2024-03-16", "2024-12-31").stdout == "0 written, 0 skipped\n", "another day")
    printed = export("2024-03-15", "2024-03-15").stdout
    files = sorted(os.listdir(archive))
    check(len(files) == 2 and f"{key}.xml" in files and "2 written, 0 skipped" in printed,
          f"exported: {files}\n{printed}")
    check(filecmp.cmp(os.path.join(archive, f"{key}.xml"), args.source + "/tests/sim/venda.cfe.xml",
                      shallow=False), "the sale is not the golden CF-e")
    with open(os.path.join(archive, next(f for f in files if f != f"{key}.xml"))) as cancelled:
        check(f'chCanc="{key}"' in cancelled.read(), "the cancellation")
    check("0 written, 2 skipped" in export("2024-03-15", "2024-03-15").stdout, "overwritten")


if __name__ == "__main__":
    main({"retries": case_retries, "lost_reply": case_lost_reply, "crashes": case_crashes,
          "export": case_export},
         __doc__.splitlines()[0])
