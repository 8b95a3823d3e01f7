#include <cstdio>
#include <exception>
#include <string>

#include "cli_commands.h"

int main(int argc, char** argv) {
  using namespace duo::cli;
  Args args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(usageText(), stderr);
    return kExitUsage;
  }
  const std::string command = args.front();
  args.erase(args.begin());
  try {
    if (command == "--help" || command == "-h" || command == "help") {
      std::fputs(usageText(), stdout);
      return kExitOk;
    }
    if (command == "--version") {
      std::printf("duoscope-cli %s\n", DUOSCOPE_VERSION);
      return kExitOk;
    }
    if (command == "info") return runInfo(args);
    if (command == "normalize") return runNormalize(args);
    if (command == "render") return runRender(args);
    if (command == "batch") return runBatch(args);
    if (command == "align") return runAlign(args);
    throw UsageError{"unknown command '" + command + "'"};
  } catch (const UsageError& e) {
    std::fprintf(stderr, "duoscope-cli: %s\nTry 'duoscope-cli --help'.\n", e.message.c_str());
    return kExitUsage;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "duoscope-cli: out of memory\n");
    return kExitBadInput;
  } catch (const std::exception& e) {
    // A thread that cannot be started, say: report it instead of aborting.
    std::fprintf(stderr, "duoscope-cli: %s\n", e.what());
    return kExitBadInput;
  }
}
