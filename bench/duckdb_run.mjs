// duckdb_run: runs SQL statements on a DuckDB database for bench_run.
//
//   node duckdb_run.mjs --version
//   node duckdb_run.mjs [--time] DATABASE STATEMENT...
//
// Opens DATABASE (created if missing), runs each STATEMENT in turn and prints
// the rows of the last one on standard output, one line a row, columns
// joined by '|' (bench_run's questions return one text column). With --time
// it writes "query_seconds S" to standard error: the time of the last
// statement's call alone, from sending it to its whole result being read
// into DuckDB's chunks, so without opening the database and without
// turning the rows into text and writing them.
//
// --version prints DuckDB's version and exits 0, which bench_run uses to
// tell whether node and the package (npm ci in bench/) are there.
//
// Exit status: 0 done, 1 a statement failed (DuckDB's message on standard
// error), 2 bad arguments.
import { DuckDBInstance, version } from '@duckdb/node-api';

const usage = 'usage: node duckdb_run.mjs --version | [--time] DATABASE STATEMENT...\n';

async function runAll(database, statements, timed) {
  const instance = await DuckDBInstance.create(database);
  const connection = await instance.connect();
  for (const sql of statements.slice(0, -1)) await connection.run(sql);
  const start = process.hrtime.bigint();
  const reader = await connection.runAndReadAll(statements[statements.length - 1]);
  const seconds = Number(process.hrtime.bigint() - start) / 1e9;
  const rows = reader.getRows();
  if (rows.length > 0) process.stdout.write(rows.map((row) => row.join('|')).join('\n') + '\n');
  if (timed) process.stderr.write(`query_seconds ${seconds.toFixed(6)}\n`);
  connection.closeSync();
  instance.closeSync();
}

async function main(args) {
  if (args.length === 1 && args[0] === '--version') {
    process.stdout.write(`${version()}\n`);
    return 0;
  }
  const timed = args[0] === '--time';
  const rest = timed ? args.slice(1) : args;
  if (rest.length < 2) {
    process.stderr.write(usage);
    return 2;
  }
  try {
    await runAll(rest[0], rest.slice(1), timed);
  } catch (error) {
    process.stderr.write(`duckdb_run: ${rest[0]}: ${error.message}\n`);
    return 1;
  }
  return 0;
}

process.exitCode = await main(process.argv.slice(2));
