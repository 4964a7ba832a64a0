// The event reporter: a small in-process client of the standard event
// ingestion protocol, offering the C interface of the sentry-native library
// with every public name prefixed `sentry_halyx_`.
//
// Values are opaque handles. Functions that take a value argument take
// ownership of it (as sentry-native does); sentry_halyx_value_decref frees a
// value that was not handed over. Every function accepts a null value.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#ifdef __cplusplus
extern "C" {
#endif

struct sentry_halyx_value_s;
typedef struct sentry_halyx_value_s* sentry_halyx_value_t;

typedef struct sentry_halyx_uuid_s {
    char bytes[16];
} sentry_halyx_uuid_t;

typedef enum sentry_halyx_level_e {
    SENTRY_HALYX_LEVEL_DEBUG = -1,
    SENTRY_HALYX_LEVEL_INFO = 0,
    SENTRY_HALYX_LEVEL_WARNING = 1,
    SENTRY_HALYX_LEVEL_ERROR = 2,
    SENTRY_HALYX_LEVEL_FATAL = 3
} sentry_halyx_level_t;

typedef void (*sentry_halyx_logger_function_t)(sentry_halyx_level_t level, const char* message, va_list args,
                                               void* userdata);

struct sentry_halyx_options_s;
typedef struct sentry_halyx_options_s sentry_halyx_options_t;

// Options. Unset options take their value from SENTRY_HALYX_DSN,
// SENTRY_HALYX_DEBUG, SENTRY_HALYX_RELEASE and SENTRY_HALYX_ENVIRONMENT
// (the environment defaults to "production").
sentry_halyx_options_t* sentry_halyx_options_new(void);
void sentry_halyx_options_free(sentry_halyx_options_t* opts);
void sentry_halyx_options_set_dsn(sentry_halyx_options_t* opts, const char* dsn);
void sentry_halyx_options_set_debug(sentry_halyx_options_t* opts, int debug);
void sentry_halyx_options_set_database_path(sentry_halyx_options_t* opts, const char* path);
void sentry_halyx_options_set_release(sentry_halyx_options_t* opts, const char* release);
void sentry_halyx_options_set_sample_rate(sentry_halyx_options_t* opts, double sample_rate);
void sentry_halyx_options_set_traces_sample_rate(sentry_halyx_options_t* opts, double sample_rate);
void sentry_halyx_options_set_logger(sentry_halyx_options_t* opts, sentry_halyx_logger_function_t func,
                                     void* userdata);

// Takes ownership of the options. 0 on success; non-zero on failure (no or
// malformed DSN, database folder not creatable). A running client is closed
// first.
int sentry_halyx_init(sentry_halyx_options_t* options);
// Sends what is queued (bounded wait) and stops the worker. Returns 0.
int sentry_halyx_close(void);
// Waits up to timeout ms for the queue to drain. 0 when drained, 1 otherwise.
int sentry_halyx_flush(uint64_t timeout);

void sentry_halyx_set_tag(const char* key, const char* value);

// Values.
sentry_halyx_value_t sentry_halyx_value_new_event(void);
sentry_halyx_value_t sentry_halyx_value_new_message_event(sentry_halyx_level_t level, const char* logger,
                                                          const char* text);
sentry_halyx_value_t sentry_halyx_value_new_exception(const char* type, const char* value);
sentry_halyx_value_t sentry_halyx_value_new_breadcrumb(const char* type, const char* message);
void sentry_halyx_event_add_exception(sentry_halyx_value_t event, sentry_halyx_value_t exception);
void sentry_halyx_value_decref(sentry_halyx_value_t value);

void sentry_halyx_add_breadcrumb(sentry_halyx_value_t breadcrumb);
// Takes ownership of the event. The nil UUID when the client does not run,
// the event is sampled out or is no event.
sentry_halyx_uuid_t sentry_halyx_capture_event(sentry_halyx_value_t event);

sentry_halyx_uuid_t sentry_halyx_uuid_nil(void);
int sentry_halyx_uuid_is_nil(const sentry_halyx_uuid_t* uuid);
// 36 characters and a NUL: "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx".
void sentry_halyx_uuid_as_string(const sentry_halyx_uuid_t* uuid, char str[37]);

#ifdef __cplusplus
}
#endif
