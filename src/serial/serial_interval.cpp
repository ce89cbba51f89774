#include "serial_interval.h"

// What an FTDI adapter's latency timer is set to unless someone lowered it.
static const uint32_t SERIAL_FTDI_DEFAULT_MS = 16;

// A USB host asks a full-speed device for data once per 1 ms frame.
static const uint32_t SERIAL_USB_FRAME_US = 1000;

// What a busy computer adds before the program gets the bytes a host
// handed over: the kernel passes them on from a worker thread, which a
// loaded machine runs milliseconds late (a scheduler's period on two cores
// is about 12 ms), and a virtual machine whose processor its host takes
// away now and then holds them up for tens of ms (seen on this project's
// two-core virtual machines, idle: up to 41 ms, a few times a minute). A
// gap that short is the computer's, not the line's.
static const uint32_t SERIAL_BUSY_MS = 50;

// A UART's FIFO: a steady stream reaches the trigger every trigger
// characters; the bytes after the last full batch (fewer than the trigger)
// go four character times after the last of them came.
static uint64_t serial_uart_gap_us(uint32_t trigger, uint64_t char_us) {
  return trigger <= 1 ? char_us : (trigger + 3) * char_us;
}

// A USB bridge: a packet that does not fill goes when the latency timer
// runs out after its first byte, which came a character after the packet
// before went; the host collects it at its next frame.
static uint64_t serial_usb_gap_us(uint32_t latency_ms, uint64_t char_us) {
  return (uint64_t)latency_ms * 1000 + char_us + SERIAL_USB_FRAME_US;
}

uint32_t serial_host_gap_us(const ports_host *host, int32_t baud) {
  uint64_t char_us = baud > 0 ? (10000000u + (uint32_t)baud - 1) / baud : 0;
  uint32_t trigger = host->trigger;
  if (trigger == 0 ||
      (host->kind == PORTS_HOST_UART && baud > 0 && baud < 2400)) {
    // Linux's 8250 driver: 8 bytes, or what rx_trig_bytes set; below 2400
    // baud every byte, whatever rx_trig_bytes says (it sets the FIFO to
    // trigger 1 there).
    trigger = baud > 0 && baud < 2400 ? 1 : trigger == 0 ? 8 : trigger;
  }
  uint64_t gap = 0;
  switch (host->kind) {
    case PORTS_HOST_UART:
      gap = serial_uart_gap_us(trigger, char_us);
      break;
    case PORTS_HOST_USB:
      gap = serial_usb_gap_us(host->latency_ms, char_us);
      break;
    default: {
      uint64_t uart = serial_uart_gap_us(trigger, char_us);
      uint64_t usb = serial_usb_gap_us(SERIAL_FTDI_DEFAULT_MS, char_us);
      gap = uart > usb ? uart : usb;
      break;
    }
  }
  return gap > UINT32_MAX ? UINT32_MAX : (uint32_t)gap;
}

uint32_t serial_interval_ms(uint32_t t, int32_t baud, const ports_host *host) {
  uint64_t gap_ms = ((uint64_t)serial_host_gap_us(host, baud) + 999) / 1000;
  uint64_t host_ms = gap_ms + SERIAL_BUSY_MS;
  return t > host_ms ? t : (uint32_t)host_ms;
}
