#include "bench/processProbe.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace benchprobe {
namespace {

long statusField(const char* name) {
  FILE* file = std::fopen("/proc/self/status", "r");
  if (!file) return -1;
  char line[256];
  long value = -1;
  size_t length = std::strlen(name);
  while (std::fgets(line, sizeof line, file)) {
    if (std::strncmp(line, name, length) == 0) {
      value = std::strtol(line + length, nullptr, 10);
      break;
    }
  }
  std::fclose(file);
  return value;
}

void parseOutput(ChildResult& result) {
  size_t start = 0;
  while (start < result.output.size()) {
    size_t end = result.output.find('\n', start);
    if (end == std::string::npos) end = result.output.size();
    std::string line = result.output.substr(start, end - start);
    start = end + 1;
    if (line.rfind("@ ", 0) == 0) {
      size_t space = line.find(' ', 2);
      if (space == std::string::npos)
        result.values[line.substr(2)] = "";
      else
        result.values[line.substr(2, space - 2)] = line.substr(space + 1);
    } else if (!line.empty()) {
      result.notes.push_back(line);
    }
  }
}

}  // namespace

double nowSeconds() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

long peakRssKb() {
  return statusField("VmHWM:");
}
long currentRssKb() {
  return statusField("VmRSS:");
}

bool resetPeakRss() {
  int fd = open("/proc/self/clear_refs", O_WRONLY);
  if (fd < 0) return false;
  bool ok = write(fd, "5", 1) == 1;
  close(fd);
  return ok;
}

ChildResult runChild(const std::vector<std::string>& argv, double capSeconds,
                     unsigned long long capMemoryBytes) {
  ChildResult result;
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return result;
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::fflush(stdout);
  std::fflush(stderr);
  double start = nowSeconds();
  pid_t pid = fork();
  if (pid < 0) {
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    return result;
  }
  if (pid == 0) {
    dup2(pipeEnds[1], 1);
    dup2(pipeEnds[1], 2);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    if (capMemoryBytes > 0) {
      rlimit limit{capMemoryBytes, capMemoryBytes};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (capSeconds > 0) {
      itimerval timer{};
      timer.it_value.tv_sec = static_cast<time_t>(capSeconds);
      timer.it_value.tv_usec =
          static_cast<suseconds_t>((capSeconds - static_cast<double>(timer.it_value.tv_sec)) * 1e6);
      setitimer(ITIMER_REAL, &timer, nullptr);  // kept across exec; SIGALRM ends the child
    }
    execv(args[0], args.data());
    std::fprintf(stderr, "cannot run %s\n", args[0]);
    _exit(127);
  }
  result.started = true;
  close(pipeEnds[1]);
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipeEnds[0], buffer, sizeof buffer)) != 0) {
    if (n > 0)
      result.output.append(buffer, static_cast<size_t>(n));
    else if (errno != EINTR)
      break;
  }
  close(pipeEnds[0]);
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.wallSeconds = nowSeconds() - start;
  result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
  result.maxRssKb = usage.ru_maxrss;
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
    result.timedOut = result.signal == SIGALRM;
  }
  parseOutput(result);
  return result;
}

void emit(const std::string& key, const std::string& value) {
  std::printf("@ %s %s\n", key.c_str(), value.c_str());
  std::fflush(stdout);
}

void emit(const std::string& key, double value) {
  char text[64];
  auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
  emit(key, std::string(text, result.ptr));
}

void emit(const std::string& key, long long value) {
  emit(key, std::to_string(value));
}

}  // namespace benchprobe
