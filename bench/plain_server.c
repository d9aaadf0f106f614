/* plain_server: the reference for small calls. THREADS threads each block in accept() on one
 * loopback listener and serve the connection they get themselves: read one frame, answer it with
 * a fixed response message for that request, close. The response is what vantryd answers to a
 * call whose result is a 4-byte false or 0 (FileExists of a missing name): the request's client
 * id, its interface name, its message name followed by "Response", four zero bytes.
 *
 *   plain_server PORT [THREADS]   (PORT 0: any free port; THREADS 16)
 * Prints "port N" on stdout once it listens, then serves until killed. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

enum { kHeader = 28, kMaxRequest = 65536, kMaxName = 256 };

static int listener;

static int read_all(int fd, char *buf, size_t count) {
  for (size_t have = 0; have < count;) {
    ssize_t n = read(fd, buf + have, count - have);
    if (n <= 0) return -1;
    have += (size_t)n;
  }
  return 0;
}

/* A length-prefixed name at *offset of the request; -1 when it does not fit. */
static int32_t take_name(const char *request, uint32_t size, uint32_t *offset, const char **name) {
  int32_t length;
  if (*offset + 4 > size) return -1;
  memcpy(&length, request + *offset, 4);
  *offset += 4;
  if (length < 0 || length > kMaxName || *offset + (uint32_t)length > size) return -1;
  *name = request + *offset;
  *offset += (uint32_t)length;
  return length;
}

static void put_name(char *out, size_t *at, const char *name, int32_t length, const char *suffix) {
  int32_t total = length + (int32_t)strlen(suffix);
  memcpy(out + *at, &total, 4);
  memcpy(out + *at + 4, name, (size_t)length);
  memcpy(out + *at + 4 + length, suffix, strlen(suffix));
  *at += 4 + (size_t)total;
}

static void serve(int fd) {
  char request[kMaxRequest];
  char response[4 + kHeader + 2 * (4 + kMaxName) + 8 + 4];
  uint32_t size;
  if (read_all(fd, (char *)&size, 4) != 0) return;
  size = ntohl(size);
  if (size < kHeader || size > kMaxRequest || read_all(fd, request, size) != 0) return;
  uint32_t offset = kHeader;
  const char *interface_name, *message_name;
  int32_t interface_length = take_name(request, size, &offset, &interface_name);
  if (interface_length < 0) return;
  int32_t message_length = take_name(request, size, &offset, &message_name);
  if (message_length < 0) return;

  size_t at = 4;
  memcpy(response + at, "RO107", 5);
  memset(response + at + 5, 0, 7);                    /* flags, type 0, reserved */
  memcpy(response + at + 12, request + 12, 16);       /* the request's client id */
  at += kHeader;
  put_name(response, &at, interface_name, interface_length, "");
  put_name(response, &at, message_name, message_length, "Response");
  memset(response + at, 0, 4);                        /* the result: false */
  at += 4;
  uint32_t length = htonl((uint32_t)(at - 4));
  memcpy(response, &length, 4);
  (void)!write(fd, response, at);
}

static void *accept_loop(void *unused) {
  (void)unused;
  for (;;) {
    int fd = accept(listener, NULL, NULL);
    if (fd < 0) continue;
    serve(fd);
    close(fd);
  }
  return NULL;
}

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: plain_server PORT [THREADS]\n");
    return 2;
  }
  int threads = argc > 2 ? atoi(argv[2]) : 16;
  struct sockaddr_in address = {.sin_family = AF_INET, .sin_port = htons((uint16_t)atoi(argv[1]))};
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int on = 1;
  listener = socket(AF_INET, SOCK_STREAM, 0);
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (listener < 0 || bind(listener, (struct sockaddr *)&address, sizeof address) != 0 ||
      listen(listener, 15) != 0) {
    perror("plain_server");
    return 1;
  }
  socklen_t address_size = sizeof address;
  getsockname(listener, (struct sockaddr *)&address, &address_size);
  printf("port %d\n", ntohs(address.sin_port));
  fflush(stdout);
  for (int i = 1; i < threads; ++i) {
    pthread_t thread;
    pthread_create(&thread, NULL, accept_loop, NULL);
  }
  accept_loop(NULL);
  return 0;
}
