# Runs the end-to-end test host under Wine. Sourced by scripts/stages/40-e2e.sh
# and scripts/demo.sh after scripts/lib.sh and a product build.
#
# The Wine tool is $WINE32_RUN if set, else shared/tools/wine32-run beside the
# repository. The prefix is a private one in the build folder (unless
# WINE32_RUN_PREFIX is set), so the C:\ log files and the Wine server belong
# to this run alone and can be stopped at its end.

e2e_windows_path() { local path=$1; printf 'Z:%s' "${path//\//\\}"; }

# Finds the Wine tool and starts (or installs and starts) Wine.
e2e_prepare() {
  E2E_RUNNER=${WINE32_RUN:-$TOLVAN_ROOT/../shared/tools/wine32-run}
  if [ ! -x "$E2E_RUNNER" ]; then
    log "no wine32-run at $E2E_RUNNER (set WINE32_RUN to its path)"
    return 1
  fi
  local build
  build=$(cd "$TOLVAN_BUILD" && pwd) || return 1
  E2E_PRODUCT=$build/product
  E2E_DIR=$E2E_PRODUCT/tests/e2e
  E2E_HOST=$E2E_DIR/tolvan_e2e_host.exe
  [ -f "$E2E_HOST" ] || { log "no test host at $E2E_HOST: build the product first"; return 1; }
  export WINE32_RUN_PREFIX=${WINE32_RUN_PREFIX:-$build/e2e-wine}
  E2E_DRIVE_C=$("$E2E_RUNNER" --prefix)/drive_c
  log "starting Wine (prefix $WINE32_RUN_PREFIX)"
  "$E2E_RUNNER" --setup >&2
}

e2e_stop() { [ -n "${E2E_RUNNER:-}" ] && "$E2E_RUNNER" --stop; }

# The host program itself, for its listings: e2e_host ARGS...
e2e_host() {
  (cd "$E2E_DIR" && WINEPATH=$(e2e_windows_path "$E2E_PRODUCT") "$E2E_RUNNER" "$E2E_HOST" "$@")
}

# e2e_run SCENARIO ENGINE [NAME=VALUE...]: a fresh pair of log files, then
# the scenario in its own process with the engine variant ("engine",
# "engine-missing-entry", "engine-is-module-copy" or "none") on the library
# search path.
e2e_run() {
  local scenario=$1 engine=$2
  shift 2
  local search
  search=$(e2e_windows_path "$E2E_PRODUCT")
  [ "$engine" = none ] || search="$search;$(e2e_windows_path "$E2E_DIR/$engine")"
  rm -f "$E2E_DRIVE_C/Tolvan32_a.log" "$E2E_DRIVE_C/Tolvan32_b.log"
  # Only the scenario's own options reach the module.
  (cd "$E2E_DIR" && env -u Tolvan32_Debug -u Tolvan32_NoSEQ -u Tolvan32_NoShare -u Tolvan32_StopSEQ -u Tolvan32_TraceIds \
    -u Tolvan32_TraceTime -u STANDIN_SLOW_OP -u STANDIN_SLOW_MS \
    WINEPATH="$search" E2E_ENGINE_DIR="$(e2e_windows_path "$E2E_DIR/engine")" "$@" \
    "$E2E_RUNNER" "$E2E_HOST" "$scenario")
}
