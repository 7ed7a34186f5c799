#!/usr/bin/env bash
# One entry point for people and CI, so the README's commands and CI never drift apart.
#   ./velkor.sh run     install dependencies, build, open examples/demo.xml in the window
#                       (headless when there is no display; Ctrl+C stops)
#   ./velkor.sh test    install dependencies, build with sanitizers, run every test
#   ./velkor.sh bench   install dependencies, build optimised, run the benchmarks
#   ./velkor.sh package install dependencies, build optimised, make the .deb in build/package
#   ./velkor.sh fuzz    install dependencies, build the fuzzers with clang, run each 60 s
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(g++ cmake ninja-build ccache pkg-config libgtest-dev libgmock-dev libbenchmark-dev locales
  libmodbus-dev mbpoll socat tshark libpugixml-dev qt6-base-dev qt6-translations-l10n
  fonts-dejavu-core nodejs)
# npm for the OPC client's test peer; a nodejs from elsewhere may bring its own.
command -v npm >/dev/null 2>&1 || PACKAGES+=(npm)
JOBS=$(nproc 2>/dev/null || echo 2)

deps() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  echo "velkor.sh: installing ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# A locale with a decimal comma, so the tests show that numbers ignore the C locale.
comma_locale() {
  locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$' && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "velkor.sh: no de_DE locale; that test skips"
}

build() {  # build DIR [cmake options...]
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$JOBS"
}

build_targets() {  # build_targets DIR "TARGET..." [cmake options...]
  local dir=$1 targets=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja "$@"
  # shellcheck disable=SC2086
  cmake --build "$dir" -j "$JOBS" --target $targets
}

case "${1:-}" in
  run)
    deps
    build build/release -DCMAKE_BUILD_TYPE=Release -DVELKOR_TESTS=OFF
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
      exec ./build/release/src/app/velkor examples/demo.xml
    fi
    echo "velkor.sh: no display (DISPLAY and WAYLAND_DISPLAY unset); serving headless"
    exec ./build/release/src/app/velkor --headless examples/demo.xml
    ;;
  test)
    deps
    comma_locale
    # The OPC client's peer (node-opcua), exactly as pinned in its package-lock.json.
    (cd tests/opc/peer && npm ci --no-audit --no-fund --loglevel=error)
    export VELKOR_OPC_PEER_REQUIRED=1
    build build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKOR_SANITIZE=ON
    ctest --test-dir build/test --output-on-failure -j "$JOBS"
    ;;
  bench)
    PACKAGES+=(lua5.4)  # the interpreter's peer
    deps
    build build/bench -DCMAKE_BUILD_TYPE=Release -DVELKOR_TESTS=OFF -DVELKOR_BENCH=ON
    for b in build/bench/bench/velkor_bench_*; do "$b"; done
    ;;
  package)
    PACKAGES+=(dpkg-dev)  # dpkg-shlibdeps computes the package's Depends
    deps
    build build/package -DCMAKE_BUILD_TYPE=Release -DVELKOR_TESTS=OFF
    (cd build/package && cpack -G DEB)
    ;;
  fuzz)
    PACKAGES+=(clang libclang-rt-14-dev)  # libFuzzer and the sanitizers' runtimes
    deps
    CC=clang CXX=clang++ build_targets build/fuzz \
      "script_fuzz tcp_stream_fuzz rtu_frame_fuzz project_file_fuzz opc_message_fuzz" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKOR_FUZZ=ON -DVELKOR_TESTS=ON
    # Seeds per fuzzer; what a run finds is kept in build/fuzz/corpus for the next one.
    declare -A seeds=(
      [script_fuzz]=tests/script/cases
      [tcp_stream_fuzz]=tests/fuzz/seeds/tcp_stream_fuzz
      [rtu_frame_fuzz]=tests/fuzz/seeds/rtu_frame_fuzz
      [project_file_fuzz]="tests/fuzz/seeds/project_file_fuzz examples"
      [opc_message_fuzz]=tests/fuzz/seeds/opc_message_fuzz
    )
    for f in script_fuzz tcp_stream_fuzz rtu_frame_fuzz project_file_fuzz opc_message_fuzz; do
      exe=$(find build/fuzz -name "$f" -type f -perm -u+x -print -quit)
      mkdir -p "build/fuzz/corpus/$f" build/fuzz/findings
      echo "velkor.sh: fuzzing $f for ${FUZZ_SECONDS:-60} s"
      # A crash, a leak, a sanitizer report or an input slower than 10 s fails the run; the
      # input is left in build/fuzz/findings.
      # shellcheck disable=SC2086
      "$exe" -max_total_time="${FUZZ_SECONDS:-60}" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="build/fuzz/findings/$f-" "build/fuzz/corpus/$f" ${seeds[$f]}
    done
    ;;
  *)
    echo "usage: $0 run|test|bench|package|fuzz" >&2
    exit 2
    ;;
esac
