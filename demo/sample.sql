-- A small shop database for the demo: customers, products, orders and an
-- empty table of returns. Some texts hold quotes, commas, semicolons, pipes
-- and line breaks; a few values are NULL.
SET NAMES utf8mb4;

DROP DATABASE IF EXISTS demo_shop;
CREATE DATABASE demo_shop CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
USE demo_shop;

CREATE TABLE customers (
  id      INT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
  name    VARCHAR(100) NOT NULL,
  city    VARCHAR(60)  NOT NULL,
  email   VARCHAR(120) NULL,
  since   DATE         NOT NULL,
  note    TEXT         NULL
) ENGINE=InnoDB;

CREATE TABLE products (
  id          INT UNSIGNED  NOT NULL AUTO_INCREMENT PRIMARY KEY,
  name        VARCHAR(120)  NOT NULL,
  price       DECIMAL(10,2) NOT NULL,
  in_stock    INT           NOT NULL DEFAULT 0,
  description TEXT          NULL
) ENGINE=InnoDB;

CREATE TABLE orders (
  id          INT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
  customer_id INT UNSIGNED NOT NULL,
  product_id  INT UNSIGNED NOT NULL,
  quantity    SMALLINT     NOT NULL,
  ordered_at  DATETIME     NOT NULL,
  comment     VARCHAR(255) NULL,
  CONSTRAINT fk_orders_customer FOREIGN KEY (customer_id) REFERENCES customers (id),
  CONSTRAINT fk_orders_product  FOREIGN KEY (product_id)  REFERENCES products (id)
) ENGINE=InnoDB;

CREATE TABLE returns (
  id          INT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
  order_id    INT UNSIGNED NOT NULL,
  returned_at DATETIME     NOT NULL,
  reason      VARCHAR(255) NULL,
  CONSTRAINT fk_returns_order FOREIGN KEY (order_id) REFERENCES orders (id)
) ENGINE=InnoDB;

INSERT INTO customers (id, name, city, email, since, note) VALUES
  (1,  'Anna Müller',        'München',   'anna.mueller@example.org', '2019-03-14', NULL),
  (2,  'José García',        'Sevilla',   'jose@example.es',          '2020-07-01', 'Prefers delivery after 6 pm'),
  (3,  'Søren Kjærgaard',    'Århus',     NULL,                       '2021-01-22', 'No e-mail; call "before noon"'),
  (4,  'O''Brien, Patrick',  'Dublin',    'pat@example.ie',           '2018-11-05', 'Surname has an apostrophe, name has a comma'),
  (5,  'Zoë Lefèvre',        'Besançon',  'zoe@example.fr',           '2022-05-30', 'Line one\nLine two'),
  (6,  'Łukasz Wiśniewski',  'Łódź',      'lukasz@example.pl',        '2017-09-09', NULL),
  (7,  'Ингрид Петрова',     'Москва',    'ingrid@example.ru',        '2023-02-17', 'Cyrillic name'),
  (8,  '山田 太郎',           '東京',       'taro@example.jp',          '2020-12-24', 'Japanese name; semicolon; and | a pipe'),
  (9,  'Ömer Yıldız',        'İzmir',     'omer@example.com.tr',      '2021-08-08', 'Quote: "fast" shipping'),
  (10, 'Björk Guðmundsdóttir','Reykjavík', NULL,                      '2024-04-01', NULL);

INSERT INTO products (id, name, price, in_stock, description) VALUES
  (1,  'Kaffeebecher „Groß“',      7.95,   120, 'Stoneware mug, 0,4 l'),
  (2,  'Crème brûlée torch',       24.50,  15,  'Butane torch for the kitchen'),
  (3,  'Smørrebrød board',         19.00,  40,  NULL),
  (4,  'Paella pan Ø 34 cm',       32.99,  8,   'Carbon steel, "polished"'),
  (5,  'Tea set, 6 pieces',        45.00,  5,   'Cups, saucers,\nteapot and tray'),
  (6,  'Espresso beans 1 kg',      16.40,  200, 'Arabica; medium roast'),
  (7,  'Chef''s knife 20 cm',      89.90,  12,  'The apostrophe is part of the name'),
  (8,  '€-coin purse',             9.99,   60,  'Leather | brown'),
  (9,  'Ramen bowl 丼',             12.25,  33,  'Porcelain'),
  (10, 'Gift card',                0.00,   0,   'Price set at the till');

INSERT INTO orders (id, customer_id, product_id, quantity, ordered_at, comment) VALUES
  (1,  1,  1,  2, '2024-01-05 09:15:00', NULL),
  (2,  1,  6,  1, '2024-01-05 09:16:30', 'Same parcel as order 1'),
  (3,  2,  4,  1, '2024-01-12 18:40:00', 'Gift wrap, please'),
  (4,  3,  3,  3, '2024-02-01 11:00:00', NULL),
  (5,  4,  7,  1, '2024-02-14 20:05:59', 'Ring the bell twice; leave at door'),
  (6,  5,  2,  1, '2024-03-03 07:30:00', 'Deliver to:\n12 Rue Victor Hugo'),
  (7,  5,  5,  1, '2024-03-03 07:31:00', NULL),
  (8,  6,  6,  4, '2024-03-20 13:45:10', 'Wants "extra dark" roast'),
  (9,  7,  9,  2, '2024-04-11 16:20:00', 'Оплата при получении'),
  (10, 8,  9,  6, '2024-04-30 23:59:59', '急ぎ'),
  (11, 8,  1,  1, '2024-05-01 00:00:00', NULL),
  (12, 9,  8,  2, '2024-05-15 10:10:10', 'Two colours, if possible'),
  (13, 10, 10, 1, '2024-06-01 12:00:00', 'Value: 50,00 €'),
  (14, 2,  6,  2, '2024-06-18 08:05:00', NULL),
  (15, 4,  1,  12, '2024-07-04 17:00:00', 'Office order | invoice to company'),
  (16, 3,  5,  1, '2024-07-22 19:25:00', 'Replaces broken set');
