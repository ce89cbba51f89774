// Fuzz target: the option parsers of both modes. The input is split at NUL
// bytes into arguments. Checked: a refused argument is one of the
// arguments, and accepted values keep their documented ranges.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "../src/main/options.h"
#include "../src/st/st.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
  std::vector<std::string> args = {"portvet"};
  std::string current;
  for (size_t i = 0; i < size && args.size() < 16; i++) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += (char)data[i];
    }
  }
  args.push_back(current);
  std::vector<char *> argv;
  for (auto &a : args) {
    argv.push_back(&a[0]);
  }
  argv.push_back(NULL);
  int argc = (int)args.size();

  main_options m;
  const char *refused = main_ParseOptions(argc, argv.data(), &m);
  if (refused == NULL) {
    if (m.attempts < 2 || m.timeout == 0) {
      abort();
    }
  } else {
    bool found = false;
    for (int i = 1; i < argc; i++) {
      found = found || refused == argv[i];
    }
    if (!found) {
      abort();
    }
  }

  if (argc >= 2) {
    st_options s;
    refused = st_ParseOptions(argc, argv.data(), &s);
    if (refused == NULL && ((s.port != -1 && (s.port < 1 || s.port > 4)) ||
                            s.baud < 600 || s.baud > 256000 || s.loops < 1)) {
      abort();
    }
  }
  return 0;
}
