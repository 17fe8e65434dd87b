#!/usr/bin/env bash
# Installs the npm package the browser tests use (playwright-core drives Debian's chromium;
# no browser is ever downloaded).
set -euo pipefail
cd "$(dirname "$0")/../tests/browser"
export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
# A machine with its own Node.js already has npm; a plain Debian 12 gets Debian's.
if ! command -v npm >/dev/null 2>&1; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q npm
fi
if [ -f package-lock.json ]; then
  npm ci --no-audit --no-fund
else
  npm install --no-audit --no-fund
fi
