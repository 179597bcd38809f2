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

# The product: build/product/Tolvan32.dll and the programs built beside it.
build_product() {
  product_packages || return 1
  cmake -S "$TOLVAN_ROOT" -B "$TOLVAN_BUILD/product" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$TOLVAN_ROOT/cmake/toolchain-i686-windows-msvc.cmake" >&2 || return 1
  cmake --build "$TOLVAN_BUILD/product" -j "$TOLVAN_JOBS" >&2
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
