/* lumirex: the point-of-sale side of the Lumirex loyalty and cashback service.
 *
 * A host loads liblumirex.so and calls IntegracaoLumirex once per business
 * event at the till. Nothing in this interface throws, and every string the
 * library hands out is allocated by the library and released with
 * LumirexVariantClear. The header compiles as C99 and as C++. */
#ifndef LUMIREX_H
#define LUMIREX_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

/* The version of this header; LumirexVersion() says which library is loaded.
 * LUMIREX_VERSION_NUMBER is 0xMMmmpp, for comparisons in #if. */
#define LUMIREX_VERSION_MAJOR 0
#define LUMIREX_VERSION_MINOR 1
#define LUMIREX_VERSION_PATCH 0
#define LUMIREX_VERSION_NUMBER \
  ((LUMIREX_VERSION_MAJOR << 16) | (LUMIREX_VERSION_MINOR << 8) | LUMIREX_VERSION_PATCH)

/* On Windows every function is __stdcall, the convention of the hosts there
 * (it changes nothing on x64), and a host imports it from lumirex.dll; code
 * that links the library's objects in, its own tests, defines LUMIREX_STATIC.
 * A host that loads the DLL itself declares its pointers with LUMIREX_CALL. */
#if defined(_WIN32)
#define LUMIREX_CALL __stdcall
#if defined(LUMIREX_STATIC)
#define LUMIREX_API
#else
#define LUMIREX_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define LUMIREX_CALL
#define LUMIREX_API __attribute__((visibility("default")))
#else
#define LUMIREX_CALL
#define LUMIREX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Variant types. */
enum {
  LUMIREX_EMPTY = 0, /* unassigned */
  LUMIREX_NULL = 1,
  LUMIREX_BOOL = 2,
  LUMIREX_INT = 3,
  LUMIREX_DOUBLE = 4,
  LUMIREX_STRING = 5,   /* bytes in the host encoding: Windows-1252 unless set to UTF-8 */
  LUMIREX_DATETIME = 6, /* local date-time: days since 1899-12-30 00:00, fraction = time of day */
  LUMIREX_ARRAY = 7     /* one-dimensional, indices 0 .. count-1 */
};

typedef struct LumirexVariant {
  int32_t type; /* one of the values above */
  union {
    int32_t boolean; /* 0 false, 1 true */
    int64_t integer;
    double number; /* LUMIREX_DOUBLE and LUMIREX_DATETIME */
    struct {
      char* data; /* NUL-terminated; size excludes the terminator */
      size_t size;
    } string;
    struct {
      struct LumirexVariant* items;
      int32_t count;
    } array;
  } value;
} LumirexVariant;

/* One integration call. params points at last_index + 1 variants, which the
 * library only reads; params[0] names the operation ("CONSULTA",
 * "VALIDA_PROMOCODE", "VENDA", "VENDA_CANC"). result must hold an ARRAY made
 * with LumirexArrayCreate: elements 0 and 1 are written for every operation,
 * 2 to 4 for "CONSULTA". Returns true when the exchange with the service and
 * the reading of its answer ran to their end; the service's own verdict is
 * result element 0 (false = accepted). After a false return,
 * LumirexLastCall says what happened and whether the request may have
 * reached the service. */
LUMIREX_API bool LUMIREX_CALL IntegracaoLumirex(const LumirexVariant* params, int32_t last_index,
                                                LumirexVariant* result);

/* What became of a call, LumirexLastCall's error. A till retries a sale
 * report later for CONNECT, TIMEOUT, TRANSFER, HTTP, ANSWER and INTERNAL (a
 * report that did arrive is refused as a repeat by the service), fixes the
 * set-up for INPUT, DATABASE, LOG and TLS, and never resends a report the
 * service answered with a verdict (a true return). LumirexErrorName names
 * each code. */
/* Laid out as a table, one code a line. */
/* clang-format off */
enum {
  LUMIREX_OK = 0,          /* the call returned true; the verdict is in the result */
  LUMIREX_E_INPUT = 1,     /* the parameter list, a parameter or the result array cannot be used; nothing was sent */
  LUMIREX_E_DATABASE = 2,  /* the point-of-sale database could not be read; nothing was sent */
  LUMIREX_E_LOG = 3,       /* the integration log could not be written */
  LUMIREX_E_CONNECT = 4,   /* the service could not be reached (name, refused, unreachable); nothing was sent */
  LUMIREX_E_TLS = 5,       /* the service's certificate was refused, or the TLS handshake failed; nothing was sent */
  LUMIREX_E_TIMEOUT = 6,   /* no whole answer within the time-out; with sent = 0, the call could not start in time (busy, or kept behind earlier reports of its order) */
  LUMIREX_E_TRANSFER = 7,  /* the exchange broke off, or the answer was over the size cap */
  LUMIREX_E_HTTP = 8,      /* the service answered with a status that carries no verdict */
  LUMIREX_E_ANSWER = 9,    /* the answer is not a response document the library can read */
  LUMIREX_E_STATE = 10,    /* called re-entrantly or while unloading */
  LUMIREX_E_MEMORY = 11,
  LUMIREX_E_INTERNAL = 12  /* the library failed (its HTTP client, a system limit, the outbox file); nothing the host did */
};

typedef struct LumirexCallOutcome {
  int32_t error;       /* LUMIREX_OK or one of LUMIREX_E_* */
  int32_t http_status; /* status of the service's answer; 0 when none arrived */
  int32_t sent;        /* 1 once the request has left the library: the service may have acted on it */
  int32_t queued;      /* 1 when the report was kept in the outbox, to be sent again later */
} LumirexCallOutcome;
/* clang-format on */

/* What became of the last IntegracaoLumirex made on the calling thread. Fills *outcome
 * (when not NULL) and copies that call's operator message (empty after a true return),
 * cut to fit and NUL-terminated, into message[0..size) (when not NULL). Returns outcome's error. */
LUMIREX_API int32_t LUMIREX_CALL LumirexLastCall(LumirexCallOutcome* outcome, char* message,
                                                 size_t size);

/* The name of a code of LumirexLastCall, as this header spells it
 * ("LUMIREX_E_CONNECT" for LUMIREX_E_CONNECT); "LUMIREX_E_UNKNOWN" for a
 * number that is none of them. A static text, never NULL. */
LUMIREX_API const char* LUMIREX_CALL LumirexErrorName(int32_t error);

/* Package load and unload. Finalize releases the data module (closing its
 * database connection); the next call builds a fresh one. */
LUMIREX_API void LUMIREX_CALL Initialize(void);
LUMIREX_API void LUMIREX_CALL Finalize(void);

/* Variant helpers. Init makes a variant EMPTY without freeing anything; Clear
 * frees what it holds (arrays with all they hold, at any depth) and leaves it EMPTY. SetString
 * copies size bytes; ArrayCreate makes an ARRAY of count EMPTY elements. Both
 * write v without freeing what it held (it may be uninitialized memory), so
 * clear a variant that holds a string or an array first. Both return 0 on
 * success, non-zero when out of memory or given a negative count. */
LUMIREX_API void LUMIREX_CALL LumirexVariantInit(LumirexVariant* v);
LUMIREX_API void LUMIREX_CALL LumirexVariantClear(LumirexVariant* v);
LUMIREX_API int LUMIREX_CALL LumirexVariantSetString(LumirexVariant* v, const char* data,
                                                     size_t size);
LUMIREX_API int LUMIREX_CALL LumirexArrayCreate(LumirexVariant* v, int32_t count);

/* Where the operator message of a failed call goes. Without a handler it is
 * one line "lumirex: <text>" on standard error. */
typedef void(LUMIREX_CALL* LumirexMessageHandler)(const char* text, void* context);
LUMIREX_API void LUMIREX_CALL LumirexSetMessageHandler(LumirexMessageHandler handler,
                                                       void* context);

/* Base folder of the integration log and of the embedded database, in the
 * host encoding (as are the files of LumirexSetConnectionString,
 * LumirexSetCaFile and LumirexSetOutbox). NULL restores the default:
 * $LUMIREX_BASE_DIR, else the running executable's folder. */
LUMIREX_API void LUMIREX_CALL LumirexSetBaseDir(const char* dir);

/* Point-of-sale database: "sqlite3://db=<file> ..." or "odbc://<ODBC string>".
 * NULL restores the default: $LUMIREX_DB, else <base folder>/Dados/pos.sqlite
 * opened read-only. */
LUMIREX_API void LUMIREX_CALL LumirexSetConnectionString(const char* connection);

/* Certificates (a PEM file) that an HTTPS service's certificate may be signed
 * by, for a service whose certificate no public authority issued. NULL
 * restores the default: $LUMIREX_CA_FILE, else the system's store. */
LUMIREX_API void LUMIREX_CALL LumirexSetCaFile(const char* file);

/* Decimal separator of the library's regional settings; ',' by default.
 * Only ',' and '.' are taken: returns 0 when the separator is set, non-zero
 * (and the setting unchanged) for any other character. */
LUMIREX_API int LUMIREX_CALL LumirexSetDecimalSeparator(char separator);

/* The encoding of every text the host and the library exchange: parameters,
 * packets, the result's texts, LumirexLastCall's message, the request
 * documents and the log. "windows-1252" (the default, whatever the system's
 * code page: the service's texts decoded to it, a letter it lacks as '?') or
 * "UTF-8" (also "utf8", any case): every text in and out is UTF-8, and a
 * parameter that is not is refused with LUMIREX_E_INPUT, naming the offset of
 * its first bad byte. Folders and files given to the setters are read in it
 * too. NULL restores the default: $LUMIREX_HOST_ENCODING, else windows-1252.
 * Set it before the first call and before the folders. Returns 0, or
 * non-zero (the setting unchanged) for any other name. */
LUMIREX_API int LUMIREX_CALL LumirexSetHostEncoding(const char* name);

/* The outbox: a SQLite file that keeps every sale and cancellation report
 * until the service has answered it, so that none is lost, even when the host
 * dies mid-call: each is kept before it is sent, and leaves the waiting line
 * when the service answers with a verdict. A report that failed with a code a
 * later attempt can mend (CONNECT, TLS, TIMEOUT, TRANSFER, HTTP, ANSWER,
 * INTERNAL) is sent again later, exactly as it was built, to the service it was made for;
 * the call still returns false, with LumirexLastCall's queued = 1. A report
 * made while others of its order wait is kept behind them without being
 * sent (TIMEOUT, sent = 0); other orders never wait for it. So is a report
 * whose call could not start because the library was busy.
 * An outbox that cannot be used never stops a report: it is sent without it,
 * and only if that fails too does the call fail, with the exchange's code,
 * queued = 0 and a message naming the outbox's problem. Every report reaches
 * the service at least once; the service refuses repeats.
 * Off unless a file is named: NULL restores the default, $LUMIREX_OUTBOX, else
 * off. The library creates the file, readable by its owner only; it writes no
 * other SQLite file (one that is not an outbox is refused). Returns 0, or
 * non-zero when the file cannot be opened or created (LumirexLastCall says
 * why); it is named all the same, and reports go out without it until it can
 * be used. */
LUMIREX_API int LUMIREX_CALL LumirexSetOutbox(const char* file);

/* How many reports may wait (10000 by default); beyond that a report is not
 * kept and its call fails as without an outbox. Returns 0, non-zero for a
 * limit below 1. */
LUMIREX_API int LUMIREX_CALL LumirexSetOutboxLimit(int32_t max_reports);

/* How many calls (outbox resends included) may run at once; 8 by default.
 * Beyond it, calls start in the order they arrived; one that cannot start
 * within its time-out fails with LUMIREX_E_TIMEOUT, sent = 0, saying the
 * library was busy; a sale or cancellation report is then kept in the
 * outbox all the same, when there is one. Calls in flight finish whatever
 * the new bound. Returns 0, non-zero (the bound unchanged) for a count
 * below 1. */
LUMIREX_API int LUMIREX_CALL LumirexSetMaxCalls(int max_calls);

/* Sends up to max_reports waiting reports (all when max_reports < 1), oldest
 * first within each order, each logged as a call of its own, to the service
 * it was made for (the base URL of its call). A report the service answers
 * with a verdict leaves the waiting line; one that fails again stays and
 * holds back the later reports of its order; sending stops when a service
 * cannot be reached (LumirexLastCall says why). A report that failed 10
 * times over at least 24 hours, the last time while its service answered
 * others, is held: set aside until support sends it on purpose or drops it; an outage, however
 * long, holds none. Returns how many
 * reports got a verdict, or -1 when the outbox is off or cannot be used
 * (LumirexLastCall says why). */
LUMIREX_API int32_t LUMIREX_CALL LumirexOutboxSend(int32_t max_reports);

/* As LumirexOutboxSend, every report to base_url (NULL: the URL each report
 * was made with), as when the service moved. The URL's user and password, if
 * any, are the ones sent: the outbox stores none. A base_url that does not
 * start with http:// or https:// is refused: -1, LUMIREX_E_INPUT. */
LUMIREX_API int32_t LUMIREX_CALL LumirexOutboxSendTo(const char* base_url, int32_t max_reports);

/* How many reports wait; -1 when the outbox is off or cannot be read. */
LUMIREX_API int32_t LUMIREX_CALL LumirexOutboxCount(void);

/* Automatic forwarding: with it on and an outbox named, the library sends
 * waiting reports by itself, on one thread of its own, as LumirexOutboxSend
 * would: at once when a call gets an answer from the service again, else on
 * a back-off (5 s doubling to 5 min, spread by chance and by a fixed share
 * per till, so a chain's tills do not all come back in the same second).
 * Its exchanges run beside the calls' bound: a cashier's call never waits
 * for one. The thread ends at Finalize, at exit and when the library is
 * unloaded (each waiting at most for the resend in flight; on Windows the
 * thread keeps lumirex.dll loaded until it ends); the next call starts it
 * again. A fork's child starts its own when it next calls.
 * Off by default; 0 turns it off. $LUMIREX_FORWARDING=1 turns it
 * on for a process that never calls this. Returns 0. */
LUMIREX_API int LUMIREX_CALL LumirexSetForwarding(int32_t on);

/* The fast offline path, on by default and in force only with forwarding:
 * after a time-out, or three connect failures in a row, the service is
 * treated as offline until it answers again. Meanwhile a sale or
 * cancellation report is kept and returns at once (false, LUMIREX_E_CONNECT,
 * sent = 0, queued = 1) and a customer query or promocode validation fails
 * at once with LUMIREX_E_CONNECT; the message says since when the service
 * has not answered. One exchange per back-off period (the forwarder's, or a
 * call's) tests it; the first answer ends the offline state for every call.
 * 0 turns it off: every call then tries the service. Returns 0. */
LUMIREX_API int LUMIREX_CALL LumirexSetOfflinePath(int32_t on);

/* Asks the forwarder to send the waiting reports now, without waiting for
 * them. Returns 0, or non-zero when forwarding is off or no outbox is named
 * (LumirexOutboxSend sends them on the calling thread). */
LUMIREX_API int LUMIREX_CALL LumirexOutboxSendSoon(void);

/* What waits, and whether the service answers. Set size to
 * sizeof(LumirexOutboxState) before the call: fields beyond it are left
 * alone, so a host compiled against this header works with a later library.
 * Cheap enough to ask after every call: the outbox file is read again only
 * when it changed. */
typedef struct LumirexOutboxState {
  uint32_t size;      /* set by the caller */
  int32_t waiting;    /* reports waiting to be sent, held ones included */
  int32_t held;       /* set aside until support sends or drops them */
  int32_t offline;    /* 1 while the fast offline path treats a service as offline */
  int64_t oldest_age; /* seconds the oldest waiting report has waited; 0 when none */
  int64_t
      offline_since;   /* seconds since 1970 (UTC) of the first unanswered attempt; 0 when online */
  int64_t last_answer; /* seconds since 1970 the service last answered this process; 0: not yet */
  int32_t forwarding;  /* 1 when forwarding is on */
} LumirexOutboxState;

/* Fills *state. Returns 0; non-zero when state is NULL or its size too
 * small (LUMIREX_E_INPUT), or the outbox is off or cannot be read (the
 * offline fields are filled all the same). */
LUMIREX_API int32_t LUMIREX_CALL LumirexOutboxStatus(LumirexOutboxState* state);

/* How a kept report ended, long after its call returned with queued = 1. */
enum LumirexKeptEnd {
  LUMIREX_KEPT_ACCEPTED = 1, /* the service accepted it */
  LUMIREX_KEPT_DECLINED = 2, /* the service refused it; with repeat = 1, maybe as one it had */
  LUMIREX_KEPT_HELD = 3,     /* it kept failing while its service answered others: set aside */
  LUMIREX_KEPT_DROPPED = 4   /* support dropped it while it was being sent */
};

typedef struct LumirexKeptOutcome {
  uint32_t size;         /* sizeof(LumirexKeptOutcome) of the library that calls */
  int32_t end;           /* one of LUMIREX_KEPT_* */
  int64_t report;        /* the outbox's number for it, as `lumirex outbox list` shows */
  const char* operation; /* "VENDA" or "VENDA_CANC" */
  const char* branch;    /* the sale key: branch, till, sale sequence */
  const char* till;
  const char* sequence;
  const char* order_id; /* "" when the database had no order for it */
  const char* message;  /* the service's message, or why it was held */
  int32_t repeat;       /* 1 when an earlier attempt may have reached the service */
} LumirexKeptOutcome;

/* Called once for each kept report that gets a verdict from a resend, is
 * held or is dropped, on the thread that sent it (the forwarder's, or the
 * one calling LumirexOutboxSend), after its turn is given back: it may call
 * the library, as the message handler may. Texts are in the host encoding and
 * valid during the call only. NULL removes it; a call already under way on
 * another thread still ends with the handler it began with, so keep
 * `context` valid until Finalize has returned (it stops the forwarder).
 * Every outcome is also recorded in the outbox (`lumirex outbox list --all`). */
typedef void(LUMIREX_CALL* LumirexOutboxHandler)(const LumirexKeptOutcome* outcome, void* context);
LUMIREX_API void LUMIREX_CALL LumirexSetOutboxHandler(LumirexOutboxHandler handler, void* context);

/* The settings in force, as the setters and the environment left them. Each
 * copies what fits of its text, NUL-terminated, into buffer[0..size) and
 * returns the text's whole length (ask again with a larger buffer when it is
 * size or more). The CA file is "" when none is named. Texts are in the host
 * encoding, a letter Windows-1252 lacks as '?'. */
LUMIREX_API size_t LUMIREX_CALL LumirexGetBaseDir(char* buffer, size_t size);
LUMIREX_API size_t LUMIREX_CALL LumirexGetConnectionString(char* buffer, size_t size);
LUMIREX_API size_t LUMIREX_CALL LumirexGetCaFile(char* buffer, size_t size);
LUMIREX_API char LUMIREX_CALL LumirexGetDecimalSeparator(void);

/* Appends one time-stamped line of size bytes to today's integration log, as
 * the library's own lines are written. Returns 0, or non-zero with the reason
 * (naming the file) in error[0..error_size) when it cannot be written. */
LUMIREX_API int LUMIREX_CALL LumirexLog(const char* text, size_t size, char* error,
                                        size_t error_size);

/* The file a line logged now would go to; returns its whole length, as the
 * getters above do. */
LUMIREX_API size_t LUMIREX_CALL LumirexLogFilePath(char* buffer, size_t size);

/* The library's version, "major.minor.patch". */
LUMIREX_API const char* LUMIREX_CALL LumirexVersion(void);

#ifdef __cplusplus
}
#endif

#endif /* LUMIREX_H */
