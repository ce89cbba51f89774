// Words shared by the diagnosis routines: bytes in hex, the name of the
// step a command belongs to, and appending to a bounded buffer.
#ifndef PORTVET_DIAGNOSE_TEXT_H
#define PORTVET_DIAGNOSE_TEXT_H

#include <stddef.h>
#include <stdint.h>

// Appends formatted text to out (size bytes), truncating safely.
void diag_append(char *out, size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// Up to max of the n bytes in hex ("E0 E0 00"), "..." when there are more;
// all of them, when they are text, with the text beside them ("41 56 52 20
// 49 53 "AVR IS"", "4F 4B 0D 0A "OK\r\n"").
void diag_hex(const unsigned char *bytes, size_t n, size_t max, char *out,
              size_t size);

// The step a command belongs to, from its first bytes ("the sign-on",
// "the AVR910 identifier query"), or a neutral name for other bytes.
const char *diag_step(const unsigned char *out, size_t n);

// The name of a probe step from what it asked (record_ask).
const char *diag_ask(int ask);

#endif
