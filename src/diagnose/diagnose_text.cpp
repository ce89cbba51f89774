#include "diagnose_text.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "../record/record.h"
#include "../stk500/stk500.h"

void diag_append(char *out, size_t size, const char *format, ...) {
  size_t used = strlen(out);
  if (used + 1 >= size) {
    return;
  }
  va_list args;
  va_start(args, format);
  vsnprintf(out + used, size - used, format, args);
  va_end(args);
}

void diag_hex(const unsigned char *bytes, size_t n, size_t max, char *out,
              size_t size) {
  out[0] = '\0';
  for (size_t i = 0; i < n && i < max; i++) {
    diag_append(out, size, "%s%02X", i > 0 ? " " : "", bytes[i]);
  }
  if (n > max) {
    diag_append(out, size, " ...");
    return;
  }
  // Whole, and text: the text beside its bytes (a name cut short, a
  // device's words).
  bool text = n >= 2;
  for (size_t i = 0; i < n && text; i++) {
    text = (bytes[i] >= 0x20 && bytes[i] < 0x7F) || bytes[i] == '\r' ||
           bytes[i] == '\n' || bytes[i] == '\t';
  }
  if (text) {
    diag_append(out, size, " \"");
    for (size_t i = 0; i < n; i++) {
      const char *escape = bytes[i] == '\r'   ? "\\r"
                           : bytes[i] == '\n' ? "\\n"
                           : bytes[i] == '\t' ? "\\t"
                           : bytes[i] == '"'  ? "\\\""
                           : bytes[i] == '\\' ? "\\\\"
                                              : NULL;
      if (escape != NULL) {
        diag_append(out, size, "%s", escape);
      } else {
        diag_append(out, size, "%c", bytes[i]);
      }
    }
    diag_append(out, size, "\"");
  }
}

const char *diag_step(const unsigned char *out, size_t n) {
  if (n == 0) {
    return "the first command";
  }
  if (n >= 2 && out[1] == STK_CRC_EOP) {
    switch (out[0]) {
      case STK_GET_SIGN_ON:
        return "the STK500 sign-on";
      case STK_GET_SYNC:
        return "the STK500 get-sync";
      default:
        break;
    }
  }
  if (n >= 3 && out[0] == STK_GET_PARAMETER && out[2] == STK_CRC_EOP) {
    switch (out[1]) {
      case STK_HW_VER:
        return "the STK500 hardware version read";
      case STK_SW_MAJOR:
        return "the STK500 software version read (major)";
      case STK_SW_MINOR:
        return "the STK500 software version read (minor)";
      default:
        break;
    }
  }
  if (n == 1) {
    switch (out[0]) {
      case 'S':
        return "the AVR910 identifier query";
      case 'V':
        return "the AVR910 software version query";
      case 'v':
        return "the AVR910 hardware version query";
      case 'p':
        return "the AVR910 programmer type query";
      default:
        break;
    }
  }
  return "a command";
}

const char *diag_ask(int ask) {
  switch (ask) {
    case RECORD_STK500_SIGN_ON:
      return "the STK500 sign-on";
    case RECORD_STK500_SYNC:
      return "the STK500 get-sync";
    case RECORD_STK500_HW_VERSION:
      return "the STK500 hardware version read";
    case RECORD_STK500_SW_MAJOR:
      return "the STK500 software version read (major)";
    case RECORD_STK500_SW_MINOR:
      return "the STK500 software version read (minor)";
    case RECORD_AVR910_ID:
      return "the AVR910 identifier query";
    case RECORD_AVR910_SW_VERSION:
      return "the AVR910 software version query";
    case RECORD_AVR910_HW_VERSION:
      return "the AVR910 hardware version query";
    case RECORD_AVR910_TYPE:
      return "the AVR910 programmer type query";
    default:
      return "a step";
  }
}
