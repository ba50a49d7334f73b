# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian packages the project needs, sourced by run.sh and test.sh.
# Building the tool and running it on a desktop.
BUILD_PACKAGES=(build-essential cmake ninja-build pkg-config libsdl2-dev qt6-base-dev libgl-dev
                fonts-noto-cjk fonts-ipafont-gothic libfftw3-dev libsndfile1-dev libtag1-dev)
# Decoding FLAC and MP3 directly, and walking an Ogg file's pages and packets.
BUILD_PACKAGES+=(libflac-dev libmpg123-dev libogg-dev libvorbis-dev libopus-dev)
# Tests: GoogleTest, a private X server and sound server for the end-to-end runs, the code's format.
TEST_PACKAGES=(libgtest-dev xvfb xauth xdotool x11-utils pulseaudio pulseaudio-utils clang-format)
# Tests: other programs reading our files (libsndfile, SoX), the desktop entry's validator, man.
TEST_PACKAGES+=(sox sndfile-programs desktop-file-utils man-db)
# Tests: the reference tools that read back the loop tags we write (metaflac, vorbiscomment,
# opusinfo, mediainfo for ID3v2).
TEST_PACKAGES+=(flac vorbis-tools opus-tools mediainfo)
# Tests: the reference encoders of the damaged files (flac, oggenc and opusenc above), and lame.
TEST_PACKAGES+=(lame)
# Tests: a real browser for the batch's report page.
TEST_PACKAGES+=(chromium)
# The package as Debian judges it, and its AppStream metadata.
TEST_PACKAGES+=(lintian appstream)
# The Debian package: dpkg-shlibdeps works out its dependencies.
PACKAGE_PACKAGES=(dpkg-dev)
# Benchmarks: the seam finder's development set is rendered with NumPy, and degraded through a
# Vorbis round trip (oggenc, oggdec) and SoX.
BENCH_PACKAGES=(python3-numpy vorbis-tools sox)
