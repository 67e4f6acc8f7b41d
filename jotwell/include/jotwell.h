/* jotwell: a logging shared library (libjotwell.so) with a C interface.
 *
 * Any program may load it. Each call appends one time-stamped line to a log file whose name is the
 * caller's prefix plus the date, and keeps the set of old log files bounded (rotation, gzip archives,
 * deletion, trimming). Several threads and several processes may log into the same files at once:
 * every file access is serialised through cross-process named locks derived from the file path, and a
 * line is never split or interleaved with another one. JotwellEx/Jotwell write synchronously on the
 * caller's thread; JotwellExQ hands the line to the library's single logging thread.
 *
 * Ownership: strings passed in stay owned by the caller; the library copies what it keeps and never
 * frees or replaces a string member the caller set. `logFileName` is an out member owned by the
 * library (released by the next call that passes the same record). All entries are thread-safe.
 * Failures come back as negative results; the library never shows dialogs and never throws.
 *
 * Platform notes (Linux):
 *  - Paths use '/'. A '\' in a prefix is taken as '/'. A prefix that begins with two slashes stands for a
 *    network path and is refused (-3).
 *  - Relative prefixes are taken relative to the folder that holds libjotwell.so.
 *  - The default configuration file is "jotwell.ini" in the folder that holds libjotwell.so.
 *  - Line ends on disk are CR LF; echoed lines end in LF.
 *  - A log file that is a named pipe without a reader is not opened (-2); a full pipe is waited for.
 *  - The regional settings options write into the registry file of the Haldmoor3 project
 *    ($HALDMOOR3_REGISTRY, else $XDG_CONFIG_HOME/haldmoor3/registry.reg, else
 *    $HOME/.config/haldmoor3/registry.reg).
 *  - The `s...` entries are aliases of the plain ones (decorated stdcall names exist only on 32-bit
 *    Windows).
 */
#ifndef JOTWELL_H
#define JOTWELL_H

#include <stdint.h>

#if defined(__GNUC__)
#define JOTWELL_API __attribute__((visibility("default")))
#else
#define JOTWELL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Results ---------------------------------------------------------------------------------- */
#define JOTWELL_OK 0                  /* written (or nothing to do) */
#define JOTWELL_NO_MEMORY (-1)        /* out of memory */
#define JOTWELL_FILE_ERROR (-2)       /* the log file could not be opened for appending */
#define JOTWELL_BAD_PREFIX (-3)       /* prefix null, longer than 260 characters, or a network path */
#define JOTWELL_TIMEOUT (-4)          /* a named lock was not obtained within waitMs */
#define JOTWELL_MUTEX_ERROR (-5)      /* a named lock could not be created */
#define JOTWELL_UNLOADING (-6)        /* JotwellExQ: the library is being unloaded */
#define JOTWELL_ROTATION_BUSY (-99)   /* written, but another process was compressing an old log */

/* ---- logOptions bits -------------------------------------------------------------------------- */
#define LO_ECHO 0x00000001u            /* also write the line to standard output */
#define LO_ECHO_ONLY 0x00000002u       /* write the line to standard output only, no file */
#define LO_SKIP_ROTATION 0x00000004u   /* skip the rotation step for this call */
#define LO_LOGNAME_ONLY 0x00000008u    /* only resolve the file name into logFileName */
#define LO_INCLUDE_APP 0x00000010u     /* put the prefix and a blank between stamp and text */
#define LO_NO_DATE 0x00000020u         /* no date in the file name; no date rotation */
#define LO_DAILY 0x00000040u           /* one file per day (the default naming) */
#define LO_WEEKLY 0x00000080u          /* one file per week */
#define LO_MONTHLY 0x00000100u         /* one file per month */
#define LO_YEARLY 0x00000200u          /* one file per year */
#define LO_LINES 0x00000400u           /* bound the file by lines (limit1 MinLines, limit2 MaxLines) */
#define LO_SIZE 0x00000800u            /* bound the file by bytes (limit1 MinSize, limit2 MaxSize) */
#define LO_DELETE_ZIPS 0x00001000u     /* run the archive clean-up even when MaxZips is 0 */
#define LO_DELETE_LOGS 0x00002000u     /* delete old plain log files instead of keeping MaxLogs */
#define LO_QUIET_DELETION 0x00004000u  /* do not log successful deletions */
#define LO_LOG_DELETION 0x00000000u    /* accepted, no effect */
#define LO_DONT_ZIP 0x00008000u        /* delete surplus logs instead of compressing them */
#define LO_QUIET_COMPRESSION 0x00010000u /* do not log compression progress */
#define LO_LOG_ZIPPING 0x00000000u     /* accepted, no effect */
#define LO_TIME_T 0x00040000u          /* "T" instead of the blank between date and time */
#define LO_STDERR 0x00080000u          /* echo to standard error instead of standard output */
#define LO_USER_ISO_DATE 0x00100000u   /* set the current user's date/time formats */
#define LO_REG_ISO_DATE 0x00200000u    /* set the default user's date/time formats */
#define LO_LOG_REGISTRY 0x00000000u    /* accepted, no effect */
#define LO_KEEP_CRLF 0x00400000u       /* accepted; characters below 32 are removed in any case */
#define LO_QUIET_REGISTRY 0x00800000u  /* regional settings: no success lines, errors only to stderr */
#define LO_LOG_ALL 0x00000000u         /* accepted, no effect */

/* ---- extOptions bits -------------------------------------------------------------------------- */
#define LE_CONFIG_MERGED 0x00000001u   /* configuration already merged: do not read the file */
#define LE_DONT_LOG_CONFIG 0x00000002u /* do not log the configuration messages */
#define LE_DONT_LOG 0x00000004u        /* do not append the line (echo and rotation still run) */
#define LE_STAMPS_TAKEN 0x00000008u    /* `stamps` already holds the time of this line */
#define LE_FORCE_BINARY 0x00000020u    /* always log the text as a hexadecimal dump */
#define LE_LOG_BINARY 0x00000020u
#define LE_SORTED_LISTING 0x00000040u  /* directory listings must be sorted (FAT volume) */
#define LE_PAUSE_BEFORE 0x00000080u    /* with LE_QUEUED: pause waitMs before writing */
#define LE_DONT_LOG_MS 0x00000100u     /* stamp without milliseconds */
#define LE_NO_MS 0x00000100u
#define LE_QUEUED 0x00000200u          /* the line came through the queue */
#define LE_PAUSE_AFTER 0x00000400u     /* with LE_QUEUED: pause waitMs after writing */
#define LE_QUEUE_PAUSE 0x00001000u     /* JotwellExQ: pause the logging thread */
#define LE_QUEUE_RESUME 0x00002000u    /* JotwellExQ: resume the logging thread */
#define LE_QUEUE_CONTROL_ONLY 0x00004000u /* JotwellExQ: control call only, log nothing */
#define LE_THREE_BLANKS 0x00008000u    /* two extra blanks before the text */
#define LE_DONT_LOG_SEC 0x00010000u    /* stamp cut after the minutes */
#define LE_DONT_LOG_SECS 0x00010000u
#define LE_DONT_LOG_SECMS 0x00010000u
#define LE_NO_BANNER 0x00020000u       /* no version banner */
#define LE_ADD_DOT 0x00040000u         /* append "." unless the text ends in ! ( * , . : < ? [ */
#define LE_ADD_FULL_STOP 0x00040000u
#define LE_NTFS_COMPRESS 0x00100000u   /* compress surplus logs with the file system's compression */
#define LE_NTFS_COMPRESSION 0x00100000u
#define LE_NO_OFFSET 0x00200000u       /* stamp without the UTC offset */
#define LE_NO_OFFS 0x00200000u

/* Capacity of the JotwellExQ queue. */
#define JOTWELL_QUEUE_CAPACITY 100000

/* The date stamps of one line. */
typedef struct DateStamps {
    char dateTimeText[26]; /* YYYY-MM-DD HH:MM:SS+HH:MM */
    char weekText[12];     /* YYYY-Www-d: week of the year (Monday first) plus 1, weekday plus 1 (Sunday 1) */
    char dateNoBlanks[9];  /* YYYYMMDD */
    char weekShort[7];     /* YYYY-W */
    char dtmsText[30];     /* YYYY-MM-DD HH:MM:SS.mmm+HH:MM */
} DateStamps;

/* The option record. All zero (or a null pointer) means all defaults. Null string members take their
 * defaults for the call: logWildcard "*.log", logExtension ".log", archiveWildcard "*.gz",
 * archiveExtension ".gz", tempExtension ".~tmp.bak", configFile "jotwell.ini" beside the library,
 * compressorProgram/compressorArguments none (gzip in-process). */
typedef struct JotwellOptions {
    uint32_t logOptions;     /* LO_ bits */
    uint32_t extOptions;     /* LE_ bits */
    uint32_t checkInterval;  /* rotate only on every N-th call with this record (0 = every call) */
    uint32_t checkCountdown; /* maintained by the library */
    uint32_t limit1;         /* MaxLogs; with LO_SIZE MinSize; with LO_LINES MinLines */
    uint32_t limit2;         /* MaxZips; with LO_SIZE MaxSize; with LO_LINES MaxLines */
    uint32_t waitMs;         /* time-out for every named lock and the queue (0 = forever) */
    DateStamps* stamps;      /* optional: filled with the stamps of the line when given */
    char* logFileName;       /* out: resolved log file path (library-owned) */
    const char* logWildcard;
    const char* logExtension;
    const char* archiveWildcard;
    const char* archiveExtension;
    const char* tempExtension;
    const char* configFile;
    /* External packer. The command line is compressorArguments with "%1" replaced by the log path and
     * "%2" by the archive path, split into arguments by the Windows rules; its first word is argv[0].
     * The program started is compressorProgram, or the first word when compressorProgram is null. */
    const char* compressorProgram;
    const char* compressorArguments;
    uint32_t reserved1;      /* not used */
    uint32_t textLength;     /* bytes of text for binary data (0 = NUL-terminated) */
    uint32_t dumpWidth;      /* bytes per hexadecimal dump line (0 = 16) */
    uint32_t reserved2;      /* not used */
} JotwellOptions;

/* Writes synchronously. options may be null. A null text is logged as an empty text. */
JOTWELL_API int32_t JotwellEx(const char* prefix, const char* text, JotwellOptions* options);
/* Writes synchronously with these options, without reading the configuration file, and on success
 * publishes the stamps and the file name of the line in the data exports below. */
JOTWELL_API int32_t Jotwell(const char* prefix, const char* text, uint32_t logOptions, uint32_t limit1,
                            uint32_t limit2);
/* Queues the line for the logging thread; the stamps are those of the moment of queuing. */
JOTWELL_API int32_t JotwellExQ(const char* prefix, const char* text, JotwellOptions* options);

JOTWELL_API int32_t sJotwellEx(const char* prefix, const char* text, JotwellOptions* options);
JOTWELL_API int32_t sJotwell(const char* prefix, const char* text, uint32_t logOptions, uint32_t limit1,
                             uint32_t limit2);
JOTWELL_API int32_t sJotwellExQ(const char* prefix, const char* text, JotwellOptions* options);

/* Process-wide data, read-only for callers; only Jotwell updates the texts. */
JOTWELL_API extern char chCurrentDateTimeText[26];
JOTWELL_API extern char chCurrentDTMSText[30];
JOTWELL_API extern char chCurrentDateWeekText[12];
JOTWELL_API extern char chCurrentDateNoBlanks[9];
JOTWELL_API extern char chCurrentDateWeek[7];
JOTWELL_API extern char chCurrentDateNoOffs[26]; /* always empty */
/* The last file name resolved by Jotwell. Every name handed out here stays valid until the library is
 * unloaded. */
JOTWELL_API extern char* chCurrentLogFileName;
JOTWELL_API extern uint32_t bAboutToExit;   /* 1 while the library is being unloaded */
/* 1 (default): write out the queue on unload, for at most about two seconds (a log that takes no more
 * bytes, or a file lock that another process never gives back, must not hold up the unload); what
 * is left then is dropped. */
JOTWELL_API extern uint32_t bDequeueOnExit;

#ifdef __cplusplus
}
#endif

#endif /* JOTWELL_H */
