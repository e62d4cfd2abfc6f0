"""A small ctypes wrapper around liblumirex.so.

    import lumirex
    lib = lumirex.Library()                 # $LUMIREX_LIBRARY, else liblumirex.so.0
    returned, result = lib.call(["CONSULTA", url, "12345678909", "", "", ""])

Parameters: str (sent in Windows-1252), bytes (sent as they are), bool, int,
float, datetime.datetime, None (an unassigned element) and lists. Results come
back the same way, with texts as bytes: decode_ansi() for what the library
wrote (the message), decode_service() for what the service sent (names,
promocodes).
"""

import ctypes
import datetime
import os
import xml.etree.ElementTree as ElementTree

EMPTY, NULL, BOOL, INT, DOUBLE, STRING, DATETIME, ARRAY = range(8)
_EPOCH = datetime.datetime(1899, 12, 30)


class Variant(ctypes.Structure):
    pass


class _String(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p), ("size", ctypes.c_size_t)]


class _Array(ctypes.Structure):
    _fields_ = [("items", ctypes.POINTER(Variant)), ("count", ctypes.c_int32)]


class _Value(ctypes.Union):
    _fields_ = [("boolean", ctypes.c_int32), ("integer", ctypes.c_int64),
                ("number", ctypes.c_double), ("string", _String), ("array", _Array)]


Variant._fields_ = [("type", ctypes.c_int32), ("value", _Value)]

_MessageHandler = ctypes.CFUNCTYPE(None, ctypes.c_char_p, ctypes.c_void_p)

# LumirexLastCall's error codes, by number.
ERRORS = ("LUMIREX_OK", "LUMIREX_E_INPUT", "LUMIREX_E_DATABASE", "LUMIREX_E_LOG",
          "LUMIREX_E_CONNECT", "LUMIREX_E_TLS", "LUMIREX_E_TIMEOUT", "LUMIREX_E_TRANSFER",
          "LUMIREX_E_HTTP", "LUMIREX_E_ANSWER", "LUMIREX_E_STATE", "LUMIREX_E_MEMORY")


class CallOutcome(ctypes.Structure):
    _fields_ = [("error", ctypes.c_int32), ("http_status", ctypes.c_int32),
                ("sent", ctypes.c_int32), ("queued", ctypes.c_int32)]


def decode_ansi(data):
    """Text the library wrote, in Windows-1252."""
    return data.decode("cp1252", errors="replace")


def decode_service(data):
    """Text as the service sent it: UTF-8, or else Windows-1252."""
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return decode_ansi(data)


def read_packet(data):
    """A data packet (result element 4 of a customer query) as a list of
    rows, each a dict of column name to text; absent values are missing keys."""
    root = ElementTree.fromstring(decode_service(data))
    return [dict(row.attrib) for row in root.iter("ROW")]


def packet_datetime(text):
    """A packet's dateTime value ("20250305T14:07:09000") as a datetime."""
    return datetime.datetime.strptime(text[:17], "%Y%m%dT%H:%M:%S").replace(
        microsecond=int(text[17:20] or 0) * 1000)


class Library:
    def __init__(self, path=None):
        path = path or os.environ.get("LUMIREX_LIBRARY") or "liblumirex.so.0"
        self._lib = lib = ctypes.CDLL(path)
        lib.IntegracaoLumirex.argtypes = [ctypes.POINTER(Variant), ctypes.c_int32,
                                          ctypes.POINTER(Variant)]
        lib.IntegracaoLumirex.restype = ctypes.c_bool
        lib.LumirexVariantInit.argtypes = [ctypes.POINTER(Variant)]
        lib.LumirexVariantClear.argtypes = [ctypes.POINTER(Variant)]
        lib.LumirexVariantSetString.argtypes = [ctypes.POINTER(Variant), ctypes.c_char_p,
                                                ctypes.c_size_t]
        lib.LumirexVariantSetString.restype = ctypes.c_int
        lib.LumirexArrayCreate.argtypes = [ctypes.POINTER(Variant), ctypes.c_int32]
        lib.LumirexArrayCreate.restype = ctypes.c_int
        lib.LumirexSetBaseDir.argtypes = [ctypes.c_char_p]
        lib.LumirexSetConnectionString.argtypes = [ctypes.c_char_p]
        lib.LumirexSetDecimalSeparator.argtypes = [ctypes.c_char]
        lib.LumirexSetDecimalSeparator.restype = ctypes.c_int
        lib.LumirexSetMessageHandler.argtypes = [_MessageHandler, ctypes.c_void_p]
        lib.LumirexVersion.restype = ctypes.c_char_p
        lib.LumirexLastCall.argtypes = [ctypes.POINTER(CallOutcome), ctypes.c_char_p,
                                        ctypes.c_size_t]
        lib.LumirexLastCall.restype = ctypes.c_int32
        self._handler = None

    def version(self):
        return self._lib.LumirexVersion().decode()

    def set_base_dir(self, path):
        self._lib.LumirexSetBaseDir(None if path is None else os.fsencode(path))

    def set_connection_string(self, connection):
        self._lib.LumirexSetConnectionString(None if connection is None else connection.encode())

    def set_decimal_separator(self, separator):
        """separator: ',' or '.'; anything else raises ValueError and changes nothing."""
        encoded = separator.encode()
        if len(encoded) != 1 or self._lib.LumirexSetDecimalSeparator(encoded) != 0:
            raise ValueError("decimal separator must be ',' or '.', not %r" % separator)

    def set_message_handler(self, handler):
        """handler(text: str) receives the operator message of a failed call."""
        if handler is None:
            self._handler = _MessageHandler()
        else:
            self._handler = _MessageHandler(lambda text, _: handler(decode_ansi(text)))
        self._lib.LumirexSetMessageHandler(self._handler, None)

    def call(self, params, result_size=None):
        """One integration call; returns (the call's Boolean, the result elements).
        The result array has five elements for "CONSULTA", else two, unless
        result_size says otherwise."""
        if result_size is None:
            result_size = 5 if params and params[0] == "CONSULTA" else 2
        items = (Variant * max(len(params), 1))()
        result = Variant()
        try:
            for index, value in enumerate(params):
                self._store(items[index], value)
            self._check(self._lib.LumirexArrayCreate(ctypes.byref(result), result_size))
            returned = self._lib.IntegracaoLumirex(items, len(params) - 1, ctypes.byref(result))
            return returned, self._load(result)
        finally:
            for index in range(len(params)):
                self._lib.LumirexVariantClear(ctypes.byref(items[index]))
            self._lib.LumirexVariantClear(ctypes.byref(result))

    def last_call(self):
        """What became of the last call made on this thread: a dict with the
        error's code (its name) and number, http_status, sent, queued and the
        operator message (empty after a true return)."""
        outcome = CallOutcome()
        message = ctypes.create_string_buffer(4096)
        self._lib.LumirexLastCall(ctypes.byref(outcome), message, len(message))
        return {"code": ERRORS[outcome.error] if 0 <= outcome.error < len(ERRORS) else "unknown",
                "number": outcome.error, "http_status": outcome.http_status,
                "sent": bool(outcome.sent), "queued": bool(outcome.queued),
                "message": decode_ansi(message.value)}

    @staticmethod
    def _check(status):
        if status != 0:
            raise MemoryError("liblumirex could not allocate a variant")

    def _store(self, target, value):
        self._lib.LumirexVariantInit(ctypes.byref(target))
        if value is None:
            return
        if isinstance(value, bool):
            target.type, target.value.boolean = BOOL, int(value)
        elif isinstance(value, int):
            target.type, target.value.integer = INT, value
        elif isinstance(value, float):
            target.type, target.value.number = DOUBLE, value
        elif isinstance(value, datetime.datetime):
            target.type = DATETIME
            target.value.number = (value - _EPOCH) / datetime.timedelta(days=1)
        elif isinstance(value, (str, bytes)):
            data = value.encode("cp1252", errors="replace") if isinstance(value, str) else value
            self._check(self._lib.LumirexVariantSetString(ctypes.byref(target), data, len(data)))
        elif isinstance(value, list):
            self._check(self._lib.LumirexArrayCreate(ctypes.byref(target), len(value)))
            for index, item in enumerate(value):
                self._store(target.value.array.items[index], item)
        else:
            raise TypeError("no variant type for %r" % (value,))

    def _load(self, variant):
        kind = variant.type
        if kind == BOOL:
            return bool(variant.value.boolean)
        if kind == INT:
            return variant.value.integer
        if kind == DOUBLE:
            return variant.value.number
        if kind == DATETIME:
            return _EPOCH + datetime.timedelta(days=variant.value.number)
        if kind == STRING:
            return ctypes.string_at(variant.value.string.data, variant.value.string.size)
        if kind == ARRAY:
            return [self._load(variant.value.array.items[i])
                    for i in range(variant.value.array.count)]
        return None
