// Options of the connection check: -c (port), -r (attempts), -t (timeout).
#ifndef PORTVET_OPTIONS_H
#define PORTVET_OPTIONS_H

struct main_options {
  int port;              // as given; -1 when no -c option was seen
  const char *port_arg;  // the -c argument that set it; NULL: none
  int attempts;          // default 50
  int timeout;           // ms, default 20
};

// Parses argv[1] on. Returns NULL when every argument is valid, else the
// first refused one (later arguments are not looked at).
const char *main_ParseOptions(int argc, char **argv, main_options *options);

#endif
