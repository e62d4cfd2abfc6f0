#!/usr/bin/env python3
"""A customer query from Python with the lumirex package (python/ in the
source tree, python3-lumirex or `pip install ./python`).

    LUMIREX_LIBRARY=/usr/lib/x86_64-linux-gnu/liblumirex.so.0 python3 consulta.py 12345678909 http://127.0.0.1:8080/

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
    url = argv[2] if len(argv) > 2 else os.environ["LUMIREX_URL"]
    client = lumirex.Client(url)
    try:
        customer = client.consulta(argv[1])
    except lumirex.CallFailed as failure:
        print("call failed (%s): %s" % (failure.code, failure.message))
        return 2
    print("service accepted" if customer.verdict.accepted else "service declined")
    print("message:   ", customer.verdict.message)
    if not customer.verdict.accepted:
        return 1
    print("name:      ", customer.name)
    print("balance:    %.2f" % customer.balance)
    for promocode in customer.promocodes:
        until = promocode.expires.strftime("%Y-%m-%d %H:%M:%S") if promocode.expires else "-"
        print("promocode:  %-12s %-10s %8.2f  until %s  %s" % (
            promocode.code, promocode.kind, promocode.value, until, promocode.description))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
