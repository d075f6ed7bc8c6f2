// Runs the grid and flat queries of the C++ benchmarks in DuckDB (on one, then two threads) over
// the tables they dumped, checks DuckDB's rows and total against theirs, times the median of
// several runs and prints the table of ratios. Called by duckdb_compare.sh:
//   node duckdb_compare.mjs SCRATCH DATA_DIR RUNS QUERY_JSON FLAT_JSON FACTS
// Exit 2: the package cannot be loaded (the caller skips); exit 1: the results differ.

import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

const [scratch, dataDir, runsText, queryJson, flatJson, factsText] = process.argv.slice(2);
const threadCounts = [1, 2];
const runs = Math.max(1, Number(runsText) || 7);

let duckdb;
try {
  const require = createRequire(join(resolve(scratch), 'package.json'));
  duckdb = await import(pathToFileURL(require.resolve('@duckdb/node-api')).href);
} catch (e) {
  console.log(`cannot load @duckdb/node-api: ${e.message.split('\n')[0]}`);
  process.exit(2);
}

const quote = (text) => `'${text.replaceAll("'", "''")}'`;
const tables = {
  months: { month_id: 'INTEGER', month: 'VARCHAR', quarter: 'VARCHAR', year: 'VARCHAR' },
  products: {
    item_id: 'INTEGER', item: 'VARCHAR', subcategory_id: 'INTEGER', subcategory: 'VARCHAR',
    category: 'VARCHAR',
  },
  cities: { city_id: 'INTEGER', city: 'VARCHAR', region: 'VARCHAR' },
  facts: { month_id: 'INTEGER', item_id: 'INTEGER', city_id: 'INTEGER', sales: 'DOUBLE' },
};
// The SQL of the SQLite baselines of query_benchmark and flat_benchmark.
const queries = {
  grid: 'SELECT p.subcategory_id, m.month_id, SUM(f.sales) FROM facts f ' +
    'JOIN products p ON p.item_id = f.item_id JOIN months m ON m.month_id = f.month_id ' +
    'GROUP BY p.subcategory_id, m.month_id',
  flat: 'SELECT p.category, m.year, SUM(f.sales) FROM facts f ' +
    'JOIN products p ON p.item_id = f.item_id JOIN months m ON m.month_id = f.month_id ' +
    "JOIN cities c ON c.city_id = f.city_id WHERE c.region = 'R2' GROUP BY p.category, m.year",
  // The ten best subcategories by the last year's sales, their cells by month, best first (the
  // SQLite baseline adds join-order hints that DuckDB does not need).
  top10: 'WITH top AS (SELECT p.subcategory_id s, SUM(f.sales) v FROM facts f ' +
    'JOIN products p ON p.item_id = f.item_id JOIN months m ON m.month_id = f.month_id ' +
    'WHERE m.year = (SELECT MAX(year) FROM months) GROUP BY p.subcategory_id ORDER BY v DESC LIMIT 10) ' +
    'SELECT t.s, f.month_id, SUM(f.sales) FROM facts f JOIN products p ON p.item_id = f.item_id ' +
    'JOIN top t ON t.s = p.subcategory_id GROUP BY t.s, t.v, f.month_id ORDER BY t.v DESC, f.month_id',
};

const instance = await duckdb.DuckDBInstance.create(':memory:');
const connection = await instance.connect();
for (const [name, columns] of Object.entries(tables)) {
  const types = Object.entries(columns).map(([c, t]) => `${quote(c)}: ${quote(t)}`).join(', ');
  await connection.run(`CREATE TABLE ${name} AS SELECT * FROM read_csv(` +
    `${quote(join(dataDir, `${name}.csv`))}, header = true, columns = {${types}})`);
}

// Rows and total of the third column, every row read into JavaScript.
async function run(sql) {
  const reader = await connection.runAndReadAll(sql);
  const rows = reader.getRows();
  let total = 0;
  for (const row of rows) total += Number(row[2]);
  return { rows: rows.length, total };
}

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = sorted.length >> 1;
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
};

// Milliseconds by thread count and query.
const duckMs = {};
for (const threads of threadCounts) {
  await connection.run(`SET threads = ${threads}`);
  duckMs[threads] = {};
  for (const [name, sql] of Object.entries(queries)) {
    const [rowsText, totalText] = readFileSync(join(dataDir, `${name}.expected`), 'utf8').trim().split(/\s+/);
    const theirs = await run(sql);
    const rows = Number(rowsText), total = Number(totalText);
    if (theirs.rows !== rows || Math.abs(theirs.total - total) > 1e-6 * Math.abs(total)) {
      console.error(`${name}: DuckDB returned ${theirs.rows} rows totalling ${theirs.total.toFixed(2)}, ` +
        `ours ${rows} totalling ${total.toFixed(2)}`);
      process.exit(1);
    }
    const times = [];
    for (let i = 0; i < runs; ++i) {
      const start = performance.now();
      await run(sql);
      times.push(performance.now() - start);
    }
    duckMs[threads][name] = median(times);
  }
}
connection.closeSync?.();
instance.closeSync?.();

// The median real time of a Google Benchmark JSON report, in milliseconds.
function benchMs(file, name) {
  const report = JSON.parse(readFileSync(file, 'utf8'));
  const scale = { ns: 1e-6, us: 1e-3, ms: 1, s: 1e3 };
  const pick = (b) => b.real_time * scale[b.time_unit ?? 'ns'];
  const median = report.benchmarks.find((b) => b.run_name === name && b.aggregate_name === 'median');
  if (median) return pick(median);
  const single = report.benchmarks.find((b) => b.run_name === name && b.run_type === 'iteration');
  if (!single) throw new Error(`${name} is not in ${file}`);
  return pick(single);
}

const lines = [
  ['grid: Subcategory x Month sums, cube view query', benchMs(queryJson, 'BM_ViewQuery'), 'grid'],
  ['grid: the same, grid engine alone', benchMs(queryJson, 'BM_GridEngine'), 'grid'],
  ['top 10: TopCount by the last year, sorted', benchMs(queryJson, 'BM_GridTopCountSorted'), 'top10'],
  ['flat: Category, Year, Sales where Region = R2', benchMs(flatJson, 'BM_FlatQuery/repeats:3'), 'flat'],
];
const facts = Number(factsText) || 0;
console.log(`${facts.toLocaleString('en-US')} facts; DuckDB ${duckdb.version?.() ?? ''}, median of ${runs} runs; ` +
  "ours: median of the benchmark's repetitions");
let header = 'query'.padEnd(50) + 'ours ms'.padStart(10);
for (const threads of threadCounts)
  header += `DuckDB ${threads}T ms`.padStart(15) + `ours/DuckDB ${threads}T`.padStart(17);
console.log(header);
for (const [label, ours, query] of lines) {
  let line = label.padEnd(50) + ours.toFixed(1).padStart(10);
  for (const threads of threadCounts) {
    const theirs = duckMs[threads][query];
    line += theirs.toFixed(1).padStart(15) + (ours / theirs).toFixed(2).padStart(17);
  }
  console.log(line);
}

// The goal: the grid query at most a tenth of DuckDB's time with the same thread count, in the
// form bench/ratio_summary.sh gathers.
const sameThreads = { 1: 'BM_GridOneThread', 2: 'BM_GridTwoThreads' };
console.log('');
for (const threads of threadCounts) {
  const ours = benchMs(queryJson, sameThreads[threads]);
  const theirs = duckMs[threads].grid;
  console.log(`grid on ${threads} thread${threads > 1 ? 's' : ''}: ours ${ours.toFixed(1)} ms, DuckDB ${theirs.toFixed(1)} ms`);
  console.log(`ratio ${sameThreads[threads]} / DuckDB_grid_${threads}T = ${(ours / theirs).toFixed(3)} (goal <= 0.10)`);
}
