#!/usr/bin/env bash
# Installs what is missing, builds, and starts the server. Without a display it runs headless;
# every argument is passed on (see ./build/murmur-server --help).
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh murmur-server
exec ./build/murmur-server "$@"
