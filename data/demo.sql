-- Tarnwell's sample database: 好味食品貿易股份有限公司, a small Taiwanese
-- trading company selling local foods to shops and restaurants. Built into
-- demo.db at build time and opened by the DEMO alias.
--
-- Table and column names are ASCII so they are quick to type; the data is
-- Traditional Chinese. The rows are generated, deterministically, from a few
-- lists; the views show Chinese column names.

PRAGMA journal_mode = DELETE;
PRAGMA foreign_keys = ON;
BEGIN;

CREATE TABLE Categories (
    CategoryID   INTEGER PRIMARY KEY,
    CategoryName NVARCHAR(10) NOT NULL,
    Description  TEXT
);

INSERT INTO Categories VALUES
    (1, '茶葉',     '台灣高山茶、烏龍茶與紅茶'),
    (2, '糕餅',     '鳳梨酥、太陽餅等伴手禮糕點'),
    (3, '調味料',   '醬油、麻油、烏醋與各式醬料'),
    (4, '乾貨',     '米粉、香菇、蝦米等南北貨'),
    (5, '飲料',     '罐裝飲料與咖啡豆'),
    (6, '零食',     '花生糖、果乾與肉乾'),
    (7, '冷凍食品', '貢丸、水餃等冷凍調理品'),
    (8, '酒類',     '高粱酒與米酒；需年滿十八歲方可購買');

CREATE TABLE Suppliers (
    SupplierID   INTEGER PRIMARY KEY,
    CompanyName  NVARCHAR(40) NOT NULL,
    ContactName  NVARCHAR(10),
    City         NVARCHAR(10),
    Phone        VARCHAR(20),
    Fax          VARCHAR(20),
    HomePage     VARCHAR(60)
);

INSERT INTO Suppliers (SupplierID, CompanyName, ContactName, City, Phone, Fax, HomePage)
WITH RECURSIVE seq(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM seq WHERE n < 20),
city(i, name, area) AS (VALUES
    (0, '台北市', '02'), (1, '新北市', '02'), (2, '桃園市', '03'), (3, '台中市', '04'),
    (4, '台南市', '06'), (5, '高雄市', '07'), (6, '基隆市', '02'), (7, '新竹市', '03'),
    (8, '嘉義市', '05'), (9, '宜蘭縣', '03'), (10, '花蓮縣', '03'), (11, '屏東縣', '08'))
SELECT n,
       substr('大同永豐全興宏達聯成長春統合正新台亞富盛國聖華南新光遠揚太和中興信義和平光復復興', 1 + 2 * ((n * 7) % 20), 2)
           || substr('食品農產茶業製菓醬園行號', 1 + 2 * (n % 6), 2) || '股份有限公司',
       substr('陳林黃張李王吳劉蔡楊許鄭謝郭洪曾邱廖賴周', 1 + (n * 3) % 20, 1)
           || substr('志明俊傑家豪建宏雅婷淑芬怡君美玲宗翰冠宇', 1 + 2 * (n % 10), 2),
       city.name,
       '(' || city.area || ') ' || printf('%04d-%04d', 2000 + (n * 389) % 7000, (n * 7919) % 10000),
       CASE WHEN n % 3 = 0 THEN NULL
            ELSE '(' || city.area || ') ' || printf('%04d-%04d', 2000 + (n * 397) % 7000, (n * 6007) % 10000) END,
       CASE WHEN n % 4 = 0 THEN 'https://supplier' || n || '.example.com.tw' END
FROM seq JOIN city ON city.i = n % 12
ORDER BY n;

CREATE TABLE Products (
    ProductID       INTEGER PRIMARY KEY,
    ProductCode     CHAR(8) NOT NULL UNIQUE,
    ProductName     NVARCHAR(40) NOT NULL,
    SupplierID      INTEGER REFERENCES Suppliers,
    CategoryID      INTEGER REFERENCES Categories,
    QuantityPerUnit NVARCHAR(20),
    UnitPrice       NUMERIC(10,2) NOT NULL,
    UnitsInStock    SMALLINT,
    UnitsOnOrder    SMALLINT,
    ReorderLevel    SMALLINT,
    Discontinued    BOOLEAN NOT NULL,
    Barcode         BIGINT
);

INSERT INTO Products
WITH RECURSIVE seq(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM seq WHERE n < 119),
item(i, name, category, price, unit) AS (VALUES
    (0, '凍頂烏龍茶', 1, 450, '每罐 150 公克'),   (1, '阿里山高山茶', 1, 880, '每罐 150 公克'),
    (2, '東方美人茶', 1, 1200, '每罐 75 公克'),   (3, '日月潭紅茶', 1, 380, '每盒 20 包'),
    (4, '鳳梨酥', 2, 320, '每盒 12 入'),          (5, '太陽餅', 2, 250, '每盒 10 入'),
    (6, '牛軋糖', 2, 280, '每包 300 公克'),       (7, '綠豆椪', 2, 360, '每盒 6 入'),
    (8, '純釀醬油', 3, 145, '每瓶 500 毫升'),     (9, '黑麻油', 3, 260, '每瓶 300 毫升'),
    (10, '烏醋', 3, 85, '每瓶 600 毫升'),         (11, '沙茶醬', 3, 120, '每罐 250 公克'),
    (12, '新竹米粉', 4, 95, '每包 300 公克'),     (13, '乾香菇', 4, 420, '每包 150 公克'),
    (14, '金鉤蝦米', 4, 380, '每包 100 公克'),    (15, '油蔥酥', 4, 150, '每罐 200 公克'),
    (16, '冬瓜茶', 5, 360, '每箱 24 罐'),         (17, '蘆筍汁', 5, 330, '每箱 24 罐'),
    (18, '古坑咖啡豆', 5, 650, '每包 450 公克'),  (19, '花生糖', 6, 110, '每包 250 公克'),
    (20, '芒果乾', 6, 220, '每包 200 公克'),      (21, '豬肉乾', 6, 280, '每包 180 公克'),
    (22, '新竹貢丸', 7, 180, '每包 600 公克'),    (23, '金門高粱酒', 8, 620, '每瓶 600 毫升'))
SELECT n + 1,
       printf('P%02d-%04d', item.category, n + 1),
       substr('老街福記一品好味山城', 1 + 2 * (n / 24), 2) || item.name,
       1 + (n * 7) % 20,
       item.category,
       item.unit,
       round(item.price * (1 + 0.06 * (n / 24))) + 0.25 * (n % 4),
       (n * 37) % 200,
       CASE WHEN n % 5 = 0 THEN 50 ELSE 0 END,
       10 * (1 + n % 3),
       n % 17 = 0,
       4710000000000 + n * 104729
FROM seq JOIN item ON item.i = n % 24
ORDER BY n;

CREATE TABLE Customers (
    CustomerID   CHAR(5) PRIMARY KEY,
    CompanyName  NVARCHAR(40) NOT NULL,
    ContactName  NVARCHAR(10),
    ContactTitle NVARCHAR(10),
    City         NVARCHAR(10),
    Address      NVARCHAR(60),
    PostalCode   VARCHAR(6),
    Phone        VARCHAR(20),
    Fax          VARCHAR(20),
    TaxID        CHAR(8),
    CreditLimit  MONEY,
    Since        DATE,
    Notes        TEXT
);

INSERT INTO Customers
WITH RECURSIVE seq(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM seq WHERE n < 200),
city(i, name, area, zip) AS (VALUES
    (0, '台北市', '02', '100'), (1, '新北市', '02', '220'), (2, '桃園市', '03', '330'),
    (3, '台中市', '04', '400'), (4, '台南市', '06', '700'), (5, '高雄市', '07', '800'),
    (6, '基隆市', '02', '200'), (7, '新竹市', '03', '300'), (8, '嘉義市', '05', '600'),
    (9, '宜蘭縣', '03', '260'), (10, '花蓮縣', '03', '970'), (11, '屏東縣', '08', '900')),
title(i, name) AS (VALUES
    (0, '老闆'), (1, '採購主任'), (2, '店長'), (3, '總經理'), (4, '會計'), (5, '採購專員'))
SELECT printf('C%04d', n),
       substr('大同永豐全興宏達聯成長春統合正新台亞富盛國聖華南新光遠揚太和中興信義和平光復復興金泰三陽天福萬通東元', 1 + 2 * ((n * 13) % 25), 2)
           || substr('貿易企業實業食品百貨商事餐飲超市', 1 + 2 * (n % 8), 2)
           || CASE n % 3 WHEN 0 THEN '股份有限公司' WHEN 1 THEN '有限公司' ELSE '商行' END,
       substr('陳林黃張李王吳劉蔡楊許鄭謝郭洪曾邱廖賴周葉蘇莊呂江何蕭羅高簡', 1 + (n * 7) % 30, 1)
           || substr('志明俊傑家豪建宏雅婷淑芬怡君美玲宗翰冠宇承恩詩涵欣怡佳穎文雄國華秀英麗華振宇柏翰靜宜', 1 + 2 * ((n * 11) % 21), 2),
       title.name,
       city.name,
       city.name || substr('中山中正民生民權復興忠孝仁愛和平光明建國', 1 + 2 * ((n * 3) % 10), 2) || '路'
           || CASE WHEN n % 4 = 0 THEN (1 + n % 5) || '段' ELSE '' END
           || (1 + (n * 37) % 300) || '號'
           || CASE WHEN n % 6 = 0 THEN (2 + n % 9) || '樓' ELSE '' END,
       city.zip,
       '(' || city.area || ') ' || printf('%04d-%04d', 2000 + (n * 577) % 7000, (n * 4051) % 10000),
       CASE WHEN n % 5 = 0
            THEN '(' || city.area || ') ' || printf('%04d-%04d', 2000 + (n * 587) % 7000, (n * 3037) % 10000) END,
       printf('%08d', 10000000 + (n * 7919 * 13) % 89999999),
       (1 + n % 10) * 50000,
       date('2015-01-01', '+' || ((n * 53) % 2900) || ' days'),
       CASE WHEN n % 9 = 0 THEN '月結 30 天，請於每月 25 日前對帳。'
            WHEN n % 9 = 3 THEN '送貨前請先來電。' || char(10) || '週日公休。'
            WHEN n = 7 THEN '老客戶，逢年過節寄送禮盒𠀋。'
            END
FROM seq JOIN city ON city.i = n % 12 JOIN title ON title.i = n % 6
ORDER BY n;

CREATE TABLE Employees (
    EmployeeID  INTEGER PRIMARY KEY,
    Name        NVARCHAR(10) NOT NULL,
    Title       NVARCHAR(10),
    Extension   VARCHAR(4),
    BirthDate   DATE,
    HireDate    DATE,
    ShiftStart  TIME,
    ReportsTo   INTEGER REFERENCES Employees,
    Salary      NUMERIC(10,0),
    Photo       BLOB,
    Notes       TEXT,
    LastLogin   TIMESTAMP,
    BadgeID     UUID
);

INSERT INTO Employees
WITH RECURSIVE seq(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM seq WHERE n < 30)
SELECT n,
       substr('陳林黃張李王吳劉蔡楊許鄭謝郭洪曾邱廖賴周葉蘇莊呂江何蕭羅高簡', 1 + (n * 11) % 30, 1)
           || substr('志明俊傑家豪建宏雅婷淑芬怡君美玲宗翰冠宇承恩詩涵欣怡佳穎文雄國華秀英麗華振宇柏翰靜宜', 1 + 2 * ((n * 5) % 21), 2),
       CASE WHEN n = 1 THEN '總經理' WHEN n <= 4 THEN '業務經理' WHEN n <= 22 THEN '業務代表'
            WHEN n <= 25 THEN '會計' WHEN n <= 28 THEN '倉管' ELSE '客服專員' END,
       printf('%d', 100 + n),
       date('1965-03-01', '+' || ((n * 617) % 12000) || ' days'),
       date('2008-07-01', '+' || ((n * 211) % 5000) || ' days'),
       CASE n % 4 WHEN 0 THEN '08:00:00' WHEN 1 THEN '08:30:00' WHEN 2 THEN '09:00:00' ELSE '13:30:00' END,
       CASE WHEN n = 1 THEN NULL WHEN n <= 4 THEN 1 WHEN n <= 22 THEN 2 + n % 3 ELSE 1 END,
       CASE WHEN n = 1 THEN 150000 WHEN n <= 4 THEN 85000 ELSE 38000 + (n * 977) % 20000 END,
       CASE WHEN n % 3 = 0 THEN NULL ELSE
       X'89504E470D0A1A0A0000000D49484452000000080000000808020000004B6D29DC000000344944415478DA633871E284828202904C484800920B162C00920F1E3C60000220CBC1C1014836343400C903070E00498641A90300456B7501132DA1D70000000049454E44AE426082'
       END,
       CASE WHEN n = 1 THEN '創辦人，負責公司整體營運。'
            WHEN n <= 4 THEN '負責' || substr('北區中區南區', 1 + 2 * (n - 2), 2) || '業務。'
            WHEN n % 7 = 0 THEN '具食品安全管制系統（HACCP）證照。' END,
       datetime('2024-06-01 08:00:00', '+' || ((n * 104723) % 2592000) || ' seconds'),
       printf('%08x-%04x-4%03x-a%03x-%012x', (n * 2654435761) % 4294967296, (n * 40503) % 65536,
              (n * 977) % 4096, (n * 1231) % 4096, (n * 11400714819323) % 281474976710656)
FROM seq;

CREATE TABLE Orders (
    OrderID      INTEGER PRIMARY KEY,
    CustomerID   CHAR(5) NOT NULL REFERENCES Customers,
    EmployeeID   INTEGER REFERENCES Employees,
    OrderDate    DATE NOT NULL,
    RequiredDate DATE,
    ShippedDate  DATE,
    ShipVia      SMALLINT,
    Freight      MONEY,
    ShipName     NVARCHAR(40),
    ShipCity     NVARCHAR(10),
    CreatedAt    TIMESTAMP,
    TrackingNo   UUID
);

INSERT INTO Orders
WITH RECURSIVE seq(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM seq WHERE n < 2000),
numbered AS (
    SELECT n, printf('C%04d', 1 + (n * 7919) % 200) AS customer,
           date('2023-01-02', '+' || (n * 730 / 2000) || ' days') AS ordered
    FROM seq)
SELECT 10000 + n,
       customer,
       5 + (n * 13) % 18,
       ordered,
       date(ordered, '+14 days'),
       CASE WHEN n > 1950 OR n % 37 = 0 THEN NULL ELSE date(ordered, '+' || (1 + n % 6) || ' days') END,
       1 + n % 3,
       round(((n * 7919) % 50000) / 100.0, 2),
       c.CompanyName,
       c.City,
       ordered || ' ' || printf('%02d:%02d:%02d', 8 + (n * 7) % 10, (n * 13) % 60, (n * 29) % 60),
       printf('%08x-%04x-4%03x-b%03x-%012x', (n * 2246822519) % 4294967296, (n * 48271) % 65536,
              (n * 733) % 4096, (n * 2719) % 4096, (n * 1442695040888963) % 281474976710656)
FROM numbered JOIN Customers c ON c.CustomerID = customer
ORDER BY n;

CREATE TABLE OrderDetails (
    OrderID   INTEGER NOT NULL REFERENCES Orders,
    ProductID INTEGER NOT NULL REFERENCES Products,
    UnitPrice NUMERIC(10,2) NOT NULL,
    Quantity  SMALLINT NOT NULL,
    Discount  REAL NOT NULL,
    PRIMARY KEY (OrderID, ProductID)
);

INSERT INTO OrderDetails
WITH line(k) AS (VALUES (1), (2), (3), (4), (5))
SELECT o.OrderID,
       p.ProductID,
       p.UnitPrice,
       1 + (o.OrderID * line.k * 13) % 60,
       CASE WHEN (o.OrderID + line.k) % 7 = 0 THEN 0.1 WHEN (o.OrderID + line.k) % 11 = 0 THEN 0.05 ELSE 0 END
FROM Orders o
JOIN line ON line.k <= 1 + (o.OrderID * 7) % 5
JOIN Products p ON p.ProductID = 1 + (o.OrderID * 31 + line.k * 17) % 120
ORDER BY o.OrderID, line.k;

-- Forty columns: the monthly report of every sales region and representative.
CREATE TABLE SalesSummary (
    SummaryID        INTEGER PRIMARY KEY,
    SummaryMonth     DATE NOT NULL,
    Region           NVARCHAR(10),
    SalesRep         NVARCHAR(10),
    TeaQty           INTEGER,
    PastryQty        INTEGER,
    SeasoningQty     INTEGER,
    DryGoodsQty      INTEGER,
    BeverageQty      INTEGER,
    SnackQty         INTEGER,
    FrozenQty        INTEGER,
    LiquorQty        INTEGER,
    TeaAmount        NUMERIC(12,2),
    PastryAmount     NUMERIC(12,2),
    SeasoningAmount  NUMERIC(12,2),
    DryGoodsAmount   NUMERIC(12,2),
    BeverageAmount   NUMERIC(12,2),
    SnackAmount      NUMERIC(12,2),
    FrozenAmount     NUMERIC(12,2),
    LiquorAmount     NUMERIC(12,2),
    TotalQty         INTEGER,
    TotalAmount      NUMERIC(14,2),
    DiscountAmount   NUMERIC(12,2),
    Freight          MONEY,
    ReturnQty        SMALLINT,
    ReturnAmount     NUMERIC(12,2),
    NewCustomers     SMALLINT,
    ActiveCustomers  SMALLINT,
    Visits           SMALLINT,
    Calls            SMALLINT,
    Quotes           SMALLINT,
    Wins             SMALLINT,
    Losses           SMALLINT,
    TargetAmount     NUMERIC(14,2),
    Achievement      REAL,
    Bonus            NUMERIC(10,2),
    IsClosed         BOOLEAN,
    ReviewTime       TIME,
    ApprovedAt       TIMESTAMP,
    Remarks          TEXT
);

INSERT INTO SalesSummary
WITH RECURSIVE seq(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM seq WHERE n < 239),
base AS (
    SELECT n,
           date('2023-01-01', '+' || (n / 10) || ' months') AS month,
           substr('北區桃竹苗中區南區東區', CASE (n / 2) % 5 WHEN 0 THEN 1 WHEN 1 THEN 3 WHEN 2 THEN 6 WHEN 3 THEN 8 ELSE 10 END,
                  CASE (n / 2) % 5 WHEN 1 THEN 3 ELSE 2 END) AS region,
           5 + (n * 7) % 18 AS rep,
           (n * 17) % 90 + 10 AS q1, (n * 23) % 150 + 20 AS q2, (n * 29) % 120 + 15 AS q3, (n * 31) % 80 + 5 AS q4,
           (n * 37) % 200 + 30 AS q5, (n * 41) % 160 + 25 AS q6, (n * 43) % 70 + 10 AS q7, (n * 47) % 40 + 2 AS q8
    FROM seq),
amounts AS (
    SELECT base.*, q1 * 512.5 AS a1, q2 * 301.25 AS a2, q3 * 133.75 AS a3, q4 * 262.5 AS a4,
           q5 * 402.0 AS a5, q6 * 203.25 AS a6, q7 * 180.5 AS a7, q8 * 620.0 AS a8
    FROM base)
SELECT n + 1, month, region, e.Name,
       q1, q2, q3, q4, q5, q6, q7, q8,
       a1, a2, a3, a4, a5, a6, a7, a8,
       q1 + q2 + q3 + q4 + q5 + q6 + q7 + q8,
       a1 + a2 + a3 + a4 + a5 + a6 + a7 + a8,
       round((a1 + a2 + a3 + a4 + a5 + a6 + a7 + a8) * 0.03, 2),
       round(((n * 7919) % 900000) / 100.0, 2),
       n % 9,
       round((n % 9) * 287.5, 2),
       n % 6, 20 + (n * 7) % 40, 10 + (n * 11) % 30, 15 + (n * 13) % 50, (n * 3) % 12, (n * 5) % 8, (n * 7) % 5,
       300000 + (n % 5) * 50000,
       round((a1 + a2 + a3 + a4 + a5 + a6 + a7 + a8) / (300000.0 + (n % 5) * 50000), 4),
       CASE WHEN (a1 + a2 + a3 + a4 + a5 + a6 + a7 + a8) > 300000 + (n % 5) * 50000 THEN 5000 + (n % 4) * 1250.5 ELSE 0 END,
       n < 220,
       CASE WHEN n < 220 THEN printf('%02d:%02d:00', 9 + n % 8, (n * 15) % 60) END,
       CASE WHEN n < 220 THEN datetime(month, '+1 month', '+' || (2 + n % 5) || ' days', '+' || (9 + n % 8) || ' hours') END,
       CASE WHEN n % 12 = 0 THEN '颱風影響，東部物流延遲。' WHEN n % 12 = 5 THEN '中秋節禮盒檔期。' END
FROM amounts JOIN Employees e ON e.EmployeeID = rep
ORDER BY n;

CREATE INDEX OrdersByCustomer ON Orders (CustomerID);
CREATE INDEX OrdersByDate ON Orders (OrderDate);
CREATE INDEX ProductsByCategory ON Products (CategoryID);

CREATE VIEW 客戶訂單總覽 AS
SELECT o.OrderID        AS 訂單編號,
       c.CompanyName    AS 客戶名稱,
       e.Name           AS 業務員,
       o.OrderDate      AS 訂購日期,
       o.ShippedDate    AS 出貨日期,
       count(*)         AS 品項數,
       round(sum(d.UnitPrice * d.Quantity * (1 - d.Discount)), 2) AS 金額
FROM Orders o
JOIN Customers c ON c.CustomerID = o.CustomerID
JOIN Employees e ON e.EmployeeID = o.EmployeeID
JOIN OrderDetails d ON d.OrderID = o.OrderID
GROUP BY o.OrderID;

CREATE VIEW 產品目錄 AS
SELECT p.ProductCode  AS 產品代號,
       p.ProductName  AS 品名,
       k.CategoryName AS 類別,
       s.CompanyName  AS 供應商,
       p.QuantityPerUnit AS 包裝,
       p.UnitPrice    AS 單價,
       p.UnitsInStock AS 庫存,
       p.Discontinued AS 停售
FROM Products p
JOIN Categories k ON k.CategoryID = p.CategoryID
JOIN Suppliers s ON s.SupplierID = p.SupplierID;

COMMIT;
ANALYZE;
