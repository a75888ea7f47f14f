#include "tests/cli/CliRunner.h"

#include "cli/CliApp.h"

namespace corvyn::cli {

std::string ReadAll(std::FILE* file) {
  std::rewind(file);
  std::string text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, got);
  return text;
}

CliRun RunInProcess(const std::vector<std::string>& args, const std::string& input,
                    const std::filesystem::path& templateFolder) {
  CliStreams streams;
  streams.in = std::tmpfile();
  streams.out = std::tmpfile();
  streams.err = std::tmpfile();
  streams.templateFolder = templateFolder;
  std::fwrite(input.data(), 1, input.size(), streams.in);
  std::rewind(streams.in);
  CliRun run;
  run.exitCode = RunCli(args, streams);
  run.out = ReadAll(streams.out);
  run.err = ReadAll(streams.err);
  std::fclose(streams.in);
  std::fclose(streams.out);
  std::fclose(streams.err);
  return run;
}

}  // namespace corvyn::cli
