docs/bench.md's CMake recipe, its configure step, against a stand-in
adapter: the virtual board's library under an adapter's name. Building
the program against it, installing and running it take minutes, so CI's
.ci/bench-adapter, .ci/wine-run and .ci/windows-zip-check run those
recipes instead. /path/to is $TMPDIR here.

  $ . "$TESTDIR/clone.sh"
  $ mkdir $TMPDIR/adapter && cp build/libqal.so $TMPDIR/adapter/libqal-adapter.so

A build directory that built the virtual board before keeps its library
no longer: configured against an adapter, it drops it, so that nothing
there passes for the adapter (make windows QAL_LIBRARY=... does the same
with qal.dll).

  $ mkdir build-bench && cp build/libqal.so build-bench/
  $ cmake -S . -B build-bench -DZT_BUILD_SIM=OFF -DZT_QAL_LIBRARY=$TMPDIR/adapter/libqal-adapter.so >configure.out; echo "exit status $?"
  exit status 0
  $ grep 'Board-access library\|Removing' configure.out
  -- Board-access library: */adapter/libqal-adapter.so, installed as lib/libqal.so (glob)
  -- Removing the virtual board's libqal.so from the build directory
  $ test -e build-bench/libqal.so || echo "no libqal.so in build-bench"
  no libqal.so in build-bench
