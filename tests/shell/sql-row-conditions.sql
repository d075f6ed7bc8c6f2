-- The numbers of sql-row-conditions.vtq from the CSV files: sqlite3 < tests/shell/sql-row-conditions.sql
-- (from the source folder). Rows in the script's order.
.mode csv
.import --csv examples/sales/facts.csv facts
.import --csv examples/sales/products.csv products
.import --csv examples/sales/months.csv months
.import --csv examples/sales/cities.csv cities
SELECT p.category, SUM(CAST(f.sales AS REAL)), SUM(CAST(f.quantity AS REAL)) FROM facts f JOIN products p ON p.item = f.item
  JOIN cities c ON c.city = f.city WHERE CAST(f.sales AS REAL) > 5000 OR c.region = 'Pacific' GROUP BY 1;
SELECT m.year, SUM(CAST(f.cost AS REAL)) FROM facts f JOIN products p ON p.item = f.item JOIN months m ON m.month = f.month
  WHERE CAST(f.quantity AS REAL) BETWEEN 2 AND 3 AND p.category <> 'Bikes' GROUP BY 1;
SELECT c.region, SUM(CAST(f.sales AS REAL)) FROM facts f JOIN products p ON p.item = f.item JOIN cities c ON c.city = f.city
  JOIN months m ON m.month = f.month WHERE p.category = 'Clothing' OR m.year = '2023' GROUP BY 1;
