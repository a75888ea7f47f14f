// Runs corvyn-cli's command line in the test's own process, with temporary
// files for its standard streams.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace corvyn::cli {

struct CliRun {
  int exitCode = -1;
  std::string out, err;
};

// `input` is what the command reads on its standard input; an empty
// templateFolder means the report templates beside the program.
CliRun RunInProcess(const std::vector<std::string>& args, const std::string& input = {},
                    const std::filesystem::path& templateFolder = {});

// Everything written to the file so far.
std::string ReadAll(std::FILE* file);

}  // namespace corvyn::cli
