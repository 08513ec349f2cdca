#!/usr/bin/env python3
"""Calls libsatvaro from Python through ctypes.

SIGNATURES declares every function of satvaro.h, so that ctypes converts the
arguments and results as the C header says; load() applies it. Run as a
program, it queries the device and its status and, given a sale document,
sends the sale and decodes the CF-e the device gives back:

    python3 satvaro_ctypes.py [--code CODE] [--sale venda.xml]
    satvaro-harness --sim-arg --activated -- python3 satvaro_ctypes.py --sale venda.xml

Texts go in as bytes. The library returns every reply in one buffer that the
next call overwrites; a c_char_p result is copied into a bytes object at once,
so the values Python holds stay valid.
"""
import argparse
import ctypes
import sys
import time

TEXT = ctypes.c_char_p
INT = ctypes.c_int
USHORT = ctypes.c_ushort

# name: (result type, argument types), as in satvaro.h.
SIGNATURES = {
    "getVersion": (TEXT, []),
    "CodigoErro": (INT, []),
    "CloseSerial": (None, []),
    "Base64ToAscii": (TEXT, []),
    "AtivarSAT": (TEXT, [INT, USHORT, TEXT, TEXT, USHORT]),
    "ComunicarCertificadoICPBRASIL": (TEXT, [INT, TEXT, TEXT]),
    "EnviarDadosVenda": (TEXT, [INT, TEXT, TEXT]),
    "CancelarUltimaVenda": (TEXT, [INT, TEXT, TEXT, TEXT]),
    "ConsultarSAT": (TEXT, [INT]),
    "TesteFimAFim": (TEXT, [INT, TEXT, TEXT]),
    "ConsultarStatusOperacional": (TEXT, [INT, TEXT]),
    "ExtrairLogs": (TEXT, [INT, TEXT]),
    "BloquearSAT": (TEXT, [INT, TEXT]),
    "DesbloquearSAT": (TEXT, [INT, TEXT]),
    "ConsultarNumeroSessao": (TEXT, [INT, TEXT, INT]),
    "ConfigurarInterfaceDeRede": (TEXT, [INT, TEXT, TEXT]),
    "AssociarAssinatura": (TEXT, [INT, TEXT, TEXT, TEXT]),
    "AtualizarSoftwareSAT": (TEXT, [INT, TEXT]),
    "TrocarCodigoDeAtivacao": (TEXT, [INT, TEXT, USHORT, TEXT, TEXT]),
}


def load(name="libsatvaro.so.1"):
    """The library, found by the dynamic loader, with every signature set."""
    library = ctypes.CDLL(name)
    for function, (result, arguments) in SIGNATURES.items():
        entry = getattr(library, function)
        entry.restype = result
        entry.argtypes = arguments
    return library


class Device:
    """One device behind the library: a fresh session number per call, and
    the reply as a list of fields, checked against the expected result code."""

    def __init__(self, library):
        self.library = library
        # The device remembers recent session numbers: start somewhere new.
        self.session = int(time.time()) % 900000 + 1

    def call(self, function, *arguments, expect):
        self.session += 1
        reply = getattr(self.library, function)(self.session, *arguments)
        status = self.library.CodigoErro()
        if status != 0:
            raise RuntimeError(f"{function}: no reply from the device (CodigoErro {status})")
        fields = reply.decode("utf-8", "replace").split("|")
        print(f"{function}: {'|'.join(fields)[:120]}")
        if len(fields) < 2 or fields[1] != expect:
            raise RuntimeError(f"{function}: the device answered {fields[1:2]}, not {expect}")
        return fields


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--code", default="12345678", help="the device's activation code")
    parser.add_argument("--sale", help="a CF-e sale document to send")
    args = parser.parse_args()
    code = args.code.encode()

    library = load()
    device = Device(library)
    print("driver", library.getVersion().decode())
    device.call("ConsultarSAT", expect="08000")
    status = device.call("ConsultarStatusOperacional", code, expect="10000")
    print("device", status[5])

    if args.sale:
        with open(args.sale, "rb") as document:
            sale = device.call("EnviarDadosVenda", code, document.read(), expect="06000")
        sys.stdout.flush()  # Base64ToAscii prints the reply's fields on the C stream
        cfe = library.Base64ToAscii()
        print("sale", sale[8], "CF-e of", len(cfe), "bytes")
        if b"<CFe" not in cfe:
            raise RuntimeError("Base64ToAscii gave no CF-e")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (OSError, RuntimeError) as error:
        print(error, file=sys.stderr)
        sys.exit(1)
