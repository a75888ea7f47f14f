#include <string>
#include <vector>

#include "cli/CliApp.h"

int main(int argc, char** argv) {
  corvyn::cli::CliStreams streams;
  streams.errIsTerminal = corvyn::cli::StandardErrorIsTerminal();
  streams.processEndsAfter = true;
  return corvyn::cli::RunCli(std::vector<std::string>(argv + 1, argv + argc), streams);
}
