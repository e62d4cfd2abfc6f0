-- The point-of-sale tables that the sale and cancellation reports read, for
-- a PostgreSQL database: the SQL Server tables with PostgreSQL's names for
-- the same types (exact NUMERIC amounts, TIMESTAMP date-times). Codes are
-- VARCHAR so that the sale identifier (branch + till + entry day + sequence)
-- carries no padding. The demo contents of sql/sqlite/pos-demo.sql load as
-- they are.

CREATE TABLE FILIAL (
  CDFILIAL   VARCHAR(4)    NOT NULL PRIMARY KEY,
  NMFILIAL   VARCHAR(60)   NOT NULL
);

CREATE TABLE PRODUTO (
  CDPRODUTO  VARCHAR(14)   NOT NULL PRIMARY KEY,
  CDARVPROD  VARCHAR(10)   NULL,      -- product tree (group) code
  NMPRODUTO  VARCHAR(60)   NOT NULL
);

CREATE TABLE VENDA (
  CDFILIAL        VARCHAR(4)     NOT NULL,
  CDCAIXA         VARCHAR(3)     NOT NULL,
  NRSEQVENDA      VARCHAR(6)     NOT NULL,
  DTVENDA         TIMESTAMP      NOT NULL,  -- date and time of the sale
  DTENTRVENDA     TIMESTAMP      NOT NULL,  -- business day the sale entered
  NRCPFLUMIREX    VARCHAR(11)    NULL,      -- customer's CPF for the loyalty service
  CDPROMOLUMIREX  VARCHAR(30)    NULL,      -- promocode used
  VRDESCCASHORVO  NUMERIC(15,2)  NULL,      -- cashback used as a discount
  CONSTRAINT PK_VENDA PRIMARY KEY (CDFILIAL, CDCAIXA, NRSEQVENDA)
);

CREATE TABLE ITEMVENDA (
  CDFILIAL      VARCHAR(4)     NOT NULL,
  CDCAIXA       VARCHAR(3)     NOT NULL,
  NRSEQVENDA    VARCHAR(6)     NOT NULL,
  NRSEQITEM     INT            NOT NULL,
  CDPRODUTO     VARCHAR(14)    NOT NULL,
  QTPRODVEND    NUMERIC(15,3)  NOT NULL,
  VRUNITVEND    NUMERIC(15,3)  NOT NULL,
  VRUNITVENDCL  NUMERIC(15,3)  NULL,      -- complement added to the unit price
  VRDESITVEND   NUMERIC(15,2)  NULL,      -- item discount
  VRACRITVEND   NUMERIC(15,2)  NULL,      -- item surcharge
  VRRATTXSERV   NUMERIC(15,2)  NULL,      -- item's share of the service fee
  CONSTRAINT PK_ITEMVENDA PRIMARY KEY (CDFILIAL, CDCAIXA, NRSEQVENDA, NRSEQITEM),
  CONSTRAINT FK_ITEMVENDA_VENDA FOREIGN KEY (CDFILIAL, CDCAIXA, NRSEQVENDA)
    REFERENCES VENDA (CDFILIAL, CDCAIXA, NRSEQVENDA)
);
