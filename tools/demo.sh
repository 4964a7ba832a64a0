#!/usr/bin/env bash
# Builds the library and the example hosts with every fixed endpoint pointing
# at the local service double, starts the double, runs the hosts against it
# and shows where the log file was written.
#   ./tools/demo.sh            Linux build
#   ./tools/demo.sh windows    Windows build, hosts under Wine
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install_deps.sh"

platform=${1:-linux}
jobs=${JOBS:-$(nproc)}
port=18490
dir=$root/build/demo-$platform
args=(-S "$root" -B "$dir" -DTESSELSDK_LOCAL_ENDPOINTS=ON -DTESSELSDK_LOCAL_PORT=$port -DTESSELSDK_BUILD_TESTS=OFF)
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

echo "== building ($platform)"
cmake "${args[@]}" > /dev/null
cmake --build "$dir" -j "$jobs" > "$dir/build.log" 2>&1 || { tail -40 "$dir/build.log"; exit 1; }
[ "$platform" = windows ] && "${run[@]}" wineboot --init > /dev/null 2>&1 || true

echo "== starting the service double on 127.0.0.1:$port"
double_log=$dir/service_double.log
python3 "$root/tools/service_double.py" start --demo --port $port --pidfile "$dir/double.pid" --log "$double_log"
trap 'python3 "$root/tools/service_double.py" stop --pidfile "$dir/double.pid"' EXIT

# The demo identity: environment LIVE, a demo member and game, a signed-in user.
export streaming_yn=y ENV=LIVE member_no=demo-member game_id=DEMO guid=demo-guid ref_session_id=demo-session
export OMBREL_ACCESS_TOKEN=demo-access-token-0123456789 OMBREL_LANGUAGE=ko-KR OMBREL_NATION=KR
export XDG_DATA_HOME=$dir/data
export TESSELSDK_DEMO_STATS=$root/../shared/data/webrtc-stats/sequence.jsonl
[ -f "$TESSELSDK_DEMO_STATS" ] || TESSELSDK_DEMO_STATS=

for host in c_host cpp_host; do
  exe=$dir/bin/$host
  [ "$platform" = windows ] && exe=$exe.exe
  [ -f "$exe" ] || continue
  echo
  echo "== running $host"
  (cd "$dir/bin" && "${run[@]}" "$exe")
done

echo
echo "== requests received by the service double"
cat "$double_log"

echo
echo "== log files"
if [ "$platform" = windows ]; then
  find "$WINEPREFIX/drive_c/users" -path "*VIVIDOVURUZ3*" -name "TesselSDK_*.log" 2>/dev/null | sort
else
  find "$XDG_DATA_HOME" -name "TesselSDK_*.log" | sort
fi
