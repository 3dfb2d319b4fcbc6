/* Any baud rate through the Linux termios2 interface. Kept in a file of its
 * own because <asm/termbits.h> and <termios.h> cannot be included together. */
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <errno.h>

int ioctl(int fd, unsigned long request, ...);

int tl_serial_set_any_baud(int fd, unsigned rate) {
  struct termios2 tio;
  if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
  tio.c_cflag &= ~(tcflag_t)CBAUD;
  tio.c_cflag |= BOTHER;
  tio.c_cflag &= ~(tcflag_t)(CBAUD << IBSHIFT); /* input speed follows output */
  tio.c_ispeed = rate;
  tio.c_ospeed = rate;
  if (ioctl(fd, TCSETS2, &tio) != 0) return errno;
  return 0;
}

int tl_serial_get_any_baud(int fd, unsigned* rate) {
  struct termios2 tio;
  if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
  *rate = tio.c_ospeed;
  return 0;
}
