docs/replay.md, "Step by step on the virtual board", as a newcomer types
it in a clone after `make build`; /tmp/bench and /tmp/desk are in $TMPDIR
here.

  $ . "$TESTDIR/clone.sh"

1. The bench:

  $ clone=$PWD
  $ rm -rf $TMPDIR/bench && cp -r station $TMPDIR/bench && cd $TMPDIR/bench
  $ printf '[INTLINKS START]\r\nCHECK=1\r\n[INTLINKS END]\r\n[FFTTIME START]\r\nCHECK=1\r\n[FFTTIME END]\r\n' >check1.cfg
  $ echo 'link_fault = P2.3:stuck:5:1' >>virtual-board.ini
  $ echo 'fft_wrong = P5' >>virtual-board.ini

2. The recorder in the board library's place:

  $ mkdir recorder && cp "$clone"/build/libqal-record.so recorder/libqal.so
  $ printf '[record]\nadapter = %s\ntrace = run.qtr\n' "$clone"/build/libqal.so >qal-record.ini

3. The run, recorded:

  $ LD_LIBRARY_PATH=$PWD/recorder "$clone"/build/zorvantik-test </dev/null >console.out; echo "exit status $?"
  exit status 0
  $ "$clone"/build/qal-trace run.qtr | head -n 3
  # run.qtr: board trace version 2, 64-bit program, recorded at \d+ ms since 1970, \d+ calls (re)
        1 t0   0.\d{6}   0.\d{6}  QAL_init\(0, 0\) = 0 (re)
        2 t0   0.\d{6}   0.\d{6}  QAL_open\(1, 0, 0\) = 1 (re)

4. The desk:

  $ rm -rf $TMPDIR/desk && cp -r "$clone"/station $TMPDIR/desk && cd $TMPDIR/desk
  $ cp $TMPDIR/bench/check1.cfg $TMPDIR/bench/run.qtr .
  $ printf '[board 1]\nreplay = run.qtr\n' >virtual-board.ini
  $ "$clone"/build/zorvantik-test </dev/null >console.out; echo "exit status $?"
  exit status 0

5. The same run again:

  $ cmp console.out $TMPDIR/bench/console.out && echo "the same console"
  the same console
  $ cmp <(tail -n +4 protoc1.log) <(tail -n +4 $TMPDIR/bench/protoc1.log) && echo "the same protocol log"
  the same protocol log
  $ iconv -f cp1251 -t utf-8 protoc1.log | tr -d '\r' | tail -n 1; echo
  ----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 51\x20 (esc)
