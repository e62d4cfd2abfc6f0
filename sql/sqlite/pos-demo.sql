-- Demo contents of the point-of-sale database: one branch with two tills.
-- Sale 000123 of till 001 exercises what the sale report has to cope with:
-- a product rung up twice at one price (merged), one at two prices (kept
-- apart), a weighed product whose quantities add up to a whole number, a
-- fractional quantity whose line value is cut to the cent, an item whose
-- product is no longer in PRODUTO, null discounts and null cashback.
-- Till 002 has a sale with the same sequence number, rung up after midnight
-- on the previous business day.

INSERT INTO FILIAL (CDFILIAL, NMFILIAL) VALUES
  ('0001', 'Loja Praça da Sé');

INSERT INTO PRODUTO (CDPRODUTO, CDARVPROD, NMPRODUTO) VALUES
  ('1001', '01', 'Pão de queijo'),
  ('1002', '01', 'Café expresso'),
  ('2001', '02', 'Açaí na tigela (kg)'),
  ('3001', '03', 'Água mineral 500ml'),
  ('4001', '04', 'Queijo minas frescal (kg)');

INSERT INTO VENDA (CDFILIAL, CDCAIXA, NRSEQVENDA, DTVENDA, DTENTRVENDA,
                   NRCPFLUMIREX, CDPROMOLUMIREX, VRDESCCASHORVO) VALUES
  ('0001', '001', '000123', '2024-03-05 14:07:09', '2024-03-05 00:00:00',
   '12345678909', 'BEMVINDO10', NULL),
  ('0001', '002', '000123', '2024-03-06 00:12:30', '2024-03-05 00:00:00',
   '98765432100', NULL, 5.00);

INSERT INTO ITEMVENDA (CDFILIAL, CDCAIXA, NRSEQVENDA, NRSEQITEM, CDPRODUTO, QTPRODVEND,
                       VRUNITVEND, VRUNITVENDCL, VRDESITVEND, VRACRITVEND, VRRATTXSERV) VALUES
  ('0001', '001', '000123', 1, '1001', 1,    7.50,  NULL, NULL, NULL, NULL),
  ('0001', '001', '000123', 2, '2001', 1.5,  39.90, NULL, 2.00, NULL, 1.00),
  ('0001', '001', '000123', 3, '1001', 1,    7.50,  NULL, NULL, NULL, NULL),
  ('0001', '001', '000123', 4, '1002', 1,    6.90,  0.60, NULL, NULL, 0.50),
  ('0001', '001', '000123', 5, '1002', 2,    5.90,  NULL, 1.00, NULL, NULL),
  ('0001', '001', '000123', 6, '9001', 1,    3.00,  NULL, NULL, 0.25, NULL),
  ('0001', '001', '000123', 7, '2001', 0.5,  39.90, NULL, NULL, NULL, NULL),
  ('0001', '001', '000123', 8, '4001', 0.75, 52.90, NULL, NULL, NULL, NULL),
  ('0001', '002', '000123', 1, '3001', 3,    2.50,  NULL, NULL, NULL, NULL);
