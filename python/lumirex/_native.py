"""ctypes bindings of liblumirex's C ABI (lumirex.h): the variant, the call,
the settings, the outbox and LumirexLastCall. Texts cross as bytes; the Client above makes
them str."""

import ctypes
import datetime
import os

EMPTY, NULL, BOOL, INT, DOUBLE, STRING, DATETIME, ARRAY = range(8)
EPOCH = datetime.datetime(1899, 12, 30)

# LumirexLastCall's error codes, by number.
ERRORS = ("LUMIREX_OK", "LUMIREX_E_INPUT", "LUMIREX_E_DATABASE", "LUMIREX_E_LOG",
          "LUMIREX_E_CONNECT", "LUMIREX_E_TLS", "LUMIREX_E_TIMEOUT", "LUMIREX_E_TRANSFER",
          "LUMIREX_E_HTTP", "LUMIREX_E_ANSWER", "LUMIREX_E_STATE", "LUMIREX_E_MEMORY",
          "LUMIREX_E_INTERNAL")


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


class CallOutcome(ctypes.Structure):
    _fields_ = [("error", ctypes.c_int32), ("http_status", ctypes.c_int32),
                ("sent", ctypes.c_int32), ("queued", ctypes.c_int32)]


MessageHandler = ctypes.CFUNCTYPE(None, ctypes.c_char_p, ctypes.c_void_p)


class OutboxState(ctypes.Structure):
    """LumirexOutboxState: size is set to this structure's before the call."""
    _fields_ = [("size", ctypes.c_uint32), ("waiting", ctypes.c_int32), ("held", ctypes.c_int32),
                ("offline", ctypes.c_int32), ("oldest_age", ctypes.c_int64),
                ("offline_since", ctypes.c_int64), ("last_answer", ctypes.c_int64),
                ("forwarding", ctypes.c_int32)]


class KeptOutcome(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint32), ("end", ctypes.c_int32), ("report", ctypes.c_int64),
                ("operation", ctypes.c_char_p), ("branch", ctypes.c_char_p),
                ("till", ctypes.c_char_p), ("sequence", ctypes.c_char_p),
                ("order_id", ctypes.c_char_p), ("message", ctypes.c_char_p),
                ("repeat", ctypes.c_int32)]


# LumirexKeptEnd's values, by number.
KEPT_ENDS = {1: "accepted", 2: "declined", 3: "held", 4: "dropped"}

OutboxHandler = ctypes.CFUNCTYPE(None, ctypes.POINTER(KeptOutcome), ctypes.c_void_p)

INT64_MIN, INT64_MAX = -2**63, 2**63 - 1


def _declare(lib):
    pointer = ctypes.POINTER(Variant)
    text = [ctypes.c_char_p]
    for name, argtypes, restype in (
            ("IntegracaoLumirex", [pointer, ctypes.c_int32, pointer], ctypes.c_bool),
            ("LumirexVariantInit", [pointer], None),
            ("LumirexVariantClear", [pointer], None),
            ("LumirexVariantSetString", [pointer, ctypes.c_char_p, ctypes.c_size_t], ctypes.c_int),
            ("LumirexArrayCreate", [pointer, ctypes.c_int32], ctypes.c_int),
            ("LumirexSetMessageHandler", [MessageHandler, ctypes.c_void_p], None),
            ("LumirexSetBaseDir", text, None),
            ("LumirexSetConnectionString", text, None),
            ("LumirexSetCaFile", text, None),
            ("LumirexSetDecimalSeparator", [ctypes.c_char], ctypes.c_int),
            ("LumirexSetHostEncoding", text, ctypes.c_int),
            ("LumirexSetOutbox", text, ctypes.c_int),
            ("LumirexSetOutboxLimit", [ctypes.c_int32], ctypes.c_int),
            ("LumirexSetMaxCalls", [ctypes.c_int], ctypes.c_int),
            ("LumirexOutboxSend", [ctypes.c_int32], ctypes.c_int32),
            ("LumirexOutboxSendTo", [ctypes.c_char_p, ctypes.c_int32], ctypes.c_int32),
            ("LumirexOutboxCount", [], ctypes.c_int32),
            ("LumirexSetForwarding", [ctypes.c_int32], ctypes.c_int),
            ("LumirexSetOfflinePath", [ctypes.c_int32], ctypes.c_int),
            ("LumirexOutboxSendSoon", [], ctypes.c_int),
            ("LumirexOutboxStatus", [ctypes.POINTER(OutboxState)], ctypes.c_int32),
            ("LumirexSetOutboxHandler", [OutboxHandler, ctypes.c_void_p], None),
            ("Finalize", [], None),
            ("LumirexGetBaseDir", [ctypes.c_char_p, ctypes.c_size_t], ctypes.c_size_t),
            ("LumirexVersion", [], ctypes.c_char_p),
            ("LumirexErrorName", [ctypes.c_int32], ctypes.c_char_p),
            ("LumirexLastCall", [ctypes.POINTER(CallOutcome), ctypes.c_char_p, ctypes.c_size_t],
             ctypes.c_int32)):
        function = getattr(lib, name)
        function.argtypes, function.restype = argtypes, restype


class Library:
    """liblumirex loaded from path, else $LUMIREX_LIBRARY, else liblumirex.so.0
    on the loader's path. Its settings are the process's: every Library and
    Client of a process shares them."""

    def __init__(self, path=None):
        self._lib = ctypes.CDLL(path or os.environ.get("LUMIREX_LIBRARY") or "liblumirex.so.0")
        _declare(self._lib)

    def __getattr__(self, name):
        return getattr(self._lib, name)

    def call(self, params, result_size):
        """One integration call on params (str as UTF-8, bytes as they are,
        bool, int, float, datetime, None); returns (the call's Boolean, the
        result elements, texts as bytes)."""
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

    def base_dir(self):
        """The base folder in force, as bytes."""
        size = self._lib.LumirexGetBaseDir(None, 0) + 1
        buffer = ctypes.create_string_buffer(size)
        self._lib.LumirexGetBaseDir(buffer, size)
        return buffer.value

    def last_call(self):
        """(outcome, message bytes) of the last call made on this thread."""
        outcome = CallOutcome()
        message = ctypes.create_string_buffer(4096)
        self._lib.LumirexLastCall(ctypes.byref(outcome), message, len(message))
        return outcome, message.value

    def outbox_status(self):
        """The outbox's OutboxState, or None when the outbox is off or unreadable."""
        state = OutboxState(size=ctypes.sizeof(OutboxState))
        if self._lib.LumirexOutboxStatus(ctypes.byref(state)) != 0:
            return None
        return state

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
            # ctypes would wrap a bigger int silently (2**64 becomes 0).
            if not INT64_MIN <= value <= INT64_MAX:
                raise ValueError("%d does not fit a 64-bit variant" % value)
            target.type, target.value.integer = INT, value
        elif isinstance(value, float):
            target.type, target.value.number = DOUBLE, value
        elif isinstance(value, datetime.datetime):
            target.type = DATETIME
            target.value.number = (value - EPOCH) / datetime.timedelta(days=1)
        elif isinstance(value, (str, bytes)):
            data = value.encode("utf-8") if isinstance(value, str) else value
            self._check(self._lib.LumirexVariantSetString(ctypes.byref(target), data, len(data)))
        else:
            raise TypeError("no variant type for %r" % (value,))

    def _load(self, variant):
        kind = variant.type
        if kind == BOOL:
            return bool(variant.value.boolean)
        if kind == INT:
            return variant.value.integer
        if kind in (DOUBLE, DATETIME):
            return variant.value.number
        if kind == STRING:
            return ctypes.string_at(variant.value.string.data, variant.value.string.size)
        if kind == ARRAY:
            return [self._load(variant.value.array.items[i])
                    for i in range(variant.value.array.count)]
        return None
