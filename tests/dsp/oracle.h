// Reference values from scipy and numpy (tests/dsp/oracle.py, run by
// Debian's /usr/bin/python3), for comparing the signal-processing code
// against an independent implementation.
#pragma once

#include <string>
#include <vector>

namespace dsptest {

// Runs the oracle with `arguments`, `input` on its standard input. Returns
// its output lines; an empty list, with a test failure recorded, when the
// script cannot run or fails.
std::vector<std::string> runOracle(const std::string& arguments, const std::string& input = "");

// Whitespace-separated numbers of one line.
std::vector<double> numbers(const std::string& line);

}  // namespace dsptest
