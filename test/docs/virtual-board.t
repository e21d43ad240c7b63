docs/virtual-board.md, "Injecting a fault, step by step", as a newcomer
types it in a clone after `make run`; /tmp/faulty is $TMPDIR/faulty here.

  $ . "$TESTDIR/clone.sh"
  $ clone=$PWD

1. A station of its own:

  $ rm -rf $TMPDIR/faulty && cp -r station $TMPDIR/faulty && cd $TMPDIR/faulty

2. Only the internal links and the FFT test:

  $ printf '[INTLINKS START]\r\nCHECK=1\r\n[INTLINKS END]\r\n[FFTTIME START]\r\nCHECK=1\r\n[FFTTIME END]\r\n' >check1.cfg

3. The faults, at the end of [board 1]:

  $ echo 'link_fault = P2.3:stuck:5:1' >>virtual-board.ini
  $ echo 'fft_wrong = P5' >>virtual-board.ini

4. The run, with no keyboard:

  $ "$OLDPWD"/build/zorvantik-test </dev/null >console.out; echo "exit status $?"
  exit status 0

5. The verdict, and the protocol log's line per test:

  $ iconv -f cp1251 -t utf-8 protoc1.log | tr -d '\r' | tail -n 1; echo
  ----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 51\x20 (esc)
  $ iconv -f cp1251 -t utf-8 protoc1.log | tr -d '\r' | grep 'ЛИНКОВ ЗАВЕРШЕН'
   TЕСТ ВНУТРЕННИХ ЛИНКОВ ЗАВЕРШЕН C ОШИБКАМИ: 50 ОШИБОК\x20 (esc)
  $ iconv -f cp1251 -t utf-8 protoc1.log | tr -d '\r' | grep -A1 'CPU P5'
  CPU P5: ----- ФУНКЦИОНАЛЬНЫЙ ТЕСТ (КОМПЛЕКСНОЕ БПФ 1K) -----
  ### ОШИБКА ВЫЧИСЛЕНИЯ БПФ.

6. The mismatches in the screen log:

  $ iconv -f cp1251 -t utf-8 screen1.log | tr -d '\r' | grep -A3 'P2 линк 3'
  Пpоцессоp P2 линк 3 <---> Пpоцессоp P4 линк 0: 
  ### ОШИБКА: записано 00000001 != прочитано 00000021
  ### ОШИБКА: записано 00000002 != прочитано 00000022
  ### ОШИБКА: записано 00000004 != прочитано 00000024

7. The result record names the failed steps:

  $ grep -o '"outcome": *"[a-z]*"\|"errorCount": *[0-9]*' result1.json
  "outcome": "failed"
  "errorCount": 51
  $ grep -B1 '<failure' result1.xml | grep -o 'classname="[A-Z]*" name="[^"]*"'
  classname="INTLINKS" name="Internal links"
  classname="FFTTIME" name="FFT P5"

A fatal stop: the library fails to start.

  $ printf '[library]\ninit = fail\n' >virtual-board.ini
  $ "$OLDPWD"/build/zorvantik-test </dev/null | iconv -f cp866 -t utf-8 | grep ОШИБКА; echo "exit status ${PIPESTATUS[0]}"
  ### ОШИБКА: Не могу инициализировать модуль.
  exit status 255

A key the section already sets cannot be appended: a fatal stop.

  $ rm -rf $TMPDIR/twice && cp -r "$clone"/station $TMPDIR/twice && cd $TMPDIR/twice
  $ echo 'cpu_mask = 0x7D' >>virtual-board.ini
  $ "$clone"/build/zorvantik-test </dev/null | iconv -f cp866 -t utf-8 | grep ОШИБКА; echo "exit status ${PIPESTATUS[0]}"
  virtual-board.ini:36: 'cpu_mask' repeats line 24 in [board 1]
  ### ОШИБКА: Не могу открыть модуль.
  exit status 255

Changed where it stands instead, the whole board unpaced:

  $ sed -i 's/^\([a-z_]*_mbps\) = [0-9]*/\1 = 0/' virtual-board.ini
  $ grep -c '_mbps = 0' virtual-board.ini
  6

Which test sees which key: rows of the table, each on an unpaced board
with the key appended and the selection given, told by the record's
counts (errors counted, mismatches shown).

  $ see() {
  >   rm -rf $TMPDIR/see && cp -r $TMPDIR/twice $TMPDIR/see && cd $TMPDIR/see
  >   sed -i '$d' virtual-board.ini && echo "$1" >>virtual-board.ini && shift
  >   : >check1.cfg && for k; do printf '[%s START]\r\nCHECK=1\r\n[%s END]\r\n' $k $k >>check1.cfg; done
  >   "$clone"/build/zorvantik-test </dev/null >/dev/null 2>&1
  >   echo "exit $?, $(jq -r '"errorCount: \(.errorCount) findingCount: \(.findingCount)"' result1.json)"
  > }
  $ see 'ram_stuck_bit = P3:0x80003:0:1' HOST INTLINKS FFTTIME
  exit 0, errorCount: 0 findingCount: 0
  $ see 'ram_stuck_bit = P1:0x80003:0:1'
  exit 0, errorCount: 0 findingCount: [1-9][0-9]* (re)
  $ see 'ram_stuck_bit = P1:0x80000:3:0' HOST
  exit 0, errorCount: 0 findingCount: [1-9][0-9]* (re)
  $ see 'dpram = no' HOST
  exit 0, errorCount: 0 findingCount: [1-9][0-9]* (re)
  $ see 'link_fault = P6.1:dead' INTLINKS
  exit 0, errorCount: 0 findingCount: 0
  $ see 'link_fault = P6.1:dead' EXTLINKS
  exit 0, errorCount: 1 findingCount: 0
  $ see 'dsp_silent = P1:linkrelay:2' EXTLINKS
  exit 0, errorCount: 1 findingCount: 0
  $ see 'interrupts = to_dsp_dead' INTERRUPTS
  exit 0, errorCount: 1 findingCount: 0
  $ see 'interrupts = dead' INTERRUPTS
  exit 0, errorCount: 3 findingCount: 0
  $ see 'fft_cycles = P4:12000' FFTTIME
  exit 0, errorCount: 1 findingCount: 0
  $ see 'sdram_stuck_bit = P6:chip2:0x1234:7:1' CLASTER
  exit 0, errorCount: 0 findingCount: 0
  $ see 'sdram_stuck_bit = P3:chip2:0x1234:7:1' CLASTER
  exit 0, errorCount: [1-9][0-9]* findingCount: 0 (re)
  $ see 'csdram_signal = no'
  exit 0, errorCount: 1 findingCount: 0
  $ see 'id_tag = 0x1234'
  exit 0, errorCount: 1 findingCount: 0
  $ see 'id_prefix_size = 90'
  exit 0, errorCount: 0 findingCount: 0
  $ see 'id_prefix_size = 120'
  exit 0, errorCount: 1 findingCount: 0
  $ see 'stream_capture = refused' HSTREAM
  exit 0, errorCount: 0 findingCount: 0
