docs/record.md's recipes, as a newcomer types them in a clone whose
build/ is the build under test; /tmp is $TMPDIR here. The record's layout
grows, so this reads only fields every layout has.

  $ . "$TESTDIR/clone.sh"
  $ clone=$PWD

The excerpt's board: serial 1077 (changed where the station's file sets
it: a key set twice stops the run) and a stuck bit on P3 link 2, with the
internal links test alone.

  $ rm -rf $TMPDIR/st && cp -r station $TMPDIR/st && cd $TMPDIR/st
  $ sed -i 's/^serial = 1042/serial = 1077/' virtual-board.ini && echo 'link_fault = P3.2:stuck:5:1' >>virtual-board.ini
  $ printf '[INTLINKS START]\r\nCHECK=1\r\n[INTLINKS END]\r\n' >check1.cfg
  $ "$clone"/build/zorvantik-test </dev/null >/dev/null; echo "exit status $?"
  exit status 0
  $ jq -c '{schema, outcome, errorCount, findingCount, serial: .board.serialShown, logs: [.logs.protocol, .logs.screen]}' result1.json
  {"schema":\d+,"outcome":"failed","errorCount":50,"findingCount":0,"serial":"01077","logs":\["protoc1.log","screen1.log"\]} (re)
  $ jq -c '.steps[] | select(.status == "failed") | {key, processor, errors, first: .errorLines[0]}' result1.json
  {"key":"INTLINKS","processor":null,"errors":50,"first":"### ОШИБКА: записано 00000001 != прочитано 00000021"}
  $ jq -r '.start, .end' result1.json
  \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d (re)
  \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d (re)

The boards that did not pass, from a folder of records:

  $ mkdir -p records && cp result1.json records/
  $ jq -r 'select(.outcome != "passed") | "\(.board.serialShown // "?") \(.outcome) \(.errorCount) \(.start)"' records/*.json
  01077 failed 50 \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d (re)

The JUnit report, against test/junit.xsd as CI checks it:

  $ xmllint --noout --schema "$clone"/test/junit.xsd result1.xml
  result1.xml validates
  $ grep -B1 '<failure' result1.xml | grep -o 'classname="[A-Z]*" name="[^"]*"'
  classname="INTLINKS" name="Internal links"

Named like the logs: result1 for boards 0 and 1, resultN for 2 to 8,
result for any other number (every test off keeps these runs short).

  $ for f in check*.cfg; do : >$f; done; rm -f result*
  $ for b in -B0 -B2 -B9; do "$clone"/build/zorvantik-test $b </dev/null >/dev/null; echo "$b: $(ls result* | paste -sd ' ')"; rm -f result*; done
  -B0: result1.html result1.json result1.xml
  -B2: result2.html result2.json result2.xml
  -B9: result.html result.json result.xml
