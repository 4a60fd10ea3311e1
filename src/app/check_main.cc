// pelmora-check: shows how pelmora would read a command line and what the
// run would do, and runs nothing. The main routine only sets up the process
// and hands over.
#include <string>
#include <vector>

#include "app/check.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  platform::initializeProcess();
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  platform::exitProcess(runCheck(arguments));
}
