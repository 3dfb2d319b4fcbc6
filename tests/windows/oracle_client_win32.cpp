// The DSP suites' oracle (tests/dsp/oracle.py: scipy and numpy) for their
// Windows build under wine. scipy runs on the Linux side: peers.py serves
// the oracle on a loopback port (TELVARIS_ORACLE_PORT) and runs it for each
// request, so the suites compare with scipy's values as on Linux. Paths in
// the arguments are handed over as the Linux paths wine keeps them at.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "dsp/oracle.h"

namespace dsptest {
namespace {

// The Linux path of a Windows one, through wine's own conversion.
std::string unixPath(const std::string& path) {
  using Convert = char*(CDECL*)(const wchar_t*);
  static const auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!convert) return path;
  std::wstring wide(path.begin(), path.end());
  char* converted = convert(wide.c_str());
  if (!converted) return path;
  std::string result(converted);
  HeapFree(GetProcessHeap(), 0, converted);
  return result;
}

bool sendAll(SOCKET s, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const int n = send(s, data.data() + done, static_cast<int>(data.size() - done), 0);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::vector<std::string> runOracle(const std::string& arguments, const std::string& input) {
  const char* port = std::getenv("TELVARIS_ORACLE_PORT");
  if (!port) {
    ADD_FAILURE() << "no oracle: TELVARIS_ORACLE_PORT is not set (tests/windows/run-wine-tests.sh serves one)";
    return {};
  }
  std::istringstream words(arguments);
  std::string line;
  for (std::string word; words >> word;) {
    if (word.find('\\') != std::string::npos || word.find(':') != std::string::npos) word = unixPath(word);
    line += (line.empty() ? "" : " ") + word;
  }

  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      !sendAll(s, line + "\n" + std::to_string(input.size()) + "\n" + input)) {
    ADD_FAILURE() << "cannot reach the oracle on port " << port;
  } else {
    char buffer[65536];
    for (int n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;) reply.append(buffer, static_cast<size_t>(n));
  }
  if (s != INVALID_SOCKET) closesocket(s);
  WSACleanup();

  // The reply: the exit status on a line, then the oracle's output.
  std::vector<std::string> lines;
  const size_t first = reply.find('\n');
  if (first == std::string::npos) {
    ADD_FAILURE() << "no answer from the oracle for: " << line;
    return {};
  }
  const int status = std::atoi(reply.substr(0, first).c_str());
  std::istringstream out(reply.substr(first + 1));
  for (std::string l; std::getline(out, l);) lines.push_back(l);
  if (status != 0) {
    ADD_FAILURE() << "oracle failed (" << status << "): " << line << "\n" << reply.substr(first + 1);
    return {};
  }
  return lines;
}

std::vector<double> numbers(const std::string& line) {
  std::istringstream in(line);
  std::vector<double> out;
  for (double v; in >> v;) out.push_back(v);
  return out;
}

}  // namespace dsptest
