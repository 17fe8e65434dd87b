#!/usr/bin/env bash
# Installs the npm package the browser tests use (playwright-core drives Debian's chromium;
# no browser is ever downloaded).
set -euo pipefail
cd "$(dirname "$0")/../tests/browser"
export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
if [ -f package-lock.json ]; then
  npm ci --no-audit --no-fund
else
  npm install --no-audit --no-fund
fi
