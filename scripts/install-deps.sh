#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing, fuzzing and the demo need.
# Idempotent: a package already installed is left alone, and the package lists are only
# refreshed (once) when something has to be installed. Works as root and, for a normal
# user, through sudo.
set -euo pipefail

# ---------------------------------------------------------------------------------------
# The package list: the one place to add what later work needs (Qt 6, FFmpeg, audio and
# a virtual display are here for the desktop client).
# ---------------------------------------------------------------------------------------
PACKAGES=(
    # compilers and build tools
    build-essential
    cmake
    ninja-build
    pkg-config
    git
    # compiler cache: a fresh clone of a commit built before compiles little again
    ccache
    # tests and benchmarks
    googletest
    libgtest-dev
    libgmock-dev
    libbenchmark-dev
    # the printing tests read the PDFs back (pdftotext, pdfinfo, pdffonts)
    poppler-utils
    # CRC checks against zlib's
    zlib1g-dev
    # clang: libFuzzer and the sanitizer runtimes, and the format check
    clang
    libclang-rt-14-dev
    clang-format
    # H.264 decoding (FFmpeg libavcodec, libswscale; pkg-config finds them) and the export
    # of backups to MP4 and Matroska files (libavformat)
    libavcodec-dev
    libswscale-dev
    libavutil-dev
    libavformat-dev
    # the recorder simulator's camera-like video (H.264 from libx264)
    libx264-dev
    # snapshots: JPEG through libjpeg-turbo, TIFF through libtiff
    libjpeg62-turbo-dev
    libtiff-dev
    # the desktop client: Qt 6 Widgets, OpenGL and Print Support, and fonts for the skin
    # and the printed lists (Liberation Sans stands in for Arial, with the same widths)
    qt6-base-dev
    qt6-base-dev-tools
    libqt6opengl6-dev
    libgl-dev
    qt6-qpa-plugins
    fonts-liberation2
    fonts-dejavu-core
    # sound: Qt Multimedia on PulseAudio (a null sink in CI)
    qt6-multimedia-dev
    pulseaudio
    pulseaudio-utils
    # remembered passwords in the desktop's secret store (libsecret), and for their tests a
    # GNOME Keyring in a private D-Bus session (scripts/with-keyring.sh)
    libsecret-1-dev
    gnome-keyring
    dbus-daemon
    # a virtual display for the window tests, the demo and its screenshot
    xvfb
    xauth
    x11-utils
    # helper scripts
    python3
    # the Debian package: cpack's dependency scan (dpkg-shlibdeps, file) and its checks
    dpkg-dev
    file
    lintian
    desktop-file-utils
)
# ---------------------------------------------------------------------------------------

installed() {
    local status
    status=$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) || return 1
    [[ "$status" == "install ok installed" ]]
}

missing=()
for pkg in "${PACKAGES[@]}"; do
    if ! installed "$pkg"; then
        missing+=("$pkg")
    fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
    echo "install-deps: all ${#PACKAGES[@]} packages present"
    exit 0
fi

if [[ $(id -u) -eq 0 ]]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "install-deps: missing ${missing[*]}, and neither root nor sudo is available" >&2
    exit 1
fi

echo "install-deps: installing ${missing[*]}"
"${as_root[@]}" apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}"

# Check the result, so a package that apt quietly skipped fails here and not in the build.
still=()
for pkg in "${missing[@]}"; do
    if ! installed "$pkg"; then
        still+=("$pkg")
    fi
done
if [[ ${#still[@]} -ne 0 ]]; then
    echo "install-deps: still missing after install: ${still[*]}" >&2
    exit 1
fi
echo "install-deps: done"
