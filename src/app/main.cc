// Pelmora: picks Field-N of every line of a UTF-16 file and writes it as
// Shift_JIS. The main routine only sets up the process and hands over.
#include <string>
#include <vector>

#include "app/run.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  platform::initializeProcess();
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  platform::exitProcess(runPelmora(arguments));
}
