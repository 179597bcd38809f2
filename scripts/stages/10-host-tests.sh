#!/usr/bin/env bash
# The host test build: unit and scenario tests against the stand-in engine.
source "$(dirname "$0")/../lib.sh"
set -e
build_host host Debug
cd "$TOLVAN_BUILD/host"
ctest --output-on-failure -j "$TOLVAN_JOBS"
