#!/usr/bin/env python3
"""satvaro-hub through HTTP on the simulated device (run under satvaro-harness).

    hub_test.py CASE --hub PATH --source DIR [--library PATH]

CASE is one of: functions, concurrent, refusals, addresses (the last inside a
network namespace of its own: `unshare -n`). With --library the replies of the
functions case are also compared with the library's own text for the same
exchange (not in sanitized builds, whose library Python cannot load).
"""
import http.client
import os
import sys
import threading

from hub_support import (main, CODE, FIRST, PER_TILL, Hub, add_addresses, check, journal, post,
                         sale_for, till_range, valid_cpf, write_faults)


def cancellation(key):
    return (f'<CFeCanc><infCFe chCanc="{key}"><ide><CNPJ>23456789000195</CNPJ><signAC>SGR</signAC>'
            "<numeroCaixa>001</numeroCaixa></ide><emit/><dest/><total/></infCFe></CFeCanc>")


# Every function once, in an order the device's state allows: (till, path,
# fields, exported name, the request's body after its session or None when
# the hub answers from its journal, result code). "{key}" and "{first}"
# stand for the sale's key and the first session.
def function_rows(source):
    sale, end_to_end = sale_for(source), open(source + "/examples/fimAfim.xml").read()
    network = "<config><tipoInter>ETHE</tipoInter><tipoLan>DHCP</tipoLan></config>"
    signature = sale.split("<signAC>")[1].split("</signAC>")[0]  # the sale's own, checked by the device
    return [
        (0, "consultarsat", {}, "ConsultarSAT", "", "08000"),
        (0, "ativarsat", {"tipo_certificado": 1, "cnpj": "34567890000130", "codigo_uf": 35},
         "AtivarSAT", "|1|12345678|34567890000130|35", "04000"),
        (0, "comunicarcertificadoicpbrasil", {"certificado": "MIIB-CERT"},
         "ComunicarCertificadoICPBRASIL", "|12345678|MIIB-CERT", "05000"),
        (0, "associarassinatura", {"sequencia_cnpj": "2345678900019534567890000130",
                                   "assinatura_ac": signature},
         "AssociarAssinatura", f"|12345678|2345678900019534567890000130|{signature}", "13000"),
        (0, "configurarinterfacederede", {"configuracao": network}, "ConfigurarInterfaceDeRede",
         f"|12345678|{network}", "12000"),
        (1, "enviardadosvenda", {"dados_venda": sale}, "EnviarDadosVenda", f"|12345678|{sale}",
         "06000"),
        (1, "cancelarultimavenda", {"chave_cfe": "{key}", "dados_cancelamento": cancellation("{key}")},
         "CancelarUltimaVenda", "|12345678|{key}|" + cancellation("{key}"), "07000"),
        (999, "testefimafim", {"dados_venda": end_to_end}, "TesteFimAFim", f"|12345678|{end_to_end}",
         "09000"),
        (999, "consultarstatusoperacional", {}, "ConsultarStatusOperacional", "|12345678", "10000"),
        (999, "consultarnumerosessao", {"numero_sessao": "000123"}, "ConsultarNumeroSessao",
         "|12345678|000123", "11003"),
        (0, "consultarnumerosessao", {"numero_sessao": "{first}"}, "ConsultarNumeroSessao",
         None, "08000"),  # the till's own session: from the hub's journal
        (2, "extrairlogs", {}, "ExtrairLogs", "|12345678", "15000"),
        (0, "bloquearsat", {}, "BloquearSAT", "|12345678", "16000"),
        (0, "desbloquearsat", {}, "DesbloquearSAT", "|12345678", "17000"),
        (0, "atualizarsoftwaresat", {}, "AtualizarSoftwareSAT", "|12345678", "14000"),
        (0, "trocarcodigodeativacao", {"novo_codigo_ativacao": "87654321", "opcao": 1},
         "TrocarCodigoDeAtivacao", "|12345678|1|87654321|87654321", "18000"),
        "restart",  # the new code and the session numbers survive it
        (0, "consultarstatusoperacional", {}, "ConsultarStatusOperacional", "|87654321", "10000"),
        (0, "trocarcodigodeativacao", {"novo_codigo_ativacao": CODE, "opcao": 2,
                                       "codigo_emergencia": "00000000"},
         "TrocarCodigoDeAtivacao", "|00000000|2|12345678|12345678", "18000"),
        (0, "consultarstatusoperacional", {}, "ConsultarStatusOperacional", "|12345678", "10000"),
    ]


def case_functions(args, state):
    hub = Hub(args.hub, state)
    replies, sessions, values, sent = [], {}, {}, 0
    for row in function_rows(args.source):
        if row == "restart":
            hub.stop()
            hub = Hub(args.hub, state)
            continue
        till, path, fields, exported, body, result = row
        fields = {k: str(v).format(**values) for k, v in fields.items()}
        status, reply = post(hub, path, {"numero_caixa": till, **fields})
        check(status == 200 and reply["funcao"] == exported and reply["codigo_erro"] == 0,
              f"{path}: {status} {reply}")
        retorno = reply["retorno"].split("|")
        check(retorno[1] == result, f"{path}: {reply['retorno'][:200]}")
        if body is None:
            check(reply["numero_sessao"] == int(fields["numero_sessao"]) and
                  len(journal()) == sent, f"{path}: {reply}")
            continue
        code, received = journal()[-1]
        session = int(received[:6])
        check(session in till_range(till) and session not in sessions.get(till, []),
              f"{path}: session {session} for till {till} after {sessions.get(till)}")
        sessions.setdefault(till, []).append(session)
        values.setdefault("first", f"{session:06d}")
        if path == "enviardadosvenda":
            values["key"] = retorno[8]
        check((code, received) == (exported, f"{session:06d}" + body.format(**values)) and
              reply["numero_sessao"] == session, f"{path}: the device received {received[:200]}")
        sent += 1
        if exported != "ConsultarNumeroSessao":  # the device keeps no reply of its own queries
            replies.append((session, reply["retorno"]))
    check(len(journal()) == sent, "a request too many reached the device")

    # The till's numbers go on from where they stood, in its own range.
    check(sessions[0][:5] == list(range(FIRST, FIRST + 5)), f"till 0: {sessions[0]}")
    check(sessions[999][0] == FIRST + PER_TILL * 999, f"till 999: {sessions[999]}")

    # A reply that is not UTF-8 (Latin-1 "ç", "ã", then UTF-8 "á") reaches
    # the till as the same characters, in JSON.
    write_faults(b"next body 000000|08000|Opera\xe7\xe3o em \xc3\xa1rea||\n")
    check(post(hub, "consultarsat", {"numero_caixa": 3})[1]["retorno"] ==
          "000000|08000|Operação em área||", "the Latin-1 reply")
    hub.stop()

    if args.library:
        # The library's own text for each exchange: the device replays the
        # reply it gave a session when asked for it.
        sys.path.insert(0, args.source + "/examples/python")
        import satvaro_ctypes
        library = satvaro_ctypes.load(args.library)
        os.chdir(state)  # where the library's log lands
        for own, (session, text) in enumerate(replies, start=1):
            direct = library.ConsultarNumeroSessao(own, CODE.encode(), session)
            check(direct == text.encode(), f"session {session}: {direct[:200]} != {text[:200]}")


def case_concurrent(args, state):
    """8 tills x 4 sales at once: each reply is its own sale, under its own
    session; the device received each sale whole, once."""
    hub = Hub(args.hub, state)
    tills, per_till = range(1, 9), 4
    replies, failures = {}, []

    def till_sells(till):
        for n in range(per_till):
            sale = sale_for(args.source, valid_cpf(till * 1000 + n))
            status, reply = post(hub, "enviardadosvenda", {"numero_caixa": till, "dados_venda": sale})
            if status != 200:
                failures.append((till, n, status, reply))
            replies[(till, n)] = (sale, reply)

    threads = [threading.Thread(target=till_sells, args=(till,)) for till in tills]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    hub.stop()

    check(not failures, f"refused: {failures[:3]}")
    sent = {}
    for (till, n), (sale, reply) in replies.items():
        fields = reply["retorno"].split("|")
        check(reply["codigo_erro"] == 0 and fields[1] == "06000", f"till {till}: {reply}")
        check(int(fields[0]) in till_range(till), f"till {till} got session {fields[0]}")
        check(fields[10] == valid_cpf(till * 1000 + n), f"till {till} sale {n} got {fields[10]}")
        sent[fields[0]] = sale
    check(len(sent) == len(tills) * per_till, "two sales under one session")
    received = journal()
    check(len(received) == len(sent), f"{len(received)} requests reached the device")
    for code, body in received:
        session, code_sent, sale = body.split("|", 2)
        check(code == "EnviarDadosVenda" and code_sent == CODE and sent.get(session) == sale,
              f"the device received for {session}: {body[:120]}")


# (what, method, path, body, headers, status, words of the error)
REFUSALS = [
    ("unknown function", "POST", "vender", "numero_caixa=1", None, 404, "no such function"),
    ("not exported", "POST", "consultarultimasessaofiscal", "numero_caixa=1", None, 404,
     "ConsultarUltimaSessaoFiscal"),
    ("outside the base path", "POST", "/hub/v2/consultarsat", "numero_caixa=1", None, 404, ""),
    ("GET", "GET", "consultarsat", None, None, 405, "POST"),
    ("PUT", "PUT", "enviardadosvenda", "numero_caixa=1&dados_venda=x", None, 405, "POST"),
    ("no till", "POST", "consultarsat", "", None, 400, "numero_caixa"),
    ("till not a number", "POST", "consultarsat", "numero_caixa=1a", None, 400, "numero_caixa"),
    ("till 1000", "POST", "consultarsat", "numero_caixa=1000", None, 400, "numero_caixa"),
    ("till -1", "POST", "consultarsat", "numero_caixa=-1", None, 400, "numero_caixa"),
    ("no sale", "POST", "enviardadosvenda", "numero_caixa=1", None, 400, "dados_venda"),
    ("session not a number", "POST", "consultarnumerosessao", "numero_caixa=1&numero_sessao=12x",
     None, 400, "numero_sessao"),
    ("state not a number", "POST", "ativarsat",
     "numero_caixa=1&tipo_certificado=1&cnpj=34567890000130&codigo_uf=SP", None, 400, "codigo_uf"),
    ("emergency without its code", "POST", "trocarcodigodeativacao",
     "numero_caixa=1&novo_codigo_ativacao=11112222&opcao=2", None, 400, "codigo_emergencia"),
    ("option 3", "POST", "trocarcodigodeativacao",
     "numero_caixa=1&novo_codigo_ativacao=11112222&opcao=3", None, 400, "opcao"),
    ("code with a bar", "POST", "trocarcodigodeativacao",
     "numero_caixa=1&novo_codigo_ativacao=1111%7C2222&opcao=1", None, 400, "novo_codigo_ativacao"),
    ("cut escape", "POST", "consultarsat", "numero_caixa=1&x=%4", None, 400, "malformed"),
    ("bad escape", "POST", "consultarsat", "numero_caixa=%zz", None, 400, "malformed"),
    ("field twice", "POST", "consultarsat", "numero_caixa=1&numero_caixa=2", None, 400, "twice"),
    ("part without =", "POST", "consultarsat", "numero_caixa=1&x", None, 400, "malformed"),
    ("not a form", "POST", "consultarsat", '{"numero_caixa": 1}',
     {"Content-Type": "application/json"}, 415, "x-www-form-urlencoded"),
    ("query too large", "POST", "consultarsat", "numero_caixa=1&x=" + "a" * 1200, None, 413, ""),
    ("activation one byte over", "POST", "ativarsat",  # the state code written in two digits
     "numero_caixa=1&tipo_certificado=1&codigo_uf=5&cnpj=" + "1" * 43, None, 413, "driver library"),
    ("sale over the library's limit", "POST", "enviardadosvenda",
     "numero_caixa=1&dados_venda=" + "x" * 1572900, None, 413, "driver library"),
    ("sale announced too large", "POST", "enviardadosvenda", None,
     {"Content-Type": "application/x-www-form-urlencoded", "Content-Length": "5000000"}, 413, ""),
]


def case_refusals(args, state):
    """Each refusal's status and JSON error; nothing reaches the device, and
    the hub goes on serving."""
    Hub(args.hub, state).stop()  # a stop as soon as it listens is not lost
    hub = Hub(args.hub, state)
    for what, method, path, body, headers, status, words in REFUSALS:
        got, reply = post(hub, path, method=method, body=body, headers=headers)
        check(got == status and words in reply.get("erro", ""), f"{what}: {got} {reply}")
    check(journal() == [], f"reached the device: {journal()[:2]}")
    check(post(hub, "consultarsat", {"numero_caixa": 1})[0] == 200, "no service after the refusals")
    hub.stop()


def case_addresses(args, state):
    """In a network namespace of the test's own, with addresses of its own
    on the loopback interface: 192.0.2.1 for the hub, .2 a till, .3 a
    stranger, .4 an administrator."""
    add_addresses(1, 2, 3, 4)
    hub = Hub(args.hub, state, allow="192.0.2.2")  # listening on 127.0.0.1 only
    try:
        post(hub, "consultarsat", {"numero_caixa": 1}, host="192.0.2.1", source="192.0.2.2")
        check(False, "the hub answered another address than 127.0.0.1 by default")
    except ConnectionRefusedError:
        pass
    hub.stop()

    hub = Hub(args.hub, state, listen="0.0.0.0", allow="192.0.2.2", admin_allow="192.0.2.4/32")
    expected = [  # (source, function, status); None: closed unanswered
        ("192.0.2.3", "consultarsat", None),
        ("192.0.2.2", "consultarsat", 200),
        ("192.0.2.2", "bloquearsat", 403),
        ("192.0.2.4", "bloquearsat", 200),
        ("127.0.0.1", "desbloquearsat", 200),
    ]
    for source, function, status in expected:
        try:
            got = post(hub, function, {"numero_caixa": 1}, host="192.0.2.1", source=source)[0]
        except (ConnectionError, http.client.RemoteDisconnected):
            got = None
        check(got == status, f"{function} from {source}: {got}")
    hub.stop()
    check(any("192.0.2.3: connection closed unread: not an allowed address" in line
              for line in hub.log), "no log line for the refused address")
    check([code for code, _ in journal()] == ["ConsultarSAT", "BloquearSAT", "DesbloquearSAT"],
          f"reached the device: {journal()}")


if __name__ == "__main__":
    main({"functions": case_functions, "concurrent": case_concurrent,
          "refusals": case_refusals, "addresses": case_addresses},
         __doc__.splitlines()[0])
