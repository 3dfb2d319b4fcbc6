// The media layer on Windows: MCI command strings reach mciSendStringA and
// its refusals come back as refusals, and a MIDI port that names no device
// opens nothing. (No sound device serves the wine run, so notes and music
// themselves are not heard here.)
#include <windows.h>

#include <mmsystem.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/mci.h"
#include "platform/midi_out.h"

TEST(WineMedia, MciRefusalsAndAClosedAliasAndMidiPortsThatNameNoDevice) {
  const auto mci = platform::makeMci();
  ASSERT_TRUE(mci);
  EXPECT_FALSE(mci->sendString("play telvariswinenone"));
  EXPECT_FALSE(mci->sendString("no such command at all"));
  EXPECT_FALSE(mci->sendString(nullptr));
  EXPECT_FALSE(mci->sendString("open c:\\telvaris\\no-such-file.mp3 type mpegvideo alias telvariswinemissing"));
  EXPECT_FALSE(mci->status("telvariswinemissing").open);
  EXPECT_FALSE(mci->status(nullptr).open);

  // One past the last device, and a name no device has.
  const std::string pastTheLast = std::to_string(midiOutGetNumDevs());
  for (const std::string& port : {pastTheLast, std::string("no such synthesizer"), std::string("-5")}) {
    const auto out = platform::makeMidiOut(port);
    ASSERT_TRUE(out) << port;
    EXPECT_FALSE(out->open()) << port;
    out->shortMessage(0x7F3C90);  // goes nowhere, and does no harm
    out->close();
  }
}
