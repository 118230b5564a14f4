// pellwick: the RAID message server.
#include <string>
#include <vector>

#include "msgserver/pellwick_app.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  kelm::msgserver::CPellwickApp app;
  return app.InitInstance(args);
}
