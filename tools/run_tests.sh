#!/usr/bin/env bash
# Builds and runs every test of both builds:
#   linux    native Linux build
#   windows  MinGW-w64 cross build, test programs run under Wine
#   asan     Linux build under AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan     Linux build under ThreadSanitizer
#   fuzz     libFuzzer targets (clang, ASan+UBSan), each for FUZZ_SECONDS (60)
# Each lane has its own build folder under build/; every test program starts
# a local service double of its own on a free port, so the lanes and their
# tests run side by side. LANES="linux windows" limits the run; JOBS sets the
# build parallelism and how many tests each lane runs at once (TEST_JOBS
# overrides the latter).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install_deps.sh" || exit 1

jobs=${JOBS:-$(nproc)}
lanes=${LANES:-"linux windows asan tsan fuzz"}
fuzz_seconds=${FUZZ_SECONDS:-60}
test_jobs=${TEST_JOBS:-$jobs}
build_root=${BUILD_ROOT:-$root/build}
logs=$build_root/logs
mkdir -p "$logs"

configure() {
  local lane=$1 dir=$build_root/$1
  local common=(-S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSELSDK_LOCAL_ENDPOINTS=ON)
  case $lane in
    # (the linux lane relies on the default: a build with tests uses the double)
    linux)   cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSELSDK_BUILD_BENCH=ON ;;
    windows) cmake "${common[@]}" -DCMAKE_BUILD_TYPE=Release \
               -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" ;;
    asan)    cmake "${common[@]}" -DTESSELSDK_SANITIZE=address,undefined -DTESSELSDK_BUILD_EXAMPLES=OFF ;;
    tsan)    cmake "${common[@]}" -DTESSELSDK_SANITIZE=thread -DTESSELSDK_BUILD_EXAMPLES=OFF ;;
    fuzz)    CC=clang CXX=clang++ cmake "${common[@]}" -DTESSELSDK_BUILD_FUZZ=ON \
               -DTESSELSDK_SANITIZE=address,undefined -DTESSELSDK_BUILD_TESTS=OFF -DTESSELSDK_BUILD_EXAMPLES=OFF \
               -DTESSELSDK_FUZZ_SECONDS="$fuzz_seconds" ;;
    *) echo "unknown lane $lane" >&2; return 1 ;;
  esac
}

failed_lanes=()
for lane in $lanes; do
  echo "== build $lane"
  if ! configure "$lane" > "$logs/$lane-configure.log" 2>&1; then
    tail -30 "$logs/$lane-configure.log"; failed_lanes+=("$lane(configure)"); continue
  fi
  if ! cmake --build "$build_root/$lane" -j "$jobs" > "$logs/$lane-build.log" 2>&1; then
    grep -E "error|Error" "$logs/$lane-build.log" | head -40; failed_lanes+=("$lane(build)"); continue
  fi
done

# The lanes' tests run side by side, and so do each lane's test programs.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
pids=()
run_lanes=()
for lane in $lanes; do
  [ -f "$build_root/$lane/CTestTestfile.cmake" ] || continue
  case " ${failed_lanes[*]-} " in *" $lane("*) continue ;; esac
  echo "== test $lane"
  (cd "$build_root/$lane" && ctest -j "$test_jobs" --output-on-failure --timeout 900 > "$logs/$lane-test.log" 2>&1) &
  pids+=($!)
  run_lanes+=("$lane")
done

passed=0
failed=0
for i in "${!pids[@]}"; do
  lane=${run_lanes[$i]}
  wait "${pids[$i]}"
  rc=$?
  log=$logs/$lane-test.log
  echo
  echo "================ $lane ================"
  if [ $rc -ne 0 ]; then
    cat "$log"
    failed_lanes+=("$lane(tests)")
  else
    grep -E "Test +#|tests passed" "$log"
  fi
  p=$(grep -cE "Test +#[0-9]+: .* Passed" "$log")
  f=$(grep -cE "Test +#[0-9]+: .*(Failed|\*\*\*|Timeout|Exception)" "$log")
  passed=$((passed + p))
  failed=$((failed + f))
done

# Short summaries of the hardening runs.
echo
echo "================ hardening summary ================"
for lane in $lanes; do
  last=$build_root/$lane/Testing/Temporary/LastTest.log
  [ -f "$last" ] || continue
  grep -h "^load: heap" "$last" | sed "s/^/[$lane] /"
  if [ "$lane" = fuzz ]; then
    awk '/^[0-9]+\/[0-9]+ Testing: /{name=$3} /stat::number_of_executed_units/{print "[fuzz] " name ": " $2 " runs"}' "$last"
  fi
done
for lane in $lanes; do
  grep -hE "Test +#[0-9]+: test_[a-z_]*_slow " "$logs/$lane-test.log" 2>/dev/null | sed "s/^ */[$lane] /"
done

echo
if [ ${#failed_lanes[@]} -ne 0 ]; then
  echo "failed lanes: ${failed_lanes[*]}"
  [ $failed -eq 0 ] && failed=1
fi
echo "$passed passed, $failed failed"
[ ${#failed_lanes[@]} -eq 0 ]
