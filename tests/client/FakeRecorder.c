/* Stands in for pyx-video in the client library's tests. It writes NAME.started (its pid, then every
 * descriptor it inherited, then its arguments, one a line), then waits on its events: save writes NAME.mp4
 * and NAME.jpg and exits 0, cancel exits 0. FAKE_RECORDER_EXIT=N makes it exit with N at once (after writing
 * FAKE_RECORDER_ERROR, JSON-escaped, as NAME.json's error when that is set),
 * FAKE_RECORDER_DEAF=1 makes it ignore its events and SIGTERM. It never lives longer than a minute, so a
 * failed test leaves no stray process behind. */

#define _GNU_SOURCE
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static const char* Option(int argc, char** argv, const char* name) {
    for (int i = 1; i + 1 < argc; ++i)
        if (strcmp(argv[i], name) == 0)
            return argv[i + 1];
    return NULL;
}

static void Touch(const char* name, const char* suffix) {
    char path[4096];
    snprintf(path, sizeof path, "%s%s", name, suffix);
    FILE* file = fopen(path, "w");
    if (file != NULL) {
        fputs("content", file);
        fclose(file);
    }
}

int main(int argc, char** argv) {
    alarm(60);
    const char* exitStatus = getenv("FAKE_RECORDER_EXIT");
    const char* error = getenv("FAKE_RECORDER_ERROR");
    if (exitStatus != NULL && error != NULL && Option(argc, argv, "--file") != NULL) {
        char path[4096];
        snprintf(path, sizeof path, "%s.json", Option(argc, argv, "--file"));
        FILE* json = fopen(path, "w");
        if (json != NULL) {
            fprintf(json, "{\n  \"result\": \"failed\",\n  \"error\": \"%s\"\n}\n", error);
            fclose(json);
        }
    }
    if (exitStatus != NULL)
        return atoi(exitStatus);
    const int deaf = getenv("FAKE_RECORDER_DEAF") != NULL;
    if (deaf)
        signal(SIGTERM, SIG_IGN);
    const char* name = Option(argc, argv, "--file");
    const char* save = Option(argc, argv, "--save-event");
    const char* cancel = Option(argc, argv, "--cancel-event");
    if (name == NULL || save == NULL || cancel == NULL)
        return 2;

    char path[4096], partial[4200];
    snprintf(path, sizeof path, "%s.started", name);
    snprintf(partial, sizeof partial, "%s.partial", path);
    FILE* out = fopen(partial, "w");
    if (out == NULL)
        return 3;
    fprintf(out, "%d\n", (int)getpid());
    DIR* fds = opendir("/proc/self/fd");
    for (struct dirent* entry; fds != NULL && (entry = readdir(fds)) != NULL;) {
        if (entry->d_name[0] != '.' && atoi(entry->d_name) != dirfd(fds) &&
            atoi(entry->d_name) != fileno(out))
            fprintf(out, "fd %s\n", entry->d_name);
    }
    if (fds != NULL)
        closedir(fds);
    for (int i = 0; i < argc; ++i)
        fprintf(out, "%s\n", argv[i]);
    fclose(out);
    rename(partial, path);

    struct pollfd events[2] = {{(int)strtol(save, NULL, 16), POLLIN, 0},
                               {(int)strtol(cancel, NULL, 16), POLLIN, 0}};
    for (;;) {
        if (poll(events, 2, -1) < 0 || deaf) {
            pause();
            continue;
        }
        if (events[0].revents & POLLIN) {
            Touch(name, ".mp4");
            Touch(name, ".jpg");
            return 0;
        }
        if (events[1].revents & POLLIN)
            return 0;
        if ((events[0].revents | events[1].revents) & (POLLNVAL | POLLERR))
            return 4;
    }
}
