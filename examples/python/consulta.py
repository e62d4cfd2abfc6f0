#!/usr/bin/env python3
"""A customer query from Python through ctypes.

    LUMIREX_LIBRARY=/usr/lib/liblumirex.so.0 python3 consulta.py 12345678909 http://127.0.0.1:8080/

The URL defaults to $LUMIREX_URL. Exit status: 0 the service accepted,
1 it declined, 2 the call failed, 64 usage error.
"""

import os
import sys

import lumirex


def main(argv):
    if len(argv) < 2 or (len(argv) < 3 and "LUMIREX_URL" not in os.environ):
        print("usage: consulta.py CPF [URL]   (URL defaults to $LUMIREX_URL)", file=sys.stderr)
        return 64
    cpf = argv[1]
    url = argv[2] if len(argv) > 2 else os.environ["LUMIREX_URL"]

    lib = lumirex.Library()
    lib.set_message_handler(lambda text: print("operator message:", text, file=sys.stderr))
    # Elements 0 to 5: operation, service URL, CPF, branch, till, sale number.
    returned, result = lib.call(["CONSULTA", url, cpf, "", "", ""])
    if not returned:
        failure = lib.last_call()
        print("call failed (%s): %s" % (failure["code"], failure["message"]))
        return 2
    declined, message, name, balance, packet = result
    print("service declined" if declined else "service accepted")
    print("message:   ", lumirex.decode_ansi(message))
    if declined:
        return 1
    print("name:      ", lumirex.decode_service(name))
    print("balance:    %.2f" % balance)
    for row in lumirex.read_packet(packet):
        until = "-"
        if "DTVALPROMO" in row:
            until = lumirex.packet_datetime(row["DTVALPROMO"]).strftime("%Y-%m-%d %H:%M:%S")
        print("promocode:  %-12s %-10s %8.2f  until %s  %s" % (
            row.get("CDPROMOCAO", ""), row.get("DSTIPPROMO", ""),
            float(row.get("VRPROMOCAO", 0)), until, row.get("DSPROMOCAO", "")))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
