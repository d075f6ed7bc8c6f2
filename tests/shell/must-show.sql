-- The numbers of must-show.vtq from the CSV files: sqlite3 < tests/shell/must-show.sql (from the
-- source folder). Rows in the script's order; empty fields are empty cells.
.mode csv
.import --csv examples/sales/facts.csv facts
.import --csv examples/sales/products.csv products
.import --csv examples/sales/months.csv months
.headers on
WITH s AS (SELECT p.category c, p.subcategory sc, m.year y, SUM(CAST(f.sales AS REAL)) v
             FROM facts f JOIN products p ON p.item = f.item JOIN months m ON m.month = f.month GROUP BY 1, 2, 3),
     g AS (SELECT c, sc, SUM(CASE WHEN y = '2023' THEN v END) y2023, SUM(CASE WHEN y = '2024' THEN v END) y2024,
                  SUM(CASE WHEN y = '2025' THEN v END) y2025 FROM s GROUP BY c, sc),
     top AS (SELECT *, y2024 / (y2023 + y2024 + y2025) share FROM g ORDER BY y2024 DESC LIMIT 5),
     last AS (SELECT c, MAX(rn) rn FROM (SELECT c, ROW_NUMBER() OVER (ORDER BY y2024 DESC) rn FROM top) GROUP BY c),
     numbered AS (SELECT *, ROW_NUMBER() OVER (ORDER BY y2024 DESC) rn FROM top)
SELECT Product, "2023", "2024", "2024 % of Total", "2025" FROM (
  SELECT rn, 0 k, sc Product, y2023 "2023", y2024 "2024", share "2024 % of Total", y2025 "2025" FROM numbered
  UNION ALL
  SELECT l.rn, 1, t.c || ' Sum', SUM(y2023), SUM(y2024), SUM(y2024) / (SUM(y2023) + SUM(y2024) + SUM(y2025)),
         SUM(y2025)
    FROM top t JOIN last l ON l.c = t.c GROUP BY t.c)
ORDER BY rn, k;
-- Cells above 2000000 among the subcategory rows carry band 1 (Big).
