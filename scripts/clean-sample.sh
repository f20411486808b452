#!/usr/bin/env bash
# Makes docs/clean-before-after.png: the clean-up fixture's dusty, shadowed scan turned 2.3 degrees
# (tests/fixtures/make_cleanup_fixtures.sh draws it with ImageMagick), and the same file after
# "lumivex-batch clean"; each shown whole at a third of its size, with the line the tool printed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source scripts/before-after.sh
lumivex_batch_sample "$work" cleanup_skewed.png clean clean-before-after.png \
  "Before: a dusty scan, 2.3 degrees askew, with the lid's shadows" 33%
