#!/usr/bin/env bash
# PYTHON=python3 tests/sanitize.sh [pytest arguments...]: the suite against an ASan + UBSan build (g++, so
# that the runtime preloaded is the one it was built against) in its own venv (SANITIZE_VENV or a temporary
# one). Python's allocator is bypassed so that ASan sees every allocation; no leak detection (the interpreter
# keeps objects to the end); libstdc++ is preloaded after the runtime so that it finds the real __cxa_throw.
# Debug information is line tables alone (-g1): reports keep their files and lines, and the build takes
# about half the time of -g.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
tag=$("$PYTHON" -c 'import sys; print("cp%d%d" % sys.version_info[:2])')
venv=${SANITIZE_VENV:-$(mktemp -d)/venv}
[ -n "${SANITIZE_VENV:-}" ] || trap 'rm -rf "$(dirname "$venv")"' EXIT
echo "=== sanitizer build: $("$PYTHON" --version), $(g++ --version | head -n1) ==="
"$PYTHON" -m venv "$venv" && "$venv/bin/python" -m pip install -q --upgrade pip
# The test extras but PySpark (300 MB): the Spark tests skip themselves under the sanitizer.
mapfile -t extras < <("$venv/bin/python" -c 'import tomllib; print("\n".join(r for r in tomllib.load(
  open("pyproject.toml", "rb"))["project"]["optional-dependencies"]["test"] if not r.startswith("pyspark")))')
CXX=g++ "$venv/bin/python" -m pip install -q -Cbuild-dir="build/sanitize-$tag" -Ccmake.define.VELLOMAR_SANITIZE=ON \
  -Ccmake.define.CMAKE_CXX_FLAGS=-g1 . "${extras[@]}"
asan=$(g++ -print-file-name=libasan.so)
[ -e "$asan" ] || { echo "libasan.so not found (install g++'s libasan)" >&2; exit 1; }
PYTHONMALLOC=malloc LD_PRELOAD="$asan $(g++ -print-file-name=libstdc++.so)" \
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 "$venv/bin/python" -m pytest -p no:cacheprovider "$@"
