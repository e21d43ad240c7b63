README.md's recipes, as a newcomer types them in a clone; its build/ is
the build under test, so `make run` finds the program built.

  $ . "$TESTDIR/clone.sh"

"make run </dev/null runs it unattended": make's own lines, then the
console of the station's paced board, in code page 866 as piped output is.

  $ make run </dev/null >run.out; echo "exit status $?"
  exit status 0
  $ grep -a -m1 'packages of run' run.out
  packages of run: all installed
  $ grep -a '^cmake\|^rm\|^cp\|^cd' run.out
  cmake --build build -j * --target zorvantik-test qal (glob)
  rm -rf build/station
  cp -r station build/station
  cd build/station && exec ../zorvantik-test\x20 (esc)

"What a run shows", in UTF-8:

  $ iconv -f cp866 -t utf-8 run.out | tr '\r' '\n' | expand | sed 's/ *$//' >run.txt
  $ grep -A2 'Т Е С Т' run.txt
         Т Е С Т   М О Д У Л Я   Модуль ZORVANTIK v.1.0
               Серийный номер - 01042
               Версия ПЛИС HOST - 1.4.2
  $ grep 'Всего процессоров' run.txt
          Всего процессоров = 7, Частота процессоров = 250 MHz
  $ grep -c 'MB/c$' run.txt
  11
  $ grep -c 'линк.*Ошибок нет.' run.txt
  10
  $ grep -c 'Тест выполнен (10432 тактов пpоцессоpа - 41.728000 мкс для 250 МГц).' run.txt
  7
  $ tail -n 1 run.txt; echo
  +++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++

"Logs": board 1's two logs in the station, in Windows-1251 with CR LF
(less shows the whole log; here its last line):

  $ ls build/station/*.log
  build/station/protoc1.log
  build/station/screen1.log
  $ iconv -f cp1251 -t utf-8 build/station/protoc1.log | tr -d '\r' | tail -n 1; echo
  +++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++

"Records": the record beside the logs, named like them, and the boards
that did not pass from a folder of records (none: this one passed).

  $ ls build/station/result1.*
  build/station/result1.html
  build/station/result1.json
  build/station/result1.xml
  $ mkdir records && cp build/station/result1.json records/
  $ jq -r 'select(.outcome != "passed") | "\(.board.serialShown // "?") \(.outcome) \(.errorCount)"' records/*.json
  $ jq -r '"\(.board.serialShown) \(.outcome) \(.errorCount)"' records/*.json
  01042 passed 0
