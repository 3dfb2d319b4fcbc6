#include "oracle.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

namespace dsptest {

std::vector<std::string> runOracle(const std::string& arguments, const std::string& input) {
  char inputPath[] = "/tmp/telvaris-oracle-XXXXXX";
  const int fd = mkstemp(inputPath);
  if (fd < 0) {
    ADD_FAILURE() << "cannot make the oracle's input file";
    return {};
  }
  if (!input.empty() && write(fd, input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
    ADD_FAILURE() << "cannot write the oracle's input file";
  }
  close(fd);

  const std::string command = std::string("/usr/bin/python3 ") + TELVARIS_DSP_ORACLE + " " + arguments + " < " +
                              inputPath + " 2>&1";
  std::vector<std::string> lines;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe) {
    std::string line;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
      line += buffer;
      if (!line.empty() && line.back() == '\n') {
        line.pop_back();
        lines.push_back(line);
        line.clear();
      }
    }
    if (!line.empty()) lines.push_back(line);
    const int status = pclose(pipe);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::string output;
      for (const auto& l : lines) output += l + "\n";
      ADD_FAILURE() << "oracle failed: " << command << "\n" << output;
      lines.clear();
    }
  } else {
    ADD_FAILURE() << "cannot run " << command;
  }
  unlink(inputPath);
  return lines;
}

std::vector<double> numbers(const std::string& line) {
  std::istringstream in(line);
  std::vector<double> out;
  for (double v; in >> v;) out.push_back(v);
  return out;
}

}  // namespace dsptest
