"""The four integration calls as Python objects, in UTF-8 host mode."""

import atexit
import contextlib
import dataclasses
import datetime
import os
import threading
import xml.etree.ElementTree as ElementTree
from typing import List, Optional, Sequence
from xml.sax.saxutils import quoteattr

from ._native import ERRORS, INT64_MAX, KEPT_ENDS, Library, MessageHandler, OutboxHandler


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


@dataclasses.dataclass(frozen=True)
class OutboxStatus:
    """What waits in the outbox, and whether the service answers."""
    waiting: int  # reports waiting to be sent, held ones included
    held: int  # set aside until support sends or drops them
    oldest_age: int  # seconds the oldest waiting report has waited; 0 when none
    offline: bool  # calls are answered at once, without trying the service
    offline_since: Optional[datetime.datetime]  # the first unanswered attempt (UTC)
    last_answer: Optional[datetime.datetime]  # the service last answered this process
    forwarding: bool


@dataclasses.dataclass(frozen=True)
class KeptOutcome:
    """How a kept report ended, long after its call raised with queued set."""
    end: str  # "accepted", "declined", "held" or "dropped"
    report: int  # the outbox's number for it, as `lumirex outbox list` shows it
    operation: str  # "VENDA" or "VENDA_CANC"
    branch: str
    till: str
    sequence: str
    order_id: str  # "" when the database had no order for it
    message: str  # the service's message, or why it was held
    repeat: bool  # an earlier attempt may have reached the service


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
    None means $LUMIREX_BASE_DIR, else the current folder (as the lumirex
    command does), never the interpreter's folder.
    db: the point-of-sale database, a connection string ("sqlite3://...",
    "odbc://...") or a SQLite file's path, read by venda and venda_canc.
    outbox: a SQLite file keeping sale reports the service did not get, with
    outbox_limit reports at most. One that cannot be used is no error: its
    reason is in outbox_problem (and goes to on_message), and reports are
    sent without it until it can be used.
    ca_file: a PEM file of the certificates the service's may be signed by.
    decimal_separator: "," or "." (ValueError for any other).
    max_calls: how many calls may run at once from this process's threads
    (ValueError below 1).
    on_message: called with the operator message (str) of each failed call;
    without it nothing is printed, the failure is only raised.
    forwarding: send waiting reports from a thread of the library's own
    (default: $LUMIREX_FORWARDING=1); offline_path: with it, answer at once
    while the service does not (default on).
    on_outbox: called with a KeptOutcome for each kept report that ends, on
    the thread that sent it; what it raises is printed and ignored.
    library: liblumirex's path. Each other None leaves the library's default.
    The library's settings are the process's; each Client's are its own all
    the same: before a call they are put in force, once the calls of a
    Client with other settings have ended (calls of one Client run side by
    side, calls of Clients set differently one Client at a time)."""

    def __init__(self, base_url, base_dir=None, db=None, outbox=None, library=None, *,
                 ca_file=None, decimal_separator=None, outbox_limit=None, max_calls=None,
                 on_message=None, forwarding=None, offline_path=None, on_outbox=None):
        self.base_url = base_url
        self._lib = Library(library)
        if self._lib.LumirexSetHostEncoding(b"UTF-8") != 0:
            raise RuntimeError("this liblumirex has no UTF-8 host mode")
        if decimal_separator is not None and decimal_separator not in (",", "."):
            raise ValueError("decimal_separator must be ',' or '.', not %r" % (decimal_separator,))
        if outbox_limit is not None and outbox_limit < 1:
            raise ValueError("outbox_limit must be 1 or more, not %r" % (outbox_limit,))
        if max_calls is not None and max_calls < 1:
            raise ValueError("max_calls must be 1 or more, not %r" % (max_calls,))
        if base_dir is None:
            base_dir = os.environ.get("LUMIREX_BASE_DIR") or os.getcwd()
        self._settings = _Settings(
            base_dir=os.fsencode(base_dir),
            db=None if db is None else _connection_string(db).encode("utf-8"),
            ca_file=None if ca_file is None else os.fsencode(ca_file),
            decimal_separator=(decimal_separator or _DEFAULT_SEPARATOR).encode(),
            outbox_limit=_DEFAULT_OUTBOX_LIMIT if outbox_limit is None else outbox_limit,
            max_calls=_DEFAULT_MAX_CALLS if max_calls is None else max_calls,
            outbox=None if outbox is None else os.fsencode(outbox),
            handler=_message_handler(on_message),
            forwarding=(os.environ.get("LUMIREX_FORWARDING") == "1" if forwarding is None
                        else bool(forwarding)),
            offline_path=True if offline_path is None else bool(offline_path),
            outbox_handler=_outbox_handler(on_outbox))
        # An outbox that cannot be used now stays named, and reports go out
        # without it until it can: a till must not stop reporting sales over
        # a full disk. The host hears of it through on_message.
        self.outbox_problem = None
        with _in_force(self):
            if outbox is not None and self._lib.LumirexSetOutbox(self._settings.outbox) != 0:
                self.outbox_problem = self._failure().message
                if on_message is not None:
                    on_message(self.outbox_problem)

    def version(self):
        return self._lib.LumirexVersion().decode()

    @property
    def base_dir(self):
        """The base folder in force for this Client's calls."""
        with _in_force(self):
            return os.fsdecode(self._lib.base_dir())

    def consulta(self, cpf) -> Customer:
        result = self._call(["CONSULTA", self.base_url, _cpf(cpf), "", "", ""], 5)
        verdict = Verdict(not result[0], _text(result[1]))
        if not verdict.accepted:
            return Customer("", 0.0, [], verdict)
        try:
            promocodes = read_promocodes(result[4])
            return Customer(_text(result[2]), float(result[3]), promocodes, verdict)
        except (ElementTree.ParseError, ValueError, TypeError) as error:
            # The call ran, but its answer cannot be handed over whole.
            raise CallFailed("LUMIREX_E_ANSWER", ERRORS.index("LUMIREX_E_ANSWER"), 0, True,
                             False, "the customer's promocodes cannot be read: %s" % error)

    def valida_promocode(self, cpf, code, store, subtotal, products: Sequence[str]) -> Verdict:
        return self._verdict(["VALIDA_PROMOCODE", self.base_url, _cpf(cpf), "", "", "", code,
                              store, float(subtotal), products_packet(products)])

    def venda(self, filial, caixa, seq) -> Verdict:
        return self._verdict(["VENDA", self.base_url, "", filial, caixa, seq])

    def venda_canc(self, filial, caixa, seq) -> Verdict:
        return self._verdict(["VENDA_CANC", self.base_url, "", filial, caixa, seq])

    def outbox_send(self, max_reports=0, base_url=None) -> int:
        """Sends up to max_reports waiting reports (all for 0); returns how
        many got a verdict. base_url: where every one goes, as when the
        service moved (default: where each was made).
        CallFailed when the outbox is off or unusable."""
        url = None if base_url is None else base_url.encode("utf-8")
        with _in_force(self):
            sent = self._lib.LumirexOutboxSendTo(url, max_reports)
            if sent < 0:
                raise self._failure()
        return sent

    def outbox_count(self) -> int:
        """How many reports wait; CallFailed when the outbox is off or unreadable."""
        with _in_force(self):
            count = self._lib.LumirexOutboxCount()
        if count < 0:
            raise CallFailed("LUMIREX_E_INPUT", 1, 0, False, False,
                             "the outbox is off or cannot be read")
        return count

    def outbox_send_soon(self) -> bool:
        """Asks the forwarder to send the waiting reports now, without
        waiting; False when forwarding is off or there is no outbox."""
        with _in_force(self):
            return self._lib.LumirexOutboxSendSoon() == 0

    def outbox_status(self) -> Optional[OutboxStatus]:
        """What waits and whether the service answers; None when the outbox
        is off or unreadable. Cheap enough to ask after every call."""
        with _in_force(self):
            state = self._lib.outbox_status()
        if state is None:
            return None
        return OutboxStatus(state.waiting, state.held, state.oldest_age, bool(state.offline),
                            _utc(state.offline_since), _utc(state.last_answer),
                            bool(state.forwarding))

    def set_forwarding(self, on):
        self._change(forwarding=bool(on))

    def set_offline_path(self, on):
        self._change(offline_path=bool(on))

    def set_outbox_handler(self, on_outbox):
        """on_outbox as the constructor takes it; None removes it."""
        self._change(outbox_handler=_outbox_handler(on_outbox))

    def _change(self, **settings):
        # New settings are new in force: put them there now, once this
        # Client's own calls with the old ones have ended.
        self._settings = dataclasses.replace(self._settings, **settings)
        with _in_force(self):
            pass

    def _verdict(self, params):
        result = self._call(params, 2)
        return Verdict(not result[0], _text(result[1]))

    def _call(self, params, size):
        with _in_force(self):
            returned, result = self._lib.call(params, size)
            if not returned:
                raise self._failure()
        return result

    def _failure(self):
        outcome, message = self._lib.last_call()
        number = outcome.error
        code = self._lib.LumirexErrorName(number).decode()
        return CallFailed(code, number, outcome.http_status, bool(outcome.sent),
                          bool(outcome.queued), message.decode("utf-8", errors="replace"))


# The library's defaults, restored for a Client that leaves a setting None.
_DEFAULT_SEPARATOR = ","
_DEFAULT_OUTBOX_LIMIT = 10000
_DEFAULT_MAX_CALLS = 8


@dataclasses.dataclass(frozen=True)
class _Settings:
    base_dir: bytes
    db: Optional[bytes]
    ca_file: Optional[bytes]
    decimal_separator: bytes
    outbox_limit: int
    max_calls: int
    outbox: Optional[bytes]
    handler: MessageHandler
    forwarding: bool
    offline_path: bool
    outbox_handler: Optional[OutboxHandler]


class _SettingsTurn:
    """Whose settings are in force, and how many of its calls run."""

    def __init__(self):
        self.changed = threading.Condition()
        self.owner = None
        self.calls = 0
        self.inside = threading.local()


_turn = _SettingsTurn()


@contextlib.contextmanager
def _in_force(client):
    """Puts client's settings in force for what runs inside, once no call of
    a Client with other settings runs; a message handler called back inside a
    call finds them in force already."""
    settings = client._settings
    if getattr(_turn.inside, "depth", 0) > 0:
        # Called back from inside a call (the message handler): waiting for
        # the call around it would wait for good; the library refuses a
        # nested call itself.
        yield
        return
    with _turn.changed:
        while _turn.calls > 0 and _turn.owner is not settings:
            _turn.changed.wait()
        if _turn.owner is not settings:
            _apply(client._lib, settings)
            _turn.owner = settings
        _turn.calls += 1
    _turn.inside.depth = 1
    try:
        yield
    finally:
        _turn.inside.depth = 0
        with _turn.changed:
            _turn.calls -= 1
            _turn.changed.notify_all()


def _apply(lib, settings):
    lib.LumirexSetBaseDir(settings.base_dir)
    lib.LumirexSetConnectionString(settings.db)
    lib.LumirexSetCaFile(settings.ca_file)
    lib.LumirexSetDecimalSeparator(settings.decimal_separator)
    lib.LumirexSetOutboxLimit(settings.outbox_limit)
    lib.LumirexSetMaxCalls(settings.max_calls)
    # Named all the same when it cannot be used now (see Client.__init__).
    lib.LumirexSetOutbox(settings.outbox)
    lib.LumirexSetMessageHandler(settings.handler, None)
    if settings.outbox_handler is not None and settings.outbox_handler not in _installed:
        _installed.append(settings.outbox_handler)
    lib.LumirexSetOutboxHandler(_NO_OUTBOX_HANDLER if settings.outbox_handler is None
                                else settings.outbox_handler, None)
    lib.LumirexSetOfflinePath(int(settings.offline_path))
    lib.LumirexSetForwarding(int(settings.forwarding))
    if settings.forwarding or settings.outbox_handler is not None:
        _stop_forwarder_at_exit(lib)


def _message_handler(on_message):
    """The handler stays referenced by its Client's settings: the library
    calls it for as long as it is set."""

    def forward(text, _context):
        if on_message is not None:
            on_message(text.decode("utf-8", errors="replace"))

    return MessageHandler(forward)


def _outbox_handler(on_outbox):
    """As the message handler, referenced by its Client's settings. What
    on_outbox raises, ctypes prints and ignores, as it does the message
    handler's: the outcome is recorded in the outbox all the same."""
    if on_outbox is None:
        return None

    def forward(outcome, _context):
        c = outcome.contents
        on_outbox(KeptOutcome(KEPT_ENDS.get(c.end, "end %d" % c.end), c.report,
                              _text(c.operation), _text(c.branch), _text(c.till),
                              _text(c.sequence), _text(c.order_id), _text(c.message),
                              bool(c.repeat)))

    return OutboxHandler(forward)


# Every outbox handler the library was given, alive for good: the forwarder
# may be about to call one when another Client's settings replace it, and
# no call of ours is in flight to tell.
_installed = []

_NO_OUTBOX_HANDLER = OutboxHandler()  # NULL: ctypes takes no None for a callback

_stopper = []  # the Library whose forwarder stops at exit, once registered


def _stop_forwarder_at_exit(lib):
    """The forwarder must not call into an interpreter being torn down:
    before it is, the handler goes and Finalize stops the thread, waiting for
    a resend in flight (ctypes lets go of the interpreter's lock during the
    call, so a handler running then can finish). The library is the
    process's: one Library stops it for every Client."""
    if not _stopper:
        _stopper.append(lib)
        atexit.register(_stop_forwarder, lib)


def _stop_forwarder(lib):
    lib.LumirexSetOutboxHandler(_NO_OUTBOX_HANDLER, None)
    lib.LumirexSetForwarding(0)
    lib.Finalize()


def _utc(seconds):
    return datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc) if seconds else None


def _cpf(cpf):
    """A CPF as the call takes it: text, or an int the variant holds."""
    if isinstance(cpf, (str, bytes)):
        return cpf
    if isinstance(cpf, int) and not isinstance(cpf, bool) and 0 <= cpf <= INT64_MAX:
        return cpf
    raise ValueError("a CPF is text or a non-negative int of at most 64 bits, not %r" % (cpf,))


def _connection_string(db):
    text = os.fspath(db)
    if "://" in text:
        return text
    quoted = text.replace("\\", "\\\\").replace('"', '\\"')
    return 'sqlite3://db="%s" readonly=1' % quoted
