"""The four integration calls as Python objects, in UTF-8 host mode."""

import dataclasses
import datetime
import os
import xml.etree.ElementTree as ElementTree
from typing import List, Optional, Sequence
from xml.sax.saxutils import quoteattr

from ._native import ERRORS, Library


@dataclasses.dataclass(frozen=True)
class Verdict:
    """The service's answer: accepted or not, and its message for the operator."""
    accepted: bool
    message: str


@dataclasses.dataclass(frozen=True)
class Promocode:
    code: str
    description: str
    expires: Optional[datetime.datetime]
    kind: str  # the gift's type: "discount", "cashback", ...
    value: float


@dataclasses.dataclass(frozen=True)
class Customer:
    """A customer query's answer. When the service declined (an unknown CPF),
    verdict says so and the other fields are empty."""
    name: str
    balance: float
    promocodes: List[Promocode]
    verdict: Verdict = Verdict(True, "")


class CallFailed(Exception):
    """A call that did not run to its end (LumirexLastCall): code is the
    error's name ("LUMIREX_E_CONNECT", ...), number its value; sent says the
    request left the library, queued that it waits in the outbox."""

    def __init__(self, code, number, http_status, sent, queued, message):
        super().__init__("%s: %s" % (code, message))
        self.code, self.number, self.http_status = code, number, http_status
        self.sent, self.queued, self.message = sent, queued, message


def _text(data):
    # The service's bytes may, rarely, not be UTF-8; a till shows them anyway.
    return data.decode("utf-8", errors="replace") if isinstance(data, bytes) else ""


def _packet_datetime(text):
    """A packet's dateTime ("20250305T14:07:09000") as a datetime."""
    if not text:
        return None
    return datetime.datetime.strptime(text[:17], "%Y%m%dT%H:%M:%S").replace(
        microsecond=int(text[17:20] or 0) * 1000)


def read_promocodes(packet):
    """The promotions data packet of a customer query as Promocode objects."""
    if not packet:
        return []
    rows = ElementTree.fromstring(packet).iter("ROW")
    return [Promocode(code=row.get("CDPROMOCAO", ""), description=row.get("DSPROMOCAO", ""),
                      expires=_packet_datetime(row.get("DTVALPROMO")),
                      kind=row.get("DSTIPPROMO", ""), value=float(row.get("VRPROMOCAO", 0)))
            for row in rows]


def products_packet(products):
    """The sale's items as the data packet a promocode validation takes."""
    codes = [str(code) for code in products]
    width = max([20] + [len(code) for code in codes])
    rows = "".join("<ROW CDPRODUTO=%s/>" % quoteattr(code) for code in codes)
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<DATAPACKET Version="2.0"><METADATA><FIELDS>'
            '<FIELD attrname="CDPRODUTO" fieldtype="string" WIDTH="%d"/>'
            '</FIELDS><PARAMS/></METADATA><ROWDATA>%s</ROWDATA></DATAPACKET>' % (width, rows))


class Client:
    """Calls the loyalty service at base_url through liblumirex.

    base_dir: folder of the integration log (Dados/LogIntegracaoOrvo/...);
    db: the point-of-sale database, a connection string ("sqlite3://...",
    "odbc://...") or a SQLite file's path, read by venda and venda_canc;
    outbox: a SQLite file keeping sale reports the service did not get;
    library: liblumirex's path. Each None leaves the library's default. The
    library's settings are the process's, so a process holds one Client."""

    def __init__(self, base_url, base_dir=None, db=None, outbox=None, library=None):
        self.base_url = base_url
        self._lib = Library(library)
        if self._lib.LumirexSetHostEncoding(b"UTF-8") != 0:
            raise RuntimeError("this liblumirex has no UTF-8 host mode")
        if base_dir is not None:
            self._lib.LumirexSetBaseDir(os.fsencode(base_dir))
        if db is not None:
            self._lib.LumirexSetConnectionString(_connection_string(db).encode("utf-8"))
        if outbox is not None and self._lib.LumirexSetOutbox(os.fsencode(outbox)) != 0:
            raise self._failure()

    def version(self):
        return self._lib.LumirexVersion().decode()

    def consulta(self, cpf) -> Customer:
        result = self._call(["CONSULTA", self.base_url, cpf, "", "", ""], 5)
        verdict = Verdict(not result[0], _text(result[1]))
        if not verdict.accepted:
            return Customer("", 0.0, [], verdict)
        return Customer(_text(result[2]), float(result[3]), read_promocodes(result[4]), verdict)

    def valida_promocode(self, cpf, code, store, subtotal, products: Sequence[str]) -> Verdict:
        return self._verdict(["VALIDA_PROMOCODE", self.base_url, cpf, "", "", "", code, store,
                              float(subtotal), products_packet(products)])

    def venda(self, filial, caixa, seq) -> Verdict:
        return self._verdict(["VENDA", self.base_url, "", filial, caixa, seq])

    def venda_canc(self, filial, caixa, seq) -> Verdict:
        return self._verdict(["VENDA_CANC", self.base_url, "", filial, caixa, seq])

    def _verdict(self, params):
        result = self._call(params, 2)
        return Verdict(not result[0], _text(result[1]))

    def _call(self, params, size):
        returned, result = self._lib.call(params, size)
        if not returned:
            raise self._failure()
        return result

    def _failure(self):
        outcome, message = self._lib.last_call()
        number = outcome.error
        code = ERRORS[number] if 0 <= number < len(ERRORS) else "LUMIREX_E_%d" % number
        return CallFailed(code, number, outcome.http_status, bool(outcome.sent),
                          bool(outcome.queued), message.decode("utf-8", errors="replace"))


def _connection_string(db):
    text = os.fspath(db)
    if "://" in text:
        return text
    quoted = text.replace("\\", "\\\\").replace('"', '\\"')
    return 'sqlite3://db="%s" readonly=1' % quoted
