#include "report.h"

#include <stdarg.h>
#include <stdio.h>

#include "report_order.h"

// Which port of which sweep the calling thread reports for: a thread's own
// routing (each thread sets its own), not state the ports share.
static thread_local report_order *report_sink = NULL;
static thread_local int report_index = 0;

void report_to(report_order *out, int index) {
  report_sink = out;
  report_index = index;
}

__attribute__((format(printf, 2, 0))) static void report_write(
    int stream, const char *format, va_list args) {
  if (report_sink == NULL) {
    if (stream == 2) {
      fflush(stdout);  // standard error comes after what is on the line
    }
    vfprintf(stream == 2 ? stderr : stdout, format, args);
    return;
  }
  char text[2048];
  int n = vsnprintf(text, sizeof text, format, args);
  if (n > 0) {
    size_t len = (size_t)n < sizeof text ? (size_t)n : sizeof text - 1;
    report_order_write(report_sink, report_index, stream, text, len);
  }
}

void report_out(const char *format, ...) {
  va_list args;
  va_start(args, format);
  report_write(1, format, args);
  va_end(args);
}

void report_err(const char *format, ...) {
  va_list args;
  va_start(args, format);
  report_write(2, format, args);
  va_end(args);
}

void report_flush(void) {
  // In a sweep every piece is flushed as it is printed.
  if (report_sink == NULL) {
    fflush(stdout);
  }
}
