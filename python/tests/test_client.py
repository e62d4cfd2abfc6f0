"""The package against a sandbox service: run by ctest through
tests/examples/with_sandbox.sh, which sets LUMIREX_URL and LUMIREX_BASE_DIR;
LUMIREX_LIBRARY names the library built and LUMIREX_SQL_DIR the demo SQL."""

import contextlib
import datetime
import http.server
import os
import pathlib
import sqlite3
import tempfile
import threading
import unittest
from unittest import mock

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


# A customer whose promocode description holds a character XML 1.0 cannot carry.
CONTROL_CHARACTER_ANSWER = (
    b"<response><success>true</success><message>ok</message><userInfo><name>Ana</name>"
    b"<balance>100</balance><promocodes><promocode><friendlyCode>A1</friendlyCode>"
    b"<description>bad&#1;text</description><gift><type>discount</type><value>100</value>"
    b"</gift><expiration_date>2030-01-01T00:00:00</expiration_date></promocode></promocodes>"
    b"</userInfo></response>")


@contextlib.contextmanager
def served(body):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "application/xml")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        yield "http://127.0.0.1:%d/" % server.server_address[1]
    finally:
        server.shutdown()
        server.server_close()


@contextlib.contextmanager
def inside(folder):
    before = os.getcwd()
    os.chdir(folder)
    try:
        yield
    finally:
        os.chdir(before)


@contextlib.contextmanager
def standard_error_to(path):
    """Standard error at the descriptor, where the library would write."""
    saved = os.dup(2)
    with open(path, "wb") as target:
        os.dup2(target.fileno(), 2)
    try:
        yield
    finally:
        os.dup2(saved, 2)
        os.close(saved)


class DefaultsAndFailuresTest(unittest.TestCase):
    def test_defaults_and_failures(self):
        with tempfile.TemporaryDirectory() as folder, inside(folder):
            environment = dict(os.environ)
            environment.pop("LUMIREX_BASE_DIR", None)
            with mock.patch.dict(os.environ, environment, clear=True):
                self.assertEqual(lumirex.Client("http://127.0.0.1:1/").base_dir, os.getcwd())
            with mock.patch.dict(os.environ, {"LUMIREX_BASE_DIR": folder + "/env"}):
                self.assertEqual(lumirex.Client("http://127.0.0.1:1/").base_dir, folder + "/env")

            with served(CONTROL_CHARACTER_ANSWER) as url:
                client = lumirex.Client(url, base_dir=folder)
                cases = [  # (what, call, raised, code)
                    ("control character in a promocode", lambda: client.consulta("1"),
                     lumirex.CallFailed, "LUMIREX_E_ANSWER"),
                    ("CPF over 64 bits", lambda: client.consulta(2**64), ValueError, None),
                    ("CPF of a float", lambda: client.consulta(1.5), ValueError, None),
                    ("separator", lambda: lumirex.Client(url, decimal_separator=";"),
                     ValueError, None),
                ]
                for what, call, raised, code in cases:
                    with self.subTest(what), self.assertRaises(raised) as caught:
                        call()
                    if code:
                        self.assertEqual(caught.exception.code, code, what)
            # A failure is raised, and printed nowhere unless the host asks for it.
            messages = []
            with standard_error_to(folder + "/stderr"):
                for handler in (None, messages.append):
                    with self.assertRaises(lumirex.CallFailed):
                        lumirex.Client("http://127.0.0.1:1/", on_message=handler).consulta("1")
            self.assertEqual(pathlib.Path(folder + "/stderr").read_bytes(), b"")
            self.assertEqual(len(messages), 1)

            # An outbox that cannot be used (a folder here) stops no Client: the
            # host hears why, and reports go out without it.
            told = []
            client = lumirex.Client("http://127.0.0.1:1/", outbox=folder, on_message=told.append)
            self.assertIn("not a regular file", client.outbox_problem)
            self.assertEqual(told, [client.outbox_problem])
            client._lib.LumirexSetOutbox(None)


# The demo sale copied to a till no other test sells from.
COPY_SALE_TO_TILL_009 = """
INSERT INTO VENDA SELECT CDFILIAL, '009', NRSEQVENDA, DTVENDA, DTENTRVENDA, NRCPFLUMIREX,
  CDPROMOLUMIREX, VRDESCCASHORVO FROM VENDA WHERE CDCAIXA = '001';
INSERT INTO ITEMVENDA SELECT CDFILIAL, '009', NRSEQVENDA, NRSEQITEM, CDPRODUTO, QTPRODVEND,
  VRUNITVEND, VRUNITVENDCL, VRDESITVEND, VRACRITVEND, VRRATTXSERV FROM ITEMVENDA
  WHERE CDCAIXA = '001';
"""


class OutboxTest(unittest.TestCase):
    def test_a_kept_report_is_counted_then_its_end_reaches_a_handler_that_raises(self):
        with tempfile.TemporaryDirectory() as folder:
            db = demo_database(folder)
            with sqlite3.connect(db) as connection:
                connection.executescript(COPY_SALE_TO_TILL_009)
            without = lumirex.Client("http://127.0.0.1:1/", base_dir=folder)
            self.assertIsNone(without.outbox_status())
            heard = []

            def on_outbox(outcome):
                heard.append(outcome)
                raise RuntimeError("the host's own fault")

            client = lumirex.Client("http://127.0.0.1:1/", base_dir=folder, db=db,
                                    outbox=folder + "/outbox.sqlite", on_outbox=on_outbox)
            with self.assertRaises(lumirex.CallFailed) as raised:
                client.venda("0001", "009", "000123")
            self.assertTrue(raised.exception.queued)
            status = client.outbox_status()
            self.assertEqual((status.waiting, status.held, status.offline, status.forwarding),
                             (1, 0, False, False))

            swallowed = []
            with mock.patch("sys.unraisablehook", swallowed.append):
                self.assertEqual(client.outbox_send(base_url=os.environ["LUMIREX_URL"]), 1)
            self.assertEqual([(o.end, o.operation, o.branch, o.till, o.sequence, o.repeat)
                              for o in heard], [("accepted", "VENDA", "0001", "009", "000123",
                                                 False)])
            self.assertTrue(heard[0].order_id)
            self.assertEqual([type(s.exc_value) for s in swallowed], [RuntimeError])
            self.assertEqual(client.outbox_status().waiting, 0)

            # A setting changed later is in force at once.
            self.assertFalse(client.outbox_send_soon())
            client.set_forwarding(True)
            self.assertTrue(client.outbox_status().forwarding)
            self.assertTrue(client.outbox_send_soon())
            client.set_forwarding(False)
            client._lib.LumirexSetOutbox(None)


class TwoClientsTest(unittest.TestCase):
    def test_each_client_calls_with_its_own_settings(self):
        url = os.environ["LUMIREX_URL"]
        with tempfile.TemporaryDirectory() as first, tempfile.TemporaryDirectory() as second:
            store_a = lumirex.Client(url, base_dir=first, db=demo_database(first))
            store_b = lumirex.Client(url, base_dir=second)
            errors = []

            def sell(client, seq):
                try:
                    for _ in range(5):
                        client.venda("0001", "001", seq)
                except lumirex.CallFailed as failure:
                    errors.append(failure)

            threads = [threading.Thread(target=sell, args=(store_a, "000123")),
                       threading.Thread(target=sell, args=(store_b, "000123"))]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
            # Store B has no point-of-sale database of its own: every one of
            # its sales fails for that, none went out with store A's.
            self.assertEqual(len(errors), 1)
            self.assertEqual(errors[0].code, "LUMIREX_E_DATABASE")
            logs = [list(pathlib.Path(folder).glob("Dados/LogIntegracaoOrvo/*/*.txt"))
                    for folder in (first, second)]
            self.assertEqual([len(found) for found in logs], [1, 1])
            self.assertEqual(store_a.base_dir, first)
            self.assertEqual(store_b.base_dir, second)


if __name__ == "__main__":
    unittest.main()
