// Drawing channels of a session into a PNG picture, without a display:
// Qt's painter on an image, with the offscreen platform for its fonts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace session_tool {

struct PlotData {
  std::string title;
  double startSeconds = 0;  // time of the first sample
  int rate = 256;           // samples a second
  std::vector<int> channels;
  std::vector<std::vector<int32_t>> samples;  // one row a channel, all the same length
  std::vector<size_t> marks;                  // sample indices of manual button marks
};

// Draws `data` into a `width` x `height` picture saved as PNG at `path`.
// False with `error` set when the file cannot be written.
bool renderPlot(const PlotData& data, int width, int height, const std::string& path, std::string& error);

}  // namespace session_tool
