# Shared by the build and test scripts.
set -u

TOLVAN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TOLVAN_BUILD=${TOLVAN_BUILD:-$TOLVAN_ROOT/build}
TOLVAN_JOBS=${TOLVAN_JOBS:-$(nproc 2>/dev/null || echo 2)}

log() { printf '== %s\n' "$*" >&2; }

# Installs the Debian packages that are missing (apt-get update once).
ensure_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  fi
  if [ -z "${TOLVAN_APT_UPDATED:-}" ]; then
    $sudo apt-get update -qq >&2 || return 1
    TOLVAN_APT_UPDATED=1
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

host_packages() { ensure_packages cmake make g++ libgtest-dev; }
product_packages() {
  # The module with clang and lld in the Microsoft ABI; the console tools
  # beside it with mingw-w64's g++ and its C++ standard library.
  ensure_packages cmake make clang-16 lld-16 llvm-16 binutils g++-mingw-w64-i686-win32 || return 1
  # The product checks read the version resource with a short Python script.
  command -v python3 >/dev/null || ensure_packages python3
}

# The product: build/product/Tolvan32.dll and the programs built beside it
# (another folder under build/ and only some targets may be given).
build_product() {
  local folder=${1:-product} targets=()
  [ $# -le 1 ] || targets=(--target "${@:2}")
  product_packages || return 1
  cmake -S "$TOLVAN_ROOT" -B "$TOLVAN_BUILD/$folder" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$TOLVAN_ROOT/cmake/toolchain-i686-windows-msvc.cmake" >&2 || return 1
  cmake --build "$TOLVAN_BUILD/$folder" -j "$TOLVAN_JOBS" "${targets[@]}" >&2
}

# The Linux build of the trace reader, optimised (it reads logs of many
# GiB), build/reader/tools/tolvan32-trace; the test build's own stays Debug.
build_trace_reader() {
  host_packages || return 1
  cmake -S "$TOLVAN_ROOT" -B "$TOLVAN_BUILD/reader" -DCMAKE_BUILD_TYPE=Release >&2 || return 1
  cmake --build "$TOLVAN_BUILD/reader" -j "$TOLVAN_JOBS" --target tolvan32-trace >&2
}

# assemble_dist PRODUCT-FOLDER DIST-FOLDER: the folder to hand out (the
# module, both tools, the text for the people who install it) and a zip of
# it. The same commit gives the same bytes: every file dated at the commit's
# time (or $SOURCE_DATE_EPOCH), in UTC, in a fixed order, without the extra
# fields (owner, access times) that zip would add.
assemble_dist() {
  local product=$1 dist=$2 version stamp
  ensure_packages zip || return 1
  version=$(sed -nE 's/^#define TOLVAN32_VERSION_NUMBERS ([0-9]+), ([0-9]+), ([0-9]+), ([0-9]+)$/\1.\2.\3.\4/p' \
    "$TOLVAN_ROOT/resources/version.h")
  stamp=${SOURCE_DATE_EPOCH:-$(git -C "$TOLVAN_ROOT" log -1 --format=%ct 2>/dev/null || echo 946684800)}
  rm -rf "$dist" && mkdir -p "$dist" || return 1
  cp "$product/Tolvan32.dll" "$product/tools/tolvan32-setup.exe" "$product/tools/tolvan32-trace.exe" "$dist/" || return 1
  sed 's/$/\r/' "$TOLVAN_ROOT/docs/install.txt" >"$dist/README.txt"
  chmod 644 "$dist"/*
  touch -d "@$stamp" "$dist"/*
  (cd "$dist" && ls | LC_ALL=C sort | TZ=UTC zip -X -D -q "Tolvan32-$version.zip" -@)
}

# The host test build (type and folder may be given).
build_host() {
  local folder=${1:-host} type=${2:-Debug}
  shift 2 2>/dev/null || shift $#
  host_packages || return 1
  cmake -S "$TOLVAN_ROOT" -B "$TOLVAN_BUILD/$folder" -DCMAKE_BUILD_TYPE="$type" "$@" >&2 || return 1
  cmake --build "$TOLVAN_BUILD/$folder" -j "$TOLVAN_JOBS" >&2
}

# The product built once more with Microsoft's driver conventions (clang-cl):
# keeps the build's MSVC branch working where no Microsoft compiler is at hand.
# The module alone: the tools are standard C++, and there is no Microsoft
# C++ standard library here to build them with.
build_product_msvc_style() {
  ensure_packages cmake make clang-14 lld-16 llvm-16 || return 1
  cmake -S "$TOLVAN_ROOT" -B "$TOLVAN_BUILD/product-msvc-style" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$TOLVAN_ROOT/cmake/toolchain-clang-cl.cmake" >&2 || return 1
  cmake --build "$TOLVAN_BUILD/product-msvc-style" --target Tolvan32 -j "$TOLVAN_JOBS" >&2
}
