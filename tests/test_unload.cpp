// Loads the built library late, drives it only through the exported functions
// resolved by name, unloads it and keeps running: nothing may hang or crash,
// also while a writer thread of the library still runs after the unload.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

using testsupport::DataFolder;

struct Handle;
using CreateFn = Handle* (*)(const char*, int);
using HandleFn = void (*)(Handle*);
using InitializeFn = void (*)(Handle*, void (*)(bool));
using InitLoggerFn = void (*)();
using LogFn = void (*)(void*, int, const char*);

#if defined(_WIN32)
using Module = HMODULE;
Module Open(const std::string& dir) { return LoadLibraryA((dir + "/tesselsdk.dll").c_str()); }
void* Symbol(Module m, const char* name) { return reinterpret_cast<void*>(GetProcAddress(m, name)); }
void Close(Module m) { FreeLibrary(m); }
std::string BinDir() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path().string();
}
#else
using Module = void*;
Module Open(const std::string& dir) { return dlopen((dir + "/libtesselsdk.so").c_str(), RTLD_NOW | RTLD_LOCAL); }
void* Symbol(Module m, const char* name) { return dlsym(m, name); }
void Close(Module m) { dlclose(m); }
std::string BinDir() {
    const char* dir = std::getenv("TESSELSDK_TEST_BIN_DIR");
    return dir ? dir : ".";
}
#endif

// The built library, loaded late and unloaded on request or at the end of the scope.
class Library {
public:
    Library() : module_(Open(BinDir())) {}
    ~Library() { Unload(); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    bool Loaded() const { return module_ != nullptr; }
    template <typename Fn>
    Fn Get(const char* name) const {
        return reinterpret_cast<Fn>(Symbol(module_, name));
    }
    void Unload() {
        if (module_ != nullptr) Close(module_);
        module_ = nullptr;
    }

private:
    Module module_;
};


// True when some log file of the folder holds `text`.
bool LogFolderHolds(const fs::path& folder, const std::string& text) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (testsupport::ReadFile(it->path().string()).find(text) != std::string::npos) return true;
    return false;
}

void OnInitialized(bool) {}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "scenario failed: %s\n", what);
    std::fflush(stderr);
    std::_Exit(3);
}

// Runs in a child process: drives the library through its exported
// functions, unloads it, lives on for a while and exits. A crash of a thread
// of the unloaded library ends the child before it prints its last line.
[[noreturn]] void LoadDriveUnloadAndExit(bool withShutdown, const char* marker) {
    {
        Library lib;
        if (!lib.Loaded()) Fail("library not loaded");
        const auto create = lib.Get<CreateFn>("TesselSDK_Create");
        const auto destroy = lib.Get<HandleFn>("TesselSDK_Destroy");
        const auto initialize = lib.Get<InitializeFn>("TesselSDK_Initialize");
        const auto shutdown = lib.Get<HandleFn>("TesselSDK_Shutdown");
        const auto initLogger = lib.Get<InitLoggerFn>("TesselSDK_InitLogger");
        const auto log = lib.Get<LogFn>("TesselSDK_Log");
        if (!create || !destroy || !initialize || !shutdown || !initLogger || !log) Fail("missing export");

        Handle* handle = create("1.0.0", 1);
        if (handle == nullptr) Fail("no handle");
        initLogger();
        log(nullptr, 0, marker);
        initialize(handle, &OnInitialized);
        if (withShutdown) shutdown(handle);
        destroy(handle);
        lib.Unload();
    }
    // A writer still running wakes at least twice in this time, in code of the unloaded library.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));

    // Loading it again finds it usable.
    Library again;
    if (!again.Loaded()) Fail("reload failed");
    const auto log = again.Get<LogFn>("TesselSDK_Log");
    if (log == nullptr) Fail("missing export after reload");
    log(nullptr, 1, "after reload");
    again.Unload();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));

    std::fprintf(stderr, "unloaded and still running\n");
    std::fflush(stderr);
    std::exit(0);  // static destructors and exit handlers run with whatever still runs
}

void ExpectCleanUnload(bool withShutdown, const std::string& marker) {
    testsupport::ScopedEnv env("ENV", "UNLOAD");
    testsupport::ScopedEnv game("game_id", "unload-test");
    testsupport::ScopedEnv gate("streaming_yn");  // unset: initialisation stops before any request
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(LoadDriveUnloadAndExit(withShutdown, marker.c_str()), ::testing::ExitedWithCode(0),
                "unloaded and still running");
    const fs::path folder = fs::path(DataFolder()) / "VIVIDOVURUZ3UNLOAD" / "logs" / "unload-test";
    EXPECT_TRUE(LogFolderHolds(folder, marker)) << folder;
}

}  // namespace

TEST(Unload, AfterShutdownAndDestroy) { ExpectCleanUnload(true, "unload marker with shutdown"); }

TEST(Unload, AfterDestroyWithTheLoggerStillRunning) { ExpectCleanUnload(false, "unload marker without shutdown"); }
