#!/usr/bin/env bash
# Everything from a fresh Debian 12 machine to a running Quillora.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
exec build/bin/quillora
