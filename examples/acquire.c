/* Acquires from a DSU for a few seconds and prints the packets it took
 * each second. With HOST and PORT it reads a unit served over TCP/IP (such
 * as "dsu-sim --tcp PORT"); without them it scans the serial ports.
 *
 *   acquire [HOST PORT [SECONDS]]
 *
 * Build against the installed library:
 *   cc acquire.c $(pkg-config --cflags --libs telvaris) -o acquire
 * or with CMake: find_package(telvaris) and link telvaris::telvaris. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <telvaris.h>

static void sleepMs(long ms) {
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, NULL);
}

int main(int argc, char** argv) {
  int seconds = 5;
  if (argc >= 3) {
    if (SetDataTransferMode(TLV_ROAD_TCPIP, argv[1], atoi(argv[2]), "", "", "", "", "", "") != TLV_ROAD_TCPIP) {
      fprintf(stderr, "acquire: the address %s does not fit\n", argv[1]);
      return 2;
    }
    if (argc >= 4) seconds = atoi(argv[3]);
  }
  int32_t major, minor, build;
  ReportVersion(&major, &minor, &build);
  printf("telvaris %d.%d.%d\n", major, minor, build);

  if (InitialiseDSU(0) != TLV_INIT_STARTED) {
    fprintf(stderr, "acquire: the session did not start\n");
    return 1;
  }
  /* Wait for the road to open and storage to be allocated. */
  int32_t status = GetSystemStatus(0);
  for (int waited = 0; status != TLV_DSU_SYSTEM_OK && waited < 100; waited++) {
    if (status == TLV_DSU_SERIAL_PORT_FAILURE || status == TLV_DSU_ALLOCATION_FAILURE) break;
    sleepMs(100);
    status = GetSystemStatus(0);
  }
  if (status != TLV_DSU_SYSTEM_OK) {
    fprintf(stderr, "acquire: no data: %s\n", tlvDsuStatusName(status));
    TerminateDSU(0, 0, "");
    return 1;
  }

  long total = 0;
  for (int second = 1; second <= seconds; second++) {
    long packets = 0;
    for (int tick = 0; tick < 20; tick++) {
      int32_t channels[32], format, counter, aux;
      while (GetP3Data(channels, 32, &format, &counter, &aux) == TLV_P3_OK) packets++;
      sleepMs(50);
    }
    total += packets;
    printf("second %d: %ld packets\n", second, packets);
    fflush(stdout);
  }
  printf("%ld packets in %d s: %.1f packets a second (%s)\n", total, seconds, (double)total / seconds,
         tlvDsuStatusName(GetSystemStatus(0)));
  TerminateDSU(0, 0, "");
  return total > 0 ? 0 : 1;
}
