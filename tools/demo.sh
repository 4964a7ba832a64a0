#!/usr/bin/env bash
# Builds the library and the example hosts with every fixed endpoint pointing
# at the local service double, starts the double, runs the hosts against it,
# shows what the double received and where the log file was written, and ends
# with one summary line per host. Exits non-zero when a host's session failed.
#   ./tools/demo.sh            Linux build
#   ./tools/demo.sh windows    Windows build, hosts under Wine
# TESSELSDK_DEMO_PORT sets the double's port (default 18490); JOBS the build
# parallelism.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install_deps.sh"

platform=${1:-linux}
jobs=${JOBS:-$(nproc)}
port=${TESSELSDK_DEMO_PORT:-18490}
dir=$root/build/demo-$platform
args=(-S "$root" -B "$dir" -DTESSELSDK_LOCAL_ENDPOINTS=ON -DTESSELSDK_LOCAL_PORT="$port" -DTESSELSDK_BUILD_TESTS=OFF)
run=()
case $platform in
  linux) ;;
  windows)
    args+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake")
    export WINEDEBUG=-all WINEPREFIX=$dir/wineprefix
    run=(/usr/lib/wine/wine64)
    ;;
  *) echo "usage: $0 [linux|windows]" >&2; exit 2 ;;
esac
mkdir -p "$dir"
double=(python3 "$root/tools/service_double.py")

# The double first: a port held by another process stops the demo here.
echo "== starting the service double on 127.0.0.1:$port"
double_log=$dir/service_double.log
if ! "${double[@]}" start --demo --port "$port" --pidfile "$dir/double.pid" --log "$double_log"; then
  echo "demo: the service double cannot listen on 127.0.0.1:$port; free the port or set TESSELSDK_DEMO_PORT" >&2
  exit 1
fi
trap '"${double[@]}" stop --pidfile "$dir/double.pid"' EXIT

echo "== building ($platform) in $dir (full log: $dir/build.log)"
cmake "${args[@]}" > "$dir/configure.log" 2>&1 || { tail -40 "$dir/configure.log"; exit 1; }
# Progress: one line per tenth of the build.
if ! cmake --build "$dir" -j "$jobs" 2>&1 | tee "$dir/build.log" |
     awk 'match($0, /^\[ *[0-9]+%\]/) { p = substr($0, 2, RLENGTH - 3) + 0
            if (p >= next_p) { printf "   %3d%%  %s\n", p, substr($0, RLENGTH + 2); fflush(); next_p = p - p % 10 + 10 } }'
then
  echo "demo: the build failed; the end of $dir/build.log:" >&2
  tail -40 "$dir/build.log" >&2
  exit 1
fi
if [ "$platform" = windows ]; then "${run[@]}" wineboot --init > /dev/null 2>&1 || true; fi

# The demo identity: environment LIVE, a demo member and game, a signed-in user.
export streaming_yn=y ENV=LIVE member_no=demo-member game_id=DEMO guid=demo-guid ref_session_id=demo-session
export OMBREL_ACCESS_TOKEN=demo-access-token-0123456789 OMBREL_LANGUAGE=ko-KR OMBREL_NATION=KR
export XDG_DATA_HOME=$dir/data TESSELSDK_LOCAL_PORT=$port
export TESSELSDK_DEMO_STATS=$dir/webrtc-stats/sequence.jsonl
[ -f "$TESSELSDK_DEMO_STATS" ] || TESSELSDK_DEMO_STATS=

summaries=()
failed=0
for host in c_host cpp_host; do
  exe=$dir/bin/$host
  [ "$platform" = windows ] && exe=$exe.exe
  [ -f "$exe" ] || continue
  echo
  echo "== running $host"
  python3 -c "import urllib.request; urllib.request.urlopen(urllib.request.Request(
    'http://127.0.0.1:$port/__control/reset', data=b''), timeout=10)"
  status=0
  (cd "$dir/bin" && "${run[@]}" "$exe") 2>&1 | tee "$dir/$host.out" || status=$?
  expect=()
  [ "$host" = cpp_host ] && [ -n "$TESSELSDK_DEMO_STATS" ] && expect=(--expect-records)
  if line=$(python3 "$root/tools/demo_summary.py" "$host" "$dir/$host.out" "$status" "$port" "${expect[@]}"); then :
  else failed=1; fi
  summaries+=("$line")
done

echo
echo "== requests received by the service double (time, service, answer status; gzip bodies inflated)"
cat "$double_log"

echo
echo "== log files"
if [ "$platform" = windows ]; then
  find "$WINEPREFIX/drive_c/users" -path "*VIVIDOVURUZ3*" -name "TesselSDK_*.log" 2>/dev/null | sort
else
  find "$XDG_DATA_HOME" -name "TesselSDK_*.log" | sort
fi

echo
echo "== summary"
printf '%s\n' "${summaries[@]}"
exit $failed
