"""lumirex: the point-of-sale side of the Lumirex loyalty and cashback service,
over liblumirex through ctypes.

    import lumirex
    client = lumirex.Client("https://loyalty.example/api/")
    customer = client.consulta("12345678909")
"""

from ._native import Library
from .client import (CallFailed, Client, Customer, KeptOutcome, OutboxStatus, Promocode, Verdict,
                     products_packet, read_promocodes)

__all__ = ["CallFailed", "Client", "Customer", "KeptOutcome", "Library", "OutboxStatus",
           "Promocode", "Verdict", "products_packet", "read_promocodes"]
