#ifndef PYX_VIDEO_CLIENT_H
#define PYX_VIDEO_CLIENT_H
/*
 * pyx-video client: starts the recorder beside an application and tells it when to save.
 *
 *   pyx_video_options options;
 *   pyx_video_options_init(&options);
 *   options.file = "/var/crash/report";          // NAME: NAME.mp4 and NAME.jpg
 *   char why[256];
 *   pyx_video_recorder* recorder = pyx_video_start(&options, why, sizeof why);
 *   ...
 *   pyx_video_save(recorder);                      // from a crash handler: async-signal-safe
 *   pyx_video_wait(recorder, 5000, &outcome);      // then collect outcome.mp4_path
 *
 * Without a save the recorder is cancelled when the application exits normally (exit() or a return from
 * main), so a clean run leaves no recording. A recorder never outlives the process that started it.
 */

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct pyx_video_recorder pyx_video_recorder;

typedef struct pyx_video_options {
    /* Process to record; 0 records the calling process itself. */
    int pid;
    /* Seconds of history per ring segment (the MP4 holds one to two of them); 0 for the recorder's default.
     */
    unsigned duration;
    /* Base name of the ring files, NAME.mp4 and NAME.jpg; NULL for the recorder's default "crash-report". */
    const char* file;
    /* Record nothing, only NAME.jpg. */
    int no_video;
    /* Without a usable window, do not record the monitor instead. */
    int no_desktop;
    /* Also append the recorder's log to this file; NULL for none. */
    const char* log_file;
    /* Further command-line arguments for the recorder, ending in NULL; NULL for none. */
    const char* const* extra_arguments;
    /* The recorder's program. NULL: $PYX_VIDEO_RECORDER when set, else the installed pyx-video. */
    const char* recorder_path;
} pyx_video_options;

typedef enum pyx_video_state {
    PYX_VIDEO_RUNNING = 0, /* the deadline passed; the recorder still runs */
    PYX_VIDEO_SAVED = 1,   /* the recorder wrote mp4_path (and jpg_path when it could grab the window) */
    PYX_VIDEO_NOT_SAVED =
        2,               /* the recorder ended normally without a recording: cancelled or nothing to save */
    PYX_VIDEO_FAILED = 3 /* the recorder failed or was killed: see exit_status, signal and reason */
} pyx_video_state;

typedef struct pyx_video_outcome {
    pyx_video_state state;
    int exit_status; /* the recorder's exit status once it ended normally, else -1 */
    int signal;      /* the signal that ended it, else 0 */
    char mp4_path[4096];
    char jpg_path[4096]; /* empty when no image was written */
    char reason[256];    /* in words, for PYX_VIDEO_FAILED */
} pyx_video_outcome;

/* Fills `options` with the defaults: the calling process, the recorder's own defaults for the rest. */
void pyx_video_options_init(pyx_video_options* options);

/* Starts the recorder. Returns NULL when it cannot be started, with the reason in `why` (may be NULL). */
pyx_video_recorder* pyx_video_start(const pyx_video_options* options, char* why, size_t why_size);

/* Asks the recorder to save the recording. Async-signal-safe (one write): call it from a signal handler or a
 * crash-dump callback. Returns 0, or -1 when the request could not be written; errno is left unchanged. */
int pyx_video_save(pyx_video_recorder* recorder);

/* Asks the recorder to stop without saving. Async-signal-safe, like pyx_video_save. */
int pyx_video_cancel(pyx_video_recorder* recorder);

/* Waits up to `timeout_ms` milliseconds (negative: without limit) for the recorder to end and describes the
 * outcome; PYX_VIDEO_RUNNING when it still runs at the deadline. Not for signal handlers. */
pyx_video_state pyx_video_wait(pyx_video_recorder* recorder, int timeout_ms, pyx_video_outcome* outcome);

/* Ends the recorder and releases it: cancels it unless a save was asked for, waits up to `timeout_ms`, kills
 * it when it has not ended by then, and describes the outcome (`outcome` may be NULL). */
pyx_video_state pyx_video_stop(pyx_video_recorder* recorder, int timeout_ms, pyx_video_outcome* outcome);

/* The recorder's process id, for diagnostics. */
int pyx_video_recorder_pid(const pyx_video_recorder* recorder);

#ifdef __cplusplus
}
#endif

#endif
