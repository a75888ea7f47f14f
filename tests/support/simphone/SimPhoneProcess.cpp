#include "tests/support/simphone/SimPhoneProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace corvyn::testing {

namespace fs = std::filesystem;

fs::path SimPhoneScript() {
  return CORVYN_SIMPHONE_SCRIPT;
}

bool ToolOnPath(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

bool SimPhoneProcess::Start(const fs::path& folder, const fs::path& profile) {
  socket_ = folder / "usbmuxd.sock";
  int out[2];
  if (pipe(out) != 0) return false;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    const std::string script = SimPhoneScript().string();
    execlp("python3", "python3", script.c_str(), "--socket", socket_.c_str(), "--profile", profile.c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    char buf[256];
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  setenv("USBMUXD_SOCKET_ADDRESS", SocketAddress().c_str(), 1);
  return line.rfind("simphone ready", 0) == 0;
}

SimPhoneProcess::~SimPhoneProcess() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 50; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

std::string SimPhoneProcess::Control(const std::string& command) const {
  const int s = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string path = socket_.string() + ".ctl";
  path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  std::string answer;
  if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    const std::string line = command + "\n";
    (void)!write(s, line.data(), line.size());
    pollfd p{s, POLLIN, 0};
    char buf[256];
    if (poll(&p, 1, 5000) > 0) {
      const ssize_t n = read(s, buf, sizeof buf);
      if (n > 0) answer.assign(buf, static_cast<size_t>(n));
    }
  }
  close(s);
  return answer.substr(0, answer.find('\n'));
}

std::string MakeSimPhoneProfile(const fs::path& backup, const fs::path& profile,
                                const std::string& extraJson) {
  const std::string make = "python3 '" + SimPhoneScript().string() + "' --make-profile '" + backup.string() +
                           "' --out '" + profile.string() + "'";
  FILE* out = popen(make.c_str(), "r");
  char line[256] = {};
  std::string udid;
  if (out && fgets(line, sizeof line, out)) udid = std::string(line, strcspn(line, "\n"));
  if (out) pclose(out);
  if (udid.empty() || extraJson.empty()) return udid;
  // The profile is {"devices": [ { ... } ]}: the extra keys go before the entry's closing brace.
  std::ifstream in(profile);
  std::stringstream text;
  text << in.rdbuf();
  std::string json = text.str();
  const auto end = json.rfind('}', json.rfind(']'));
  if (end == std::string::npos) return {};
  json.insert(end, extraJson);
  std::ofstream(profile, std::ios::trunc) << json;
  return udid;
}

std::string ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteWholeFile(const fs::path& path, const std::string& data) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << data;
}

std::string PhotoBytes(std::size_t size) {
  std::string data(size, '\0');
  uint32_t x = 12345;
  for (char& c : data) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return data;
}

}  // namespace corvyn::testing
