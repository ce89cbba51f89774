// The echo personality: a wire-like TXD-RXD loopback that sends every byte
// back as it comes, with faults placed by position in each 256-byte pass.
#include "sim.h"

enum { SIM_PASS = 256 };

sim_action sim_echo(const sim_knobs *k, sim_state *s, const unsigned char *in,
                    size_t in_len, unsigned char *out, size_t *out_len) {
  *out_len = 0;
  for (size_t i = 0; i < in_len; i++) {
    long pass = s->position / SIM_PASS;
    long at = s->position % SIM_PASS;
    s->position++;
    if (k->hangup_after_passes >= 0 && pass >= k->hangup_after_passes) {
      return SIM_HANG_UP;
    }
    if (k->stop_after_passes >= 0 && pass >= k->stop_after_passes) {
      continue;
    }
    unsigned char byte = in[i];
    bool hit = k->fault_pass < 0 || pass == k->fault_pass;
    if (hit && at == k->corrupt) {
      byte = (unsigned char)(byte ^ k->flip);
    }
    if (k->seven_bits) {
      byte &= 0x7F;
    }
    bool flow = k->xonxoff && (byte == 0x11 || byte == 0x13);
    if (!(hit && at == k->drop) && !flow) {
      out[(*out_len)++] = byte;
      if (k->twice) {
        out[(*out_len)++] = byte;
      }
    }
    // Junk after the pass, for the tool's drain before the next one.
    for (long j = 0; at == SIM_PASS - 1 && j < k->trailing; j++) {
      out[(*out_len)++] = 0x5A;
    }
  }
  return SIM_GO_ON;
}
