// pellwick: the RAID message server.
#include <sys/resource.h>

#include <string>
#include <vector>

#include "msgserver/pellwick_app.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  // One descriptor per agent and per console: up to the caps, beyond a low default limit.
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    (void)::setrlimit(RLIMIT_NOFILE, &files);
  }
  kelm::msgserver::CPellwickApp app;
  return app.InitInstance(args);
}
