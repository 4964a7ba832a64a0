#include "standins/sentry_halyx/options.h"

#include <cstdlib>
#include <new>

namespace {

// The environment fills the options first; explicit setters override it.
const char* EnvText(const char* name) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? value : nullptr;
}

double ClampRate(double rate) {
    if (!(rate >= 0.0)) return 0.0;  // NaN included
    return rate > 1.0 ? 1.0 : rate;
}

// A failed copy leaves the option as it was.
void SetText(std::string& option, const char* text) noexcept {
    try {
        option = text;
    } catch (...) {
    }
}

}  // namespace

extern "C" {

sentry_halyx_options_t* sentry_halyx_options_new(void) {
    try {
        auto* opts = new sentry_halyx_options_s();
        if (const char* dsn = EnvText("SENTRY_HALYX_DSN")) opts->dsn = dsn;
        if (const char* debug = EnvText("SENTRY_HALYX_DEBUG")) opts->debug = std::string(debug) == "1";
        if (const char* release = EnvText("SENTRY_HALYX_RELEASE")) opts->release = release;
        if (const char* environment = EnvText("SENTRY_HALYX_ENVIRONMENT")) opts->environment = environment;
        return opts;
    } catch (...) {
        return nullptr;
    }
}

void sentry_halyx_options_free(sentry_halyx_options_t* opts) { delete opts; }

void sentry_halyx_options_set_dsn(sentry_halyx_options_t* opts, const char* dsn) {
    if (opts != nullptr) SetText(opts->dsn, dsn != nullptr ? dsn : "");
}

void sentry_halyx_options_set_debug(sentry_halyx_options_t* opts, int debug) {
    if (opts != nullptr) opts->debug = debug != 0;
}

void sentry_halyx_options_set_database_path(sentry_halyx_options_t* opts, const char* path) {
    if (opts != nullptr && path != nullptr) SetText(opts->databasePath, path);
}

void sentry_halyx_options_set_release(sentry_halyx_options_t* opts, const char* release) {
    if (opts != nullptr) SetText(opts->release, release != nullptr ? release : "");
}

void sentry_halyx_options_set_sample_rate(sentry_halyx_options_t* opts, double sample_rate) {
    if (opts != nullptr) opts->sampleRate = ClampRate(sample_rate);
}

// Accepted and ignored: the client sends no traces.
void sentry_halyx_options_set_traces_sample_rate(sentry_halyx_options_t* opts, double sample_rate) {}

void sentry_halyx_options_set_logger(sentry_halyx_options_t* opts, sentry_halyx_logger_function_t func,
                                     void* userdata) {
    if (opts == nullptr) return;
    opts->logger = func;
    opts->loggerData = userdata;
}

}  // extern "C"
