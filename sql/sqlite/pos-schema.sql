-- The point-of-sale tables that the sale and cancellation reports read.
-- Codes are text (leading zeros matter), amounts and quantities numeric,
-- date-times text in the form 'yyyy-mm-dd hh:mm:ss' declared DATETIME so
-- that the database drivers hand them back as date-times. Texts are UTF-8.
-- Branches and products carry no foreign key from the sales on purpose: a
-- till keeps the sales it rang up even when the catalogue moves on.

CREATE TABLE FILIAL (
  CDFILIAL   TEXT    NOT NULL PRIMARY KEY,
  NMFILIAL   TEXT    NOT NULL
);

CREATE TABLE PRODUTO (
  CDPRODUTO  TEXT    NOT NULL PRIMARY KEY,
  CDARVPROD  TEXT,             -- product tree (group) code
  NMPRODUTO  TEXT    NOT NULL
);

CREATE TABLE VENDA (
  CDFILIAL        TEXT          NOT NULL,
  CDCAIXA         TEXT          NOT NULL,
  NRSEQVENDA      TEXT          NOT NULL,
  DTVENDA         DATETIME      NOT NULL,  -- date and time of the sale
  DTENTRVENDA     DATETIME      NOT NULL,  -- business day the sale entered
  NRCPFLUMIREX    TEXT,                    -- customer's CPF for the loyalty service
  CDPROMOLUMIREX  TEXT,                    -- promocode used
  VRDESCCASHORVO  NUMERIC(15,2),           -- cashback used as a discount
  PRIMARY KEY (CDFILIAL, CDCAIXA, NRSEQVENDA)
);

CREATE TABLE ITEMVENDA (
  CDFILIAL      TEXT           NOT NULL,
  CDCAIXA       TEXT           NOT NULL,
  NRSEQVENDA    TEXT           NOT NULL,
  NRSEQITEM     INTEGER        NOT NULL,
  CDPRODUTO     TEXT           NOT NULL,
  QTPRODVEND    NUMERIC(15,3)  NOT NULL,
  VRUNITVEND    NUMERIC(15,3)  NOT NULL,
  VRUNITVENDCL  NUMERIC(15,3),           -- complement added to the unit price
  VRDESITVEND   NUMERIC(15,2),           -- item discount
  VRACRITVEND   NUMERIC(15,2),           -- item surcharge
  VRRATTXSERV   NUMERIC(15,2),           -- item's share of the service fee
  PRIMARY KEY (CDFILIAL, CDCAIXA, NRSEQVENDA, NRSEQITEM),
  FOREIGN KEY (CDFILIAL, CDCAIXA, NRSEQVENDA) REFERENCES VENDA (CDFILIAL, CDCAIXA, NRSEQVENDA)
);
