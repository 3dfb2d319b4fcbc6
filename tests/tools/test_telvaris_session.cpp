// telvaris-session as its users run it: recording from the DSU simulator on
// a pseudo-terminal, then info, export and plot of the session file; a
// session file made byte by byte from the packet layout, whose counts,
// marks and CSV lines follow from the decoding rules; and bad input.
#include <sys/wait.h>

#include <gtest/gtest.h>
#include <QtGui/QImage>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures/child_process.h"
#include "fixtures/dsu_simulator.h"
#include "fixtures/mosquitto_broker.h"
#include "fixtures/temp_root.h"

namespace {

struct ToolRun {
  int status = -1;
  std::string output;  // standard output and error
};

ToolRun runTool(const fixtures::TempRoot& root, const std::vector<std::string>& args, int timeoutMs = 60000) {
  static int runs = 0;
  const std::string log = root.file("tool-" + std::to_string(++runs) + ".log");
  fixtures::ChildProcess tool;
  std::vector<std::string> argv = {TELVARIS_SESSION_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  tool.start(argv, {}, log);
  ToolRun run;
  if (!tool.waitExit(timeoutMs, &run.status)) tool.stop();
  run.output = fixtures::readFile(log);
  if (WIFEXITED(run.status)) run.status = WEXITSTATUS(run.status);
  return run;
}

long numberAfter(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  return at == std::string::npos ? -1 : std::stol(text.substr(at + key.size()));
}

std::vector<std::vector<long>> csvRows(const std::string& text, std::string& header) {
  std::istringstream in(text);
  std::getline(in, header);
  std::vector<std::vector<long>> rows;
  std::string line;
  while (std::getline(in, line)) {
    std::vector<long> row;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, ',')) row.push_back(std::stol(field));
    rows.push_back(row);
  }
  return rows;
}

// A trace drawn in `colour` over white: for each column of its widest
// unbroken run of columns (labels in the same colour stand apart), the mean
// row of its pixels, each weighted by how much of the colour it holds (the
// edges of a line are blended with the white).
std::vector<double> traceRows(const QImage& image, const QColor& colour) {
  const int ink[3] = {255 - colour.red(), 255 - colour.green(), 255 - colour.blue()};
  const int strongest = static_cast<int>(std::max_element(ink, ink + 3) - ink);
  std::vector<double> mean(static_cast<size_t>(image.width()), -1);
  for (int x = 0; x < image.width(); ++x) {
    double sum = 0, weight = 0;
    for (int y = 0; y < image.height(); ++y) {
      const QColor c = image.pixelColor(x, y);
      const int got[3] = {255 - c.red(), 255 - c.green(), 255 - c.blue()};
      const double share = static_cast<double>(got[strongest]) / ink[strongest];
      double off = 0;
      for (int i = 0; i < 3; ++i) off += std::abs(got[i] - share * ink[i]);
      if (share > 0.25 && share < 1.2 && off < 40) sum += share * y, weight += share;
    }
    if (weight > 0) mean[static_cast<size_t>(x)] = sum / weight;
  }
  size_t bestFrom = 0, bestLength = 0;
  for (size_t x = 0; x < mean.size();) {
    size_t end = x;
    while (end < mean.size() && mean[end] >= 0) ++end;
    if (end - x > bestLength) bestFrom = x, bestLength = end - x;
    x = end + 1;
  }
  return std::vector<double>(mean.begin() + static_cast<long>(bestFrom),
                             mean.begin() + static_cast<long>(bestFrom + bestLength));
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
  const double n = static_cast<double>(a.size());
  double ma = 0, mb = 0;
  for (size_t i = 0; i < a.size(); ++i) ma += a[i] / n, mb += b[i] / n;
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    ab += (a[i] - ma) * (b[i] - mb);
    aa += (a[i] - ma) * (a[i] - ma);
    bb += (b[i] - mb) * (b[i] - mb);
  }
  return ab / std::sqrt(aa * bb);
}

const std::string kCsvHeader =
    "Line #,PacketCounter,AuxByte,Channel0,Channel1,Channel2,Channel3,Channel4,Channel5,Channel6,Channel7,Channel8,"
    "Channel9,Channel10,Channel11,Channel12,Channel13,Channel14,Channel15,Channel16,Channel17,Channel18,Channel19,"
    "Channel20,Channel21,Channel22,Channel23,Channel24,Channel25,Channel26,Channel27,Channel28,Channel29,Channel30,"
    "Channel31";

TEST(TelvarisSession, RecordsFromTheSimulatorThenTellsExportsAndDrawsTheSession) {
  fixtures::TempRoot root;
  // Every 300th packet loses its frame marker.
  fixtures::DsuSimulator dsu(
      DSU_SIM_PATH, 5, {"--channel", "0=sine:10:300", "--channel", "1=square:2:200", "--framing-error-every", "300"});
  const std::string session = root.file("first.session");
  const ToolRun recorded = runTool(root, {"record", "--com", "5", "--seconds", "10", session});
  ASSERT_EQ(recorded.status, 0) << recorded.output;
  // Progress lines (not a terminal: one a second), then the summary.
  EXPECT_TRUE(
      std::regex_search(recorded.output, std::regex(R"(\d+\.\d s of 10\.0 s: \d+ packets, 2[45]\d\.\d a second, )"
                                                    R"(\d+ framing errors, System OK)")))
      << recorded.output;
  EXPECT_NE(recorded.output.find("recording 10.0 s from COM5 into " + session), std::string::npos) << recorded.output;
  const long livePackets = numberAfter(recorded.output, "from COM5: ");
  EXPECT_GT(livePackets, 2400) << recorded.output;  // 10 s at 256 a second
  const long liveErrors = numberAfter(recorded.output, " a second), ");
  const std::string bytes = fixtures::readFile(session);
  EXPECT_EQ(numberAfter(recorded.output, "framing errors; "), static_cast<long>(bytes.size())) << recorded.output;
  // Exactly what the unit sent after the start signal: whole 14-byte
  // packets, each ending in its frame marker (or cleared on purpose).
  ASSERT_GE(bytes.size(), 14u * 1000);
  EXPECT_EQ(static_cast<uint8_t>(bytes[13]) & 0x80, 0x80);
  EXPECT_EQ(recorded.output.find("telvaris-session:"), std::string::npos) << recorded.output;

  const ToolRun refused = runTool(root, {"record", "--com", "5", "--seconds", "1", session});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find(session + " exists (--force replaces it)"), std::string::npos) << refused.output;
  EXPECT_EQ(fixtures::readFile(session), bytes) << "a refused recording leaves the file alone";

  const ToolRun told = runTool(root, {"info", session});
  ASSERT_EQ(told.status, 0) << told.output;
  const long packets = numberAfter(told.output, "packets:"), errors = numberAfter(told.output, "framing errors:");
  const long skipped = numberAfter(told.output, "skipped bytes:");
  // The file decodes as the stream did, bar a packet where a lost frame's
  // search for a marker met the end of one read.
  EXPECT_GE(packets + 2, livePackets) << told.output;
  // A cleared marker costs its packet and the next: the scan for a marker
  // stops at the end of the next packet.
  const long sent = packets + 2 * errors;
  EXPECT_NEAR(errors, sent / 300, 1) << told.output;
  EXPECT_NEAR(liveErrors, errors, 1) << recorded.output;
  EXPECT_EQ(skipped, static_cast<long>(bytes.size()) - packets * 14) << told.output;
  EXPECT_LT(std::abs(skipped - 28 * errors), 28) << told.output;
  char duration[32];
  std::snprintf(duration, sizeof duration, "duration:       %.1f s at 256", packets / 256.0);
  EXPECT_NE(told.output.find(duration), std::string::npos) << told.output;
  EXPECT_NE(told.output.find("button marks:   0\n"), std::string::npos) << told.output;

  const std::string csv = root.file("first.csv");
  const ToolRun exported = runTool(root, {"export", session, csv});
  ASSERT_EQ(exported.status, 0) << exported.output;
  EXPECT_NE(exported.output.find("a header and " + std::to_string(packets) + " packets"), std::string::npos)
      << exported.output;
  std::string header;
  const auto rows = csvRows(fixtures::readFile(csv), header);
  EXPECT_EQ(header, kCsvHeader);
  ASSERT_EQ(static_cast<long>(rows.size()), packets);
  long low = 1 << 20, high = -1;
  for (size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 35u) << "line " << i + 2;
    EXPECT_EQ(rows[i][0], static_cast<long>(i + 1));
    // The sine of channel 0 around 512, the square wave of channel 1 at
    // 512 +- 200, and nothing in the channels 14-byte packets do not carry.
    low = std::min(low, rows[i][3]);
    high = std::max(high, rows[i][3]);
    EXPECT_TRUE(rows[i][4] == 312 || rows[i][4] == 712) << "line " << i + 2 << ": " << rows[i][4];
    EXPECT_EQ(rows[i][34], 0);
    if (rows[i][0] != static_cast<long>(i + 1) || (rows[i][4] != 312 && rows[i][4] != 712) || rows[i][34] != 0) break;
  }
  EXPECT_GE(low, 211);
  EXPECT_LE(low, 220);
  EXPECT_GE(high, 804);
  EXPECT_LE(high, 813);

  const std::string png = root.file("first.png");
  const ToolRun drawn =
      runTool(root, {"plot", "--channels", "0,1", "--from", "1", "--to", "2", "--size", "640x360", session, png});
  ASSERT_EQ(drawn.status, 0) << drawn.output;
  EXPECT_NE(drawn.output.find("drew channels 0,1 from 1.00 s to 2.00 s (256 packets"), std::string::npos)
      << drawn.output;
  const QImage image(QString::fromStdString(png));
  ASSERT_FALSE(image.isNull()) << drawn.output;
  EXPECT_EQ(image.width(), 640);
  EXPECT_EQ(image.height(), 360);
  // Where each trace lies, column by column, against the samples the CSV
  // holds for that second (packets 256 to 511): the sine's height follows
  // its samples, the square wave sits on its top or bottom line as its
  // samples say.
  const std::vector<double> sine = traceRows(image, QColor(31, 84, 160));
  const std::vector<double> square = traceRows(image, QColor(196, 78, 18));
  ASSERT_GT(sine.size(), 500u);  // the plot's width, bar its margins
  ASSERT_GT(square.size(), 500u);
  auto sampleAt = [&](size_t column, int offset, int channel) {
    const double across = static_cast<double>((channel == 0 ? sine : square).size() - 1);
    const long k = 256 + std::lround(static_cast<double>(column) / across * 255) + offset;
    return rows[static_cast<size_t>(std::clamp(k, 256L, 511L))][3 + channel];
  };
  std::vector<double> heights, values;
  for (size_t x = 0; x < sine.size(); ++x) {
    heights.push_back(-sine[x]);
    values.push_back(static_cast<double>(sampleAt(x, 0, 0)));
  }
  EXPECT_GT(correlation(heights, values), 0.92);  // two samples off gives about 0.85
  const double top = *std::min_element(square.begin(), square.end());
  const double bottom = *std::max_element(square.begin(), square.end());
  EXPECT_GT(bottom - top, 50);
  int checked = 0, misplaced = 0;
  for (size_t x = 0; x < square.size(); ++x) {
    const long v = sampleAt(x, 0, 1);
    if (sampleAt(x, -2, 1) != v || sampleAt(x, 2, 1) != v) continue;  // an edge
    ++checked;
    misplaced += std::abs(square[x] - (v == 712 ? top : bottom)) > 3;
  }
  EXPECT_GT(checked, 400);
  EXPECT_LE(misplaced, checked / 50) << misplaced << " of " << checked << " columns";
}

// The relay service's road through a real broker: its start and stop
// messages carry the words given, and what streams in is recorded.
TEST(TelvarisSession, RecordsOverTheRelayRoad) {
  fixtures::TempRoot root;
  fixtures::MosquittoBroker broker;
  fixtures::DsuSimulator dsu(DSU_SIM_PATH, broker, "lab/relay", "lab/stream", {"--channel", "0=square:2:200"});
  const std::string session = root.file("relay.session");
  const ToolRun recorded =
      runTool(root, {"record", "--relay", broker.uri(), "--publish", "lab/relay", "--subscribe", "lab/stream", "--user",
                     "ann", "--words", "site,eeg,7", "--seconds", "2", session});
  ASSERT_EQ(recorded.status, 0) << recorded.output << dsu.output();
  EXPECT_NE(recorded.output.find("recording 2.0 s from relay " + broker.uri() + " into "), std::string::npos)
      << recorded.output;
  // A session opens with a stop (the unit may still be streaming), then
  // starts it, and stops it at the end.
  const std::string messages = "stop/site/eeg/ann/7start/site/eeg/ann/7stop/site/eeg/ann/7";
  ASSERT_TRUE(dsu.waitForReceived(messages.size())) << dsu.received();
  EXPECT_EQ(dsu.received(), messages);
  const ToolRun told = runTool(root, {"info", session});
  ASSERT_EQ(told.status, 0) << told.output;
  const long packets = numberAfter(told.output, "packets:");
  EXPECT_GT(packets, 400) << told.output;  // two seconds at 256 a second
  EXPECT_EQ(numberAfter(told.output, "skipped bytes:"), 0) << told.output;
  std::string header;
  const ToolRun exported = runTool(root, {"export", session, root.file("relay.csv")});
  ASSERT_EQ(exported.status, 0) << exported.output;
  const auto rows = csvRows(fixtures::readFile(root.file("relay.csv")), header);
  ASSERT_EQ(static_cast<long>(rows.size()), packets);
  EXPECT_TRUE(rows[0][3] == 312 || rows[0][3] == 712) << rows[0][3];
}

// Packets as the unit frames them: counter byte, auxiliary byte, then the
// bytes 05 06 21 07 08 43 09 0A 65 0B 0C F7 (channels 261, 134, 519, 392,
// 777, 650, 907, 908). Three bytes of line noise come first; packet 257
// carries a button mark (0xFF); packet 400 lost its frame marker.
std::string craftedSession() {
  const uint8_t data[12] = {0x05, 0x06, 0x21, 0x07, 0x08, 0x43, 0x09, 0x0A, 0x65, 0x0B, 0x0C, 0xF7};
  std::string bytes = "\x01\x02\x03";
  for (int k = 0; k < 512; ++k) {
    bytes += static_cast<char>((k % 64) << 1);
    bytes += static_cast<char>(k == 257 ? 0xFF : 0x00);
    bytes.append(reinterpret_cast<const char*>(data), sizeof data);
    if (k == 400) bytes.back() = 0x77;
  }
  return bytes;
}

TEST(TelvarisSession, CountsMarksAndLinesOfAHandMadeSession) {
  fixtures::TempRoot root;
  const std::string session = root.file("crafted.session");
  const std::string bytes = craftedSession();
  fixtures::writeFile(session, bytes);

  // The noise hides packet 0's marker: packet 0 goes, and 1 to 399 decode;
  // packet 400 takes 401 with it; 402 to 511 decode.
  const ToolRun told = runTool(root, {"info", session});
  ASSERT_EQ(told.status, 0) << told.output;
  EXPECT_NE(told.output.find(session + ": 7171 bytes of 14-byte packets (8 channels)"), std::string::npos)
      << told.output;
  EXPECT_EQ(numberAfter(told.output, "packets:"), 509) << told.output;
  EXPECT_EQ(numberAfter(told.output, "framing errors:"), 2) << told.output;
  EXPECT_EQ(numberAfter(told.output, "skipped bytes:"), 7171 - 509 * 14) << told.output;
  EXPECT_NE(told.output.find("duration:       2.0 s at 256 packets a second"), std::string::npos) << told.output;
  // Packet 257 is the 257th decoded (index 256): one second in.
  EXPECT_NE(told.output.find("button marks:   1 (at 1.0 s)"), std::string::npos) << told.output;

  const std::string csv = root.file("crafted.csv");
  ASSERT_EQ(runTool(root, {"export", session, csv}).status, 0);
  std::string header;
  const auto rows = csvRows(fixtures::readFile(csv), header);
  EXPECT_EQ(header, kCsvHeader);
  ASSERT_EQ(rows.size(), 509u);
  const std::vector<long> channels = {261, 134, 519, 392, 777, 650, 907, 908};
  const std::vector<long> first(rows[0].begin() + 3, rows[0].begin() + 11);
  EXPECT_EQ(first, channels);
  EXPECT_EQ(rows[0][1], 1);  // packet 1's counter
  EXPECT_EQ(rows[256][1], 257 % 64);
  EXPECT_EQ(rows[256][2], -1);  // the mark
  EXPECT_EQ(rows[255][2], 0);
  EXPECT_EQ(rows[399][1], 402 % 64);  // after the lost frame

  // Eight channels by default, the mark drawn in red.
  const std::string png = root.file("crafted.png");
  const ToolRun drawn = runTool(root, {"plot", session, png});
  ASSERT_EQ(drawn.status, 0) << drawn.output;
  EXPECT_NE(drawn.output.find("drew channels 0,1,2,3,4,5,6,7 from 0.00 s to 1.99 s (509 packets, 1 button marks)"),
            std::string::npos)
      << drawn.output;
  const QImage image(QString::fromStdString(png));
  ASSERT_EQ(image.size(), QSize(1200, 800));
  // The column where most red is: about halfway along, across the bands.
  int bestColumn = -1, mostRed = 0;
  for (int x = 0; x < image.width(); ++x) {
    int red = 0;
    for (int y = 0; y < image.height(); ++y) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() > 180 && c.green() < 90 && c.blue() < 90) ++red;
    }
    if (red > mostRed) mostRed = red, bestColumn = x;
  }
  EXPECT_GT(mostRed, image.height() / 2);
  EXPECT_GT(bestColumn, image.width() * 2 / 5);
  EXPECT_LT(bestColumn, image.width() * 3 / 5);
}

TEST(TelvarisSession, BadInputGetsOneLineAndAnExitStatus) {
  fixtures::TempRoot root;
  const std::string session = root.file("crafted.session");
  fixtures::writeFile(session, craftedSession());
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const int closed = fixtures::freeLoopbackPort();
  const std::vector<Case> cases = {
      {{}, 2, "telvaris-session: no command given (record, info, export or plot; --help tells more)"},
      {{"replay", session}, 2, "telvaris-session: unknown command 'replay'"},
      {{"info", root.file("missing.session")},
       1,
       "telvaris-session: cannot read " + root.file("missing.session") + ": No such file or directory"},
      {{"info", root.path()}, 1, "telvaris-session: " + root.path() + " is a folder, not a session file"},
      {{"info", "--length", "13", session}, 2, "telvaris-session: unknown packet length '13' (5, 8, 11, 14 or 50)"},
      {{"export", session, root.file("no/such/folder.csv")},
       1,
       "telvaris-session: cannot write " + root.file("no/such/folder.csv")},
      {{"plot", "--channels", "8", session, root.file("x.png")},
       2,
       "telvaris-session: channel 8 is not in 14-byte packets (channels 0-7)"},
      {{"plot", "--from", "5", session, root.file("x.png")},
       1,
       "telvaris-session: --from 5 lies past the end of the recording (2.0 s)"},
      {{"record", "--seconds", "1", root.file("y.session")}, 2, "telvaris-session: record needs a road"},
      {{"record", "--mqtt", "tcp://127.0.0.1", "--seconds", "1", root.file("y.session")},
       2,
       "telvaris-session: --mqtt needs --publish TOPIC and --subscribe TOPIC"},
      {{"record", "--tcp", std::to_string(closed), "--seconds", "1", root.file("y.session")},
       1,
       "telvaris-session: no connection to tcp 127.0.0.1:" + std::to_string(closed) + " (Serial Port Failure)"},
  };
  for (const Case& c : cases) {
    const ToolRun run = runTool(root, c.args);
    EXPECT_EQ(run.status, c.status) << run.output;
    // One line of error, the last thing written.
    const size_t at = run.output.find("telvaris-session: ");
    ASSERT_NE(at, std::string::npos) << run.output;
    EXPECT_EQ(run.output.substr(at).rfind(c.message, 0), 0u) << run.output;
    EXPECT_EQ(run.output.find('\n', at), run.output.size() - 1) << run.output;
  }
  EXPECT_FALSE(fixtures::pathExists(root.file("y.session")));
  EXPECT_FALSE(fixtures::pathExists(root.file("x.png")));

  for (const std::string command : {"record", "info", "export", "plot"}) {
    const ToolRun help = runTool(root, {command, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.output.rfind("usage: telvaris-session " + command, 0), 0u) << help.output;
  }
}

}  // namespace
