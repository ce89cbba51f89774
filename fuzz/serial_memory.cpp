// In-memory backend of the portable serial interface, for fuzzing. State is
// file-static: a fuzz target runs one script at a time.
#include "serial_memory.h"

#include <stdio.h>
#include <string.h>

#include "../src/ports/ports.h"
#include "../src/ports/ports_every.h"
#include "../src/serial/serial.h"

static const unsigned char *memory_script;
static size_t memory_size;
static size_t memory_pos;
static int memory_open;

void serial_memory_load(const unsigned char *script, size_t size) {
  memory_script = script;
  memory_size = size;
  memory_pos = 0;
  memory_open = 0;
}

int serial_memory_open_ports(void) { return memory_open; }

// The next control byte, or -1 once the script is used up.
static int memory_next(void) {
  return memory_pos < memory_size ? memory_script[memory_pos++] : -1;
}

int serial_open(serial_port *port, const char *name) {
  port->open = 0;
  port->host.kind = PORTS_HOST_UNKNOWN;
  port->host.trigger = 0;
  port->host.latency_ms = 0;
  port->why[0] = '\0';
  record_init(&port->record);
  if (strcmp(name, "COM4") == 0) {
    snprintf(port->why, sizeof port->why, "%s: never opens", name);
    return 0;  // one port that never opens
  }
  port->open = 1;
  memory_open++;
  return 1;
}

void serial_close(serial_port *port) {
  if (port->open) {
    port->open = 0;
    memory_open--;
  }
}

void serial_setup(serial_port *, uint32_t, int32_t) {}

void serial_setup_framed(serial_port *, uint32_t, int32_t, serial_framing) {}

int serial_read(serial_port *, unsigned char *buf, uint32_t n, uint32_t *got) {
  *got = 0;
  int c = memory_next();
  if (c == 0xFF) {
    return 0;
  }
  if (c < 0) {
    return 1;
  }
  size_t want = c == 0xFC ? n : (size_t)c % ((size_t)n + 1);
  size_t left = memory_size - memory_pos;
  size_t count = want < left ? want : left;
  memcpy(buf, memory_script + memory_pos, count);
  memory_pos += count;
  *got = (uint32_t)count;
  return 1;
}

int serial_write(serial_port *, const unsigned char *, uint32_t n,
                 uint32_t *put) {
  int c = memory_next();
  if (c == 0xFE) {
    *put = 0;
    return 0;
  }
  *put = c == 0xFD && n > 0 ? n - 1 : n;
  return 1;
}

int serial_read_for(serial_port *port, unsigned char *buf, uint32_t n, uint32_t,
                    uint32_t *got) {
  return serial_read(port, buf, n, got);
}

uint64_t serial_clock_ms(void) { return 0; }

void serial_device_id(const char *name, char *id, size_t size) {
  snprintf(id, size, "%s", name);
}

// The in-memory port is always the one the fuzz target named.
int serial_implicit_path(const char *, char *path, size_t size) {
  if (size > 0) {
    path[0] = '\0';
  }
  return 0;
}

void ports_latency_file(const char *, char *out, size_t) { out[0] = '\0'; }

int ports_entry_of(const char *path, ports_entry *entry) {
  memset(entry, 0, sizeof *entry);
  snprintf(entry->path, sizeof entry->path, "%s", path);
  return 0;
}
