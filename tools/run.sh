#!/usr/bin/env bash
# Builds korvat.exe and starts it under Wine on your display, in a demo
# folder of sample images made afresh for the purpose (build/demo).
set -u
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

install_missing_packages || { echo "package installation failed" >&2; exit 1; }
build_windows || { echo "Windows build failed" >&2; exit 1; }
exe=$KORVAT_BUILD/windows/korvat.exe
echo "Built $exe"

if [ -z "${DISPLAY:-}" ]; then
    echo "There is no display (DISPLAY is not set), so KORVAT cannot be shown here."
    echo "Copy $exe to a Windows machine, or run this again from a graphical session."
    exit 1
fi

demo=$KORVAT_BUILD/demo
rm -rf "$demo"
bash "$KORVAT_ROOT/tools/make_demo_images.sh" "$demo"
echo "Sample images in $demo: blank.trd (blank disk, full size), shortened.trd (cut short),"
echo "zero_tail.trd (full size, zeros at the end), notes.trd (not a disk image)."
echo "Pick them in the dialog, tick rows (E ticks all) and press Cut zeros (Z),"
echo "Cut free sectors (S) or Restore size (R). Escape asks to quit."

wine_run=$KORVAT_ROOT/cmake/wine-run.sh
# A prefix of its own: the tests' dialogs leave their last folder in theirs.
export KORVAT_WINE_ROOT=$KORVAT_BUILD/wine
"$wine_run" --init || { echo "could not prepare the Wine prefix" >&2; exit 1; }
cd "$demo" && "$wine_run" "$exe"
status=$?
"$wine_run" --stop
exit $status
