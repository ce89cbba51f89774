#!/bin/sh
# Installs what building and testing portvet needs on Debian, when missing.
set -e
need=""
command -v cmake >/dev/null 2>&1 || need="$need cmake"
command -v g++ >/dev/null 2>&1 || need="$need g++"
command -v make >/dev/null 2>&1 || need="$need make"
[ -f /usr/include/gtest/gtest.h ] || need="$need libgtest-dev"
command -v python3 >/dev/null 2>&1 || need="$need python3"
[ -z "$need" ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing:$need"
# A mirror mid-sync may fail the update of one index: the install decides.
$sudo apt-get update -q || $sudo apt-get update -q || true
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q $need
