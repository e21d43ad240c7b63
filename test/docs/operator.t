docs/operator.md's recipes, as a newcomer types them in a clone whose
build/ is the build under test; /tmp/station is $TMPDIR/station here.

  $ . "$TESTDIR/clone.sh"

"Getting a station": make install into a PREFIX of one's own, the
installed layout, a copy of the station template and an unattended run.

  $ make install PREFIX=$HOME/zt >install.out; echo "exit status $?"
  exit status 0
  $ cd $HOME/zt && ls -d bin/zorvantik-test lib/libqal.so share/zorvantik-test/station/ share/man/man1/zorvantik-test.1.gz share/doc/zorvantik-test/ && cd "$OLDPWD"
  bin/zorvantik-test
  lib/libqal.so
  share/doc/zorvantik-test/
  share/man/man1/zorvantik-test.1.gz
  share/zorvantik-test/station/
  $ ls $HOME/zt/share/zorvantik-test/station
  check1.cfg
  check2.cfg
  check3.cfg
  check4.cfg
  check5.cfg
  check6.cfg
  check7.cfg
  check8.cfg
  dsp_app
  virtual-board.ini
  $ ls $HOME/zt/share/doc/zorvantik-test | grep -c 'README.md\|CHANGELOG.md\|operator.md\|virtual-board.md\|record.md\|report.md\|replay.md\|bench.md\|development.md'
  9
  $ rm -rf $TMPDIR/station && cp -r $HOME/zt/share/zorvantik-test/station $TMPDIR/station
  $ cd $TMPDIR/station && $HOME/zt/bin/zorvantik-test </dev/null >console.out; echo "exit status $?"
  exit status 0
  $ iconv -f cp866 -t utf-8 console.out | tr '\r' '\n' | tail -n 1; echo
  +++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++

"Logs": read on Linux (here their start and their end).

  $ iconv -f cp1251 -t utf-8 protoc1.log | tr -d '\r' | grep -c '^ *Дата: [0-9][0-9]\.[0-9][0-9]\.[0-9]\{4\}$'
  1
  $ iconv -f cp1251 -t utf-8 screen1.log | tr -d '\r' | tail -n 1; echo
  +++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++
  $ grep -c $'\r$' protoc1.log | grep -vx 0
  [1-9][0-9]* (re)

The log names by board number: 0 and 1 protoc1.log, 2 to 8 protoc<n>.log,
any other number protocol.log (a selection that turns every test off
keeps these runs short).

  $ for f in check*.cfg; do : >$f; done; rm -f *.log
  $ for b in -B0 -B1 -B2 -B8 -B9 -B-1; do $HOME/zt/bin/zorvantik-test $b </dev/null >/dev/null; echo "$b $?: $(ls *.log | paste -sd ' ')"; rm -f *.log; done
  -B0 0: protoc1.log screen1.log
  -B1 0: protoc1.log screen1.log
  -B2 0: protoc2.log screen2.log
  -B8 0: protoc8.log screen8.log
  -B9 0: protocol.log screen.log
  -B-1 0: protocol.log screen.log

"Test selection": without the selection file every question warns,
counts one error and skips its test.

  $ rm check1.cfg
  $ $HOME/zt/bin/zorvantik-test </dev/null | iconv -f cp866 -t utf-8 | grep -c "### ПРЕДУПРЕЖДЕНИЕ: Не могу открыть файл 'check1.cfg'"
  14
  $ grep -o '"errorCount": *[0-9]*' result1.json
  "errorCount": 14

"Options and exit status":

  $ $HOME/zt/bin/zorvantik-test --version; echo "exit status $?"
  zorvantik-test \d+\.\d+\.\d+ (re)
  exit status 0
  $ $HOME/zt/bin/zorvantik-test --help | iconv -f cp866 -t utf-8 | head -n 1
  Использование: zorvantik-test [-B<n>] [-C] [-V]
  $ rm -f *.log; $HOME/zt/bin/zorvantik-test -V --help 2>&1 >/dev/null | wc -c; ls *.log 2>/dev/null | wc -l
  0
  0
  $ printf '[library]\ninit = fail\n' >virtual-board.ini
  $ $HOME/zt/bin/zorvantik-test </dev/null >/dev/null; echo "exit status $?"
  exit status 255
