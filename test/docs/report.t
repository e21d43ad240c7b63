docs/report.md's recipes, as a newcomer types them in a clone whose
build/ is the build under test; zorvantik-report is on the PATH as after
an install, and /tmp and /srv are in $TMPDIR here.

  $ . "$TESTDIR/clone.sh"
  $ PATH=$PWD/build:$PATH

Two boards' records to read: board 01042 healthy, board 01077 with a
stuck link bit (the internal links test alone keeps the runs short).

  $ clone=$PWD
  $ rm -rf $TMPDIR/st && cp -r station $TMPDIR/st && cd $TMPDIR/st
  $ printf '[INTLINKS START]\r\nCHECK=1\r\n[INTLINKS END]\r\n' >check1.cfg
  $ "$clone"/build/zorvantik-test </dev/null >/dev/null && mkdir -p $TMPDIR/srv/records/bench-1 && cp result1.json $TMPDIR/srv/records/bench-1/
  $ sed -i 's/^serial = 1042/serial = 1077/' virtual-board.ini && echo 'link_fault = P2.3:stuck:5:1' >>virtual-board.ini
  $ "$clone"/build/zorvantik-test </dev/null >/dev/null && mkdir -p $TMPDIR/srv/records/bench-2 && cp result1.json $TMPDIR/srv/records/bench-2/
  $ cd "$clone"

"A run's page", made again from a stored record: beside it, or where -o says.

  $ mkdir -p records/01042 && cp $TMPDIR/srv/records/bench-1/result1.json records/01042/
  $ zorvantik-report --page records/01042/result1.json; echo "exit status $?"
  exit status 0
  $ ls records/01042
  result1.html
  result1.json
  $ zorvantik-report --page records/01042/result1.json -o $TMPDIR/board-01042.html && cmp records/01042/result1.html $TMPDIR/board-01042.html && echo "the same page"
  the same page

"The embedded record": taken back out of the page, the record as written.

  $ python3 -c 'import json,sys,html.parser as h
  > class P(h.HTMLParser):
  >     def handle_starttag(s,t,a): s.on = ("id","record") in a
  >     def handle_data(s,d):
  >         if getattr(s,"on",0): print(json.dumps(json.loads(d))); s.on = 0
  > P().feed(open(sys.argv[1],encoding="utf-8").read())' records/01042/result1.html >back.json
  $ python3 -c 'import json,sys; print(json.load(open(sys.argv[1])) == json.load(open(sys.argv[2])))' back.json records/01042/result1.json
  True

"The fleet page": two stations' folders, a page and a CSV.

  $ zorvantik-report -o week49.html --csv week49.csv $TMPDIR/srv/records/bench-1 $TMPDIR/srv/records/bench-2; echo "exit status $?"
  exit status 0
  $ head -n 1 week49.csv
  file,serial,start,outcome,errorCount,findingCount,failedSteps,* (glob)
  $ tail -n +2 week49.csv | cut -d, -f2,4,5,7
  01042,passed,0,
  01077,failed,50,* (glob)
  $ grep -c '<script type="application/json" id="summary">' week49.html
  1

"Files that are not read": each is told on stderr and skipped, and the
status stays 0; with no record read at all it is 1 and nothing is written.

  $ echo '{"name": "a package"}' >$TMPDIR/srv/records/bench-2/package.json
  $ zorvantik-report -o week49.html $TMPDIR/srv/records/bench-1 $TMPDIR/srv/records/bench-2; echo "exit status $?"
  zorvantik-report: skipped */bench-2/package.json: not a result record* (glob)
  exit status 0
  $ mkdir empty && zorvantik-report -o empty.html empty; echo "exit status $?"
  zorvantik-report: no result record found
  exit status 1
  $ ls empty.html
  ls: cannot access 'empty.html': No such file or directory
  [2]
