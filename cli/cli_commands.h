#pragma once

#include <string>
#include <vector>

namespace duo::cli {

/// Exit statuses of duoscope-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitBadInput = 1;
inline constexpr int kExitUsage = 2;

/// Thrown by argument parsing; main prints it with a hint and exits with kExitUsage.
struct UsageError {
  std::string message;
};

using Args = std::vector<std::string>;

int runInfo(const Args& args);
int runNormalize(const Args& args);
int runRender(const Args& args);
int runBatch(const Args& args);
int runAlign(const Args& args);

/// The full --help text.
const char* usageText();

}  // namespace duo::cli
