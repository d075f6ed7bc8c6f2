-- The numbers of calculated-measures.vtq from the CSV files: sqlite3 < tests/shell/calculated-measures.sql
-- (from the source folder). Rows in the script's order (Margin descending).
.mode csv
.import --csv examples/sales/facts.csv facts
.import --csv examples/sales/products.csv products
.headers on
SELECT p.category Product, SUM(CAST(f.sales AS REAL)) Sales, SUM(CAST(f.quantity AS REAL)) Quantity,
       SUM(CAST(f.cost AS REAL)) Cost, SUM(CAST(f.sales AS REAL)) - SUM(CAST(f.cost AS REAL)) Margin,
       (SUM(CAST(f.sales AS REAL)) - SUM(CAST(f.cost AS REAL))) / SUM(CAST(f.sales AS REAL)) "Margin %"
  FROM facts f JOIN products p ON p.item = f.item GROUP BY 1 ORDER BY Margin DESC;
