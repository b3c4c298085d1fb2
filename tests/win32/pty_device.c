/* `pty_device program args...` plays a serial device on a pseudo-terminal
 * that the wine prefix sees as COMN around one Windows test program. The
 * slave becomes dosdevices/comN (the first free N from 5, owned through
 * KAROLX_WINE_HOST/comN.pid, so a link left by a killed run is replaced).
 * The program gets KAROLX_TEST_PORT=COMN, KAROLX_TEST_LINES (a file of modem
 * lines, read by tty_stand_in.so) and KAROLX_TEST_DEVICE, a file whose first
 * word tells the device what to do: echo (every byte back, the default), sink
 * (take all, send nothing), hold (take nothing: writes stay pending), hangup
 * (close the master, as a pulled adapter goes away). Ends with the program's
 * exit status, the link and files removed. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

static char link_path[4096], owner[4096], dir[64], lines[128], control[128];

static void tidy(void) {
  unlink(link_path);
  unlink(owner);
  unlink(lines);
  unlink(control);
  rmdir(dir);
}

static void write_file(const char* path, const char* text) {
  FILE* f = fopen(path, "w");
  if (f) { fputs(text, f); fclose(f); }
}

static void mode(char* word, size_t size) {
  FILE* f = fopen(control, "r");
  word[0] = 0;
  if (f) { if (!fgets(word, (int)size, f)) word[0] = 0; fclose(f); }
  word[strcspn(word, " \r\n")] = 0;
}

int main(int argc, char** argv) {
  if (argc < 2) { fprintf(stderr, "usage: pty_device program args...\n"); return 2; }
  const char* prefix = getenv("WINEPREFIX");
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (!prefix || master < 0 || grantpt(master) || unlockpt(master)) { perror("pty"); return 2; }
  const char* slave_name = ptsname(master);
  /* Held open, so the master reads no EIO before the program opens the port. */
  int slave = open(slave_name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  struct termios raw;
  tcgetattr(slave, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);
  const char* host = getenv("KAROLX_WINE_HOST");
  int n = 5;
  for (;; ++n) {
    if (n == 100 || !host) { fprintf(stderr, "no COM name free\n"); return 2; }
    snprintf(owner, sizeof owner, "%s/com%d.pid", host, n);
    int pid = 0;
    FILE* f = fopen(owner, "r");
    if (f) { if (fscanf(f, "%d", &pid) != 1) pid = 0; fclose(f); }
    if (f && (pid <= 0 || (kill(pid, 0) != 0 && errno == ESRCH))) unlink(owner);  /* its run was killed */
    int fd = open(owner, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) continue;  /* in use */
    dprintf(fd, "%d\n", (int)getpid());
    close(fd);
    snprintf(link_path, sizeof link_path, "%s/dosdevices/com%d", prefix, n);
    unlink(link_path);
    if (symlink(slave_name, link_path) == 0) break;
    perror(link_path);
    unlink(owner);
    return 2;
  }
  strcpy(dir, "/tmp/karolx-pty-XXXXXX");
  if (!mkdtemp(dir)) { perror("mkdtemp"); tidy(); return 2; }
  snprintf(lines, sizeof lines, "%s/lines", dir);
  snprintf(control, sizeof control, "%s/device", dir);
  char text[32];
  snprintf(text, sizeof text, "%d\n", TIOCM_DSR | TIOCM_CTS);
  write_file(lines, text);
  write_file(control, "echo\n");
  snprintf(text, sizeof text, "COM%d", n);
  setenv("KAROLX_TEST_PORT", text, 1);
  setenv("KAROLX_TEST_LINES", lines, 1);
  setenv("KAROLX_TEST_DEVICE", control, 1);

  pid_t child = fork();
  if (child == 0) {
    execvp(argv[1], argv + 1);
    perror(argv[1]);
    _exit(127);
  }
  int status = 0;
  fcntl(master, F_SETFL, O_NONBLOCK);
  for (;;) {
    if (waitpid(child, &status, WNOHANG) == child) break;
    char word[16];
    mode(word, sizeof word);
    if (strcmp(word, "hangup") == 0 && master >= 0) {
      close(master);
      close(slave);
      master = slave = -1;
    }
    struct pollfd p = {master, (short)(strcmp(word, "hold") == 0 ? 0 : POLLIN), 0};
    if (master < 0 || poll(&p, 1, 10) <= 0 || !(p.revents & POLLIN)) {
      if (master < 0) usleep(10000);
      continue;
    }
    char buffer[4096];
    ssize_t got = read(master, buffer, sizeof buffer);
    /* What the program cannot take at once is dropped, as a line would. */
    if (got > 0 && strcmp(word, "echo") == 0 && write(master, buffer, (size_t)got) < 0) continue;
  }
  tidy();
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
