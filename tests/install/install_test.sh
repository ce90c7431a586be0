#!/bin/sh
# Installs the build into a fresh prefix and uses it as a host developer would, with an empty
# home folder and no registry of the user's own: the README's C++ example built with
# find_package and with pkg-config, the C example, and the Python example, each on the demo.
# Arguments: BUILD_DIR SOURCE_DIR PYTHON [SANITIZER_FLAGS]
set -eu
build=$1 source=$2 python=$3 sanitize=${4:-}
work=$(mktemp -d /tmp/ovt-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/p
fail() { echo "FAIL: $*" >&2; exit 1; }

# The README shows the examples exactly as they are built here.
"$python" - "$source" <<'PY' || fail "README"
import pathlib, sys
root = pathlib.Path(sys.argv[1])
readme = (root / "README.md").read_text()
for f in ["examples/use-from-cpp/CMakeLists.txt", "examples/use-from-cpp/main.cpp", "examples/use-from-c/main.c",
          "examples/use-from-python/conflicts.py"]:
    shown = "".join(("    " + l) if l.strip() else "\n" for l in (root / f).read_text().splitlines(True))
    if shown not in readme:
        sys.exit(f"README.md does not show {f} as it is")
PY

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "install"; }
for f in lib/libovdb.so.2 lib/libOVTblDiffData.so.2 include/ovtbldiff/ovtbldiff.h include/ovtbldiff/host.h \
         bin/ovtbldiff lib/cmake/OVTblDiffData/OVTblDiffDataConfig.cmake lib/pkgconfig/ovtbldiff.pc \
         lib/python3/dist-packages/ovtbldiff/__init__.py etc/ovtbldiff/registry.ini; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done
[ "$(objdump -p "$prefix/lib/libOVTblDiffData.so.2" | awk '/SONAME/ {print $2}')" = libOVTblDiffData.so.2 ] \
  || fail "SONAME of libOVTblDiffData"
grep -q "InprocServer32=$prefix/lib/libOVTblDiffData.so.2.0" "$prefix/etc/ovtbldiff/registry.ini" \
  || fail "the installed registry does not name the installed library"

mkdir "$work/home"
export HOME="$work/home"
unset XDG_CONFIG_HOME OVT_REGISTRY OVT_SYSTEM_REGISTRY OVT_CONFIG OVT_LANGUAGE OVTBLDIFF_LIBRARY 2>/dev/null || true
"$prefix/bin/ovtbldiff" demo "$work/demo" >/dev/null
e1=$work/demo/entry1.db e2=$work/demo/entry2.db

expected_cpp='matched: 7
conflict: HouseNo 103
conflict: HouseNo 105
conflict: HouseNo 107'
check() {  # NAME EXPECTED COMMAND...
  name=$1 expected=$2
  shift 2
  out=$("$@" 2>&1) || fail "$name exited with $?: $out"
  [ "$out" = "$expected" ] || fail "$name printed:
$out
expected:
$expected"
  echo "ok: $name"
}

# C++ with find_package.
cmake -S "$source/examples/use-from-cpp" -B "$work/cpp" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="$sanitize" >"$work/cpp.log" 2>&1 && cmake --build "$work/cpp" >>"$work/cpp.log" 2>&1 \
  || { cat "$work/cpp.log"; fail "C++ consumer with find_package did not build"; }
check "C++ (find_package)" "$expected_cpp" "$work/cpp/count_matched" "$e1" "$e2"

# C++ and C with pkg-config.
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
# shellcheck disable=SC2046,SC2086
c++ -std=c++20 $sanitize -o "$work/count_matched" "$source/examples/use-from-cpp/main.cpp" \
  $(pkg-config --cflags --libs ovtbldiff) -Wl,-rpath,"$(pkg-config --variable=libdir ovtbldiff)" \
  || fail "C++ consumer with pkg-config did not build"
check "C++ (pkg-config)" "$expected_cpp" "$work/count_matched" "$e1" "$e2"
# shellcheck disable=SC2046,SC2086
cc -std=c11 -Wall -Werror $sanitize -o "$work/conflicts" "$source/examples/use-from-c/main.c" \
  $(pkg-config --cflags --libs ovtbldiff) -Wl,-rpath,"$(pkg-config --variable=libdir ovtbldiff)" \
  || fail "C example did not build"
out=$("$work/conflicts" "$e1" "$e2") || fail "C example exited with $?"
case "$out" in
  '{"member":"GetTblDiffRecRS","result":{"fields":[{"name":"HouseNo",'*'"rows":[[103,"Grace Wanjiru",4,"Gatundu"],[105,"Fatuma Hassan",2,"Malindi"],[107,"Mary Njeri",3,"Thika"]]}'*) echo "ok: C" ;;
  *) fail "C example printed: $out" ;;
esac

# Python, from the installed package; an instrumented library needs the sanitizer runtime
# loaded first, with libstdc++ (the runtime intercepts its exception entry when it starts).
if [ -n "$sanitize" ]; then
  export LD_PRELOAD="$(c++ -print-file-name=libasan.so):$(c++ -print-file-name=libstdc++.so)"
  export ASAN_OPTIONS=detect_leaks=0
fi
check "Python" "matched: 7
conflict: {'HouseNo': 103, 'HeadName': 'Grace Wanjiru', 'Rooms': 4, 'Village': 'Gatundu'}
conflict: {'HouseNo': 105, 'HeadName': 'Fatuma Hassan', 'Rooms': 2, 'Village': 'Malindi'}
conflict: {'HouseNo': 107, 'HeadName': 'Mary Njeri', 'Rooms': 3, 'Village': 'Thika'}
error -2147217900 cDATAGateway:TotalMatchedRec no such table: NoSuchTable" \
  env PYTHONDONTWRITEBYTECODE=1 PYTHONPATH="$prefix/lib/python3/dist-packages" "$python" "$source/examples/use-from-python/conflicts.py" "$e1" "$e2"
unset LD_PRELOAD

# Nothing was written into the home folder.
[ -z "$(ls -A "$HOME")" ] || fail "the home folder is not empty: $(ls -A "$HOME")"
echo "ok: home folder untouched"
