#!/usr/bin/env python3
"""What a QA engineer writes to put result records into SQLite: each record
read with the json module, the same rows as zorvantik-report --into stores
(runs, steps, measurements, findings, error lines, faults, with the same
indexes) inserted with executemany in one transaction.

    python3 bench/load_sqlite.py FOLDER DATABASE.sqlite

The benchmark (make bench: LoadPythonScript) times it beside --into.
"""
import glob
import hashlib
import json
import os
import sqlite3
import sys
import time

SCHEMA = """
CREATE TABLE runs (seq INTEGER PRIMARY KEY, run_key TEXT NOT NULL UNIQUE, run_id TEXT,
  record_schema BIGINT, origin TEXT, serial_shown TEXT, serial BIGINT, board_number BIGINT,
  host TEXT, program_version TEXT, start_local TEXT, start_day TEXT, end_local TEXT,
  duration_ms BIGINT, outcome TEXT, verdict TEXT, error_count BIGINT, finding_count BIGINT,
  coverage_complete BIGINT, source_file TEXT, loaded_at TEXT);
CREATE INDEX runs_board ON runs (serial_shown, start_local);
CREATE INDEX runs_day ON runs (start_day);
CREATE INDEX runs_host ON runs (host, start_local);
CREATE TABLE steps (run_seq BIGINT, step_no BIGINT, step_key TEXT, processor TEXT, name TEXT,
  status TEXT, reason TEXT, errors BIGINT, finding_count BIGINT, duration_ms BIGINT,
  PRIMARY KEY (run_seq, step_no));
CREATE INDEX steps_status ON steps (status, step_key, processor);
CREATE TABLE measurements (run_seq BIGINT, step_no BIGINT, measurement_no BIGINT, step_key TEXT,
  processor TEXT, name TEXT, value DOUBLE PRECISION, unit TEXT, shown TEXT,
  PRIMARY KEY (run_seq, step_no, measurement_no));
CREATE INDEX measurements_speed ON measurements (step_key, name, processor, value, unit) WHERE unit = 'MB/s';
CREATE TABLE findings (run_seq BIGINT, step_no BIGINT, finding_no BIGINT, test TEXT, place TEXT,
  written TEXT, read_back TEXT, text TEXT, PRIMARY KEY (run_seq, step_no, finding_no));
CREATE TABLE error_lines (run_seq BIGINT, line_no BIGINT, step_no BIGINT, text TEXT,
  PRIMARY KEY (run_seq, line_no));
CREATE TABLE faults (run_seq BIGINT, step_no BIGINT, fault_no BIGINT, kind TEXT, processor TEXT,
  memory TEXT, address BIGINT, written BIGINT, read_back BIGINT, text TEXT,
  PRIMARY KEY (run_seq, step_no, fault_no));
"""


def main():
    folder, database = sys.argv[1], sys.argv[2]
    began = time.monotonic()
    db = sqlite3.connect(database)
    db.executescript(SCHEMA)
    runs, steps, measurements, findings, lines, faults = [], [], [], [], [], []
    files = sorted(glob.glob(os.path.join(folder, "**", "*.json"), recursive=True))
    for seq, name in enumerate(files, 1):
        with open(name, "rb") as f:
            data = f.read()
        r = json.loads(data)
        board = r.get("board") or {}
        key = r.get("runId") or "sha256:" + hashlib.sha256(data).hexdigest()
        start = r.get("start") or ""
        runs.append((seq, key, r.get("runId"), r.get("schema"), r.get("origin"), board.get("serialShown"),
                     board.get("serial"), r.get("boardNumber"), r.get("host"), r.get("program", {}).get("version"),
                     start, start[:10], r.get("end"), r.get("durationMs"), r.get("outcome"), r.get("verdict"),
                     r.get("errorCount"), r.get("findingCount"), (r.get("coverage") or {}).get("complete"),
                     name, time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime())))
        line = 0
        for n, s in enumerate(r.get("steps", [])):
            steps.append((seq, n, s.get("key"), s.get("processor"), s.get("name"), s.get("status"), s.get("reason"),
                          s.get("errors"), len(s.get("findings", [])), s.get("durationMs")))
            for m_no, m in enumerate(s.get("measurements", [])):
                measurements.append((seq, n, m_no, s.get("key"), s.get("processor"), m.get("name"), m.get("value"),
                                     m.get("unit"), m.get("shown")))
            for f_no, f in enumerate(s.get("findings", [])):
                findings.append((seq, n, f_no, f.get("test"), f.get("where"), f.get("written"), f.get("read"),
                                 f.get("text")))
            for f_no, f in enumerate(s.get("faults", [])):
                faults.append((seq, n, f_no, f.get("kind"), f.get("processor"), f.get("memory"), f.get("address"),
                               f.get("written"), f.get("read"), f.get("text")))
            for text in s.get("errorLines", []):
                lines.append((seq, line, n, text))
                line += 1
        for text in r.get("errorLines", []):
            lines.append((seq, line, None, text))
            line += 1
    with db:
        db.executemany("INSERT INTO runs VALUES (" + ",".join("?" * 21) + ")", runs)
        db.executemany("INSERT INTO steps VALUES (" + ",".join("?" * 10) + ")", steps)
        db.executemany("INSERT INTO measurements VALUES (" + ",".join("?" * 9) + ")", measurements)
        db.executemany("INSERT INTO findings VALUES (" + ",".join("?" * 8) + ")", findings)
        db.executemany("INSERT INTO error_lines VALUES (?,?,?,?)", lines)
        db.executemany("INSERT INTO faults VALUES (" + ",".join("?" * 10) + ")", faults)
    db.close()
    print(f"{len(runs)} runs in {time.monotonic() - began:.2f} s")


if __name__ == "__main__":
    main()
