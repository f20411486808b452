# shellcheck shell=bash
# Sourced by the build and test scripts: installs with apt-get what a fresh Debian machine lacks.
# Needs root for the install; on a machine that has everything it changes nothing.
# The fonts draw the text pages of the fixtures and the docs' samples and their labels.
lumivex_packages=(cmake ninja-build g++ g++-mingw-w64-x86-64-posix googletest wine wine64
                  imagemagick fonts-urw-base35 fonts-dejavu-core xvfb xauth fonts-wine python3 procps xdotool
                  python3-xlib shellcheck libjpeg-turbo-progs nasm dpkg-dev)

# libjpeg-turbo's source, as Debian packages it, fetched once into the build folder (never the tree):
# the CMake build compiles it with the project's own toolchain (cmake/jpeg-engine.cmake).
lumivex_jpeg_source_dir=build/libjpeg-turbo

lumivex_missing_packages() {
  local package
  for package in "${lumivex_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || echo "$package"
  done
}

lumivex_install_missing() {
  local missing
  missing=$(lumivex_missing_packages)
  if [ -n "$missing" ]; then
    echo "Installing: $missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq $missing >/dev/null
  fi
  lumivex_fetch_jpeg_source
}

# Adds source entries (deb-src) beside the machine's own binary entries when it has none, in a file of
# the project's own: the same archives, releases, components and keys, so `apt-get source` checks what
# it fetches against the same signed Release files. Running it again changes nothing.
lumivex_enable_source_entries() {
  # shellcheck disable=SC2016  # $(IDENTIFIER) is apt's own field syntax
  if [ -n "$(apt-get indextargets --format '$(IDENTIFIER)' 'Identifier: Sources')" ]; then
    return
  fi
  local lists=/etc/apt/sources.list.d
  if [ -f $lists/debian.sources ]; then
    sed 's/^Types:.*/Types: deb-src/' $lists/debian.sources >$lists/lumivex-deb-src.sources
  else
    sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list >$lists/lumivex-deb-src.list
  fi
  apt-get update -qq
}

# Fetches and unpacks libjpeg-turbo's source package with apt-get source (hashes checked against the
# signed index, never unauthenticated) into $lumivex_jpeg_source_dir/source, once.
lumivex_fetch_jpeg_source() {
  local dir=$lumivex_jpeg_source_dir
  [ -f "$dir/source/transupp.c" ] && return
  lumivex_enable_source_entries
  rm -rf "$dir"
  mkdir -p "$dir"
  # A machine whose source index was never downloaded gets it once, then the fetch is tried again.
  (cd "$dir" && { apt-get source -qq libjpeg-turbo >/dev/null 2>&1 ||
    { apt-get update -qq && apt-get source -qq libjpeg-turbo >/dev/null; }; } && mv libjpeg-turbo-*/ source)
  [ -f "$dir/source/transupp.c" ]
}

# Builds the Windows preset and readies the project's Wine prefix.
lumivex_build_windows() {
  cmake --preset mingw >/dev/null
  cmake --build --preset mingw
  scripts/wine-prefix.sh
}

# Installs what is missing, builds Lumivex.exe into the folder $1 and loads the functions that show it
# on an X display (scripts/wine-screen.sh).
lumivex_build_for_screen() {
  lumivex_install_missing
  cmake --preset mingw -B "$1" >/dev/null
  cmake --build "$1" --target Lumivex
  source scripts/wine-screen.sh
}

# Keeps one wineserver and its desktop alive until the calling script ends, so that each Wine process
# starts in a fraction of a second and the desktop's process holds no test's output.
lumivex_start_wine() {
  source scripts/wine-env.sh
  wineserver -w  # the prefix set-up's server ends first; a new one then stays for the whole run
  wineserver -p >/dev/null 2>&1  # a daemon: it must not hold the caller's output open
  # Start Wine's own services once, before tests start processes two at a time, and with no
  # output of ours to hold open.
  wine cmd /c exit >/dev/null 2>&1 || true
  trap 'wineserver -k 2>/dev/null || true' EXIT
  lumivex_keep_wine_desktop
}

# Wine starts the desktop's process (explorer.exe /desktop) from the first process that needs a
# desktop, and that process's standard error goes with it; the desktop closes a second after its
# last other process ends. CTest waits for a test's output to close, so the test that started it
# lasted as long as the tests after it kept the desktop busy (docs/platform-notes.md). An idle
# window of Wine's own starts the desktop here, with no output of ours, and keeps it open until the
# server ends; the tests start once it is there.
lumivex_keep_wine_desktop() {
  local pid
  wine notepad.exe >/dev/null 2>&1 &
  for _ in $(seq 300); do
    for pid in $(pgrep -f 'explorer\.exe /desktop'); do
      tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
    done
    sleep 0.1
  done
  echo "Wine's desktop did not start for $WINEPREFIX" >&2
  return 1
}
