#!/usr/bin/env bash
# Makes docs/deskew-before-after.png: the fixture text page turned by 3.9 degrees as a skewed scan
# (tests/fixtures/make_fixtures.sh draws and turns it with ImageMagick), and the same file after
# "lumivex-batch deskew"; each shown whole at a quarter of its size, with the line the tool printed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source scripts/before-after.sh
lumivex_batch_sample "$work" skew_3.90.png deskew deskew-before-after.png "Before: a page scanned 3.9 degrees askew" 25%
