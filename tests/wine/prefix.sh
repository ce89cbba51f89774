#!/bin/sh
# Makes (create) or shuts down (stop) the Wine prefix that the end-to-end
# tests of the Windows build run in.
#   prefix.sh create PREFIX LOADER
#   prefix.sh stop PREFIX
set -e
action=$1
prefix=$2
loader=$3
export WINEPREFIX="$prefix" WINEDEBUG=-all
case "$action" in
create)
  # A server of an earlier run would outlive its prefix's removal (the new
  # prefix is another folder to Wine) and run on for good.
  [ -d "$prefix" ] && { wineserver -k 2>/dev/null || true; }
  rm -rf "$prefix"
  "$loader" wineboot -i >/dev/null 2>&1
  # The tests point COM1..COM4 (and COM7 and COM12, for the ports past
  # COM4 that PORTVET_COMn reaches) at their simulators through the links
  # ports/comN; none may reach a real port meanwhile. Wine links COMn to
  # every /dev/ttyS* it finds unless the Ports key says otherwise, and falls
  # back to /dev/ttySn for a link that leads nowhere: so the key names the
  # ports/comN links, and "no port" is a directory, which no open accepts.
  mkdir -p "$prefix/no-port" "$prefix/ports"
  for n in 1 2 3 4 7 12; do
    ln -sfn "$prefix/no-port" "$prefix/ports/com$n"
    "$loader" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" \
      /d "$prefix/ports/com$n" /f >/dev/null 2>&1
  done
  wineserver -k 2>/dev/null || true
  # Keep one server for the whole run: starting one costs seconds. The
  # server opens the serial devices itself, without O_NOCTTY; a server
  # that makes itself a session leader (as it does unless -f) takes the
  # first pty it opens for its controlling terminal, and a 0x03 or 0x1C
  # that a device sends before the line is raw then kills it, and with it
  # whatever program is connected. Started in the foreground in the
  # background, it is no session leader and never has a terminal.
  # Every wait of a port's reads and writes goes through the server, which
  # stands in for Windows' kernel: it goes ahead of other programs (raised
  # where the tests may raise it, as root), so that a loaded machine delays
  # a Windows program's bytes no more than a native program's.
  nice -n -15 wineserver -f -p </dev/null >/dev/null 2>&1 &
  server=$!
  # A client that came before the server's socket would start a server of
  # its own, a session leader again: wait for the socket (in the folder the
  # server works in).
  tries=0
  until [ -S "/proc/$server/cwd/socket" ]; do
    kill -0 "$server" 2>/dev/null || { echo "the Wine server did not start"; exit 1; }
    tries=$((tries + 1))
    [ "$tries" -gt 200 ] && { echo "the Wine server made no socket in 10 s"; exit 1; }
    sleep 0.05
  done
  "$loader" cmd /c exit >/dev/null 2>&1 || true
  # The ports the system announces (what a port that cannot be opened
  # lists): Wine fills the key from the devices it finds, which differ
  # from one computer to the next; the tests want COM7 and COM12 alone.
  # (The key is volatile: its values can go, the key cannot be made anew.)
  key='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
  "$loader" reg query "$key" 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *\([^ ]*\) *REG_SZ *\(COM[0-9]*\)$/\1 \2/p' |
    while read -r value port; do
      case "$port" in
      COM7 | COM12) ;;
      *) "$loader" reg delete "$key" /v "$value" /f >/dev/null 2>&1 ;;
      esac
    done
  # The USB devices behind them, as Windows' drivers enter them: COM7 a
  # CH340 (its instance has no serial number: a '&' in its name), COM12 an
  # FTDI FT232R under FTDI's own bus (its serial number and the channel
  # letter in the device's name).
  enum='HKLM\SYSTEM\CurrentControlSet\Enum'
  key="$enum\USB\VID_1A86&PID_7523\5&2a8b1e0&0&2"
  "$loader" reg add "$key" /v Mfg /d '@oem12.inf,%wch.cn%;wch.cn' /f >/dev/null 2>&1
  "$loader" reg add "$key" /v DeviceDesc \
    /d '@oem12.inf,%ch341sergeneric.devicedesc%;USB-SERIAL CH340' /f >/dev/null 2>&1
  "$loader" reg add "$key\Device Parameters" /v PortName /d COM7 /f >/dev/null 2>&1
  key="$enum\FTDIBUS\VID_0403+PID_6001+A50285BIA\0000"
  "$loader" reg add "$key" /v Mfg /d '@oem5.inf,%ftdi%;FTDI' /f >/dev/null 2>&1
  "$loader" reg add "$key" /v DeviceDesc \
    /d '@oem5.inf,%vcp.devicedesc%;USB Serial Port' /f >/dev/null 2>&1
  "$loader" reg add "$key\Device Parameters" /v PortName /d COM12 /f >/dev/null 2>&1
  ;;
stop)
  wineserver -k 2>/dev/null || true
  ;;
esac
