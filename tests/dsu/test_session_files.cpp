// Session files without a running session: LoadSession and ExportToCSV
// against files made here (CSV lines worked out by hand), the packet
// read-out over a loaded session, the recording length, and GetEpoch in
// both modes, raw and through its filter (against scipy's lfilter).
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "../dsp/oracle.h"
#include "dsu/recording.h"
#include "dsu_link_support.h"
#include "p3_samples.h"
#include "telvaris.h"

namespace {

using dsutest::countMatching;
using dsutest::encode;

// Twenty-four zero channels, as a CSV line ends for 14-byte packets.
std::string zeros24() {
  std::string z;
  for (int i = 0; i < 24; ++i) z += ",0";
  return z;
}

class SessionFiles : public dsutest::DsuLinkTest {
 protected:
  void TearDown() override {
    CleanUpLoadedSession();
    SetRecordingLength(360);  // the library's defaults: 77414400 bytes, 1382400 packets
    DsuLinkTest::TearDown();
  }
  std::string write(const std::string& name, const std::string& bytes) {
    const std::string path = root.file(name);
    fixtures::writeFile(path, bytes);
    return path;
  }
};

TEST_F(SessionFiles, LoadReadOutAndExportToCsv) {
  // Four packets come through; a stray byte after the third costs the
  // fourth (its frame is found again only at the fifth).
  const std::string bytes =
      encode(14, 0, 0x00, {1, 2, 3, 4, 5, 6, 7, 8}) + encode(14, 1, 0xFF, {1023, 2047, 0, 0, 512, 1024, 7, 9}) +
      encode(14, 2, 0x00, {10, 20, 30, 40, 50, 60, 70, 80}) + "\x33" + encode(14, 3, 0x00, {9, 9, 9, 9, 9, 9, 9, 9}) +
      encode(14, 63, 0x7F, {100, 200, 300, 400, 500, 600, 700, 800});
  const std::string session = write("session.raw", bytes);
  ASSERT_EQ(LoadSession(session.c_str()), TLV_LOAD_OK);
  EXPECT_EQ(GetSystemStatus(0), TLV_DSU_SYSTEM_OK);
  EXPECT_EQ(countMatching(log(), "Packets=4, Errors=1, Skipped=15"), 1u);
  EXPECT_EQ(countMatching(log(), "Filesize = 71"), 1u);

  // The read-out: a count of 0 still moves on; an index outside the
  // packets hands out nothing, whatever it was set to.
  EXPECT_EQ(PacketsInBuffer(0), 4);
  int32_t channels[32], format = 0, counter = 0, aux = 0;
  EXPECT_EQ(GetP3Data(channels, 0, &format, &counter, &aux), TLV_P3_OK);
  EXPECT_EQ(format, 1);
  EXPECT_EQ(counter, 0);
  EXPECT_EQ(GetP3Data(channels, 40, &format, &counter, &aux), TLV_P3_OK);  // held to 32
  EXPECT_EQ(counter, 1);
  EXPECT_EQ(aux, -1);
  EXPECT_EQ(channels[1], 2047);
  EXPECT_EQ(channels[31], 0);
  EXPECT_EQ(CurrentPacketNumber(0), 2);
  EXPECT_EQ(GetP3Data(nullptr, 4, &format, &counter, &aux), TLV_P3_BAD_ARGUMENT);
  EXPECT_EQ(CurrentPacketNumber(0), 2);
  EXPECT_EQ(SetPacketNumber(0, -1), 0);
  EXPECT_EQ(GetP3Data(channels, 8, &format, &counter, &aux), TLV_P3_NO_NEW_PACKET);
  EXPECT_EQ(counter, -1);
  SetPacketNumber(0, 10);
  EXPECT_EQ(CurrentPacketNumber(0), 10);
  EXPECT_EQ(PacketsInBuffer(0), -6);
  EXPECT_EQ(GetP3Data(channels, 8, &format, &counter, &aux), TLV_P3_NO_NEW_PACKET);
  SetPacketNumber(0, 3);
  EXPECT_EQ(GetP3Data(channels, 8, &format, &counter, &aux), TLV_P3_OK);
  EXPECT_EQ(counter, 63);
  EXPECT_EQ(aux, 127);
  EXPECT_EQ(channels[7], 800);

  // A CSV file that cannot be made: -1, the loaded packets stay.
  EXPECT_EQ(ExportToCSV(session.c_str(), root.file("no/such/folder.csv").c_str()), TLV_EXPORT_CANNOT_WRITE);
  EXPECT_EQ(PacketsInBuffer(0), 4);

  const std::string csv = root.file("session.csv");
  ASSERT_EQ(ExportToCSV(session.c_str(), csv.c_str()), TLV_EXPORT_OK);
  std::string header = "Line #,PacketCounter,AuxByte";
  for (int c = 0; c < 32; ++c) header += ",Channel" + std::to_string(c);
  EXPECT_EQ(fixtures::readFile(csv), header + "\n" + "1,0,0,1,2,3,4,5,6,7,8" + zeros24() + "\n" +
                                         "2,1,-1,1023,2047,0,0,512,1024,7,9" + zeros24() + "\n" +
                                         "3,2,0,10,20,30,40,50,60,70,80" + zeros24() + "\n" +
                                         "4,63,127,100,200,300,400,500,600,700,800" + zeros24() + "\n");
  EXPECT_EQ(countMatching(log(), "4 records written to .*session.csv"), 1u);
  EXPECT_EQ(PacketsInBuffer(0), 0);  // released after the export

  // An empty file: nothing decoded, nothing skipped, a header alone.
  const std::string empty = write("empty.raw", "");
  ASSERT_EQ(LoadSession(empty.c_str()), TLV_LOAD_OK);
  EXPECT_EQ(countMatching(log(), "Packets=0, Errors=0, Skipped=0"), 1u);
  EXPECT_EQ(GetP3Data(channels, 8, &format, &counter, &aux), TLV_P3_NOTHING_DECODED);
  ASSERT_EQ(ExportToCSV(empty.c_str(), csv.c_str()), TLV_EXPORT_OK);
  EXPECT_EQ(fixtures::readFile(csv), header + "\n");

  // 32 channels; a whole number of packets decodes to the last one.
  std::vector<int32_t> wide(32);
  for (int c = 0; c < 32; ++c) wide[static_cast<size_t>(c)] = 30 * c + 1;
  const std::string fifty =
      write("fifty.raw", encode(50, 5, 0, wide) + encode(50, 6, 0, wide) + encode(50, 7, 0, wide));
  SetDSUPacketLength(0, 50);
  ASSERT_EQ(LoadSession(fifty.c_str()), TLV_LOAD_OK);
  EXPECT_EQ(countMatching(log(), "Packets=3, Errors=0, Skipped=0"), 1u);
  SetPacketNumber(0, 2);
  ASSERT_EQ(GetP3Data(channels, 32, &format, &counter, &aux), TLV_P3_OK);
  EXPECT_EQ(counter, 7);
  EXPECT_EQ(std::vector<int32_t>(channels, channels + 32), wide);

  // Missing file: -1, the status unchanged (LoadSession set it to 0).
  EXPECT_EQ(LoadSession(root.file("none.raw").c_str()), TLV_LOAD_CANNOT_OPEN);
  EXPECT_EQ(ExportToCSV(nullptr, csv.c_str()), TLV_LOAD_CANNOT_OPEN);
  EXPECT_EQ(countMatching(log(), "Failed to open file"), 2u);
  EXPECT_EQ(CleanUpLoadedSession(), TLV_LOAD_OK);
  EXPECT_EQ(PacketsInBuffer(0), 0);
}

TEST_F(SessionFiles, TheRecordingLengthSizesTheStores) {
  EXPECT_EQ(SetRecordingLength(30), TLV_RECORDING_OK);
  EXPECT_EQ(countMatching(log(), "Memory Size=6451200"), 1u);
  EXPECT_EQ(countMatching(log(), "NumberofElements=460800"), 1u);
  // 9987 minutes would pass a 32-bit size; nothing changes then.
  EXPECT_EQ(SetRecordingLength(9987), TLV_RECORDING_BAD_LENGTH);
  EXPECT_EQ(SetRecordingLength(0), TLV_RECORDING_BAD_LENGTH);
  EXPECT_EQ(SetRecordingLength(9986), TLV_RECORDING_OK);
  EXPECT_EQ(countMatching(log(), "Memory Size=2147389440"), 1u);

  // One minute: 15360 packets decoded; a file with three more decodes what
  // fits and counts the rest as skipped (3 packets of 5 bytes).
  ASSERT_EQ(SetRecordingLength(1), TLV_RECORDING_OK);
  SetDSUPacketLength(0, 5);
  const std::string longer = write("longer.raw", dsutest::samplePackets(5, 15363));
  ASSERT_EQ(LoadSession(longer.c_str()), TLV_LOAD_OK);
  EXPECT_EQ(countMatching(log(), "Packets=15360, Errors=0, Skipped=15"), 1u);
  EXPECT_EQ(PacketsInBuffer(0), 15360);
}

// Channel 3 carries a 10 Hz sine of amplitude 400 around 512; the others
// count packets.
std::string sinePackets(int count) {
  std::string out;
  for (int k = 0; k < count; ++k) {
    const int32_t sine = static_cast<int32_t>(std::lround(512 + 400 * std::sin(2 * M_PI * 10 * k / 256.0)));
    out += encode(14, k % 64, 0, {k % 1024, 1, 2, sine, 4, 5, 6, 7});
  }
  return out;
}

int32_t sineAt(int k) { return static_cast<int32_t>(std::lround(512 + 400 * std::sin(2 * M_PI * 10 * k / 256.0))); }

// scipy's output for `input`, from a zero state.
std::vector<double> oracle(const std::vector<int32_t>& input) {
  std::ostringstream text;
  for (int32_t x : input) text << x << '\n';
  std::vector<double> out;
  for (const std::string& line : dsptest::runOracle("", text.str())) out.push_back(dsptest::numbers(line).at(0));
  return out;
}

TEST_F(SessionFiles, EpochsLatestAndSequentialRawAndFiltered) {
  std::vector<int32_t> values(1024, -7);
  ASSERT_EQ(LoadSession(write("short.raw", sinePackets(300)).c_str()), TLV_LOAD_OK);
  EXPECT_EQ(GetEpoch(0, 3, values.data(), 2, 0, 1), TLV_EPOCH_NOT_ENOUGH_DATA);
  // 2^24 + 1 epochs is 256 samples in 32 bits: still not enough.
  EXPECT_EQ(GetEpoch(0, 3, values.data(), 16777217, 0, 1), TLV_EPOCH_NOT_ENOUGH_DATA);
  EXPECT_EQ(GetEpoch(0, 3, values.data(), 8388608, 0, 1), TLV_EPOCH_NOT_ENOUGH_DATA);

  ASSERT_EQ(LoadSession(write("sine.raw", sinePackets(1024)).c_str()), TLV_LOAD_OK);
  ASSERT_EQ(GetEpoch(0, 3, values.data(), 2, 0, 1), TLV_EPOCH_OK);
  EXPECT_EQ(countMatching(log(), "GetEpoch from 512 to 1024"), 1u);
  for (int i = 0; i < 512; ++i) ASSERT_EQ(values[static_cast<size_t>(i)], sineAt(512 + i)) << i;

  // Filtered: the library's one filter starts from zero in this process
  // and runs on across calls; the second call continues the first.
  std::vector<int32_t> input;
  for (int i = 512; i < 1024; ++i) input.push_back(sineAt(i));
  for (int i = 768; i < 1024; ++i) input.push_back(sineAt(i));
  const std::vector<double> want = oracle(input);
  ASSERT_EQ(want.size(), 768u);
  std::vector<int32_t> got(768);
  ASSERT_EQ(GetEpoch(0, 3, got.data(), 2, 0, 0), TLV_EPOCH_OK);
  ASSERT_EQ(GetEpoch(0, 3, got.data() + 512, 1, 0, 0), TLV_EPOCH_OK);
  double worst = 0;
  for (size_t i = 0; i < want.size(); ++i) worst = std::max(worst, std::fabs(got[i] - want[i]));
  // Truncation to an integer, and the rounding of the filter's
  // single-precision history, which these poles so near the unit circle
  // magnify to a few units.
  EXPECT_LT(worst, 4.0) << "worst difference from scipy";

  // What the filter is for: at 256 samples a second unit gain at 10 Hz,
  // half power (0.71) at 0.5 and 30 Hz, little at 60 Hz, once settled.
  for (auto [hz, gain] : {std::pair {10.0, 1.0}, {0.5, 0.707}, {30.0, 0.707}, {60.0, 0.075}}) {
    dsu::EpochFilter filter;
    float high = 0;
    for (int k = 0; k < 256 * 40; ++k) {
      const float y = filter.step(static_cast<float>(std::lround(512 + 400 * std::sin(2 * M_PI * hz * k / 256.0))));
      if (k >= 256 * 36) high = std::max(high, y);
    }
    EXPECT_NEAR(high / 400.0, gain, 0.02) << hz << " Hz";
  }

  // Sequential: from the start again on fewer packets, one epoch after the
  // other; a request that reaches past the decoded packets gets nothing.
  ASSERT_EQ(LoadSession(write("half.raw", sinePackets(512)).c_str()), TLV_LOAD_OK);
  ASSERT_EQ(GetEpoch(0, 3, values.data(), 1, 1, 1), TLV_EPOCH_OK);
  EXPECT_EQ(values[0], sineAt(0));
  EXPECT_EQ(values[255], sineAt(255));
  EXPECT_EQ(GetEpoch(0, 3, values.data(), 2, 1, 1), TLV_EPOCH_NOT_ENOUGH_DATA);
  ASSERT_EQ(GetEpoch(0, 0, values.data(), 1, 1, 1), TLV_EPOCH_OK);
  EXPECT_EQ(values[0], 256);
  EXPECT_EQ(values[255], 511);
  EXPECT_EQ(GetEpoch(0, 3, values.data(), 1, 1, 1), TLV_EPOCH_NOT_ENOUGH_DATA);

  EXPECT_EQ(GetEpoch(0, 8, values.data(), 1, 0, 1), TLV_EPOCH_UNKNOWN_CHANNEL);
  EXPECT_EQ(countMatching(log(), "Unknown channel: 8"), 1u);
  EXPECT_EQ(GetEpoch(0, 3, nullptr, 1, 0, 1), TLV_EPOCH_BAD_ARGUMENT);
}

}  // namespace
