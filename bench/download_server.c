/* A small loopback file server for the download benchmark: it serves one file
 * over HTTP/1.1 with Range support (GET and HEAD, "bytes=FIRST-" and
 * "bytes=FIRST-LAST"), one forked child per connection, the body sent with
 * sendfile(2) so that the server costs next to nothing beside the client.
 *
 *   download_server FILE URL_PATH PORT_FILE
 *
 * It listens on 127.0.0.1 on a port of the system's choice, writes that port
 * to PORT_FILE once it accepts connections, and serves FILE as URL_PATH
 * (every other path is 404) until it is killed. Every answer closes its
 * connection. Built for Linux with the host's C compiler by bench/download.sh. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

enum { header_capacity = 8192 };

static int send_all(int fd, const char *data, size_t n) {
    while (n > 0) {
        ssize_t sent = send(fd, data, n, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return -1;
        data += sent;
        n -= (size_t)sent;
    }
    return 0;
}

/* Reads the request head (up to the blank line) into buf; its length, or -1. */
static ssize_t read_head(int fd, char *buf, size_t capacity) {
    size_t filled = 0;
    while (filled + 1 < capacity) {
        ssize_t got = recv(fd, buf + filled, capacity - 1 - filled, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return -1;
        filled += (size_t)got;
        buf[filled] = '\0';
        if (strstr(buf, "\r\n\r\n")) return (ssize_t)filled;
    }
    return -1; /* a head longer than the buffer is refused */
}

/* Parses a decimal number without sign; -1 when there is none or it is too big. */
static int64_t parse_number(const char **text) {
    const char *p = *text;
    int64_t value = -1;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value > (INT64_MAX - 9) / 10) return -1;
        value = (value < 0 ? 0 : value * 10) + (*p - '0');
    }
    *text = p;
    return value;
}

/* The Range header's first and last byte (last -1 for "to the end"); 0 when
 * the head has a single range of the form bytes=FIRST-[LAST], else -1. */
static int find_range(const char *head, int64_t *first, int64_t *last) {
    const char *line = head;
    while ((line = strstr(line, "\r\n")) != NULL) {
        line += 2;
        if (strncasecmp(line, "Range:", 6) != 0) continue;
        const char *p = line + 6;
        while (*p == ' ' || *p == '\t') ++p;
        if (strncasecmp(p, "bytes=", 6) != 0) return -1;
        p += 6;
        *first = parse_number(&p);
        if (*first < 0 || *p != '-') return -1;
        ++p;
        *last = -1;
        if (*p >= '0' && *p <= '9') {
            *last = parse_number(&p);
            if (*last < *first) return -1;
        }
        return (*p == '\r') ? 0 : -1;
    }
    return -1;
}

static void serve(int client, int file, off_t size, const char *url_path) {
    char head[header_capacity];
    if (read_head(client, head, sizeof head) < 0) return;
    char method[8] = {0}, path[1024] = {0};
    if (sscanf(head, "%7s %1023s", method, path) != 2) return;
    const int is_head = strcmp(method, "HEAD") == 0;
    char reply[512];
    int n;
    if (!is_head && strcmp(method, "GET") != 0) {
        n = snprintf(reply, sizeof reply,
                     "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        send_all(client, reply, (size_t)n);
        return;
    }
    if (strcmp(path, url_path) != 0) {
        n = snprintf(reply, sizeof reply,
                     "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        send_all(client, reply, (size_t)n);
        return;
    }
    int64_t first = 0, last = -1;
    const int ranged = find_range(head, &first, &last) == 0;
    if (ranged && first >= (int64_t)size) {
        n = snprintf(reply, sizeof reply,
                     "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */%lld\r\n"
                     "Content-Length: 0\r\nConnection: close\r\n\r\n",
                     (long long)size);
        send_all(client, reply, (size_t)n);
        return;
    }
    if (!ranged) first = 0;
    if (last < 0 || last >= (int64_t)size) last = (int64_t)size - 1;
    const int64_t length = size == 0 ? 0 : last - first + 1;
    if (ranged)
        n = snprintf(reply, sizeof reply,
                     "HTTP/1.1 206 Partial Content\r\nContent-Type: application/octet-stream\r\n"
                     "Content-Range: bytes %lld-%lld/%lld\r\nContent-Length: %lld\r\n"
                     "Connection: close\r\n\r\n",
                     (long long)first, (long long)last, (long long)size, (long long)length);
    else
        n = snprintf(reply, sizeof reply,
                     "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                     "Accept-Ranges: bytes\r\nContent-Length: %lld\r\nConnection: close\r\n\r\n",
                     (long long)length);
    if (send_all(client, reply, (size_t)n) != 0 || is_head) return;
    off_t offset = (off_t)first;
    int64_t left = length;
    while (left > 0) {
        ssize_t sent = sendfile(client, file, &offset, left > (1 << 30) ? (size_t)1 << 30 : (size_t)left);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return;
        left -= sent;
    }
}

int main(int argc, char **argv) {
    if (argc != 4 || argv[2][0] != '/') {
        fprintf(stderr, "usage: %s FILE /URL_PATH PORT_FILE\n", argv[0]);
        return 2;
    }
    int file = open(argv[1], O_RDONLY);
    struct stat info;
    if (file < 0 || fstat(file, &info) != 0) {
        perror(argv[1]);
        return 1;
    }
    signal(SIGCHLD, SIG_IGN); /* children are reaped by the system */
    signal(SIGPIPE, SIG_IGN);
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t address_size = sizeof address;
    if (listener < 0 || bind(listener, (struct sockaddr *)&address, sizeof address) != 0 ||
        listen(listener, 64) != 0 ||
        getsockname(listener, (struct sockaddr *)&address, &address_size) != 0) {
        perror("listen");
        return 1;
    }
    /* The port appears whole: written to a neighbour and renamed. */
    char temporary[4096];
    snprintf(temporary, sizeof temporary, "%s.part", argv[3]);
    FILE *port_file = fopen(temporary, "w");
    if (!port_file || fprintf(port_file, "%u\n", (unsigned)ntohs(address.sin_port)) < 0 ||
        fclose(port_file) != 0 || rename(temporary, argv[3]) != 0) {
        perror(argv[3]);
        return 1;
    }
    for (;;) {
        int client = accept(listener, NULL, NULL);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            perror("accept");
            return 1;
        }
        pid_t child = fork();
        if (child == 0) {
            close(listener);
            serve(client, file, info.st_size, argv[2]);
            shutdown(client, SHUT_WR);
            close(client);
            _exit(0);
        }
        close(client);
    }
}
