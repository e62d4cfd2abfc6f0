"""The package against a sandbox service: run by ctest through
tests/examples/with_sandbox.sh, which sets LUMIREX_URL and LUMIREX_BASE_DIR;
LUMIREX_LIBRARY names the library built and LUMIREX_SQL_DIR the demo SQL."""

import datetime
import os
import pathlib
import sqlite3
import unittest

import lumirex


def demo_database(base_dir):
    sql = pathlib.Path(os.environ["LUMIREX_SQL_DIR"]) / "sqlite"
    path = pathlib.Path(base_dir) / "pos.sqlite"
    with sqlite3.connect(path) as db:
        db.executescript((sql / "pos-schema.sql").read_text("utf-8") +
                         (sql / "pos-demo.sql").read_text("utf-8"))
    return path


class ClientTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        base_dir = os.environ["LUMIREX_BASE_DIR"]
        cls.client = lumirex.Client(os.environ["LUMIREX_URL"], base_dir=base_dir,
                                    db=demo_database(base_dir))

    def test_the_four_operations(self):
        customer = self.client.consulta("12345678909")
        self.assertEqual(customer.name, "João da Silva")
        self.assertTrue(customer.verdict.accepted)
        self.assertEqual(customer.balance, 12.5)
        christmas = {p.code: p for p in customer.promocodes}["NATAL2020"]
        self.assertEqual(christmas, lumirex.Promocode(
            "NATAL2020", "Promoção de Natal", datetime.datetime(2020, 12, 25, 23, 59, 59),
            "discount", 20.0))

        verdict = self.client.valida_promocode("12345678909", "BEMVINDO10", "LOJA-1", 12.34,
                                               ["1001", "1002"])
        self.assertEqual(verdict, lumirex.Verdict(True, "Promocode BEMVINDO10 válido"))

        sale = self.client.venda("0001", "001", "000123")
        self.assertTrue(sale.accepted, sale.message)
        self.assertFalse(self.client.venda("0001", "001", "000123").accepted)  # a repeat
        cancelled = self.client.venda_canc("0001", "001", "000123")
        self.assertTrue(cancelled.accepted, cancelled.message)

    def test_a_failed_call_raises_call_failed_with_its_code(self):
        unreachable = lumirex.Client("http://127.0.0.1:1/")
        with self.assertRaises(lumirex.CallFailed) as raised:
            unreachable.consulta("12345678909")
        failure = raised.exception
        self.assertEqual((failure.code, failure.number, failure.sent, failure.queued),
                         ("LUMIREX_E_CONNECT", 4, False, False))
        self.assertTrue(failure.message)


if __name__ == "__main__":
    unittest.main()
