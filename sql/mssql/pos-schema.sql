-- The point-of-sale tables that the sale and cancellation reports read, for
-- a SQL Server test database. Codes are VARCHAR so that the sale identifier
-- (branch + till + entry day + sequence) carries no padding.

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
  DTVENDA         DATETIME       NOT NULL,  -- date and time of the sale
  DTENTRVENDA     DATETIME       NOT NULL,  -- business day the sale entered
  NRCPFLUMIREX    VARCHAR(11)    NULL,      -- customer's CPF for the loyalty service
  CDPROMOLUMIREX  VARCHAR(30)    NULL,      -- promocode used
  VRDESCCASHORVO  DECIMAL(15,2)  NULL,      -- cashback used as a discount
  CONSTRAINT PK_VENDA PRIMARY KEY (CDFILIAL, CDCAIXA, NRSEQVENDA)
);

CREATE TABLE ITEMVENDA (
  CDFILIAL      VARCHAR(4)     NOT NULL,
  CDCAIXA       VARCHAR(3)     NOT NULL,
  NRSEQVENDA    VARCHAR(6)     NOT NULL,
  NRSEQITEM     INT            NOT NULL,
  CDPRODUTO     VARCHAR(14)    NOT NULL,
  QTPRODVEND    DECIMAL(15,3)  NOT NULL,
  VRUNITVEND    DECIMAL(15,3)  NOT NULL,
  VRUNITVENDCL  DECIMAL(15,3)  NULL,      -- complement added to the unit price
  VRDESITVEND   DECIMAL(15,2)  NULL,      -- item discount
  VRACRITVEND   DECIMAL(15,2)  NULL,      -- item surcharge
  VRRATTXSERV   DECIMAL(15,2)  NULL,      -- item's share of the service fee
  CONSTRAINT PK_ITEMVENDA PRIMARY KEY (CDFILIAL, CDCAIXA, NRSEQVENDA, NRSEQITEM),
  CONSTRAINT FK_ITEMVENDA_VENDA FOREIGN KEY (CDFILIAL, CDCAIXA, NRSEQVENDA)
    REFERENCES VENDA (CDFILIAL, CDCAIXA, NRSEQVENDA)
);
