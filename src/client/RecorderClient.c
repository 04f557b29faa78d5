/* Starts the recorder as a child process and talks to it through two eventfds. Everything a signal handler
 * may call is one write on a descriptor fixed at start; everything else runs on the application's threads. */

#define _GNU_SOURCE
#include "pyx-video-client.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#ifndef PYX_VIDEO_DEFAULT_RECORDER
#define PYX_VIDEO_DEFAULT_RECORDER "/usr/local/bin/pyx-video"
#endif
#ifndef PYX_VIDEO_LIBDIR_TO_BINDIR
#define PYX_VIDEO_LIBDIR_TO_BINDIR "../bin"
#endif

enum { MaxArguments = 64, StopAtExitMs = 10000 };

struct pyx_video_recorder {
    pid_t pid;
    int saveEvent;
    int cancelEvent;
    volatile sig_atomic_t saveAsked;
    struct timespec started; /* wall clock, to tell this run's MP4 from an older one */
    char name[4096 - 8];     /* room for ".mp4" in the outcome's paths */
    int ended;
    pyx_video_outcome outcome;
    pyx_video_recorder* next; /* live recorders, stopped at normal exit */
};

static pthread_mutex_t g_liveLock = PTHREAD_MUTEX_INITIALIZER;
static pyx_video_recorder* g_live = NULL;
static pthread_once_t g_atExitOnce = PTHREAD_ONCE_INIT;

static void Say(char* text, size_t size, const char* format, ...) {
    if (text == NULL || size == 0)
        return;
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, size, format, arguments);
    va_end(arguments);
}

static void Unlink(pyx_video_recorder* recorder) {
    pthread_mutex_lock(&g_liveLock);
    for (pyx_video_recorder** link = &g_live; *link != NULL; link = &(*link)->next) {
        if (*link == recorder) {
            *link = recorder->next;
            break;
        }
    }
    pthread_mutex_unlock(&g_liveLock);
}

/* A normal exit without a save cancels: a clean run leaves no recording, and no recorder is left behind. */
static void StopAtExit(void) {
    for (;;) {
        pthread_mutex_lock(&g_liveLock);
        pyx_video_recorder* recorder = g_live;
        pthread_mutex_unlock(&g_liveLock);
        if (recorder == NULL)
            return;
        pyx_video_stop(recorder, StopAtExitMs, NULL);
    }
}

static void RegisterAtExit(void) { atexit(StopAtExit); }

void pyx_video_options_init(pyx_video_options* options) { memset(options, 0, sizeof *options); }

/* The recorder installed with this library: found from where the library itself lies, so an installation
 * under another prefix (a package's /usr) finds its own; else the prefix this library was built for. */
static const char* InstalledRecorder(char* path, size_t size) {
    Dl_info self;
    if (dladdr((void*)&pyx_video_start, &self) != 0 && self.dli_fname != NULL) {
        const char* slash = strrchr(self.dli_fname, '/');
        if (slash != NULL) {
            snprintf(path, size, "%.*s/%s/pyx-video", (int)(slash - self.dli_fname), self.dli_fname,
                     PYX_VIDEO_LIBDIR_TO_BINDIR);
            if (access(path, X_OK) == 0)
                return path;
        }
    }
    return PYX_VIDEO_DEFAULT_RECORDER;
}

static const char* RecorderPath(const pyx_video_options* options, char* path, size_t size) {
    if (options->recorder_path != NULL && options->recorder_path[0] != '\0')
        return options->recorder_path;
    const char* fromEnvironment = getenv("PYX_VIDEO_RECORDER");
    if (fromEnvironment != NULL && fromEnvironment[0] != '\0')
        return fromEnvironment;
    return InstalledRecorder(path, size);
}

/* An event descriptor must not be 0, 1 or 2 (a closed standard stream hands those out): the recorder reads 0
 * as "no event", and the child keeps its standard streams as they are. */
static int MakeEvent(void) {
    int fd = eventfd(0, EFD_CLOEXEC);
    if (fd >= 0 && fd < 3) {
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        close(fd);
        fd = moved;
    }
    return fd;
}

static void CloseEvents(pyx_video_recorder* recorder) {
    if (recorder->saveEvent >= 0)
        close(recorder->saveEvent);
    if (recorder->cancelEvent >= 0)
        close(recorder->cancelEvent);
    recorder->saveEvent = recorder->cancelEvent = -1;
}

/* Runs in the forked child: only async-signal-safe calls. */
static void ExecRecorder(const pyx_video_recorder* recorder, const char* path, char* const* argv,
                         pid_t parent, int deathSignal, int openMax, int errorPipe) {
    /* The application's handlers must not run here, and the recorder starts with a clean signal state. */
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction action;
        if (sigaction(signal, NULL, &action) == 0 && action.sa_handler != SIG_IGN &&
            action.sa_handler != SIG_DFL) {
            action.sa_handler = SIG_DFL;
            action.sa_flags = 0;
            sigaction(signal, &action, NULL);
        }
    }
    if (deathSignal != 0) {
        prctl(PR_SET_PDEATHSIG, deathSignal);
        if (getppid() != parent)
            _exit(127);
    }
    /* Nothing of the application leaks into the recorder but the two events. */
    if (syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */) != 0) {
        for (int fd = 3; fd < openMax; ++fd)
            fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    fcntl(recorder->saveEvent, F_SETFD, 0);
    fcntl(recorder->cancelEvent, F_SETFD, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, NULL);
    execv(path, argv);
    const int error = errno;
    while (write(errorPipe, &error, sizeof error) < 0 && errno == EINTR) {
    }
    _exit(127);
}

pyx_video_recorder* pyx_video_start(const pyx_video_options* options, char* why, size_t why_size) {
    pyx_video_options defaults;
    if (options == NULL) {
        pyx_video_options_init(&defaults);
        options = &defaults;
    }
    char installed[4096];
    const char* path = RecorderPath(options, installed, sizeof installed);
    if (access(path, X_OK) != 0) {
        Say(why, why_size, "cannot run the recorder %s: %s", path, strerror(errno));
        return NULL;
    }
    const char* file = options->file != NULL && options->file[0] != '\0' ? options->file : "crash-report";
    if (strlen(file) + 5 > sizeof((pyx_video_recorder*)0)->name) {
        Say(why, why_size, "the file name is too long");
        return NULL;
    }

    pyx_video_recorder* recorder = calloc(1, sizeof *recorder);
    if (recorder == NULL) {
        Say(why, why_size, "out of memory");
        return NULL;
    }
    recorder->saveEvent = MakeEvent();
    recorder->cancelEvent = MakeEvent();
    if (recorder->saveEvent < 0 || recorder->cancelEvent < 0) {
        Say(why, why_size, "cannot create the save and cancel events: %s", strerror(errno));
        CloseEvents(recorder);
        free(recorder);
        return NULL;
    }
    snprintf(recorder->name, sizeof recorder->name, "%s", file);
    clock_gettime(CLOCK_REALTIME, &recorder->started);

    /* Everything the child needs is made here: after fork it may not allocate. */
    const pid_t self = getpid();
    const pid_t target = options->pid != 0 ? options->pid : self;
    char pidArgument[32], duration[16], saveEvent[16], cancelEvent[16];
    snprintf(pidArgument, sizeof pidArgument, "--pid=%d", (int)target);
    snprintf(duration, sizeof duration, "%u", options->duration);
    snprintf(saveEvent, sizeof saveEvent, "0x%x", (unsigned)recorder->saveEvent);
    snprintf(cancelEvent, sizeof cancelEvent, "0x%x", (unsigned)recorder->cancelEvent);
    const char* argv[MaxArguments];
    int argc = 0;
    argv[argc++] = "pyx-video";
    argv[argc++] = pidArgument;
    if (options->duration != 0) {
        argv[argc++] = "--duration";
        argv[argc++] = duration;
    }
    argv[argc++] = "--save-event";
    argv[argc++] = saveEvent;
    argv[argc++] = "--cancel-event";
    argv[argc++] = cancelEvent;
    argv[argc++] = "--file";
    argv[argc++] = file;
    if (options->no_video)
        argv[argc++] = "--no-video";
    if (options->no_desktop)
        argv[argc++] = "--no-desktop";
    if (options->log_file != NULL) {
        argv[argc++] = "--log";
        argv[argc++] = options->log_file;
    }
    for (const char* const* extra = options->extra_arguments; extra != NULL && *extra != NULL; ++extra) {
        if (argc == MaxArguments - 1) {
            Say(why, why_size, "too many extra arguments");
            CloseEvents(recorder);
            free(recorder);
            return NULL;
        }
        argv[argc++] = *extra;
    }
    argv[argc] = NULL;
    long openMax = sysconf(_SC_OPEN_MAX);
    if (openMax < 0 || openMax > 65536)
        openMax = 65536;
    /* When the application records itself the recorder saves at its end; when it records another process
     * the recorder is cancelled once its starter is gone. */
    const int deathSignal = target == self ? 0 : SIGTERM;

    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        Say(why, why_size, "cannot create a pipe: %s", strerror(errno));
        CloseEvents(recorder);
        free(recorder);
        return NULL;
    }
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t child = fork();
    if (child == 0)
        ExecRecorder(recorder, path, (char* const*)argv, self, deathSignal, (int)openMax, errorPipe[1]);
    const int forkError = errno;
    pthread_sigmask(SIG_SETMASK, &previous, NULL);
    close(errorPipe[1]);
    if (child < 0) {
        close(errorPipe[0]);
        Say(why, why_size, "cannot start the recorder: %s", strerror(forkError));
        CloseEvents(recorder);
        free(recorder);
        return NULL;
    }
    /* The pipe closes without data once exec succeeded. */
    int execError = 0;
    ssize_t got;
    while ((got = read(errorPipe[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
    }
    close(errorPipe[0]);
    if (got == (ssize_t)sizeof execError) {
        while (waitpid(child, NULL, 0) < 0 && errno == EINTR) {
        }
        Say(why, why_size, "cannot run the recorder %s: %s", path, strerror(execError));
        CloseEvents(recorder);
        free(recorder);
        return NULL;
    }
    recorder->pid = child;
    pthread_once(&g_atExitOnce, RegisterAtExit);
    pthread_mutex_lock(&g_liveLock);
    recorder->next = g_live;
    g_live = recorder;
    pthread_mutex_unlock(&g_liveLock);
    return recorder;
}

static int Signal(int fd) {
    const int saved = errno;
    const uint64_t one = 1;
    const ssize_t written = write(fd, &one, sizeof one);
    errno = saved;
    return written == (ssize_t)sizeof one ? 0 : -1;
}

int pyx_video_save(pyx_video_recorder* recorder) {
    if (recorder == NULL)
        return -1;
    recorder->saveAsked = 1;
    return Signal(recorder->saveEvent);
}

int pyx_video_cancel(pyx_video_recorder* recorder) {
    if (recorder == NULL)
        return -1;
    return Signal(recorder->cancelEvent);
}

int pyx_video_recorder_pid(const pyx_video_recorder* recorder) {
    return recorder != NULL ? recorder->pid : -1;
}

/* This run's file: one written since the recorder started (the recorder replaces an older one when it saves).
 */
static int FreshFile(const pyx_video_recorder* recorder, const char* path) {
    struct stat status;
    if (stat(path, &status) != 0 || !S_ISREG(status.st_mode))
        return 0;
    /* File times come from a coarser clock than clock_gettime. */
    return status.st_mtim.tv_sec >= recorder->started.tv_sec - 1;
}

/* The "error" text of this run's NAME.json, when the recorder wrote one: its own words for the failure. */
static int MetadataError(const pyx_video_recorder* recorder, char* text, size_t size) {
    char path[sizeof recorder->name + 8];
    snprintf(path, sizeof path, "%s.json", recorder->name);
    if (!FreshFile(recorder, path))
        return 0;
    FILE* file = fopen(path, "re");
    if (file == NULL)
        return 0;
    char content[16384];
    const size_t length = fread(content, 1, sizeof content - 1, file);
    fclose(file);
    content[length] = '\0';
    const char* key = "\"error\": \"";
    const char* from = strstr(content, key);
    if (from == NULL)
        return 0;
    from += strlen(key);
    size_t n = 0;
    for (; *from != '\0' && *from != '"' && n + 1 < size; ++from) {
        if (*from == '\\' && from[1] != '\0') {
            ++from;
            if (*from == 'u' && strlen(from) >= 5) {
                const unsigned code =
                    (unsigned)strtoul((char[]){from[1], from[2], from[3], from[4], 0}, NULL, 16);
                text[n++] = code < 0x20 ? ' ' : code < 0x80 ? (char)code : '?';
                from += 4;
                continue;
            }
        }
        text[n++] = *from;
    }
    text[n] = '\0';
    return n > 0;
}

// The recorder's exit status when it had nothing to save (its documented table).
enum { RecorderNothingRecorded = 3 };

static void Describe(pyx_video_recorder* recorder, int status, int collected) {
    pyx_video_outcome* outcome = &recorder->outcome;
    memset(outcome, 0, sizeof *outcome);
    outcome->exit_status = -1;
    snprintf(outcome->mp4_path, sizeof outcome->mp4_path, "%s.mp4", recorder->name);
    snprintf(outcome->jpg_path, sizeof outcome->jpg_path, "%s.jpg", recorder->name);
    const int saved = FreshFile(recorder, outcome->mp4_path);
    if (!FreshFile(recorder, outcome->jpg_path))
        outcome->jpg_path[0] = '\0';
    if (!collected) {
        outcome->state = saved ? PYX_VIDEO_SAVED : PYX_VIDEO_FAILED;
        if (!saved)
            snprintf(outcome->reason, sizeof outcome->reason,
                     "the recorder's exit status was collected elsewhere and it saved nothing");
    } else if (WIFEXITED(status)) {
        outcome->exit_status = WEXITSTATUS(status);
        if (outcome->exit_status == 0 || outcome->exit_status == RecorderNothingRecorded)
            outcome->state = saved ? PYX_VIDEO_SAVED : PYX_VIDEO_NOT_SAVED;
        else {
            outcome->state = PYX_VIDEO_FAILED;
            char error[sizeof outcome->reason - 64];
            if (MetadataError(recorder, error, sizeof error))
                snprintf(outcome->reason, sizeof outcome->reason,
                         "the recorder failed with exit status %d: %s", outcome->exit_status, error);
            else
                snprintf(outcome->reason, sizeof outcome->reason, "the recorder failed with exit status %d",
                         outcome->exit_status);
        }
    } else {
        outcome->signal = WTERMSIG(status);
        outcome->state = PYX_VIDEO_FAILED;
        snprintf(outcome->reason, sizeof outcome->reason, "the recorder was killed by signal %d (%s)",
                 outcome->signal, sigabbrev_np(outcome->signal) ? sigabbrev_np(outcome->signal) : "?");
    }
    if (outcome->state != PYX_VIDEO_SAVED)
        outcome->mp4_path[0] = '\0';
    recorder->ended = 1;
}

static int64_t NowMs(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

/* Collects the recorder's end if it came; 1 when it ended. */
static int Collect(pyx_video_recorder* recorder) {
    int status = 0;
    pid_t got;
    while ((got = waitpid(recorder->pid, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (got == recorder->pid)
        Describe(recorder, status, 1);
    else if (got < 0)
        Describe(recorder, 0, 0);
    return recorder->ended;
}

pyx_video_state pyx_video_wait(pyx_video_recorder* recorder, int timeout_ms, pyx_video_outcome* outcome) {
    if (recorder == NULL)
        return PYX_VIDEO_FAILED;
    const int64_t deadline = timeout_ms < 0 ? INT64_MAX : NowMs() + timeout_ms;
    if (!recorder->ended) {
        /* A pidfd turns readable at the end; without one (older kernels) the wait polls. */
        const int pidfd = (int)syscall(SYS_pidfd_open, recorder->pid, 0);
        while (!Collect(recorder)) {
            const int64_t left = deadline - NowMs();
            if (left <= 0)
                break;
            if (pidfd >= 0) {
                struct pollfd end = {pidfd, POLLIN, 0};
                poll(&end, 1, left > 1000 ? 1000 : (int)left);
            } else {
                const struct timespec pause = {0, 10 * 1000 * 1000};
                nanosleep(&pause, NULL);
            }
        }
        if (pidfd >= 0)
            close(pidfd);
    }
    if (!recorder->ended) {
        if (outcome != NULL) {
            memset(outcome, 0, sizeof *outcome);
            outcome->state = PYX_VIDEO_RUNNING;
            outcome->exit_status = -1;
        }
        return PYX_VIDEO_RUNNING;
    }
    if (outcome != NULL)
        *outcome = recorder->outcome;
    return recorder->outcome.state;
}

pyx_video_state pyx_video_stop(pyx_video_recorder* recorder, int timeout_ms, pyx_video_outcome* outcome) {
    if (recorder == NULL)
        return PYX_VIDEO_FAILED;
    Unlink(recorder);
    if (!recorder->ended && !recorder->saveAsked)
        pyx_video_cancel(recorder);
    if (pyx_video_wait(recorder, timeout_ms, NULL) == PYX_VIDEO_RUNNING) {
        kill(recorder->pid, SIGKILL);
        pyx_video_wait(recorder, -1, NULL);
    }
    CloseEvents(recorder);
    const pyx_video_state state = recorder->outcome.state;
    if (outcome != NULL)
        *outcome = recorder->outcome;
    free(recorder);
    return state;
}
