// Closing the library while its MIDI and MP3 players run, and ending the
// process: the library stayed loaded (a player may be loading plugins, which
// an unload would deadlock on), and the process's end stops both players,
// the MIDI note's wait cut short.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "fixtures/child_process.h"
#include "fixtures/temp_root.h"

TEST(OutputsUnload, TheLibraryStaysWhilePlayersRunAndTheProcessEndStopsThem) {
  fixtures::TempRoot root;
  for (int round = 0; round < 3; ++round) {
    fixtures::ChildProcess host;
    // A home of its own: the media framework keeps its plugin cache there.
    host.start({OUTPUTS_UNLOAD_HOST, TELVARIS_LIBRARY_PATH},
               {{"TELVARIS_MIDI_PORT", "nowhere:0"}, {"HOME", root.path()}}, root.file("host.log"));
    int status = -1;
    // The note lasts a minute: an end that waited for it would take that long.
    ASSERT_TRUE(host.waitExit(30000, &status)) << fixtures::readFile(root.file("host.log"));
    const std::string log = fixtures::readFile(root.file("host.log"));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;
    ASSERT_NE(log.find("players started\nkept loaded\n"), std::string::npos) << log;
    std::remove(root.file("host.log").c_str());
  }
}
